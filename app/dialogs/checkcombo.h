#ifndef KIVREL_DIALOGS_CHECKCOMBO_H
#define KIVREL_DIALOGS_CHECKCOMBO_H

// Two combo boxes of the dialogs: a drop-down list whose items carry check
// boxes and whose closed face shows the checked items, and a list of
// data-source nodes with their icons. User-interface thread only.

#include <QComboBox>
#include <QString>

class KV_DsTreeNode;

class CCheckComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit CCheckComboBox(QWidget* parent = nullptr);

    // Sets the check box of item `index`; false for an index outside the
    // list.
    bool SetCheck(int index, bool check);
    bool GetCheck(int index) const;
    void SetCheckAll(bool check);
    int GetCheckedCount() const;
    // The checked items' texts in list order, joined by "; ".
    QString GetText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Toggles the item and tells the parent as a selection change would.
    void Toggle(int index);
};

class CComboDs : public QComboBox
{
    Q_OBJECT
public:
    explicit CComboDs(QWidget* parent = nullptr);

    // A node's item is appended with the node's icon; an item without node
    // (such as "none") goes first, without icon.
    bool AddItem(const QString& text, KV_DsTreeNode* node);
    KV_DsTreeNode* GetItemNode(int index) const;
    // The selected item's node; null when nothing is selected.
    KV_DsTreeNode* GetSelNode() const;
};

#endif
