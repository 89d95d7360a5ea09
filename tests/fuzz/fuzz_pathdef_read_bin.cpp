// Paths are read from transfer logs and saved requests: arbitrary bytes must
// never make KV_PathDef::read_bin, or the text operations on what it read,
// misbehave.
#include <cstdint>
#include <cstring>

#include "foundation/kv_path.h"
#include "foundation/kv_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 14)
        return 0;
    KV_Stream st;
    if (size > 0 && !st.append(data, static_cast<uint32_t>(size)))
        return 0;

    KV_PathDef path;
    path.read_bin(st);

    // Whatever was read must survive a round trip through its stored form.
    KV_Stream out;
    if (path.write_bin(out)) {
        KV_PathDef back;
        if (!back.read_bin(out) || !(back == path) || back.root_entry() != path.root_entry())
            __builtin_trap();
    }

    // The rest of the bytes pick a path syntax and give a text to split.
    const char dir_sep = st.empty() ? '/' : static_cast<char>(st.get());
    const char par_sep = st.empty() ? 0 : static_cast<char>(st.get());
    KV_PathMan man(dir_sep);
    man.set_par_sep(par_sep);
    man.set_dir_pre(path.first());

    KV_String text;
    for (uint32_t i = 0; i < path.entries(); ++i)
        text += path.at(i);
    while (!st.empty()) {
        const char c = static_cast<char>(st.get());
        if (c != 0)
            text += c;
    }

    KV_String built;
    for (bool with_pre : {false, true}) {
        for (uint32_t nabbrev : {0u, 1u, 3u})
            man.build_path(built, path, with_pre, nabbrev);
    }
    man.build_path(built, path, path.last(), true, 0);
    man.compl_dir(text);
    man.is_fname(text);

    KV_PathDef split;
    if (man.split_path(text, split, path.root_entry())) {
        // Every entry of a split is non-empty.
        for (uint32_t i = 0; i < split.entries(); ++i) {
            if (split.at(i).empty())
                __builtin_trap();
        }
        KV_String child;
        split.is_parent(path, man.case_sens(), &child);
        path.is_parent(split, false, &child);
        split.adjust(path, man.dir_pre());
    }
    KV_PathDef resolved(path);
    if (resolved.validate() && resolved.entries() <= resolved.first_ind())
        __builtin_trap();
    return 0;
}
