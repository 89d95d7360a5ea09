#ifndef KIVREL_MONITOR_DLGREQINFOLOG_H
#define KIVREL_MONITOR_DLGREQINFOLOG_H

// The request information window: one modeless window for the details and
// the running log of one transfer request. It asks the engine for the data
// with an information task; the engine's request-log notices then reach it
// through the control window (Fill). At most one exists; it is reused for
// every later request. User-interface thread only.

#include <QTextCharFormat>

#include "shell/kvdialog.h"

#include <QSize>
#include <cstdint>

class KV_MsgReqLog;
class QTextEdit;
class QTreeWidget;

class CDlgReqInfoLog : public CKVDialog
{
    Q_OBJECT
public:
    // The bits of a notice (KV_FileReqLog::chg).
    enum { kFillRestart = 1, kFillHeader = 2, kFillStatus = 4, kFillElems = 8, kFillLastErr = 16 };
    // Item data of a log row's column 0: the colour codes of the four cells,
    // 4 bits each, "Time" lowest.
    enum { ColourRole = Qt::UserRole };

    // The open window, or null.
    static CDlgReqInfoLog* Instance() { return instance; }
    // Opens the window (made on first use), clears it, brings it to the top
    // and asks the engine for request `id`'s details and log.
    static void ShowRequest(uint32_t id);
    // Closes the open window when it shows `id` (`same`) or another request
    // (not `same`).
    static void CloseIf(uint32_t id, bool same);

    uint32_t RequestId() const { return req_id; }
    // Applies one request-log notice.
    void Fill(const KV_MsgReqLog& msg);

    QTreeWidget* LogList() const { return list; }
    QSize MinimumTrackSize() const { return min_size; }

protected:
    void OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    explicit CDlgReqInfoLog(QWidget* parent = nullptr);
    ~CDlgReqInfoLog() override;

    void Clear();
    void AddBrowseTask();
    void AddParamsTask();

    static CDlgReqInfoLog* instance;
    uint32_t req_id = 0;
    QSize min_size;
    QTreeWidget* list = nullptr;
    QTextEdit* type = nullptr;
    QTextEdit* status = nullptr;
    QTextEdit* start = nullptr;
    QTextEdit* last_err = nullptr;
    QTextEdit* descr = nullptr;
    QTextCharFormat fmt_red;
    QTextCharFormat fmt_green;
    QTextCharFormat fmt_blue;
};

#endif
