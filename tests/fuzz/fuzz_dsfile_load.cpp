// The data-source file reader over arbitrary bytes (a damaged or hand-edited
// "kivrel.ds"). Whatever the file holds:
// - a refused file leaves the tree empty, and a save writes nothing over it;
// - an accepted file gives a tree whose text, written and read again, gives
//   the same tree text (the writer's form is stable).
#include <cstddef>
#include <cstdint>
#include <string>

#include "datasources/kv_dstree.h"
#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"
#include "root/kv_filemanpool.h"
// The fuzz targets are built without the tests' include folder.
#include "../support/kv_testtools.h"

namespace {

class Tree : public KV_DsTree
{
public:
    using KV_DsTree::KV_DsTree;
    using KV_DsTree::save;
    bool load_file() { return KV_DsTree::load(static_cast<KV_FileTransMan*>(nullptr)); }
    bool text(KV_Stream& out) const { return save(out); }
};

// One settings folder for the whole run, removed at its end.
const std::string& folder()
{
    static const kvtest::TempDir dir("kv_fuzz_dsfile");
    static const bool set = dir.ok() && KV_File::set_path(KV_PATH_SETTINGS, dir.c_str());
    static const std::string none;
    return set ? dir.path() : none;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Larger inputs only repeat what small ones reach, more slowly.
    if (size > 0x10000 || folder().empty())
        return 0;
    static KV_FileManPool pool;
    kvtest::NullErr quiet;
    const std::string name = folder() + "/kivrel.ds";
    const std::string input =
        size ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    if (!kvtest::write_file(name, input))
        return 0;

    Tree tree(quiet);
    tree.set_pool(&pool);
    if (!tree.load_file()) {
        if (tree.find(KV_DS_NODE_GRP, false) || tree.find(KV_DS_NODE_STD, false))
            __builtin_trap(); // something of a refused file stayed
        if (!tree.save())
            __builtin_trap();
        if (kvtest::read_file(name) != input)
            __builtin_trap(); // a refused file was written over
        return 0;
    }

    KV_Stream first(4096);
    if (!tree.text(first))
        __builtin_trap();
    if (!tree.save())
        return 0; // the folder may be full; not the reader's business
    Tree again(quiet);
    again.set_pool(&pool);
    if (!again.load_file())
        __builtin_trap(); // the writer's own text is refused
    KV_Stream second(4096);
    if (!again.text(second) || !(second == first))
        __builtin_trap();
    return 0;
}
