#include "core/ntfbatch.h"

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"

#include <QElapsedTimer>

bool CInformerBatch::Drain(KV_Informer& informer, const std::function<bool(KV_Msg*)>& handle)
{
    QElapsedTimer spent;
    spent.start();
    for (int n = 0; n < kMaxNotices && spent.elapsed() < kMaxMs; ++n) {
        KV_Msg* msg = informer.pop();
        if (msg == nullptr) {
            break;
        }
        const bool alive = handle(msg);
        KV_Informer::destroy(msg);
        if (!alive) {
            return false;
        }
    }
    informer.inform();
    return true;
}
