#include "core/wndregistry.h"

#include <QCoreApplication>
#include <QObject>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace {

std::mutex reg_lock;
// Guarded by reg_lock.
std::map<uintptr_t, QObject*>& Windows()
{
    static std::map<uintptr_t, QObject*> windows;
    return windows;
}
uintptr_t next_id = 1;

} // namespace

CPostedMsgEvent::CPostedMsgEvent(uint32_t msg, uintptr_t wparam, intptr_t lparam)
    : QEvent(EventType()), msg(msg), wparam(wparam), lparam(lparam)
{
}

QEvent::Type CPostedMsgEvent::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

KV_HWND CWndRegistry::Register(QObject* obj)
{
    std::lock_guard<std::mutex> guard(reg_lock);
    const uintptr_t id = next_id++;
    Windows()[id] = obj;
    return reinterpret_cast<KV_HWND>(id);
}

void CWndRegistry::Unregister(KV_HWND wnd)
{
    std::lock_guard<std::mutex> guard(reg_lock);
    Windows().erase(reinterpret_cast<uintptr_t>(wnd));
}

QObject* CWndRegistry::Find(KV_HWND wnd)
{
    std::lock_guard<std::mutex> guard(reg_lock);
    const auto it = Windows().find(reinterpret_cast<uintptr_t>(wnd));
    return it == Windows().end() ? nullptr : it->second;
}

bool CWndRegistry::Post(KV_HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam)
{
    // Posting under the lock: the object cannot unregister, and so cannot be
    // destroyed, between the look-up and the post. Qt drops the events of an
    // object that is destroyed before they are delivered.
    std::lock_guard<std::mutex> guard(reg_lock);
    const auto it = Windows().find(reinterpret_cast<uintptr_t>(wnd));
    if (it == Windows().end()) {
        return false;
    }
    auto* event = new (std::nothrow) CPostedMsgEvent(msg, wparam, lparam);
    if (!event) {
        return false;
    }
    QCoreApplication::postEvent(it->second, event);
    return true;
}

uint32_t RegisterWindowMessage(const char* name)
{
    if (!name || !*name) {
        return 0;
    }
    static std::mutex lock;
    static std::map<std::string, uint32_t> names;
    std::lock_guard<std::mutex> guard(lock);
    const auto it = names.find(name);
    if (it != names.end()) {
        return it->second;
    }
    const uint32_t msg = 0xC000 + static_cast<uint32_t>(names.size());
    names.emplace(name, msg);
    return msg;
}
