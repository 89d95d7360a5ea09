// The informer: the one channel from engine threads to the program's
// user-interface thread.
//
// Notification half: an unbounded queue of KV_Msg objects with a doorbell.
// Engine threads send() messages; the informer rings the doorbell of its
// window (a posted message, through the process-wide post hook) at most once
// until the user-interface thread has popped what it wanted and re-armed it
// with inform(). However many messages are queued, one doorbell is
// outstanding at a time.
//
// Question half: an engine thread asks the user something (ask) or reports an
// error that needs a dialog (set_err, which reaches process_err) and waits
// for the answer. The program installs the hooks that present the dialogs;
// without them questions are answered 0 and errors travel as KV_MsgErrNtf
// messages.
//
// Each dialog keeps its own text, kind, parameters and answer until its
// asker has the answer, so dialogs nest: a question that the user-interface
// thread puts (shown at once) while an engine thread waits for the answer to
// another one is answered on its own, and the engine thread still gets the
// answer to its question. A dialog shown at once belongs to the thread that
// put it: on that thread the accessors describe it and set_ans answers it
// (the newest, when a thread's dialogs nest). Any other thread reaches the
// dialog that waits to be shown later (there is at most one: such dialogs
// are put one at a time).
//
// Lifetime: shutdown() (also the first step of the destructor) closes the
// informer: queued messages are deleted, later send() calls delete their
// message at once, later questions are answered 0 without a dialog, and a
// thread waiting for an answer is released with the answer given so far (0
// when none). shutdown() then waits until no thread is inside send(), ask()
// or process_err() any more. Owners stop the engine threads that use an
// informer before destroying it: send() after shutdown() is safe, a call
// after the destructor has returned is not. The host drops the informer from
// its pending questions before the informer is destroyed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

#include "foundation/kv_errhandler.h"
#include "foundation/kv_event.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

// The window that receives an informer's doorbell: an opaque, pointer-sized
// handle that only the program's post hook interprets. Null for none.
using KV_HWND = void*;

// Kind of the pending dialog.
enum KV_DLG : uint32_t {
    KV_DLG_NONE = 0, // no dialog yet
    KV_DLG_ASK = 1,  // a question
    KV_DLG_ERR = 2,  // an error
};

// Kind of a question: the layout of the program's question dialog.
enum KV_ASK : uint32_t {
    KV_ASK_YES_NO = 0,
    KV_ASK_YES_ALL = 1,  // Yes / Yes to all / No / No to all
    KV_ASK_TRUST = 2,    // Yes / No / Always trust this server
    KV_ASK_TRUST2 = 3,   // the same buttons, second layout
    KV_ASK_YES_ALL2 = 4, // Yes / Yes to all / No / No to all, second layout
    KV_ASK_LOGIN = 5,    // user name and pass phrase; params points to the receiver
};

// Answer to a question.
enum KV_ANS : uint32_t {
    KV_ANS_NONE = 0,    // no answer: the dialog was closed, or no host is installed
    KV_ANS_YES = 1,     // Yes or OK
    KV_ANS_YES_ALL = 2, // Yes to all, or Always trust this server
    KV_ANS_NO = 3,
    KV_ANS_NO_ALL = 4,
};

class KV_Informer : public KV_ErrHandler
{
public:
    // Block hook: called once at the start of every question and error
    // dialog, on the asking thread. True: the host's user-interface thread
    // shows the dialog later while the asking thread waits; false: the host
    // shows it at once inside the ask or error hook, on the calling thread.
    using ImplBlock = bool (*)();
    // Ask and error hooks: called on the asking thread with the informer,
    // whose accessors describe the pending dialog, and the block hook's
    // verdict. The host calls set_ans exactly once per dialog: before
    // returning when `blocking` is false, later from its user-interface thread
    // when it is true. An error hook must not report errors through the same
    // informer.
    using ImplAsk = void (*)(KV_Informer* informer, bool blocking);
    // Post hook: called on the thread that sends or re-arms (any engine thread,
    // or the user-interface thread in inform()) with the informer's queue lock
    // held. It only queues the doorbell for the thread of the window `wnd`
    // and must not call back into the informer. Its result is not used.
    using ImplPost = bool (*)(KV_HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam);

    KV_Informer();
    // shutdown(), then the fields go.
    ~KV_Informer();
    KV_Informer(const KV_Informer&) = delete;
    KV_Informer& operator=(const KV_Informer&) = delete;

    // ---- notification half

    // Any thread. Takes ownership of `msg` (null is ignored). Queues it and
    // rings the doorbell when none is outstanding; after shutdown(), or when
    // the queue cannot grow, deletes it at once.
    void send(KV_Msg* msg);
    // User-interface thread. Takes the oldest message out of the queue; null
    // when it is empty. The caller hands the message back to destroy().
    KV_Msg* pop();
    // Deletes a message popped from any informer (null accepted), so that the
    // engine library frees what it allocated.
    static void destroy(const KV_Msg* msg);
    // User-interface thread, after it has taken the messages it wants:
    // re-arms the doorbell and rings it at once when messages are still
    // queued. Also the way to get the doorbell for messages sent before the
    // window was attached.
    void inform();
    // The doorbell window (null: none). Setting it rings nothing by itself;
    // call inform() afterwards.
    void set_wnd(KV_HWND wnd);
    KV_HWND hwnd() const;

    // The doorbell's message number (0 until set: no doorbell is posted).
    // The program registers its message at start-up and installs it here.
    static void set_ntf_msg(uint32_t msg);
    static uint32_t ntf_msg();
    // Installs the process-wide post hook (null removes it: nothing is
    // posted).
    static void set_impl_post(bool (*post)(KV_HWND wnd, uint32_t msg, uintptr_t wparam,
                                           intptr_t lparam));

    // Closes the informer (see the lifetime notes above) and returns once no
    // thread is inside send, ask or process_err. Idempotent. Must not be
    // called from inside a hook or by a thread that waits in ask.
    void shutdown();

    // ---- question half

    // Any engine thread. Asks the user and blocks until the host answers;
    // returns the answer. Returns 0 at once when the block or ask hook is not
    // installed, or after shutdown(). With a blocking host, the questions of
    // one informer are put one at a time.
    KV_ANS ask(const KV_String& text, KV_ANS def_ans, KV_ASK kind, void* params);
    // The host's answer to the calling thread's dialog (see the notes on
    // nesting above); wakes the thread that waits for it. Ignored when no
    // dialog is pending for the caller.
    void set_ans(KV_ANS ans);

    // The calling thread's pending dialog, for the host, or the last dialog
    // put when none is pending. Copies, read under the informer's lock.
    KV_String msg() const;
    KV_DLG dlg() const;
    KV_ASK dlg_ask() const;
    KV_ANS def_ans() const;
    // Priority of the pending error; 2 before the first.
    uint8_t err_prio() const;
    // The asker's pointer, passed through (for KV_ASK_LOGIN the object that
    // receives the credentials, which the host fills before answering).
    void* params() const;

    // Hooks, installed by the program at start-up (null removes one).
    static void set_impl_block(bool (*block)());
    static void set_impl_ask(void (*ask)(KV_Informer* informer, bool blocking));
    // This informer's error hook.
    void set_impl_err(void (*err)(KV_Informer* informer, bool blocking));

protected:
    // The error sink, reached through set_err on the reporting thread. With
    // the block hook and this informer's error hook installed, the error is
    // shown as a dialog and the reporter waits for it to be closed; otherwise
    // it is sent as a KV_MsgErrNtf and the reporter goes on at once.
    void process_err(uint8_t prio, const KV_String& text) override;
    // Calls process_err without the handler's lock: the informer guards its
    // queue and dialogs itself, and an error dialog may wait for the user
    // while the user-interface thread reports an error of its own.
    void deliver_err(uint8_t prio, const KV_String& text) override;

private:
    // Rings the doorbell if none is outstanding and messages are queued.
    // Under queue_lock.
    void check_inform();
    // Lifetime gate of the engine-thread entry points: enter() fails once the
    // informer is closed; shutdown() waits for every leave().
    bool enter();
    void leave();
    // One question or error dialog, from the block hook to the answer.
    KV_ANS run_dialog(KV_DLG kind, const KV_String& text, KV_ANS def_ans, KV_ASK ask_kind,
                      void* params, uint8_t prio, ImplAsk hook, ImplBlock block);

    // A dialog from its start until its asker has the answer; lives on the
    // asker's stack.
    struct Dialog
    {
        KV_String msg;
        KV_DLG dlg = KV_DLG_NONE;
        KV_ASK dlg_ask = KV_ASK_YES_NO;
        KV_ANS ans = KV_ANS_NONE;
        KV_ANS def_ans = KV_ANS_NONE;
        uint8_t err_prio = 2;
        void* params = nullptr;
        // Shown later by the user-interface thread; otherwise shown at once
        // by `owner`, the thread that put it.
        bool blocking = false;
        std::thread::id owner;
        bool answered = false;
        // The dialog put before this one, still pending.
        Dialog* below = nullptr;
    };
    // The calling thread's dialog: its newest own dialog shown at once, else
    // the one blocking dialog; null when neither is pending. Under `state`.
    Dialog* current() const;
    // current(), or the last dialog put when none is pending. Under `state`.
    const Dialog& shown() const;

    std::atomic<ImplAsk> impl_err{nullptr};

    // Held by a blocking asker for its whole question, so that its dialog
    // fields stay until the host has answered.
    KV_Lock ask_lock;

    // Guards queue, posted and wnd.
    mutable KV_Lock queue_lock;
    // Oldest first; the informer owns the messages in it. A deque: a
    // transfer of many files queues a notice or more per file, and both
    // ends must stay cheap however long the queue grows before the
    // user-interface thread takes it.
    std::deque<KV_Msg*> queue;
    // A doorbell is outstanding.
    bool posted = false;
    KV_HWND wnd = nullptr;

    // Guards the lifetime gate and the dialogs. A mutex with condition
    // variables rather than a KV_Lock: shutdown() waits for a count to reach
    // zero, askers for their own dialog's answer.
    mutable std::mutex state;
    std::condition_variable state_cond;
    // Woken by set_ans and by shutdown; each asker checks its own dialog.
    std::condition_variable ans_cond;
    bool closed = false;
    uint32_t users = 0;
    // The pending dialogs, newest first.
    Dialog* top = nullptr;
    // A copy of the last dialog put, for the accessors when none is pending.
    Dialog last;

    static std::atomic<uint32_t> ntf_msg_;
    static std::atomic<ImplBlock> impl_block;
    static std::atomic<ImplAsk> impl_ask;
    static std::atomic<ImplPost> impl_post;
};

// The engine-wide informer: the one that carries the notices not bound to a
// single file manager (transfer requests, sessions together, managers coming
// and going). The engine root owns it and registers it here when it is built
// and clears it before it goes, so that lower layers reach it without knowing
// the root. Null while no root lives. Any thread.
KV_Informer* kv_root_informer();
void kv_set_root_informer(KV_Informer* informer);
