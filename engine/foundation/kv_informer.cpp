#include "foundation/kv_informer.h"

std::atomic<uint32_t> KV_Informer::ntf_msg_{0};
std::atomic<KV_Informer::ImplBlock> KV_Informer::impl_block{nullptr};
std::atomic<KV_Informer::ImplAsk> KV_Informer::impl_ask{nullptr};
std::atomic<KV_Informer::ImplPost> KV_Informer::impl_post{nullptr};

KV_Informer::KV_Informer() = default;

KV_Informer::~KV_Informer()
{
    shutdown();
}

// ---- notification half

void KV_Informer::send(KV_Msg* msg)
{
    if (!msg) {
        return;
    }
    if (!enter()) {
        delete msg;
        return;
    }
    // Outside the lock: other senders need not wait for it.
    msg->prepare();
    queue_lock.lock();
    bool queued = true;
    try {
        queue.push_back(msg);
    } catch (const std::bad_alloc&) {
        queued = false;
    }
    if (queued) {
        check_inform();
    }
    queue_lock.unlock();
    leave();
    if (!queued) {
        delete msg;
    }
}

KV_Msg* KV_Informer::pop()
{
    queue_lock.lock();
    KV_Msg* msg = nullptr;
    if (!queue.empty()) {
        msg = queue.front();
        queue.pop_front();
    }
    queue_lock.unlock();
    return msg;
}

void KV_Informer::destroy(const KV_Msg* msg)
{
    delete msg;
}

void KV_Informer::inform()
{
    queue_lock.lock();
    posted = false;
    check_inform();
    queue_lock.unlock();
}

void KV_Informer::set_wnd(KV_HWND hwnd)
{
    queue_lock.lock();
    wnd = hwnd;
    queue_lock.unlock();
}

KV_HWND KV_Informer::hwnd() const
{
    queue_lock.lock();
    KV_HWND hwnd = wnd;
    queue_lock.unlock();
    return hwnd;
}

void KV_Informer::set_ntf_msg(uint32_t msg)
{
    ntf_msg_.store(msg);
}

uint32_t KV_Informer::ntf_msg()
{
    return ntf_msg_.load();
}

void KV_Informer::set_impl_post(bool (*post)(KV_HWND wnd, uint32_t msg, uintptr_t wparam,
                                             intptr_t lparam))
{
    impl_post.store(post);
}

void KV_Informer::check_inform()
{
    if (posted || queue.empty()) {
        return;
    }
    // Marked as rung even when nothing could be posted: messages sent before
    // the window is attached wait for the host's inform().
    ImplPost post = impl_post.load();
    uint32_t msg = ntf_msg_.load();
    if (wnd && msg != 0 && post) {
        post(wnd, msg, 0, 0);
    }
    posted = true;
}

// ---- lifetime

bool KV_Informer::enter()
{
    std::lock_guard<std::mutex> guard(state);
    if (closed) {
        return false;
    }
    ++users;
    return true;
}

void KV_Informer::leave()
{
    // Notified under the mutex: once shutdown() sees the count at zero, no
    // leaving thread touches the informer again.
    std::lock_guard<std::mutex> guard(state);
    if (--users == 0 && closed) {
        state_cond.notify_all();
    }
}

void KV_Informer::shutdown()
{
    {
        std::unique_lock<std::mutex> guard(state);
        closed = true;
        // Releases the threads that wait for answers that may never come.
        ans_cond.notify_all();
        state_cond.wait(guard, [this] { return users == 0; });
    }
    // Nobody can queue any more: take the messages out and delete them
    // outside the lock.
    std::deque<KV_Msg*> left;
    queue_lock.lock();
    left.swap(queue);
    posted = false;
    queue_lock.unlock();
    for (KV_Msg* msg : left) {
        delete msg;
    }
}

// ---- question half

KV_ANS KV_Informer::ask(const KV_String& text, KV_ANS def_ans, KV_ASK kind, void* params)
{
    ImplBlock block = impl_block.load();
    ImplAsk hook = impl_ask.load();
    if (!block || !hook) {
        return KV_ANS_NONE;
    }
    if (!enter()) {
        return KV_ANS_NONE;
    }
    KV_ANS ans = run_dialog(KV_DLG_ASK, text, def_ans, kind, params, 0, hook, block);
    leave();
    return ans;
}

void KV_Informer::process_err(uint8_t prio, const KV_String& text)
{
    ImplBlock block = impl_block.load();
    ImplAsk hook = impl_err.load();
    if (!block || !hook) {
        send(new (std::nothrow) KV_MsgErrNtf(prio, text));
        return;
    }
    if (!enter()) {
        return;
    }
    run_dialog(KV_DLG_ERR, text, KV_ANS_NONE, KV_ASK_YES_NO, nullptr, prio, hook, block);
    leave();
}

void KV_Informer::deliver_err(uint8_t prio, const KV_String& text)
{
    process_err(prio, text);
}

KV_ANS KV_Informer::run_dialog(KV_DLG kind, const KV_String& text, KV_ANS def_ans, KV_ASK ask_kind,
                               void* params, uint8_t prio, ImplAsk hook, ImplBlock block)
{
    bool blocking = block();
    if (blocking) {
        ask_lock.lock();
    }
    Dialog d;
    d.dlg = kind;
    d.msg = text;
    if (kind == KV_DLG_ASK) {
        d.def_ans = def_ans;
        d.dlg_ask = ask_kind;
        d.params = params;
    } else {
        d.err_prio = prio;
    }
    d.blocking = blocking;
    d.owner = std::this_thread::get_id();
    bool started = false;
    {
        std::lock_guard<std::mutex> guard(state);
        // A question that arrives after shutdown, or that waited for an
        // earlier one across it, is not put any more.
        if (!closed) {
            // The accessors show the last dialog put once none is pending;
            // what an error leaves out stays from the dialog before.
            last.dlg = d.dlg;
            last.msg = d.msg;
            if (kind == KV_DLG_ASK) {
                last.def_ans = d.def_ans;
                last.dlg_ask = d.dlg_ask;
                last.params = d.params;
            } else {
                last.err_prio = d.err_prio;
            }
            d.below = top;
            top = &d;
            started = true;
        }
    }
    KV_ANS ans = KV_ANS_NONE;
    if (started) {
        hook(this, blocking);
        std::unique_lock<std::mutex> guard(state);
        ans_cond.wait(guard, [&] { return d.answered || closed; });
        ans = d.ans;
        for (Dialog** p = &top; *p; p = &(*p)->below) {
            if (*p == &d) {
                *p = d.below;
                break;
            }
        }
    }
    if (blocking) {
        ask_lock.unlock();
    }
    return ans;
}

KV_Informer::Dialog* KV_Informer::current() const
{
    const std::thread::id me = std::this_thread::get_id();
    for (Dialog* d = top; d; d = d->below) {
        if (!d->blocking && d->owner == me) {
            return d;
        }
    }
    for (Dialog* d = top; d; d = d->below) {
        if (d->blocking) {
            return d;
        }
    }
    return nullptr;
}

const KV_Informer::Dialog& KV_Informer::shown() const
{
    const Dialog* d = current();
    return d ? *d : last;
}

void KV_Informer::set_ans(KV_ANS ans)
{
    std::lock_guard<std::mutex> guard(state);
    Dialog* d = current();
    if (!d) {
        return;
    }
    d->ans = ans;
    d->answered = true;
    ans_cond.notify_all();
}

KV_String KV_Informer::msg() const
{
    std::lock_guard<std::mutex> guard(state);
    return shown().msg;
}

KV_DLG KV_Informer::dlg() const
{
    std::lock_guard<std::mutex> guard(state);
    return shown().dlg;
}

KV_ASK KV_Informer::dlg_ask() const
{
    std::lock_guard<std::mutex> guard(state);
    return shown().dlg_ask;
}

KV_ANS KV_Informer::def_ans() const
{
    std::lock_guard<std::mutex> guard(state);
    return shown().def_ans;
}

uint8_t KV_Informer::err_prio() const
{
    std::lock_guard<std::mutex> guard(state);
    return shown().err_prio;
}

void* KV_Informer::params() const
{
    std::lock_guard<std::mutex> guard(state);
    return shown().params;
}

void KV_Informer::set_impl_block(bool (*block)())
{
    impl_block.store(block);
}

void KV_Informer::set_impl_ask(void (*ask)(KV_Informer* informer, bool blocking))
{
    impl_ask.store(ask);
}

void KV_Informer::set_impl_err(void (*err)(KV_Informer* informer, bool blocking))
{
    impl_err.store(err);
}

namespace {
std::atomic<KV_Informer*> root_informer{nullptr};
} // namespace

KV_Informer* kv_root_informer()
{
    return root_informer.load(std::memory_order_acquire);
}

void kv_set_root_informer(KV_Informer* informer)
{
    root_informer.store(informer, std::memory_order_release);
}
