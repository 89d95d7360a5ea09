#ifndef KIVREL_MONITOR_PANELINK_H
#define KIVREL_MONITOR_PANELINK_H

// What the pages of a browse pane's details read: the pane's file manager
// and its request and worker tables, taken from the pane's adapter when the
// page is made. User-interface thread only.

#include "foundation/kv_ids.h"

#include <QPointer>
#include <QString>

class CBrowseFrm;
class KV_FileMan;
class KV_FileReqInfoMan;
class KV_FileTree;
class KV_TavoInfoMan;
class QPoint;

struct CPaneLink
{
    // The link of `pane` (null, or a pane without adapter: no tables).
    static CPaneLink Of(CBrowseFrm* pane);

    // Whether the tables may still be used: the manager still lives in the
    // engine root. Tables given without a manager belong to the caller and
    // count as living.
    bool Alive() const;
    // Clears the pane's active node (the node whose counts the browse
    // window's status bar shows); nothing without a living pane.
    void ClearActiveNode() const;
    // Opens the pane's connection popup at `global`; nothing when the pane
    // has none.
    void OpenConnPopup(const QPoint& global) const;

    QPointer<CBrowseFrm> pane;
    KV_FileMan* man = nullptr;
    KV_FileManId id;
    KV_FileReqInfoMan* req = nullptr;
    KV_TavoInfoMan* tavo = nullptr;
    KV_FileTree* tree = nullptr;
};

#endif
