#ifndef KIVREL_STARTUP_DLGINIT_H
#define KIVREL_STARTUP_DLGINIT_H

// The splash of start-up. Its loader thread sets up TLS and the stores of
// trusted certificates and host keys, loads the data sources and the saved
// requests, and ends the dialog with whether the data sources loaded. Each
// step shows its picture. What needs the user (an error box, the resumption
// question) runs on the user-interface thread while the loader waits for it.
//
// The dialog itself: user-interface thread. The loader touches the engine
// root only, never a widget.

#include <QtWidgets/QLabel>

#include "shell/kvdialog.h"

#include <atomic>
#include <functional>
#include <thread>

class KV_FileManPool;
class DlgReqAsk;

class CDlgInit : public CKVDialog
{
    Q_OBJECT
public:
    explicit CDlgInit(KV_FileManPool& pool, QWidget* parent = nullptr);
    // Waits for the loader (it has ended when the dialog closed by itself).
    ~CDlgInit() override;

    // Whether the data sources loaded (valid once the dialog ended).
    bool GetResult() const { return result; }
    // The bitmap shown now (8 to 12).
    int Picture() const { return picture; }
    // How long the last picture stays; 1.5 s unless a test shortens it.
    void SetLastPictureMs(int ms) { last_picture_ms = ms; }

protected:
    // User-interface thread, the loader waiting. Tests replace them.
    virtual void ShowError(const QString& text);
    // Runs the resumption question; whether it ended with OK.
    virtual bool RunReqAsk(DlgReqAsk& dlg);

    void OnInitDialog() override;
    // The splash cannot be closed while the loader runs.
    void OnCancel() override;

private:
    void Loader();
    void Post(int step, bool value = false);
    void OnStep(int step, bool value);
    // Runs `fn` on the user-interface thread and waits for it.
    void OnUi(const std::function<void()>& fn);
    void AskResumption();

    KV_FileManPool& pool;
    QLabel* pic = nullptr;
    int picture = 8;
    bool result = false;
    int last_picture_ms = 1500;
    std::thread loader;
    std::atomic<bool> running{false};
};

#endif
