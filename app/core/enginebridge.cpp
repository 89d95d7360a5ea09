#include "core/enginebridge.h"

#include "core/wndregistry.h"
#include "foundation/kv_filedata.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<CEngineBridge*> bridge{nullptr};

} // namespace

CEngineBridge::CEngineBridge(CInformerHost& host)
    : host(host), ui_thread(std::this_thread::get_id())
{
    bridge.store(this);
}

CEngineBridge::~CEngineBridge()
{
    if (hooks) {
        KV_Informer::set_impl_ask(nullptr);
        KV_Informer::set_impl_block(nullptr);
        KV_Informer::set_impl_post(nullptr);
        KV_FileData::set_impl_dir_nempty(nullptr);
        KV_ThreadMan::set_impl(&KV_ThreadMan::start_std);
    }
    bridge.store(nullptr);
    // Informers still listed may be gone with their managers; their askers
    // were released when the informers shut down.
    std::lock_guard<std::mutex> guard(stack_lock);
    stack.clear();
}

CEngineBridge* CEngineBridge::Instance()
{
    return bridge.load();
}

void CEngineBridge::InstallHooks()
{
    KV_Informer::set_ntf_msg(RegisterWindowMessage("__KV_KIVREL_INFORMER__"));
    KV_Informer::set_impl_post(&CEngineBridge::Post);
    KV_ThreadMan::set_impl(&CEngineBridge::StartThread);
    KV_Informer::set_impl_ask(&CEngineBridge::Ask);
    KV_Informer::set_impl_block(&CEngineBridge::Block);
    KV_FileData::set_impl_dir_nempty(&CEngineBridge::DirNotEmpty);
    hooks = true;
}

void CEngineBridge::SetErrHook(KV_Informer& informer)
{
    informer.set_impl_err(&CEngineBridge::Ask);
}

void CEngineBridge::PushInformer(KV_Informer* informer)
{
    {
        std::lock_guard<std::mutex> guard(stack_lock);
        stack.push_back(informer);
    }
    host.WakeUiThread();
}

KV_Informer* CEngineBridge::PopInformer()
{
    std::lock_guard<std::mutex> guard(stack_lock);
    if (stack.empty()) {
        return nullptr;
    }
    KV_Informer* informer = stack.back();
    stack.pop_back();
    return informer;
}

size_t CEngineBridge::PendingInformers() const
{
    std::lock_guard<std::mutex> guard(stack_lock);
    return stack.size();
}

void CEngineBridge::DropInformer(KV_Informer* informer)
{
    std::lock_guard<std::mutex> guard(stack_lock);
    stack.erase(std::remove(stack.begin(), stack.end(), informer), stack.end());
}

bool CEngineBridge::StartThread(KV_ThreadProc proc, void* arg)
{
    try {
        std::thread([proc, arg] {
            // Linux keeps a nice value per thread: this one only.
            errno = 0;
            const int prio = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
            if (errno == 0) {
                setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), std::min(prio + 1, 19));
            }
            proc(arg);
        }).detach();
    } catch (...) {
        // No thread (std::system_error) or no memory: the engine is told.
        return false;
    }
    return true;
}

bool CEngineBridge::Block()
{
    CEngineBridge* b = bridge.load();
    return !b || !b->IsUiThread();
}

void CEngineBridge::Ask(KV_Informer* informer, bool blocking)
{
    CEngineBridge* b = bridge.load();
    if (!b) {
        informer->set_ans(KV_ANS_NONE);
    } else if (blocking) {
        b->PushInformer(informer);
    } else {
        b->host.ShowInformer(informer);
    }
}

bool CEngineBridge::DirNotEmpty(const KV_String& path)
{
    DIR* dir = opendir(path.data());
    if (!dir) {
        return true;
    }
    const std::string base = std::string(path.data()) + "/";
    bool found = false;
    while (!found) {
        const dirent* ent = readdir(dir);
        if (!ent) {
            break;
        }
        const std::string name = ent->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st
        {
        };
        found = lstat((base + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    closedir(dir);
    return found;
}

bool CEngineBridge::Post(KV_HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam)
{
    return CWndRegistry::Post(wnd, msg, wparam, lparam);
}
