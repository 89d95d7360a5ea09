#ifndef KIVREL_MONITOR_FILETAVO_H
#define KIVREL_MONITOR_FILETAVO_H

// The worker pages of a pane's details: "Overview" lists every worker of
// the pane's file manager with its status, amount, speed and error;
// "Protocol" lists the workers and shows the session log of the selected
// one, each line coloured by its kind. Both follow the manager's worker
// table through its notices. User-interface thread only.

#include <QTextCharFormat>
#include <QWidget>

#include "monitor/panelink.h"
#include "requests/kv_tavoinfo.h"

class QTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

// What both pages share: the worker list (control 1191) with the running
// state as its picture, the sorting by text and the connection popup.
class CFileTavoPage : public QWidget
{
    Q_OBJECT
public:
    enum { IdRole = Qt::UserRole };

    ~CFileTavoPage() override;

    // A notice of the worker table.
    virtual void OnTavoNtf(unsigned int id, KV_TAVO_NTF_TYPE type) = 0;

    QTreeWidget* List() const { return list; }
    QTreeWidgetItem* FindRow(unsigned int id) const;
    // The worker id of the selected row; 0 when none.
    unsigned int SelectedId() const;
    int SortColumn() const { return sort_column; }
    bool SortFlag() const { return sort_flag; }
    // A click on the header of `column`: another column becomes the sort
    // column with the flag kept, the sort column flips the flag; then the
    // rows sort by text (descending with the flag). Numbers sort as text.
    void OnHeaderClicked(int column);

protected:
    CFileTavoPage(const CPaneLink& link, int id, const QString& title, QWidget* parent);
    // Registers with the worker table; the derived page calls it once its
    // controls exist, as the table announces every worker at once.
    void Register();
    // The row of `id`, appended with empty texts when there is none.
    QTreeWidgetItem* RowOf(unsigned int id);
    void SetRunning(QTreeWidgetItem* item, const KV_TavoInfo& info);
    bool eventFilter(QObject* watched, QEvent* event) override;

    CPaneLink link;
    QTreeWidget* list = nullptr;

private:
    class CTavoInfoNtf : public KV_TavoInfoNtfRecv
    {
    public:
        explicit CTavoInfoNtf(CFileTavoPage* page) : page(page) {}
        void notify(unsigned int id, KV_TAVO_NTF_TYPE type) override;
        CFileTavoPage* page;
    };

    CTavoInfoNtf receiver{this};
    bool registered = false;
    int sort_column = -1;
    bool sort_flag = true;
};

class CFileTavoMain : public CFileTavoPage
{
    Q_OBJECT
public:
    explicit CFileTavoMain(const CPaneLink& link, QWidget* parent = nullptr);
    void OnTavoNtf(unsigned int id, KV_TAVO_NTF_TYPE type) override;
};

class CFileTavoLog : public CFileTavoPage
{
    Q_OBJECT
public:
    // The log keeps at most this many lines.
    static constexpr int kMaxLines = 256;

    explicit CFileTavoLog(const CPaneLink& link, QWidget* parent = nullptr);
    void OnTavoNtf(unsigned int id, KV_TAVO_NTF_TYPE type) override;

    QTextEdit* Log() const { return log; }
    // Empties the log and fills it with the selected worker's lines.
    void ReloadLog();
    // Appends one line: its prefix, its colour, the oldest line dropped
    // beyond kMaxLines, and the view scrolled to the last line.
    void AppendLine(const KV_SessLogInfo& line);
    // The format of a line of `kind` with the error flag.
    QTextCharFormat FormatOf(KV_SESS_LOG kind, bool err) const;

private:
    QTextEdit* log = nullptr;
};

#endif
