#ifndef KIVREL_PROPS_DSPROPSHEETS_H
#define KIVREL_PROPS_DSPROPSHEETS_H

// The property sheets of the data sources (FTP, HTTP, SFTP, the local
// computer) and the choice of a sheet by node type. Each sheet edits the
// clones it is given (see props/dsprop.h) and adds its pages in a fixed
// order. When the data source may not be edited freely (requests hold it),
// the sheet says so once as it opens, unless the user switched that note
// off. User-interface thread only.

#include "props/dsprop.h"

#include <memory>

class KV_DsTreeNode;
class KV_DsTreeNodeFtp;
class KV_DsTreeNodeGrp;
class KV_DsTreeNodeGrpFtp;
class KV_DsTreeNodeGrpHttp;
class KV_DsTreeNodeGrpSftp;
class KV_DsTreeNodeHttp;
class KV_DsTreeNodeSftp;
class KV_DsTreeNodeStd;

class CDsPropFtp : public CDsProp
{
    Q_OBJECT
public:
    // Main, Layout, Details, FTP protocol. `group` (null: none) is the
    // group the node may inherit from.
    CDsPropFtp(KV_DsTreeNodeFtp* node, KV_DsTreeNodeGrpFtp* group, bool editable, QWidget* wnd,
               int initial_page = 0);
};

class CDsPropHttp : public CDsProp
{
    Q_OBJECT
public:
    // Main, Documents, Layout, Details.
    CDsPropHttp(KV_DsTreeNodeHttp* node, KV_DsTreeNodeGrpHttp* group, bool editable, QWidget* wnd,
                int initial_page = 0);
};

class CDsPropSftp : public CDsProp
{
    Q_OBJECT
public:
    // Main, Layout, Details.
    CDsPropSftp(KV_DsTreeNodeSftp* node, KV_DsTreeNodeGrpSftp* group, bool editable, QWidget* wnd,
                int initial_page = 0);
};

class CDsPropStd : public CDsProp
{
    Q_OBJECT
public:
    // Main, Layout; the local computer has no group, so nothing inherits.
    CDsPropStd(KV_DsTreeNodeStd* node, bool editable, QWidget* wnd, int initial_page = 0);
};

// The sheet for `node` (a clone) by its type: a data source with `parent`
// (the clone of the group it may inherit from; null, or a group of another
// protocol, gives none), or a group. Null for any other node, or a node of
// another class than its type promises.
std::unique_ptr<CDsProp> MakeDsPropSheet(KV_DsTreeNode* node, KV_DsTreeNode* parent, bool editable,
                                         QWidget* wnd);

// The sheet of a group node (a protocol group or one of its folders, or the
// root group): setup/dspropgrpsheets.h.
std::unique_ptr<CDsProp> MakeGrpSheet(KV_DsTreeNodeGrp* group, KV_DsTreeNode* parent, QWidget* wnd);

#endif
