#ifndef KIVREL_STARTUP_DLGREQASK_H
#define KIVREL_STARTUP_DLGREQASK_H

// "Request resumption": the requests reloaded from their logs that can go
// on, each with a box; unchecked ones are cancelled on OK, and the question
// can be switched off for later starts ("UI"/"ReqResume").
//
// User-interface thread; shown while the start-up loader waits and before
// the transfer manager runs, so nothing else changes the request list then.

#include <QtWidgets/QTreeWidget>

#include "shell/kvdialog.h"

#include <cstdint>

class KV_FileReq;
class KV_FileTransMan;

class DlgReqAsk : public CKVDialog
{
    Q_OBJECT
public:
    explicit DlgReqAsk(KV_FileTransMan& man, QWidget* parent = nullptr);

    // Whether the request is listed: it can resume (`checked`: whether its
    // box starts checked), is not hidden and not finished.
    static bool Listed(KV_FileReq& req, bool& checked);
    // Whether some request of `man` is listed.
    static bool AnyListed(KV_FileTransMan& man);
    // Declining (the question switched off, or closed): every request that
    // would start unchecked is cancelled; the others go on.
    static void CancelUncheckedDefaults(KV_FileTransMan& man);

    QTreeWidget* List() const { return list; }

protected:
    void OnInitDialog() override;
    void OnOK() override;
    void exchange(bool save) override;

private:
    void Fill();

    KV_FileTransMan& man;
    QTreeWidget* list = nullptr;
    int dont_show = 0;
};

#endif
