#include "monitor/filedetailview.h"

#include "browse/browsefrm.h"
#include "browse/filemandata.h"
#include "monitor/filereqview.h"
#include "monitor/filetavo.h"
#include "shell/kivrelapp.h"

#include <QEvent>
#include <QTreeWidget>
#include <algorithm>

QWidget* MakeFileDetailView()
{
    return new CFileDetailView;
}

CFileDetailView::CFileDetailView(QWidget* parent) : CTabView(parent)
{
    CKivrelApp::SetHelpTopic(this, "html\\browsewnd.htm#details");
    Bind();
}

CFileDetailView::~CFileDetailView()
{
    // A pane that is going drops its adapter before its views: then there is
    // no browse window left to tell.
    const auto& live = CKivrelApp::Instance()->GetFileManData();
    if (pane != nullptr && data != nullptr &&
        std::find(live.begin(), live.end(), data) != live.end()) {
        pane->OnViewDestroyed(&classCFileDetailView);
    }
}

bool CFileDetailView::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange) {
        Bind();
    }
    return CTabView::event(event);
}

void CFileDetailView::Bind()
{
    if (IsCreated()) {
        return;
    }
    pane = CBrowseFrm::FromChild(parentWidget());
    if (pane == nullptr) {
        return;
    }
    data = pane->GetData();
    Create();
    pane->OnViewCreated(&classCFileDetailView);
}

const QFont* CFileDetailView::GetTabFont() const
{
    return &CKivrelApp::Instance()->GetFont(0);
}

void CFileDetailView::InitPages()
{
    const CPaneLink link = CPaneLink::Of(pane);
    if (dynamic_cast<CFileManDataStd*>(data) == nullptr) {
        overview = new CFileTavoMain(link);
        AddPage(overview);
        protocol = new CFileTavoLog(link);
        AddPage(protocol);
    }
    requests = new CFileReqView(link);
    AddPage(requests);
    CTabView::InitPages();
}

unsigned int CFileDetailView::GetSelectedTavoId() const
{
    QWidget* page = CurrentPage();
    if (page != nullptr && (page == overview || page == protocol)) {
        return static_cast<CFileTavoPage*>(page)->SelectedId();
    }
    return 0;
}
