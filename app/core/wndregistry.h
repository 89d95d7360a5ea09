#ifndef KIVREL_CORE_WNDREGISTRY_H
#define KIVREL_CORE_WNDREGISTRY_H

// The windows that engine threads may ring: each registered object gets a
// handle (KV_HWND), an id that is never reused, and messages posted to the
// handle arrive as CPostedMsgEvent on the object's thread. A message posted
// to a handle that is gone, or whose object is destroyed before the message
// arrives, is dropped: an engine thread never reaches a destroyed window.
//
// Thread-safe: Post runs on engine threads, the rest on the object's thread.

#include "foundation/kv_informer.h"

#include <QEvent>
#include <cstdint>

class QObject;

// A posted message, the stand-in for a window message.
class CPostedMsgEvent : public QEvent
{
public:
    CPostedMsgEvent(uint32_t msg, uintptr_t wparam, intptr_t lparam);
    // The event type of every posted message.
    static QEvent::Type EventType();

    const uint32_t msg;
    const uintptr_t wparam;
    const intptr_t lparam;
};

namespace CWndRegistry {

// Registers `obj` and returns its handle. The object must call Unregister
// before it is destroyed (CWndHandle does).
KV_HWND Register(QObject* obj);
// Forgets the handle; later posts to it are dropped. Null is ignored.
void Unregister(KV_HWND wnd);
// The object of a handle, or null. Only on the object's thread, where it
// cannot be destroyed meanwhile.
QObject* Find(KV_HWND wnd);
// Queues the message for the handle's object; false when the handle is not
// registered.
bool Post(KV_HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam);

} // namespace CWndRegistry

// A window's registration, as a member of the window: registers on
// construction, unregisters when the window is destroyed.
class CWndHandle
{
public:
    explicit CWndHandle(QObject* obj) : wnd(CWndRegistry::Register(obj)) {}
    ~CWndHandle() { CWndRegistry::Unregister(wnd); }
    CWndHandle(const CWndHandle&) = delete;
    CWndHandle& operator=(const CWndHandle&) = delete;

    KV_HWND hwnd() const { return wnd; }

private:
    const KV_HWND wnd;
};

// The number of a named message, the same for the same name during the run
// (from 0xC000, as registered window messages are). 0 for an empty name.
uint32_t RegisterWindowMessage(const char* name);

#endif
