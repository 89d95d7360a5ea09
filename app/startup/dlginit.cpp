#include "startup/dlginit.h"

#include "core/settings.h"
#include "foundation/kv_file.h"
#include "net/kv_sslsess.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "ssh/kv_sshkeyman.h"
#include "ssh/kv_sshsess.h"
#include "startup/dlgreqask.h"
#include "startup/starthooks.h"

#include <QPixmap>
#include <QVBoxLayout>
#include <chrono>

CDlgInit::CDlgInit(KV_FileManPool& p, QWidget* parent) : CKVDialog(71, parent), pool(p)
{
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    pic = new QLabel;
    pic->setObjectName(QStringLiteral("1075"));
    pic->setAlignment(Qt::AlignCenter);
    pic->setPixmap(QPixmap::fromImage(kvres::LoadBitmap(8)));
    layout->addWidget(pic);
    adjustSize();
}

CDlgInit::~CDlgInit()
{
    if (loader.joinable()) {
        loader.join();
    }
}

void CDlgInit::OnInitDialog()
{
    CKVDialog::OnInitDialog();
    running = true;
    try {
        loader = std::thread(&CDlgInit::Loader, this);
    } catch (const std::system_error&) {
        // No thread: the splash waits until the user closes it.
        running = false;
    }
}

void CDlgInit::OnCancel()
{
    if (!running) {
        CKVDialog::OnCancel();
    }
}

void CDlgInit::Post(int step, bool value)
{
    QMetaObject::invokeMethod(
        this, [this, step, value] { OnStep(step, value); }, Qt::QueuedConnection);
}

void CDlgInit::OnStep(int step, bool value)
{
    if (step <= 3) {
        picture = 8 + step;
    } else if (step == 4) {
        result = value;
        if (value) {
            picture = 12;
        }
    }
    if (step <= 4) {
        pic->setPixmap(QPixmap::fromImage(kvres::LoadBitmap(static_cast<uint32_t>(picture))));
        return;
    }
    // The loader has nothing left to do but end.
    running = false;
    done(result ? 1 : 0);
}

void CDlgInit::OnUi(const std::function<void()>& fn)
{
    QMetaObject::invokeMethod(this, fn, Qt::BlockingQueuedConnection);
}

void CDlgInit::ShowError(const QString& text)
{
    StartHooks().error(text);
}

bool CDlgInit::RunReqAsk(DlgReqAsk& dlg)
{
    return StartHooks().ask_resume(dlg);
}

void CDlgInit::AskResumption()
{
    KV_FileTransMan& man = pool.man_trans();
    if (!DlgReqAsk::AnyListed(man)) {
        return;
    }
    DlgReqAsk dlg(man);
    bool resumed = false;
    if (GetProfileInt(QStringLiteral("UI"), QStringLiteral("ReqResume"), 1) != 0) {
        resumed = RunReqAsk(dlg);
    }
    if (!resumed) {
        DlgReqAsk::CancelUncheckedDefaults(man);
    }
}

void CDlgInit::Loader()
{
    Post(0);
    CKivrelApp::SetBrowserInt();

    Post(1);
    KV_String err;
    if (!pool.ssl_ctx().init(
            KV_File::path(KV_PATH_CERT_FILE, false), KV_File::path(KV_PATH_KEY_PASS, false),
            KV_File::path(KV_PATH_CA_FILE, false), KV_File::path(KV_PATH_CIPHERS, false), &err)) {
        const QString reason = err.empty()
                                   ? QStringLiteral("unknown")
                                   : QString::fromUtf8(err.data(), static_cast<int>(err.length()));
        OnUi([this, reason] {
            ShowError(QStringLiteral("SSL initialization failed (%1).").arg(reason));
        });
    }
    // Whatever TLS did: a store not loaded now would be saved later with
    // only the entries trusted in this run, losing every earlier one.
    KV_SSLSess::man_cert.load();
    KV_SshSess::man_key().load();

    Post(2);
    const bool ok = pool.load_ds();
    if (ok) {
        Post(3);
        if (!pool.load_req()) {
            OnUi([this] { ShowError(QStringLiteral("Loading requests failed.")); });
        }
        // A dialog lives on the user-interface thread; the loader waits.
        OnUi([this] { AskResumption(); });
    }
    Post(4, ok);
    std::this_thread::sleep_for(std::chrono::milliseconds(last_picture_ms));
    Post(5);
}
