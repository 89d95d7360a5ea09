#include "setup/dlgtrust.h"

#include "foundation/kvtl.h"
#include "net/kv_ckman.h"
#include "shell/kivrelapp.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QString Q(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

} // namespace

CDlgTrust::CDlgTrust(int template_id, KV_CKMan& store, const QString& col2, const QString& col3,
                     QWidget* parent)
    : CKVDialog(template_id, parent), store(store)
{
    setWindowTitle(template_id == IDD_KEYS ? QStringLiteral("Trusted public keys")
                                           : QStringLiteral("Trusted certificates"));
    QStringList titles{QStringLiteral("Server"), col2};
    if (!col3.isEmpty()) {
        titles << col3;
    }
    auto* list = new QTableWidget(0, static_cast<int>(titles.size()), this);
    list->setObjectName(QString::number(IDC_LIST));
    list->setHorizontalHeaderLabels(titles);
    list->verticalHeader()->hide();
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->horizontalHeader()->setStretchLastSection(false);

    auto* remove = new QPushButton(QStringLiteral("&Remove"), this);
    remove->setObjectName(QString::number(IDC_REMOVE));
    auto* remove_all = new QPushButton(QStringLiteral("Remove &all"), this);
    remove_all->setObjectName(QString::number(IDC_REMOVE_ALL));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);

    auto* row = new QHBoxLayout;
    row->addWidget(remove);
    row->addWidget(remove_all);
    row->addStretch(1);
    row->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list, 1);
    layout->addLayout(row);
    resize(560, 320);

    connect(remove, &QPushButton::clicked, this, &CDlgTrust::OnRemove);
    connect(remove_all, &QPushButton::clicked, this, &CDlgTrust::OnRemoveAll);
    connect(list, &QTableWidget::itemSelectionChanged, this, &CDlgTrust::UpdateButtons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CDlgTrust::OnInitDialog()
{
    CKVDialog::OnInitDialog();
    auto* list = Item<QTableWidget>(IDC_LIST);
    // A copy: the store's lock is held only while get() copies.
    KVTL::KV_ListVal<KV_CKEntry> entries;
    store.get(entries);
    list->setRowCount(static_cast<int>(entries.size()));
    for (uint32_t i = 0; i < entries.size(); ++i) {
        const KV_CKEntry& e = entries.at(i);
        const KV_String* texts[] = {&e.name(), &e.descr1(), &e.descr2()};
        for (int col = 0; col < list->columnCount(); ++col) {
            auto* item = new QTableWidgetItem(Q(*texts[col]));
            item->setData(Qt::UserRole, e.id());
            list->setItem(static_cast<int>(i), col, item);
        }
    }
    list->resizeColumnsToContents();
    UpdateButtons();
}

void CDlgTrust::UpdateButtons()
{
    auto* list = Item<QTableWidget>(IDC_LIST);
    Item(IDC_REMOVE)->setEnabled(!list->selectionModel()->selectedRows().isEmpty());
    Item(IDC_REMOVE_ALL)->setEnabled(list->rowCount() > 0);
}

void CDlgTrust::OnRemove()
{
    auto* list = Item<QTableWidget>(IDC_LIST);
    QList<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
        rows << index.row();
    }
    // From the bottom up, so that the rows still to go keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int row : rows) {
        removed << list->item(row, 0)->data(Qt::UserRole).toUInt();
        list->removeRow(row);
    }
    UpdateButtons();
}

bool CDlgTrust::AskRemoveAll()
{
    return QMessageBox::question(
               this, QStringLiteral("Question"),
               QStringLiteral("Are you sure you want to remove all items from the list ?"),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void CDlgTrust::OnRemoveAll()
{
    if (!AskRemoveAll()) {
        return;
    }
    auto* list = Item<QTableWidget>(IDC_LIST);
    for (int row = 0; row < list->rowCount(); ++row) {
        removed << list->item(row, 0)->data(Qt::UserRole).toUInt();
    }
    list->setRowCount(0);
    UpdateButtons();
}

void CDlgTrust::OnOK()
{
    if (!removed.isEmpty()) {
        KVTL::KV_ListVal<uint32_t> ids;
        for (uint32_t id : removed) {
            ids.add(id);
        }
        store.del_ids(ids);
    }
    CKVDialog::OnOK();
}
