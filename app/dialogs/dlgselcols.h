#ifndef KIVREL_DIALOGS_DLGSELCOLS_H
#define KIVREL_DIALOGS_DLGSELCOLS_H

// The column chooser of a file list: the columns that apply to the list's
// protocol, split into available and selected ones; the selected ones in
// display order. "Name" always stays selected, and at least one column
// does. The caller applies GetColumns after OK and, with IsDefault, stores
// them for the data-source type. User-interface thread only.

#include "shell/kvdialog.h"

#include <functional>
#include <vector>

class QListWidget;
class QPushButton;

class CDlgSelCols : public CKVDialog
{
    Q_OBJECT
public:
    enum : int {
        IDC_AVAILABLE = 1022,
        IDC_SELECTED = 1023,
        IDC_ADD = 1153,
        IDC_REMOVE = 1189,
        IDC_DEFAULT = 1035,
    };

    // `columns`: the list's visible columns (indexes of the column table),
    // in display order. `applies` tells whether a column index applies to
    // the list's protocol.
    CDlgSelCols(const std::vector<int>& columns, const std::function<bool(int)>& applies,
                QWidget* parent = nullptr);

    const std::vector<int>& GetColumns() const { return columns; }
    bool IsDefault() const { return make_default != 0; }

protected:
    void OnInitDialog() override;
    void exchange(bool save) override;

    // ">": the selected available columns go to the end of the display order.
    void OnAdd();
    // "<": the selected columns go back, except "Name" and the last one.
    void OnRemove();
    void OnAvailableSelection();
    void OnSelectedSelection();
    void UpdateButtons();

private:
    // Moves the item of `column` from one list to the other: to the end of
    // the selected list, or to its table place among the available ones.
    void Move(int column, bool to_selected);

    std::vector<int> columns;
    std::function<bool(int)> applies;
    QPushButton* add = nullptr;
    QPushButton* remove = nullptr;
    QListWidget* available = nullptr;
    QListWidget* selected = nullptr;
    int make_default = 0;
};

#endif
