#include "monitor/filereqview.h"

#include "shell/kivrelapp.h"

#include <QFocusEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

QString ToQ(const char* s)
{
    return s != nullptr ? QString::fromUtf8(s) : QString();
}

} // namespace

void CFileReqView::CReqInfoViewNtf::notify(unsigned int id, KV_REQ_NTF kind)
{
    if (page != nullptr) {
        page->OnReqNtf(id, kind);
    }
}

CFileReqView::CFileReqView(const CPaneLink& link, QWidget* parent) : QWidget(parent), link(link)
{
    setObjectName("75");
    setWindowTitle("Requests");
    list = new QTreeWidget(this);
    list->setObjectName("1138");
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setHeaderLabels({"Request", "Status", "Parameters", "Errors"});
    const int widths[] = {53, 53, 250, 50};
    for (int i = 0; i < 4; ++i) {
        list->setColumnWidth(i, widths[i]);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    setFocusProxy(list);
    SetChildFont(this, CKivrelApp::Instance()->GetFont(0));
    list->installEventFilter(this);
    if (link.req != nullptr) {
        registered = link.req->reg(&receiver);
    }
}

CFileReqView::~CFileReqView()
{
    receiver.page = nullptr;
    if (registered && link.Alive()) {
        link.req->unreg(&receiver);
    }
}

QTreeWidgetItem* CFileReqView::FindRow(unsigned int id) const
{
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->data(0, IdRole).toUInt() == id) {
            return list->topLevelItem(i);
        }
    }
    return nullptr;
}

void CFileReqView::OnReqNtf(unsigned int id, KV_REQ_NTF kind)
{
    if (link.req == nullptr) {
        return;
    }
    QTreeWidgetItem* item = FindRow(id);
    switch (kind) {
    case KV_REQ_NTF_INIT:
    case KV_REQ_NTF_STATUS: {
        const bool made = item == nullptr;
        if (made) {
            item = new QTreeWidgetItem;
            item->setData(0, IdRole, id);
            list->addTopLevelItem(item);
        }
        const KV_FileReqInfo* info = link.req->at(id);
        if (info == nullptr) {
            return;
        }
        // A row made by a status notice gets its "Request" text too: the
        // first notice it missed would have been the only one to set it.
        if (kind == KV_REQ_NTF_INIT || made) {
            item->setText(0, ToQ(info->operation()));
        }
        item->setText(1, ToQ(info->status_str()));
        item->setText(2, ToQ(info->descr()));
        item->setText(3, QString::number(info->err_cnt()));
        return;
    }
    case KV_REQ_NTF_ENDED:
        delete item;
        return;
    default:
        return;
    }
}

bool CFileReqView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list && event->type() == QEvent::FocusIn) {
        if (list->currentItem() == nullptr && list->topLevelItemCount() > 0) {
            list->setCurrentItem(list->topLevelItem(0));
        }
        link.ClearActiveNode();
    }
    return QWidget::eventFilter(watched, event);
}
