#ifndef KIVREL_DIALOGS_DLGTRANSPAR_H
#define KIVREL_DIALOGS_DLGTRANSPAR_H

// The dialogs that edit a transfer request's parameters before it is queued
// or while it waits: copy or move ("Copy Parameters"), rename ("Move/Rename
// Parameters"), delete ("Delete Options"). Each edits its own copy; after
// the dialog ended with Accepted the caller reads the edited copy with
// GetParams and hands it to the engine. A cancelled dialog changes nothing.
// User-interface thread only.

// Qt's headers first: moc reads the engine headers' standard includes only
// after Qt's have set the library's configuration macros.
#include "shell/kvdialog.h"

#include <QStringList>
#include <cstdint>

#include "datasources/kv_filereqtransparams.h"
#include "datasources/kv_reqdefs.h"

// What every transfer request has: forced execution and the scheduled start.
class CDlgTransPar : public CKVDialog
{
    Q_OBJECT
public:
    enum : int {
        IDC_SCHEDULE = 1151,
        IDC_TIME = 1175,
        IDC_DATE = 1030,
        IDC_FORCED = 1063,
    };

    // The edited parameters (owned by the dialog).
    const KV_FileReqTransParams* GetParams() const { return params; }

    // Whether the scheduled start may change; the base: true.
    virtual bool IsScheduleEditable() const;

protected:
    // `params` is the subclass's own copy; `tristate` gives the forced
    // execution box its third state.
    CDlgTransPar(int template_id, KV_FileReqTransParams& params, bool tristate, QWidget* parent);

    void OnInitDialog() override;
    void OnOK() override;
    void exchange(bool save) override;
    void OnScheduleToggled();
    // Adds the OK and Cancel buttons under the controls; the subclasses call
    // it last in their constructors.
    void FinishLayout();

    class QVBoxLayout* layout_main = nullptr;
    KV_FileReqTransParams* const params;
    // 0 unchecked, 1 checked, 2 neither (only beside a deleted source).
    int forced = 0;
    int schedule = 0;
};

class CDlgTransParCp : public CDlgTransPar
{
    Q_OBJECT
public:
    enum : int {
        IDC_DAY = 1031,
        IDC_MODE_NORMAL = 1104,
        IDC_MODE_SIMPLE = 1102,
        IDC_MODE_SYNCHRO = 1103,
        IDC_WAIT = 1179,
        IDC_DAILY = 1176,
        IDC_WEEKLY = 1180,
        IDC_MONTHLY = 1178,
        IDC_REPEAT = 1177,
        IDC_LABEL_AT = 1032,
        IDC_LABEL_BEFORE = 1033,
        IDC_LABEL_AFTER = 1034,
        IDC_SKIP = 1167,
        IDC_DEL_SRC = 1039,
        IDC_DTRANS = 1041,
    };

    // `src_type` and `dst_type` are the data-source types of the request's
    // source and destination (direct transfer only from FTP to FTP);
    // `status` the request's, 0 for a request not made yet.
    CDlgTransParCp(uint16_t src_type, uint16_t dst_type, const KV_FileReqTransParamsCp& params,
                   KV_REQ_STAT status, QWidget* parent);

    // Not while the request runs.
    bool IsScheduleEditable() const override;

    // The week days of the weekly timing, Sunday first.
    static QStringList WeekDays();

protected:
    void OnInitDialog() override;
    void OnOK() override;
    void exchange(bool save) override;

private:
    void OnModeChanged();
    void OnTimingChanged();
    void OnDelSrcToggled();
    void OnForcedToggled();
    int Mode() const;
    int Timing() const;
    void SetTiming(int timing);

    KV_FileReqTransParamsCp params_cp;
    const KV_REQ_STAT status;
    const bool dtrans_possible;
    // The controls' values: mode 0 to 2; timing 0 to 3, -1 for none; the
    // repeat time in seconds after midnight.
    int mode = 0;
    int timing = -1;
    int repeat = 0;
    bool skip = false;
    bool del_src = false;
    bool dtrans = false;
};

class CDlgTransParRen : public CDlgTransPar
{
    Q_OBJECT
public:
    CDlgTransParRen(const KV_FileReqTransParamsRen& params, QWidget* parent);

private:
    KV_FileReqTransParamsRen params_ren;
};

class CDlgTransParRm : public CDlgTransPar
{
    Q_OBJECT
public:
    CDlgTransParRm(const KV_FileReqTransParamsRm& params, QWidget* parent);

private:
    KV_FileReqTransParamsRm params_rm;
};

#endif
