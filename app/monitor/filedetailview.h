#ifndef KIVREL_MONITOR_FILEDETAILVIEW_H
#define KIVREL_MONITOR_FILEDETAILVIEW_H

// The "Details" view of a browse pane: what the pane's connection is doing
// instead of its files. Tabs "Overview" and "Protocol" (the workers, only
// for panes on servers) and "Requests" (always). The view binds to its pane
// once it sits inside one. User-interface thread only.

#include "monitor/tabview.h"

class CBrowseFrm;
class CFileManData;
class CFileReqView;
class CFileTavoLog;
class CFileTavoMain;

// Makes a details view, for the details view's pane class
// (classCFileDetailView, browse/browsefrm.h).
QWidget* MakeFileDetailView();

class CFileDetailView : public CTabView
{
    Q_OBJECT
public:
    // Binds at once when `parent` lies inside a pane, else when it is put
    // into one.
    explicit CFileDetailView(QWidget* parent = nullptr);
    ~CFileDetailView() override;

    CBrowseFrm* Pane() const { return pane; }
    // The worker id of the selected row of the current worker page; 0 when
    // another page is current or no row is selected.
    unsigned int GetSelectedTavoId() const;

    CFileTavoMain* OverviewPage() const { return overview; }
    CFileTavoLog* ProtocolPage() const { return protocol; }
    CFileReqView* RequestsPage() const { return requests; }

protected:
    const QFont* GetTabFont() const override;
    void InitPages() override;
    bool event(QEvent* event) override;

private:
    void Bind();

    CBrowseFrm* pane = nullptr;
    CFileManData* data = nullptr;
    CFileTavoMain* overview = nullptr;
    CFileTavoLog* protocol = nullptr;
    CFileReqView* requests = nullptr;
};

#endif
