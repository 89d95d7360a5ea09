// Request logs (copy, delete and rename) are read back from files that an
// earlier run, a crash or anyone with access to the temporary folder left
// behind. Whatever the bytes: peeking at the frame and restoring the log of
// the kind it names must not crash, hang or allocate beyond the size of the
// file; a log that restores reads back the same after one more record is
// appended, plus at most that record (a torn tail never comes back); and
// sub-log names are believed only inside the temporary folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_tmpfile.h"
#include "fuzz_files.h"
#include "requests/kv_filereqinfo.h"
#include "transfers/kv_translog.h"
#include "transfers/kv_translogtranscp.h"
#include "transfers/kv_translogtransren.h"

namespace {

// A folder of this process for the log and, as the temporary transfer
// folder, for any sub-log a log may name; removed at exit. A plain array, so
// that it outlives every object destroyed at exit.
char work_dir_name[128];

const char* work_dir()
{
    static const bool made = [] {
        std::snprintf(work_dir_name, sizeof work_dir_name, "/tmp/fuzz_translogtrans_%d_XXXXXX",
                      static_cast<int>(::getpid()));
        if (::mkdtemp(work_dir_name) == nullptr)
            std::abort();
        KV_File::set_path(KV_PATH_TMP, work_dir_name);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(work_dir_name, ec);
        });
        return true;
    }();
    (void)made;
    return work_dir_name;
}

// An empty log of `type` on `name`, ready for a restore; null for a type
// that names no request log.
std::unique_ptr<KV_TransLogTrans> log_of(uint8_t type, const KV_String& name)
{
    const KVTL::KV_ListVal<KV_String> none;
    switch (type) {
    case 2:
        return std::make_unique<KV_TransLogTransCp>(name, KV_PathDef(), KV_PathDef(), none, none,
                                                    KV_FileReqTransParamsCp());
    case 3:
        return std::make_unique<KV_TransLogTransRm>(name, KV_PathDef(), none,
                                                    KV_FileReqTransParamsRm());
    case 4:
        return std::make_unique<KV_TransLogTransRen>(name, KV_PathDef(), KV_PathDef(), none,
                                                     KV_FileReqTransParamsRen());
    default:
        return nullptr;
    }
}

using LineKey = std::tuple<uint32_t, uint32_t, std::string>;

std::vector<LineKey> lines_of(KV_TransLogTrans& log)
{
    log.set_id(1);
    KV_FileReqLog out;
    log.get_log(1, out);
    KV_TransLogTrans::set_id_log(0);
    std::vector<LineKey> v;
    for (const KV_FileReqLogElem* e : out.list_elems())
        v.emplace_back(e->kind, e->seq, e->text.data());
    return v;
}

// What a restored log is used for while its request runs.
void use(KV_TransLogTrans& log)
{
    log.last_err();
    log.some_skipped();
    log.status(KV_PathDef());
    log.answer(1, KV_PathDef());
    if (auto* cp = dynamic_cast<KV_TransLogTransCp*>(&log)) {
        cp->path_src();
        cp->list_files_dst();
        cp->some_done();
        cp->tmp_used(KV_String("/"));
        int64_t size = 0;
        KV_Time time;
        cp->props(KV_PathDef(), size, time);
        // Names outside the temporary folder were forgotten: this deletes
        // only files of this process's folder (and unregisters the names).
        cp->del_sublogs();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog file;
    if (!fuzz_log(std::string(work_dir()) + "/log", data, size, file))
        return 0;
    if (!file.peeked) {
        fuzz_drop(file);
        return 0;
    }
    const KV_String& name = file.name;
    const uint8_t type = file.type;
    std::unique_ptr<KV_TransLogTrans> log = log_of(type, name);
    if (log != nullptr && log->restore(nullptr)) {
        if (!log->ok() || log->type() != type)
            __builtin_trap();
        const std::vector<LineKey> before = lines_of(*log);
        use(*log);
        if (log->add_msg("fuzz probe", 0)) {
            log.reset();
            std::unique_ptr<KV_TransLogTrans> again = log_of(type, name);
            if (!again->restore(nullptr))
                __builtin_trap(); // an append must never spoil a log
            const std::vector<LineKey> after = lines_of(*again);
            // Everything read before is still there; the append added at
            // most its own record and revived nothing after a cut.
            if (after.size() > before.size() + 1)
                __builtin_trap();
            for (const LineKey& k : before) {
                bool found = false;
                for (const LineKey& a : after)
                    found = found || a == k;
                if (!found)
                    __builtin_trap();
            }
            use(*again);
        }
    }
    fuzz_drop(file);
    return 0;
}
