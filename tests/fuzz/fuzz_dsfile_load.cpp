// The data-source file reader over arbitrary bytes (a damaged or hand-edited
// "kivrel.ds"). Whatever the file holds:
// - a refused file leaves the tree empty, and a save writes nothing over it;
// - an accepted file gives a tree whose text, written and read again, gives
//   the same tree text (the writer's form is stable).
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "datasources/kv_dstree.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"
#include "root/kv_filemanpool.h"

namespace {

class Quiet : public KV_ErrHandler
{
protected:
    void process_err(uint8_t, const KV_String&) override {}
};

class Tree : public KV_DsTree
{
public:
    using KV_DsTree::KV_DsTree;
    using KV_DsTree::save;
    bool load_file() { return KV_DsTree::load(static_cast<KV_FileTransMan*>(nullptr)); }
    bool text(KV_Stream& out) const { return save(out); }
};

// One settings folder for the whole run, removed at its end.
struct Folder
{
    std::string dir;
    Folder()
    {
        char tmpl[] = "/tmp/kv_fuzz_dsfile_XXXXXX";
        if (mkdtemp(tmpl)) {
            dir = tmpl;
            KV_File::set_path(KV_PATH_SETTINGS, dir.c_str());
        }
    }
    ~Folder()
    {
        if (!dir.empty())
            KV_File::rmdir(dir.c_str(), false);
    }
};

const std::string& folder()
{
    static const Folder f;
    return f.dir;
}

bool put(const std::string& name, const void* data, size_t size)
{
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

std::string get(const std::string& name)
{
    std::string bytes;
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        std::fclose(f);
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Larger inputs only repeat what small ones reach, more slowly.
    if (size > 0x10000 || folder().empty())
        return 0;
    static KV_FileManPool pool;
    Quiet quiet;
    const std::string name = folder() + "/kivrel.ds";
    if (!put(name, size ? data : reinterpret_cast<const uint8_t*>(""), size))
        return 0;

    Tree tree(quiet);
    tree.set_pool(&pool);
    if (!tree.load_file()) {
        if (tree.find(KV_DS_NODE_GRP, false) || tree.find(KV_DS_NODE_STD, false))
            __builtin_trap(); // something of a refused file stayed
        if (!tree.save())
            __builtin_trap();
        const std::string after = get(name);
        if (after.size() != size ||
            (size && after.compare(0, size, reinterpret_cast<const char*>(data), size) != 0))
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
