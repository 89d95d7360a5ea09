// The browse window's connection and view commands: the "&Data Source"
// popup (connect, disconnect, custom command, transfer mode, options, find
// the data source, default folder), the pane toggles, the list styles, the
// next and previous pane, and the folder menus of the panes' caption bars.
// Every command acts on the pane that holds the focus.

#include "browse/browsefrm.h"
#include "browse/browserbar.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/conncmds.h"
#include "core/panebar.h"
#include "core/settings.h"
#include "datasources/kv_dstreenode.h"
#include "datasources/kv_filemanparams.h"
#include "dialogs/dlgchdir.h"
#include "menus/commands.h"
#include "menus/kvtoolbar.h"
#include "menus/menufind.h"
#include "monitor/filedetailview.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "views/filelistview.h"
#include "views/fileview.h"

#include <QApplication>
#include <QCursor>
#include <QToolButton>

namespace {

// The toggles of each side, tree, list, details, and the views they show.
const uint32_t kLeftToggles[3] = {32815, 32814, 32816};
const uint32_t kRightToggles[3] = {32837, 32836, 32838};
const CRuntimeClass* const kToggledViews[3] = {&classCFileTreeView, &classCFileListView,
                                               &classCFileDetailView};

const uint32_t kModeItems[3] = {32846, 32845, 32847};
const uint32_t kStyleItems[4] = {59409, 59408, 59410, 59411};

KV_FileManPool* Pool()
{
    CKivrelApp* app = CKivrelApp::Instance();
    return app != nullptr ? app->GetPool() : nullptr;
}

// The data source of the adapter, as the tree holds it (instance 0).
KV_DsTreeNode* DataSourceNode(CFileManData* data)
{
    KV_FileManPool* pool = Pool();
    if (data == nullptr || pool == nullptr) {
        return nullptr;
    }
    return pool->tree().find(KV_FileManId(data->GetManId(), 0));
}

} // namespace

// ---------------------------------------------------------------------------
// queries

bool CBrowseSplt::IsDetailsFocused() const
{
    return qobject_cast<CFileDetailView*>(GetSplitter()->GetFocusPane()) != nullptr;
}

uint32_t CBrowseSplt::GetFocusTavoId() const
{
    auto* details = qobject_cast<CFileDetailView*>(GetSplitter()->GetFocusPane());
    return details != nullptr ? details->GetSelectedTavoId() : 0;
}

int CBrowseSplt::ShownViewCount() const
{
    int shown = 0;
    for (uint32_t side : {kLeft, kRight}) {
        if (PaneClassOf(side == kLeft ? left : right) == nullptr) {
            continue;
        }
        for (const CRuntimeClass* view : kToggledViews) {
            shown += GetSplitter()->IsPaneShown(CPaneInfo(view, side)) ? 1 : 0;
        }
    }
    return shown;
}

// ---------------------------------------------------------------------------
// registration

void CBrowseSplt::RegisterConnCommands()
{
    // ---- connections
    for (const bool connect : {true, false}) {
        CCommandLayer::On(
            this, connect ? 32780 : 32782,
            [this, connect](uint32_t) {
                CFileManData* data = GetFocusData();
                KV_FileManPool* pool = Pool();
                if (data != nullptr && pool != nullptr && IsDetailsFocused()) {
                    pool->tavo_man(data->GetManId(), GetFocusTavoId(),
                                   connect ? KV_MANAGE_CMD_CONNECT : KV_MANAGE_CMD_DISCONNECT,
                                   KV_String());
                }
            },
            [this, connect](CCmdUI& ui) {
                CFileManData* data = GetFocusData();
                ui.Enable(data != nullptr && IsDetailsFocused() &&
                          WorkerCommandEnabled(data->GetTavoInfoMan(), GetFocusTavoId(), connect));
            });
    }
    CCommandLayer::On(
        this, 32783,
        [this](uint32_t) {
            if (CFileManData* data = GetFocusData()) {
                data->DisconnectAll();
            }
        },
        [this](CCmdUI& ui) {
            CFileManData* data = GetFocusData();
            ui.Enable(data != nullptr && AnyWorkerRunning(data->GetTavoInfoMan()));
        });
    CCommandLayer::On(
        this, 32778, [this](uint32_t) { OnCustomCommand(); },
        [this](CCmdUI& ui) { ui.Enable(GetFocusData() != nullptr); });

    // ---- transfer modes: only FTP panes answer a mode
    for (const uint32_t id : kModeItems) {
        CCommandLayer::On(
            this, id,
            [this](uint32_t cmd) {
                if (CFileManData* data = GetFocusData()) {
                    if (data->GetTransferMode() != 0) {
                        data->SetTransferMode(
                            static_cast<KV_FILE_MAN_TMODE>(TransferModeOfCommand(cmd)));
                        UpdateTransferModeChecks();
                    }
                }
            },
            [this](CCmdUI& ui) {
                CFileManData* data = GetFocusData();
                if (data == nullptr) {
                    ui.Enable(false);
                    return;
                }
                const uint32_t mode = data->GetTransferMode();
                ui.Enable(mode != 0);
                ui.SetCheck(mode != 0 && mode == TransferModeOfCommand(ui.m_nID) ? 1 : 0);
            });
    }

    // ---- the data source
    const auto has_node = [this](CCmdUI& ui) {
        ui.Enable(DataSourceNode(GetFocusData()) != nullptr);
    };
    CCommandLayer::On(
        this, 32784,
        [this](uint32_t) {
            KV_DsTreeNode* node = DataSourceNode(GetFocusData());
            if (node != nullptr) {
                CKivrelApp::Instance()->EditProperties(node, nullptr, this);
            }
        },
        has_node);
    CCommandLayer::On(
        this, 32785, [this](uint32_t) { FindDataSource(true); }, has_node);
    CCommandLayer::On(
        this, 32839, [this](uint32_t) { OnSetDefaultDir(); },
        [this](CCmdUI& ui) {
            CFileView* view = GetFocusView();
            ui.Enable(view != nullptr && !view->GetTargetPath().empty());
        });

    // ---- pane toggles
    for (uint32_t side : {kLeft, kRight}) {
        const uint32_t* items = side == kLeft ? kLeftToggles : kRightToggles;
        for (int kind = 0; kind < 3; ++kind) {
            const CPaneInfo info(kToggledViews[kind], side);
            CCommandLayer::On(
                this, items[kind],
                [this, info, side](uint32_t) {
                    if (PaneClassOf(side == kLeft ? left : right) == nullptr ||
                        GetPane(side) == nullptr) {
                        return;
                    }
                    GetSplitter()->TogglePane(info);
                    // Hiding a side's last view takes its pane along, and a
                    // view going with its pane can no longer report itself:
                    // the side is closed here.
                    if (GetPane(side) == nullptr && GetSideId(side)->valid()) {
                        OnViewHidden(info.GetClass(), side);
                    }
                },
                [this, info](CCmdUI& ui) {
                    const bool shown = GetSplitter()->IsPaneShown(info);
                    ui.SetCheck(shown ? 1 : 0);
                    ui.Enable(ViewToggleEnabled(shown, ShownViewCount()));
                });
        }
    }

    // ---- list styles
    const auto list_of = [this] { return qobject_cast<CFileListView*>(GetListView()); };
    CCommandLayer::On(
        this, 32779,
        [list_of](uint32_t) {
            CFileListView* list = list_of();
            if (list != nullptr && list->GetStyle() == CFileListView::kStyleDetails) {
                list->ChooseColumns();
            }
        },
        [list_of](CCmdUI& ui) {
            CFileListView* list = list_of();
            ui.Enable(list != nullptr && list->GetStyle() == CFileListView::kStyleDetails);
        });
    for (const uint32_t id : kStyleItems) {
        CCommandLayer::On(
            this, id,
            [list_of](uint32_t cmd) {
                if (CFileListView* list = list_of()) {
                    list->SetStyle(ListStyleOfCommand(cmd));
                }
            },
            [list_of](CCmdUI& ui) {
                CFileListView* list = list_of();
                ui.Enable(list != nullptr);
                if (list != nullptr) {
                    ui.SetRadio(list->GetStyle() == ListStyleOfCommand(ui.m_nID));
                }
            });
    }
    CCommandLayer::On(
        this, 59412,
        [list_of](uint32_t) {
            if (CFileListView* list = list_of()) {
                list->ArrangeIcons();
            }
        },
        [list_of](CCmdUI& ui) {
            CFileListView* list = list_of();
            ui.Enable(list != nullptr && (list->GetStyle() == CFileListView::kStyleIcons ||
                                          list->GetStyle() == CFileListView::kStyleSmallIcons));
        });
    // Sorting by name is the list's own order already.
    CCommandLayer::On(
        this, 59413, [](uint32_t) {}, [list_of](CCmdUI& ui) { ui.Enable(list_of() != nullptr); });
    CCommandLayer::On(
        this, 32813, [this](uint32_t) { OnListViewMenu(); },
        [list_of](CCmdUI& ui) { ui.Enable(list_of() != nullptr); });
    // The toolbar button's arrow opens the same popup as its command.
    if (toolbar != nullptr) {
        CNewMenu* styles =
            FindMenuByText(&DefaultMenu(), QStringLiteral("&List view"), nullptr, true);
        for (QAction* action : toolbar->actions()) {
            auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(action));
            if (button != nullptr && action->objectName() == kvres::CommandName(32813) &&
                styles != nullptr) {
                button->setMenu(styles->GetSafeHmenu());
            }
        }
    }

    // ---- panes
    for (const bool forward : {true, false}) {
        CCommandLayer::On(
            this, forward ? 57680 : 57681,
            [this, forward](uint32_t) { GetSplitter()->FocusNextPane(forward); },
            [this](CCmdUI& ui) { ui.Enable(GetSplitter()->HasSeveralPanes()); });
    }
    CCommandLayer::OnRange(
        this, kFolderCmdFirst, kFolderCmdLast, [this](uint32_t id) { OnFolderCommand(id); },
        [this](CCmdUI& ui) { ui.Enable(GetFocusData() != nullptr); });
    // About: the application carries it out, while the focus is in here.
    CCommandLayer::OnUpdate(this, 57664, [this](CCmdUI& ui) {
        QWidget* focus = QApplication::focusWidget();
        ui.Enable(focus != nullptr && FromChild(focus) == this);
    });
}

// ---------------------------------------------------------------------------
// handlers

void CBrowseSplt::FindDataSource(bool explicit_request)
{
    if (!explicit_request &&
        GetProfileInt(QStringLiteral("UI"), QStringLiteral("DsAutosel"), 0) == 0) {
        return;
    }
    CFileManData* data = GetFocusData();
    KV_FileManPool* pool = Pool();
    if (data == nullptr || pool == nullptr) {
        return;
    }
    // The live instance's node, not the data source's own: the control
    // window shows which instance this window is.
    KV_DsTreeNode* node = pool->tree().find(data->GetManId());
    if (node == nullptr) {
        return;
    }
    if (explicit_request) {
        if (CMainFrm* main = CKivrelApp::Instance()->GetMainFrm()) {
            main->activateWindow();
        }
    }
    pool->set_status(node, 2);
}

void CBrowseSplt::UpdateTransferModeChecks()
{
    if (GetFocusData() == nullptr) {
        return;
    }
    CCommandLayer* layer = CCommandLayer::Of(this);
    if (CNewMenu* modes = FindMenuById(&popups, kModeItems[0])) {
        layer->UpdateMenu(modes->GetSafeHmenu());
    }
    for (const uint32_t id : kModeItems) {
        if (QAction* action = layer->FindAction(id)) {
            CCmdUI ui(id);
            layer->Update(ui, true);
            if (ui.check >= 0) {
                action->setCheckable(true);
                action->setChecked(ui.check != 0);
            }
        }
    }
}

void CBrowseSplt::OnCustomCommand()
{
    const uint32_t worker = CustomCommandWorker(IsDetailsFocused(), GetFocusTavoId());
    CFileManData* data = GetFocusData();
    if (data == nullptr) {
        return;
    }
    // The pane may close while the dialog is open; the id stays meaningful
    // (the engine refuses a manager that is gone).
    const KV_FileManId id = data->GetManId();
    CDlgUsrDefCmd dlg(this);
    if (dlg.exec() != QDialog::Accepted) {
        return;
    }
    KV_String text;
    KV_FileManPool* pool = Pool();
    if (pool != nullptr && CustomCommandText(QStringToKv(dlg.command), text)) {
        pool->tavo_man(id, worker, KV_MANAGE_CMD_USER, text);
    }
}

void CBrowseSplt::OnSetDefaultDir()
{
    CFileView* view = GetFocusView();
    CFileManData* data = view != nullptr ? view->GetData() : nullptr;
    KV_FileManPool* pool = Pool();
    if (data == nullptr || pool == nullptr) {
        return;
    }
    KV_String text;
    if (!data->GetPathText(text, view->GetTargetPath(), false, 0)) {
        return;
    }
    KV_DsTreeNode* node = nullptr;
    KV_DsTreeNode* clone = pool->tree().clone(data->GetManId(), false, &node);
    if (node != nullptr && clone != nullptr && clone->params() != nullptr) {
        clone->params()->set_def_path(data->GetDirText(text), false);
        pool->update(node, clone, 0);
    }
    KV_DsTreeNode::destr_clone(clone);
}

void CBrowseSplt::OnListViewMenu()
{
    CNewMenu* styles = FindMenuByText(&DefaultMenu(), QStringLiteral("&List view"), nullptr, true);
    if (styles != nullptr && styles->GetSafeHmenu() != nullptr) {
        styles->GetSafeHmenu()->popup(QCursor::pos());
    }
}

void CBrowseSplt::OnFolderCommand(uint32_t id)
{
    CBrowseFrm* pane = CBrowseFrm::FromChild(QApplication::focusWidget());
    if (pane == nullptr || FromChild(pane) != this || pane->GetData() == nullptr) {
        return;
    }
    auto* bar = qobject_cast<CBrowserBar*>(pane->GetStatusBar());
    const QString folder = bar != nullptr ? bar->FolderOf(id) : QString();
    if (!folder.isEmpty()) {
        pane->GetData()->SetPathText(QStringToKv(folder), true);
    }
}
