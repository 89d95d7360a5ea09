#ifndef KIVREL_DIALOGS_DLGASK_H
#define KIVREL_DIALOGS_DLGASK_H

// The dialog in which the user answers an engine thread's question. The
// question's kind picks the layout and so the buttons; the answer is read
// with GetResult after the dialog ended, whatever ended it (0: closed
// without a button, which the engine takes for a refusal).
// User-interface thread only.

#include "foundation/kv_informer.h"
#include "foundation/kv_string.h"
#include "shell/kvdialog.h"

#include <QRect>
#include <QString>

class CDlgAsk : public CKVDialog
{
    Q_OBJECT
public:
    // Control ids.
    enum : int {
        IDC_NO_ALL = 1093,
        IDC_NO = 1092,
        IDC_YES_ALL = 1197,
        IDC_YES = 1196,
        IDC_PARAMS = 1105,
        IDC_REMEMBER = 1171,
        IDC_USER = 1195,
        IDC_PASS = 1113,
    };

    // `params` is what the question's kind says: for KV_ASK_YES_ALL2 the
    // copy request (KV_FileReqTransCp) that asks, for KV_ASK_LOGIN the
    // KV_PassAsk that receives the password; may be null.
    CDlgAsk(const KV_String& msg, KV_ANS def_ans, KV_ASK kind, void* params, QWidget* parent);

    KV_ANS GetResult() const { return result; }
    const QString& Text() const { return text; }
    // The template of a question kind (43 to 47).
    static int TemplateOf(KV_ASK kind);
    // Where the question is painted, in client pixels.
    QRect TextRect() const { return text_rect; }

protected:
    void OnInitDialog() override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnYes();
    void OnYesAll();
    void OnNo();
    void OnNoAll();
    void OnParams();
    void End(KV_ANS ans);

    const KV_ASK kind;
    const QString text;
    QRect text_rect;
    const KV_ANS def_ans;
    void* const params;
    KV_ANS result = KV_ANS_NONE;
};

#endif
