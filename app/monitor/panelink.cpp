#include "monitor/panelink.h"

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "menus/menufind.h"
#include "menus/newmenu.h"
#include "requests/kv_filetree.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"

#include <QMenu>

CPaneLink CPaneLink::Of(CBrowseFrm* pane)
{
    CPaneLink link;
    link.pane = pane;
    CFileManData* data = pane != nullptr ? pane->GetData() : nullptr;
    if (data == nullptr || data->GetFileMan() == nullptr) {
        return link;
    }
    link.man = data->GetFileMan();
    link.id = data->GetManId();
    link.req = data->GetReqInfoMan();
    link.tavo = data->GetTavoInfoMan();
    link.tree = data->GetFileTree();
    return link;
}

bool CPaneLink::Alive() const
{
    if (man == nullptr) {
        return true;
    }
    KV_FileManPool* pool = CKivrelApp::Instance()->GetPool();
    return pool != nullptr && pool->man(id) == man;
}

void CPaneLink::ClearActiveNode() const
{
    if (tree != nullptr && pane != nullptr && Alive()) {
        if (CBrowseSplt* browse = CBrowseSplt::FromChild(pane)) {
            browse->OnPaneActivated(nullptr);
        } else {
            tree->set_act_inf(nullptr);
        }
    }
}

void CPaneLink::OpenConnPopup(const QPoint& global) const
{
    if (pane == nullptr) {
        return;
    }
    const char* name = pane->GetConnPopupName();
    CBrowseSplt* browse = pane->GetBrowseWnd();
    if (name == nullptr || browse == nullptr) {
        return;
    }
    if (CNewMenu* popup = FindMenuByText(&browse->PopupCollection(), name, nullptr, true)) {
        if (QMenu* menu = popup->GetSafeHmenu()) {
            menu->popup(global);
        }
    }
}
