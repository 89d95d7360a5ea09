#include "requests/kv_filereqinfoman.h"

#include <mutex>
#include <new>

#include "foundation/kv_event.h"
#include "requests/kv_filereqman.h"
#include "requests/kv_filereqtasks.h"
#include "requests/kv_reqmsg.h"

namespace {

KV_Lock id_log_lock;
uint32_t id_log_value = 0;

} // namespace

uint32_t KV_FileReqInfoMan::id_log()
{
    std::lock_guard<KV_Lock> hold(id_log_lock);
    return id_log_value;
}

void KV_FileReqInfoMan::set_id_log(uint32_t id)
{
    std::lock_guard<KV_Lock> hold(id_log_lock);
    id_log_value = id;
}

void KV_FileReqInfoNtfRecv::notify(unsigned int id, KV_REQ_NTF kind)
{
    (void)id;
    (void)kind;
}

KV_FileReqInfoMan::KV_FileReqInfoMan() = default;

KV_FileReqInfoMan::~KV_FileReqInfoMan()
{
    map_.delete_all();
    map_.clear();
    list_recv.clear();
}

bool KV_FileReqInfoMan::process_ntf(const KV_Msg* msg)
{
    if (!msg || msg->type() != KV_MSG_REQ) {
        return true;
    }
    const auto* ntf = static_cast<const KV_MsgReqNtf*>(msg);
    const unsigned int id = ntf->req_id;
    switch (ntf->ntf) {
    case KV_REQ_NTF_INIT: {
        auto* info = new (std::nothrow) KV_FileReqInfo(ntf->info);
        if (!info) {
            return false;
        }
        // Ids are given again once a manager's queue has emptied. Should the
        // end message of an earlier request of this id have been lost, its
        // snapshot would shadow the new one for good: the newer one wins.
        map_.remove(id);
        if (!map_.add(id, info)) {
            delete info;
            return false;
        }
        inform(id, KV_REQ_NTF_INIT);
        return true;
    }
    case KV_REQ_NTF_STATUS: {
        KV_FileReqInfo* info = map_.find(id);
        if (!info) {
            return false;
        }
        KV_REQ_ADD add = KV_REQ_ADD_NONE;
        bool flashed = false;
        if (info->update(ntf->info, add, flashed)) {
            if (flashed && add != KV_REQ_ADD_NONE) {
                add_ = add;
            }
            inform(id, KV_REQ_NTF_STATUS);
        }
        return true;
    }
    case KV_REQ_NTF_ENDED:
        if (!map_.remove(id)) {
            return false;
        }
        inform(id, KV_REQ_NTF_ENDED);
        return true;
    default:
        return true;
    }
}

void KV_FileReqInfoMan::flash(bool reset, KV_FileReqMan* man)
{
    // The ids are taken first: a receiver may run a nested message loop that
    // feeds process_ntf, and a walk over the map itself would not survive the
    // map changing under it.
    KVTL::KV_ListVal<uint32_t> ids;
    bool all_ids = true;
    KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(map_);
    for (it.first(); !it.end(); it.next()) {
        if (it.value() && it.value()->add_cnt() != 0 && !ids.add(it.key())) {
            // Some flash may go on unseen: add() stays as it is.
            all_ids = false;
            break;
        }
    }

    bool flashing = !all_ids;
    const uint32_t id_log = KV_FileReqInfoMan::id_log();
    for (uint32_t id : ids) {
        KV_FileReqInfo* info = map_.find(id);
        if (!info || info->add_cnt() == 0) {
            continue;
        }
        info->updt_add_cnt(reset);
        if (!reset) {
            flashing = true;
        }
        const bool ended = info->add_cnt() == 0;
        const bool keep = (info->flags() & 4) != 0;
        inform(id, ended ? KV_REQ_NTF_FLASH_END : KV_REQ_NTF_FLASH);
        if (!ended || !man) {
            continue;
        }
        // The request whose log window is open stays until the window lets
        // it go; bit 4 keeps a completed transfer in the list.
        if ((id_log != 0 && id_log == id) || keep) {
            continue;
        }
        man->add_task(KV_FileReqTaskDelete(id, true, false));
    }
    if (!flashing) {
        add_ = KV_REQ_ADD_NONE;
    }
}

void KV_FileReqInfoMan::add_stop(unsigned int id)
{
    KV_FileReqInfo* info = map_.find(id);
    if (!info) {
        return;
    }
    info->updt_add_cnt(true);
    inform(id, KV_REQ_NTF_FLASH_END);
}

bool KV_FileReqInfoMan::reg(KV_FileReqInfoNtfRecv* recv)
{
    if (!recv) {
        return false;
    }
    // A second entry would outlive the receiver's one unreg.
    if (!list_recv.find(recv) && !list_recv.add(recv)) {
        return false;
    }
    KVTL::KV_ListValSrt<uint32_t> ids;
    KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(map_);
    for (it.first(); !it.end(); it.next()) {
        if (!ids.add(it.key())) {
            return false;
        }
    }
    for (uint32_t id : ids) {
        inform(id, KV_REQ_NTF_INIT);
    }
    return true;
}

bool KV_FileReqInfoMan::unreg(KV_FileReqInfoNtfRecv* recv)
{
    return recv && list_recv.remove(recv);
}

const KV_FileReqInfo* KV_FileReqInfoMan::at(unsigned int id) const
{
    return map_.find(id);
}

uint32_t KV_FileReqInfoMan::cnt(KV_REQ_STAT s) const
{
    uint32_t n = 0;
    KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(map_);
    for (it.first(); !it.end(); it.next()) {
        if (it.value() && it.value()->status() == s) {
            ++n;
        }
    }
    return n;
}

void KV_FileReqInfoMan::inform(unsigned int id, KV_REQ_NTF kind)
{
    // Receivers may unregister themselves (a window that closes when its
    // request ends) or others while being told. The walk goes over a copy so
    // that nobody is skipped, and asks the live list before each call so that
    // an unregistered (perhaps deleted) receiver is never called.
    KVTL::KV_ListPtr<KV_FileReqInfoNtfRecv> recvs;
    bool copied = true;
    for (KV_FileReqInfoNtfRecv* r : list_recv) {
        if (!recvs.add(r)) {
            copied = false;
            break;
        }
    }
    if (!copied) {
        // Without memory for the copy, the live list: a receiver that
        // unregisters itself may make the next one miss this notice.
        for (uint32_t i = 0; i < list_recv.size(); ++i) {
            if (KV_FileReqInfoNtfRecv* r = list_recv.at(i)) {
                r->notify(id, kind);
            }
        }
        return;
    }
    for (KV_FileReqInfoNtfRecv* r : recvs) {
        if (r && list_recv.find(r)) {
            r->notify(id, kind);
        }
    }
    recvs.clear();
}
