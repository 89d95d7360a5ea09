// The PROPFIND multistatus reader over arbitrary bodies, listing /dav/ of a
// data source named "web". Every entry it yields has a name that is neither
// empty, "." nor "..", and holds no "/" and no NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "datasources/kv_filemanopts.h"
#include "foundation/kv_filetreenode.h"
#include "foundation/kv_msg.h"
#include "http/kv_httpactdavlist.h"
#include "http/kv_xml.h"

namespace {

// Started once for the whole run; the library's end at exit is not needed.
const bool xml_started = KV_XmlHelperImpl::init();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!xml_started || size > 200000)
        return 0;
    KV_PathMan pm = KV_FileManHttpOpts().man_path();
    pm.set_dir_pre("web");
    KV_HttpActPropfindParams params;
    params.pm = &pm;
    if (!pm.split_path("/dav/", params.path, true) || !params.path.prepend("web"))
        std::abort();
    KV_MsgTreeScan msg(params.path);
    kv_dav_parse_list(data, static_cast<uint32_t>(size), params, true, &msg);
    for (uint32_t i = 0; i < msg.nodes.size(); ++i) {
        const KV_String& name = msg.nodes.at(i)->name();
        if (name.empty() || name == "." || name == ".." || name.contains('/') ||
            std::strlen(name.data()) != name.length())
            std::abort();
    }
    return 0;
}
