#ifndef KIVREL_MONITOR_FILEREQVIEW_H
#define KIVREL_MONITOR_FILEREQVIEW_H

// The "Requests" page of a pane's details: the queued requests of the
// pane's file manager in their arrival order, followed through the
// request-info notices. User-interface thread only.

#include <QWidget>

#include "monitor/panelink.h"
#include "requests/kv_filereqinfoman.h"

class QTreeWidget;
class QTreeWidgetItem;

class CFileReqView : public QWidget
{
    Q_OBJECT
public:
    enum { IdRole = Qt::UserRole };

    explicit CFileReqView(const CPaneLink& link, QWidget* parent = nullptr);
    ~CFileReqView() override;

    // A notice of the request-info table (kinds 0, 1 and 2; others do
    // nothing).
    void OnReqNtf(unsigned int id, KV_REQ_NTF kind);

    QTreeWidget* List() const { return list; }
    QTreeWidgetItem* FindRow(unsigned int id) const;

protected:
    // Focus on the list: row 0 takes focus and selection when none has it.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class CReqInfoViewNtf : public KV_FileReqInfoNtfRecv
    {
    public:
        explicit CReqInfoViewNtf(CFileReqView* page) : page(page) {}
        void notify(unsigned int id, KV_REQ_NTF kind) override;
        CFileReqView* page;
    };

    CPaneLink link;
    CReqInfoViewNtf receiver{this};
    bool registered = false;
    QTreeWidget* list = nullptr;
};

#endif
