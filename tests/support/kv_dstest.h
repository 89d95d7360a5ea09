// Helpers of the settings tests: the text a storage holds, and SET lines fed
// back to a node or an option class the way the data-source file reader does.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "datasources/kv_dstreenode.h"
#include "foundation/kv_errhandler.h"
#include "foundation/kv_filedata.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "ftp/kv_ftpman.h"
#include "http/kv_httpman.h"
#include "net/kv_session.h"
#include "requests/kv_filereqinfo.h"

namespace dstest {

inline std::string text_of(const KV_Stream& st)
{
    const unsigned char* b = st;
    return b ? std::string(reinterpret_cast<const char*>(b), st.length()) : std::string();
}

inline std::string str(const KV_String& s)
{
    return std::string(s.data(), s.length());
}

// Feeds SET lines to load() as the file reader does: key, then the rest of
// the line trimmed, with '|' standing for a line break.
inline bool load_lines(KV_DsTreeNode& node, const std::string& text)
{
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(from, end - from);
        from = end + 1;
        if (line.rfind("SET ", 0) != 0)
            return false;
        const size_t blank = line.find(' ', 4);
        const std::string key = line.substr(4, blank == std::string::npos ? blank : blank - 4);
        const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
        const KV_String v = KV_String(value.c_str()).trim().replace("|", "\r\n");
        if (!node.load(KV_String(key.c_str()), v))
            return false;
    }
    return true;
}

// Feeds SET lines to an option class's load(key, value, handled); every key
// must be one of its own.
template <class Opts> void load_opt_lines(Opts& opts, const std::string& text)
{
    KV_Stream st;
    ASSERT_TRUE(st.append(reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<uint32_t>(text.size())));
    KV_String line;
    while (line.read_txt(st)) {
        uint32_t sp1 = 0, sp2 = 0;
        ASSERT_TRUE(line.contains(' ', 0, &sp1));
        ASSERT_TRUE(line.contains(' ', sp1 + 1, &sp2));
        bool handled = false;
        EXPECT_TRUE(opts.load(line.part(sp1 + 1, sp2), line.part(sp2 + 1, line.length()), handled));
        EXPECT_TRUE(handled) << line.data();
    }
}

// The transfer manager's options forward some settings to process-wide
// values of other classes; tests that set them put back these defaults.
inline void reset_trans_statics()
{
    KV_FileReqInfo::set_add_init_cnt(7);
    KV_Session::set_bwt_speed_in(0);
    KV_Session::set_bwt_speed_out(0);
    KV_FtpMan::set_trexpl(true);
    KV_HttpMan::set_trexpl(false);
    KV_FileData::set_tm_form_disp("%c");
}

} // namespace dstest
