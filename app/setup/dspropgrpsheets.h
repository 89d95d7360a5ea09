#ifndef KIVREL_SETUP_DSPROPGRPSHEETS_H
#define KIVREL_SETUP_DSPROPGRPSHEETS_H

// The property sheets of the groups: the FTP, HTTP and SFTP groups (and the
// folders inside them) and the root group with the program settings. Each
// edits the clones it is given (see props/dsprop.h) and adds its pages in a
// fixed order. User-interface thread only.

#include "props/dsprop.h"

#include <memory>

class KV_DsTreeNode;
class KV_DsTreeNodeGrp;
class KV_DsTreeNodeGrpDs;
class KV_DsTreeNodeGrpFtp;
class KV_DsTreeNodeGrpHttp;
class KV_DsTreeNodeGrpSftp;

class CDsPropGrpFtp : public CDsProp
{
    Q_OBJECT
public:
    // Main, Layout, Details, FTP protocol. `parent` (null: none) is the FTP
    // group the folder may inherit from.
    CDsPropGrpFtp(KV_DsTreeNodeGrpFtp* group, KV_DsTreeNodeGrpFtp* parent, QWidget* wnd,
                  int initial_page = 0);
};

class CDsPropGrpHttp : public CDsProp
{
    Q_OBJECT
public:
    // Main, Layout, Details.
    CDsPropGrpHttp(KV_DsTreeNodeGrpHttp* group, KV_DsTreeNodeGrpHttp* parent, QWidget* wnd,
                   int initial_page = 0);
};

class CDsPropGrpSftp : public CDsProp
{
    Q_OBJECT
public:
    // Main, Layout, Details.
    CDsPropGrpSftp(KV_DsTreeNodeGrpSftp* group, KV_DsTreeNodeGrpSftp* parent, QWidget* wnd,
                   int initial_page = 0);
};

class CDsPropGrpDs : public CDsProp
{
    Q_OBJECT
public:
    // Main, Details, Security (SSL/SSH); the root has no parent.
    CDsPropGrpDs(KV_DsTreeNodeGrpDs* root, QWidget* wnd, int initial_page = 0);
};

// The sheet of a group clone by the kind of node it gathers: a protocol
// group with `parent` when that is a group of the same protocol (else none),
// or the root group. Null for anything else.
std::unique_ptr<CDsProp> MakeGroupPropSheet(KV_DsTreeNodeGrp* group, KV_DsTreeNode* parent,
                                            QWidget* wnd);

#endif
