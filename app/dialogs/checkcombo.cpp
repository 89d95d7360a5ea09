#include "dialogs/checkcombo.h"

#include "shell/kivrelapp.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QStylePainter>

CCheckComboBox::CCheckComboBox(QWidget* parent) : QComboBox(parent)
{
    setModel(new QStandardItemModel(this));
    view()->viewport()->installEventFilter(this);
    view()->installEventFilter(this);
    // Rows added by addItem get a check box, unchecked.
    connect(model(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                auto* m = static_cast<QStandardItemModel*>(model());
                for (int i = first; i <= last; ++i) {
                    if (QStandardItem* item = m->item(i)) {
                        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
                        item->setData(Qt::Unchecked, Qt::CheckStateRole);
                    }
                }
            });
}

bool CCheckComboBox::SetCheck(int index, bool check)
{
    if (index < 0 || index >= count()) {
        return false;
    }
    setItemData(index, check ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    update();
    return true;
}

bool CCheckComboBox::GetCheck(int index) const
{
    return itemData(index, Qt::CheckStateRole).toInt() == Qt::Checked;
}

void CCheckComboBox::SetCheckAll(bool check)
{
    for (int i = 0; i < count(); ++i) {
        SetCheck(i, check);
    }
}

int CCheckComboBox::GetCheckedCount() const
{
    int n = 0;
    for (int i = 0; i < count(); ++i) {
        n += GetCheck(i) ? 1 : 0;
    }
    return n;
}

QString CCheckComboBox::GetText() const
{
    QStringList checked;
    for (int i = 0; i < count(); ++i) {
        if (GetCheck(i)) {
            checked << itemText(i);
        }
    }
    return checked.join("; ");
}

void CCheckComboBox::Toggle(int index)
{
    if (index < 0 || index >= count()) {
        return;
    }
    SetCheck(index, !GetCheck(index));
    emit currentIndexChanged(currentIndex());
}

void CCheckComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = GetText();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

bool CCheckComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            // A click below the last item finds no index and changes nothing.
            const QModelIndex index =
                view()->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            if (index.isValid()) {
                Toggle(index.row());
            }
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            return true; // the list stays open
        }
    } else if (watched == view() && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        Toggle(view()->currentIndex().row());
        return true;
    }
    return QComboBox::eventFilter(watched, event);
}

CComboDs::CComboDs(QWidget* parent) : QComboBox(parent) {}

bool CComboDs::AddItem(const QString& text, KV_DsTreeNode* node)
{
    const QVariant data = QVariant::fromValue(reinterpret_cast<quintptr>(node));
    if (node == nullptr) {
        insertItem(0, text, data);
        return true;
    }
    int image = 0;
    int selected = 0;
    CKivrelApp* app = CKivrelApp::Instance();
    if (app != nullptr && app->GetNodeImages(node, image, selected, true)) {
        addItem(app->GetDsImageList().Icon(image), text, data);
    } else {
        addItem(text, data);
    }
    return true;
}

KV_DsTreeNode* CComboDs::GetItemNode(int index) const
{
    return reinterpret_cast<KV_DsTreeNode*>(itemData(index).value<quintptr>());
}

KV_DsTreeNode* CComboDs::GetSelNode() const
{
    return currentIndex() < 0 ? nullptr : GetItemNode(currentIndex());
}
