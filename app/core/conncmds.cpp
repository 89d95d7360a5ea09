#include "core/conncmds.h"

int ListStyleOfCommand(uint32_t id)
{
    switch (id) {
    case 59409:
        return 0;
    case 59411:
        return 1;
    case 59408:
        return 2;
    case 59410:
        return 3;
    default:
        return -1;
    }
}

uint32_t TransferModeOfCommand(uint32_t id)
{
    switch (id) {
    case 32846:
        return 1;
    case 32845:
        return 2;
    case 32847:
        return 3;
    default:
        return 0;
    }
}

bool ViewToggleEnabled(bool shown, int views_shown_in_window)
{
    return !shown || views_shown_in_window > 1;
}

bool CustomCommandText(const KV_String& typed, KV_String& out)
{
    out = typed.trim(3, nullptr);
    return !out.empty();
}

uint32_t CustomCommandWorker(bool details_focused, uint32_t selected)
{
    return details_focused ? selected : 0;
}

bool WorkerCommandEnabled(const KV_TavoInfoMan* table, uint32_t worker, bool connect)
{
    const KV_TavoInfo* info = table != nullptr ? table->at(worker) : nullptr;
    if (info == nullptr) {
        return false;
    }
    return connect ? info->conn == 0 : info->conn != 0;
}

bool AnyWorkerRunning(const KV_TavoInfoMan* table)
{
    if (table == nullptr) {
        return false;
    }
    // Disconnect all closes the workers whose control session runs; the
    // item is offered exactly when it would close one.
    KVTL::KV_HMapPtrIterator<unsigned int, KV_TavoInfo> it(table->map_info());
    for (it.first(); !it.end(); it.next()) {
        const KV_TavoInfo* info = it.value();
        if (info != nullptr && info->sess_ctrl.running()) {
            return true;
        }
    }
    return false;
}
