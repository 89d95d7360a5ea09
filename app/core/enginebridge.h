#ifndef KIVREL_CORE_ENGINEBRIDGE_H
#define KIVREL_CORE_ENGINEBRIDGE_H

// The program's side of the engine's hooks: the thread starter, the question,
// error and blocking hooks of the informers, the folder-not-empty question
// and the doorbell post, and the stack of informers whose question waits for
// the user-interface thread.
//
// An engine thread's question is pushed on the stack and the host is woken;
// the user-interface thread pops the newest first and shows it. A question
// put on the user-interface thread itself is shown at once, there. Widgets
// cannot be shown on any other thread, so every other thread's question is
// queued (the start-up loader's too).

#include "foundation/kv_informer.h"
#include "foundation/kv_string.h"
#include "foundation/kv_thread.h"

#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

// What the bridge needs of the application object.
class CInformerHost
{
public:
    virtual ~CInformerHost() = default;
    // Shows the informer's pending dialog and answers it (set_ans). Called on
    // the thread that must show it: the user-interface thread.
    virtual void ShowInformer(KV_Informer* informer) = 0;
    // Any thread: queues a call on the user-interface thread that shows the
    // waiting informers. Must not block.
    virtual void WakeUiThread() = 0;
};

class CEngineBridge
{
public:
    // The calling thread becomes the user-interface thread. One bridge at a
    // time; the hooks reach it while it lives.
    explicit CEngineBridge(CInformerHost& host);
    // Removes the hooks it installed and forgets the informers still on the
    // stack (without touching them: they may be gone). Destroy the engine
    // root, and with it every informer, first.
    ~CEngineBridge();
    CEngineBridge(const CEngineBridge&) = delete;
    CEngineBridge& operator=(const CEngineBridge&) = delete;

    // The living bridge, or null.
    static CEngineBridge* Instance();

    // Installs the thread starter, the question, blocking and
    // folder-not-empty hooks, the post hook and the doorbell's message
    // "__KV_KIVREL_INFORMER__". User-interface thread.
    void InstallHooks();
    // Makes `informer` (the engine root's) report errors as dialogs.
    void SetErrHook(KV_Informer& informer);

    bool IsUiThread() const { return std::this_thread::get_id() == ui_thread; }

    // Any thread: pushes `informer` and wakes the user-interface thread.
    void PushInformer(KV_Informer* informer);
    // The informer pushed last, taken off the stack; null when it is empty.
    KV_Informer* PopInformer();
    // How many informers wait.
    size_t PendingInformers() const;
    // Takes every entry of `informer` off the stack; its owner calls it
    // before the informer is destroyed.
    void DropInformer(KV_Informer* informer);

    // ---- the hooks, as the engine calls them

    // A detached thread, one nice step below the caller. False when the
    // system gives no thread.
    static bool StartThread(KV_ThreadProc proc, void* arg);
    // True on every thread but the user-interface thread (see above).
    static bool Block();
    // Question and error hook: queues when `blocking`, else shows at once.
    // Without a bridge the question is answered 0.
    static void Ask(KV_Informer* informer, bool blocking);
    // Whether the local folder `path` holds a subfolder; a folder that cannot
    // be read counts as holding one (the tree then offers to expand it).
    static bool DirNotEmpty(const KV_String& path);
    // The doorbell: queues the message for the registered window.
    static bool Post(KV_HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam);

private:
    CInformerHost& host;
    const std::thread::id ui_thread;
    bool hooks = false;
    // Guards stack.
    mutable std::mutex stack_lock;
    // Newest last; the informers belong to their request managers.
    std::vector<KV_Informer*> stack;
};

#endif
