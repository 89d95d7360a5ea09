#include "dialogs/dlgselcols.h"

#include "core/filecols.h"
#include "shell/kivrelapp.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kColumnRole = Qt::UserRole;

int ColumnOf(const QListWidgetItem* item)
{
    return item->data(kColumnRole).toInt();
}

} // namespace

CDlgSelCols::CDlgSelCols(const std::vector<int>& columns, const std::function<bool(int)>& applies,
                         QWidget* parent)
    : CKVDialog(76, parent), columns(columns), applies(applies)
{
    setWindowTitle(QStringLiteral("Select columns"));
    CKivrelApp::SetHelpTopic(this, QStringLiteral("html\\filelistcolsel.htm"));

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Available columns")), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Selected columns")), 0, 2);
    available = new QListWidget;
    available->setObjectName(QString::number(IDC_AVAILABLE));
    available->setSelectionMode(QAbstractItemView::ExtendedSelection);
    selected = new QListWidget;
    selected->setObjectName(QString::number(IDC_SELECTED));
    selected->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->addWidget(available, 1, 0);
    grid->addWidget(selected, 1, 2);
    auto* buttons_mid = new QVBoxLayout;
    add = new QPushButton(QStringLiteral(">"));
    add->setObjectName(QString::number(IDC_ADD));
    remove = new QPushButton(QStringLiteral("<"));
    remove->setObjectName(QString::number(IDC_REMOVE));
    buttons_mid->addStretch();
    buttons_mid->addWidget(add);
    buttons_mid->addWidget(remove);
    buttons_mid->addStretch();
    grid->addLayout(buttons_mid, 1, 1);
    layout->addLayout(grid);
    auto* def =
        new QCheckBox(QStringLiteral("Make this selection default for the data source type."));
    def->setObjectName(QString::number(IDC_DEFAULT));
    layout->addWidget(def);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(add, &QPushButton::clicked, this, &CDlgSelCols::OnAdd);
    connect(remove, &QPushButton::clicked, this, &CDlgSelCols::OnRemove);
    connect(available, &QListWidget::itemSelectionChanged, this,
            &CDlgSelCols::OnAvailableSelection);
    connect(selected, &QListWidget::itemSelectionChanged, this, &CDlgSelCols::OnSelectedSelection);
}

void CDlgSelCols::OnInitDialog()
{
    available->clear();
    selected->clear();
    for (int i = 0; i < kFileColumnCount; ++i) {
        if (!applies || applies(i)) {
            auto* item = new QListWidgetItem(QLatin1String(GetFileColumnDef(i)->title));
            item->setData(kColumnRole, i);
            available->addItem(item);
        }
    }
    // A column the protocol does not show stays out of the display order.
    std::vector<int> shown;
    for (int column : columns) {
        for (int row = 0; row < available->count(); ++row) {
            if (ColumnOf(available->item(row)) == column) {
                shown.push_back(column);
                Move(column, true);
                break;
            }
        }
    }
    columns = shown;
    CKVDialog::OnInitDialog();
    UpdateButtons();
}

void CDlgSelCols::exchange(bool save)
{
    CKVDialog::exchange(save);
    auto* box = Item<QCheckBox>(IDC_DEFAULT);
    if (save) {
        make_default = box->isChecked() ? 1 : 0;
    } else {
        box->setChecked(make_default != 0);
    }
}

void CDlgSelCols::Move(int column, bool to_selected)
{
    QListWidget* from = to_selected ? available : selected;
    for (int row = 0; row < from->count(); ++row) {
        if (ColumnOf(from->item(row)) != column) {
            continue;
        }
        QListWidgetItem* item = from->takeItem(row);
        item->setSelected(false);
        if (to_selected) {
            selected->addItem(item);
            return;
        }
        int at = 0;
        while (at < available->count() && ColumnOf(available->item(at)) < column) {
            ++at;
        }
        available->insertItem(at, item);
        return;
    }
}

void CDlgSelCols::OnAdd()
{
    std::vector<int> moving;
    for (int row = 0; row < available->count(); ++row) {
        if (available->item(row)->isSelected()) {
            moving.push_back(ColumnOf(available->item(row)));
        }
    }
    for (int column : moving) {
        Move(column, true);
        if (std::find(columns.begin(), columns.end(), column) == columns.end()) {
            columns.push_back(column);
        }
    }
    UpdateButtons();
}

void CDlgSelCols::OnRemove()
{
    std::vector<int> moving;
    for (int row = 0; row < selected->count(); ++row) {
        const int column = ColumnOf(selected->item(row));
        if (selected->item(row)->isSelected() && column != 0) {
            moving.push_back(column);
        }
    }
    // At least one column stays, whatever was selected: the leftmost.
    if (!moving.empty() && static_cast<int>(moving.size()) >= selected->count()) {
        moving.erase(moving.begin());
    }
    for (int column : moving) {
        Move(column, false);
        columns.erase(std::remove(columns.begin(), columns.end(), column), columns.end());
    }
    UpdateButtons();
}

void CDlgSelCols::OnAvailableSelection()
{
    if (!available->selectedItems().isEmpty()) {
        const QSignalBlocker block(selected);
        selected->clearSelection();
    }
    UpdateButtons();
}

void CDlgSelCols::OnSelectedSelection()
{
    if (!selected->selectedItems().isEmpty()) {
        const QSignalBlocker block(available);
        available->clearSelection();
    }
    UpdateButtons();
}

void CDlgSelCols::UpdateButtons()
{
    add->setEnabled(!available->selectedItems().isEmpty());
    bool removable = false;
    for (const QListWidgetItem* item : selected->selectedItems()) {
        removable = removable || ColumnOf(item) != 0;
    }
    remove->setEnabled(removable && selected->count() > 1);
}
