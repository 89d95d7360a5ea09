#include "datasources/kv_filemanopts.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/kv_file.h"
#include "foundation/kv_storage.h"
#include "support/kv_dstest.h"

namespace {

using dstest::text_of;
template <class O> std::string saved(const O& o, const O& ref)
{
    KV_Stream st;
    EXPECT_TRUE(o.save(st, ref));
    return text_of(st);
}

std::string hex_of(const KV_Stream& st)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint32_t i = 0; i < st.length(); ++i) {
        out += digits[st.at(i) >> 4];
        out += digits[st.at(i) & 0x0F];
    }
    return out;
}

// The DISP_INFO text of an identifier and the pane bytes that follow it.
std::string disp_info_hex(const KV_DsId& id, std::vector<uint8_t> tail)
{
    KV_Stream st;
    EXPECT_TRUE(id.write_bin(st));
    if (!tail.empty()) {
        EXPECT_TRUE(st.append(tail.data(), static_cast<uint32_t>(tail.size())));
    }
    return hex_of(st);
}

const KV_DsId kOther(2, KV_String("MIRROR"), KV_String("ftp.example.org"), KV_String("anna"));

template <class O> struct Case
{
    const char* key;
    std::string value;
    std::function<bool(const O&)> check;
};

// Each key loaded into default options is taken, reaches its field, and is the
// one line that saving against the defaults then writes.
template <class O> void round_trip(const std::vector<Case<O>>& cases)
{
    for (const Case<O>& c : cases) {
        SCOPED_TRACE(c.key);
        O o;
        bool handled = false;
        EXPECT_TRUE(o.load(c.key, c.value.c_str(), handled));
        EXPECT_TRUE(handled);
        EXPECT_TRUE(c.check(o));
        EXPECT_EQ(saved(o, O()), std::string("SET ") + c.key + " " + c.value + "\n");
    }
}

template <class O> std::vector<Case<O>> common_cases()
{
    return {
        {"NTHREADS", "9", [](const O& o) { return o.ntavos() == 9; }},
        {"REST_WAIT", "4294967295", [](const O& o) { return o.rest_wait() == 4294967295u; }},
        {"PATH_DOWN", "/srv/in box", [](const O& o) { return o.path_down() == "/srv/in box"; }},
        {"TEMPORARY", "YES", [](const O& o) { return o.temporary(); }},
        {"RDONLY", "YES", [](const O& o) { return o.rdonly(); }},
        {"SCAN_CACHE", "12", [](const O& o) { return o.scan_cache() == 12; }},
        {"DISP_INFO", disp_info_hex(kOther, {0x06, 0x02}),
         [](const O& o) { return o.open_with() == kOther && o.disp_info() == 0x0206; }},
    };
}

TEST(KvFileManOpts, DefaultsOfTheKinds)
{
    const KV_FileManFtpOpts ftp;
    EXPECT_EQ(ftp.ntavos(), 5u);
    EXPECT_EQ(ftp.rest_wait(), 3u);
    EXPECT_EQ(ftp.disp_info(), 7);
    EXPECT_EQ(ftp.min_frag_size(), 1024 * 1024);
    EXPECT_EQ(ftp.ntavos_conn(), 5u);
    EXPECT_EQ(ftp.dir_sep(), '/');
    EXPECT_TRUE(ftp.case_sens());
    EXPECT_FALSE(ftp.open_with().valid());

    const KV_FileManHttpOpts http;
    EXPECT_EQ(http.disp_info(), 5);
    EXPECT_EQ(http.par_sep(), '?');
    EXPECT_TRUE(http.auto_mkdir());
    EXPECT_EQ(http.http().version(), KV_HttpVer(1, 1));

    const KV_FileManSftpOpts sftp;
    EXPECT_EQ(sftp.ntavos(), 5u);
    EXPECT_EQ(sftp.disp_info(), 7);
    EXPECT_EQ(sftp.sftp().ciphers(), "none");
}

TEST(KvFileManOpts, LocalDiskDefaults)
{
    const KV_String old = KV_File::path(KV_PATH_SYS_TMP, false);
    ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, "/var/tmp/"));
    const KV_FileManStdOpts o;
    EXPECT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, old));
    EXPECT_EQ(o.ntavos(), 3u);
    EXPECT_EQ(o.rest_wait(), 2u);
    EXPECT_EQ(o.disp_info(), 3);
    EXPECT_TRUE(o.recycle());
    EXPECT_EQ(o.path_down(), "/var/tmp");
    EXPECT_EQ(o.dir_sep(), '/');
}

TEST(KvFileManOpts, DefaultsSaveNothing)
{
    EXPECT_EQ(saved(KV_FileManOpts(), KV_FileManOpts()), "");
    EXPECT_EQ(saved(KV_FileManFtpOpts(), KV_FileManFtpOpts()), "");
    EXPECT_EQ(saved(KV_FileManHttpOpts(), KV_FileManHttpOpts()), "");
    EXPECT_EQ(saved(KV_FileManSftpOpts(), KV_FileManSftpOpts()), "");
    EXPECT_EQ(saved(KV_FileManStdOpts(), KV_FileManStdOpts()), "");
}

TEST(KvFileManOpts, FtpKeysRoundTrip)
{
    using O = KV_FileManFtpOpts;
    std::vector<Case<O>> cases = common_cases<O>();
    const std::vector<Case<O>> own = {
        {"NTHREADS_CONN", "2", [](const O& o) { return o.ntavos_conn() == 2; }},
        {"MIN_FRAG_SIZE", "4294967295",
         [](const O& o) { return o.min_frag_size() == int64_t{4294967295} * 1024; }},
        {"CONN_MODE", "1", [](const O& o) { return o.ftp().conn_mode() == KV_FTP_CONN_ACTIVE; }},
        {"LIST_PARAMS", "3", [](const O& o) { return o.ftp().list_flags() == 3; }},
        {"DIRECT_TRANS", "2", [](const O& o) { return o.ftp().dtrans() == KV_FTP_DTRANS_SAME_DS; }},
        {"KEEP_ALIVE_INT", "65535", [](const O& o) { return o.ftp().keep_alive_int() == 65535; }},
        {"KEEP_ALIVE_CMD", "4294967295",
         [](const O& o) { return o.ftp().keep_alive_cmd() == 4294967295u; }},
        {"TMOUT_WELCOME", "20", [](const O& o) { return o.ftp().tmout_welcome() == 20000; }},
        {"TMOUT_CMD_RESP", "4294967",
         [](const O& o) { return o.ftp().tmout_cmd_resp() == 4294967000u; }},
        {"TMOUT_TRANS_BEG", "0", [](const O& o) { return o.ftp().tmout_trans_beg() == 0; }},
        {"TMOUT_TRANS_ACK", "7", [](const O& o) { return o.ftp().tmout_trans_ack() == 7000; }},
        {"BUFF_SEND", "65536", [](const O& o) { return o.ftp().buff_send() == 65536; }},
        {"BUFF_RECV", "0", [](const O& o) { return o.ftp().buff_recv() == 0; }},
        {"USE_APPEND", "YES", [](const O& o) { return o.ftp().use_append(); }},
        {"USE_REST_GET", "NO", [](const O& o) { return !o.ftp().use_rest_get(); }},
        {"USE_REST_PUT", "YES", [](const O& o) { return o.ftp().use_rest_put(); }},
        {"SZ_UNRELIABLE", "YES", [](const O& o) { return o.ftp().sz_unrel(); }},
        {"ASCII_EXTS", "TXT, HTML", [](const O& o) { return o.ftp().amode_exts() == "TXT, HTML"; }},
    };
    cases.insert(cases.end(), own.begin(), own.end());
    round_trip(cases);
}

TEST(KvFileManOpts, HttpKeysRoundTrip)
{
    using O = KV_FileManHttpOpts;
    std::vector<Case<O>> cases = common_cases<O>();
    const std::vector<Case<O>> own = {
        {"MIN_FRAG_SIZE", "0", [](const O& o) { return o.min_frag_size() == 0; }},
        {"AUTO_MKDIR", "NO", [](const O& o) { return !o.auto_mkdir(); }},
        {"RESUME_GET", "NO", [](const O& o) { return !o.http().can_resume_get(); }},
        {"RESUME_PUT", "YES", [](const O& o) { return o.http().can_resume_put(); }},
        {"PERSISTENT", "NO", [](const O& o) { return !o.http().persistent(); }},
        {"TMOUT_HEADER_RESP", "30", [](const O& o) { return o.http().tmout_hdr_resp() == 30000; }},
        {"BUFF_SEND", "1", [](const O& o) { return o.http().buff_send() == 1; }},
        {"BUFF_RECV", "8192", [](const O& o) { return o.http().buff_recv() == 8192; }},
        {"VERSION", "1.0", [](const O& o) { return o.http().version() == KV_HttpVer(1, 0); }},
    };
    cases.insert(cases.end(), own.begin(), own.end());
    round_trip(cases);
}

TEST(KvFileManOpts, SftpKeysRoundTrip)
{
    using O = KV_FileManSftpOpts;
    std::vector<Case<O>> cases = common_cases<O>();
    const std::vector<Case<O>> own = {
        {"MIN_FRAG_SIZE", "1", [](const O& o) { return o.min_frag_size() == 1024; }},
        {"RESUME_GET", "NO", [](const O& o) { return !o.sftp().can_resume_get(); }},
        {"RESUME_PUT", "NO", [](const O& o) { return !o.sftp().can_resume_put(); }},
        {"CIPHERS_DISABLE", "none,des",
         [](const O& o) { return o.sftp().ciphers() == "none,des"; }},
        {"COMPRESS", "NO", [](const O& o) { return !o.sftp().compress(); }},
        {"AGGRESSIVE_READ", "NO", [](const O& o) { return !o.sftp().aggressive_read(); }},
        {"AGGRESSIVE_WRITE", "NO", [](const O& o) { return !o.sftp().aggressive_write(); }},
        {"TMOUT_MESSAGE_RESP", "60", [](const O& o) { return o.sftp().tmout_msg_resp() == 60000; }},
        {"BUFF_SEND", "2", [](const O& o) { return o.sftp().buff_send() == 2; }},
        {"BUFF_RECV", "3", [](const O& o) { return o.sftp().buff_recv() == 3; }},
    };
    cases.insert(cases.end(), own.begin(), own.end());
    round_trip(cases);
}

TEST(KvFileManOpts, LocalDiskKeysRoundTrip)
{
    using O = KV_FileManStdOpts;
    std::vector<Case<O>> cases = common_cases<O>();
    cases.push_back({"RECYCLE", "NO", [](const O& o) { return !o.recycle(); }});
    round_trip(cases);
}

// Keys come out in a fixed order; NTHREADS precedes NTHREADS_CONN so that the
// cap of the second is the restored worker count.
TEST(KvFileManOpts, FtpSaveOrderAndReload)
{
    KV_FileManFtpOpts o;
    o.set_ntavos(8);
    o.set_ntavos_conn(7);
    o.set_rest_wait(1);
    o.set_path_down("/in");
    o.set_temporary(true);
    o.set_rdonly(true);
    o.set_scan_cache(2);
    o.set_disp_info(1);
    o.set_min_frag_size(0);
    KV_FtpManOpts& f = o.ftp();
    f.set_conn_mode(2);
    f.set_list_flags(1);
    f.set_dtrans(1);
    f.set_keep_alive_int(0);
    f.set_keep_alive_cmd(KV_FTP_KA_PWD);
    f.set_tmout_welcome(1);
    f.set_tmout_cmd_resp(2);
    f.set_tmout_trans_beg(3);
    f.set_tmout_trans_ack(4);
    f.set_buff_send(5);
    f.set_buff_recv(6);
    f.set_use_append(true);
    f.set_use_rest_get(false);
    f.set_use_rest_put(true);
    f.set_sz_unrel(true);
    f.set_amode_exts("md");
    const std::string text = saved(o, KV_FileManFtpOpts());
    const std::string expected = "SET NTHREADS 8\n"
                                 "SET REST_WAIT 1\n"
                                 "SET PATH_DOWN /in\n"
                                 "SET TEMPORARY YES\n"
                                 "SET RDONLY YES\n"
                                 "SET SCAN_CACHE 2\n"
                                 "SET DISP_INFO " +
                                 disp_info_hex(KV_DsId(), {0x01, 0x00}) +
                                 "\n"
                                 "SET NTHREADS_CONN 7\n"
                                 "SET MIN_FRAG_SIZE 0\n"
                                 "SET CONN_MODE 2\n"
                                 "SET LIST_PARAMS 1\n"
                                 "SET DIRECT_TRANS 1\n"
                                 "SET KEEP_ALIVE_INT 0\n"
                                 "SET KEEP_ALIVE_CMD 1\n"
                                 "SET TMOUT_WELCOME 1\n"
                                 "SET TMOUT_CMD_RESP 2\n"
                                 "SET TMOUT_TRANS_BEG 3\n"
                                 "SET TMOUT_TRANS_ACK 4\n"
                                 "SET BUFF_SEND 5\n"
                                 "SET BUFF_RECV 6\n"
                                 "SET USE_APPEND YES\n"
                                 "SET USE_REST_GET NO\n"
                                 "SET USE_REST_PUT YES\n"
                                 "SET SZ_UNRELIABLE YES\n"
                                 "SET ASCII_EXTS MD\n";
    EXPECT_EQ(text, expected);

    // Read back line by line, as the data-source file does.
    KV_FileManFtpOpts back;
    dstest::load_opt_lines(back, text);
    EXPECT_EQ(back.ntavos_conn(), 7u);
    EXPECT_EQ(saved(back, KV_FileManFtpOpts()), expected);
}

TEST(KvFileManOpts, HttpAndSftpSaveOrder)
{
    KV_FileManHttpOpts h;
    h.http().set_version(KV_HttpVer(1, 0));
    h.http().set_buff_recv(1);
    h.http().set_buff_send(1);
    h.http().set_tmout_hdr_resp(1);
    h.http().set_persistent(false);
    h.http().set_can_resume_put(true);
    h.http().set_can_resume_get(false);
    h.set_auto_mkdir(false);
    h.set_min_frag_size(1);
    EXPECT_EQ(saved(h, KV_FileManHttpOpts()), "SET MIN_FRAG_SIZE 1\n"
                                              "SET AUTO_MKDIR NO\n"
                                              "SET RESUME_GET NO\n"
                                              "SET RESUME_PUT YES\n"
                                              "SET PERSISTENT NO\n"
                                              "SET TMOUT_HEADER_RESP 1\n"
                                              "SET BUFF_SEND 1\n"
                                              "SET BUFF_RECV 1\n"
                                              "SET VERSION 1.0\n");

    KV_FileManSftpOpts s;
    s.sftp().set_buff_recv(1);
    s.sftp().set_buff_send(1);
    s.sftp().set_tmout_msg_resp(1);
    s.sftp().set_aggressive_write(false);
    s.sftp().set_aggressive_read(false);
    s.sftp().set_compress(false);
    s.sftp().set_ciphers("");
    s.sftp().set_can_resume_put(false);
    s.sftp().set_can_resume_get(false);
    s.set_min_frag_size(1);
    EXPECT_EQ(saved(s, KV_FileManSftpOpts()), "SET MIN_FRAG_SIZE 1\n"
                                              "SET RESUME_GET NO\n"
                                              "SET RESUME_PUT NO\n"
                                              "SET CIPHERS_DISABLE \n"
                                              "SET COMPRESS NO\n"
                                              "SET AGGRESSIVE_READ NO\n"
                                              "SET AGGRESSIVE_WRITE NO\n"
                                              "SET TMOUT_MESSAGE_RESP 1\n"
                                              "SET BUFF_SEND 1\n"
                                              "SET BUFF_RECV 1\n");
}

// A reference other than the defaults (a group's settings) decides what is
// written: only the differences.
TEST(KvFileManOpts, SavesOnlyDifferencesFromReference)
{
    KV_FileManFtpOpts group;
    group.ftp().set_conn_mode(1);
    group.set_ntavos(2);
    KV_FileManFtpOpts node = group;
    EXPECT_EQ(saved(node, group), "");
    node.ftp().set_conn_mode(3);
    EXPECT_EQ(saved(node, group), "SET CONN_MODE 3\n");
}

TEST(KvFileManOpts, WorkerCountsOnLoad)
{
    KV_FileManFtpOpts o;
    bool handled = false;
    EXPECT_TRUE(o.load("NTHREADS", "0", handled));
    EXPECT_EQ(o.ntavos(), 1u);
    EXPECT_TRUE(o.load("NTHREADS", "5", handled));
    EXPECT_TRUE(o.load("NTHREADS_CONN", "9", handled));
    EXPECT_TRUE(handled);
    EXPECT_EQ(o.ntavos_conn(), 5u);
    o.set_ntavos_conn(3);
    EXPECT_EQ(o.ntavos_conn(), 3u);
}

// Values from the file that do not fit their field are ignored, whatever the
// field held: no truncation to the low bits, no wrap through an int, no
// millisecond overflow, no number read out of a word.
TEST(KvFileManOpts, UntrustedFtpValuesAreIgnored)
{
    KV_FileManFtpOpts changed;
    changed.set_ntavos(4);
    changed.set_ntavos_conn(2);
    changed.set_rest_wait(9);
    changed.set_scan_cache(8);
    changed.set_min_frag_size(16);
    KV_FtpManOpts& f = changed.ftp();
    f.set_conn_mode(2);
    f.set_dtrans(1);
    f.set_list_flags(2);
    f.set_keep_alive_int(30);
    f.set_keep_alive_cmd(KV_FTP_KA_PWD);
    f.set_tmout_welcome(11);
    f.set_tmout_cmd_resp(12);
    f.set_tmout_trans_beg(13);
    f.set_tmout_trans_ack(14);
    f.set_buff_send(15);
    f.set_buff_recv(16);

    const char* bad[][2] = {
        {"NTHREADS", "4294967297"},
        {"NTHREADS", "-5"},
        {"NTHREADS", "many"},
        {"REST_WAIT", "4294967296"},
        {"SCAN_CACHE", ""},
        {"NTHREADS_CONN", "4294967297"},
        {"MIN_FRAG_SIZE", "4294967296"},
        {"CONN_MODE", "0"},
        {"CONN_MODE", "4"},
        {"CONN_MODE", "4294967297"},
        {"CONN_MODE", "-4294967295"},
        {"CONN_MODE", "x1"},
        {"DIRECT_TRANS", "3"},
        {"DIRECT_TRANS", "4294967296"},
        {"DIRECT_TRANS", "-1"},
        {"KEEP_ALIVE_INT", "65536"},
        {"KEEP_ALIVE_INT", "65716"},
        {"KEEP_ALIVE_CMD", "-1"},
        {"KEEP_ALIVE_CMD", "4294967296"},
        {"TMOUT_WELCOME", "4294968"},
        {"TMOUT_CMD_RESP", "4294967296"},
        {"TMOUT_TRANS_BEG", "99999999999"},
        {"TMOUT_TRANS_ACK", "-1"},
        {"BUFF_SEND", "4294967296"},
        {"BUFF_RECV", "abc"},
    };
    for (const auto& kv : bad) {
        SCOPED_TRACE(std::string(kv[0]) + " " + kv[1]);
        KV_FileManFtpOpts o = changed;
        bool handled = false;
        EXPECT_TRUE(o.load(kv[0], kv[1], handled));
        EXPECT_TRUE(handled);
        EXPECT_EQ(saved(o, changed), "");
    }
}

// LIST_PARAMS is a set of flag bits: a wider number keeps its low 8 bits, so
// the flags known here survive whatever else a file sets.
TEST(KvFileManOpts, ListParamsKeepsTheLowEightBits)
{
    const struct
    {
        const char* value;
        uint8_t flags;
    } cases[] = {{"3", 3}, {"259", 3}, {"257", 1}, {"256", 0}, {"4294967298", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        KV_FileManFtpOpts o;
        o.ftp().set_list_flags(0x40);
        bool handled = false;
        EXPECT_TRUE(o.load("LIST_PARAMS", c.value, handled));
        EXPECT_TRUE(handled);
        EXPECT_EQ(o.ftp().list_flags(), c.flags);
    }
}

TEST(KvFileManOpts, UntrustedHttpAndSftpValuesAreIgnored)
{
    const char* bad[][2] = {
        {"TMOUT_HEADER_RESP", "4294968"},
        {"TMOUT_MESSAGE_RESP", "4294968"},
        {"MIN_FRAG_SIZE", "-1"},
        {"BUFF_SEND", "18446744073709551616"},
    };
    for (const auto& kv : bad) {
        SCOPED_TRACE(std::string(kv[0]) + " " + kv[1]);
        bool handled = false;
        KV_FileManHttpOpts h;
        EXPECT_TRUE(h.load(kv[0], kv[1], handled));
        EXPECT_EQ(saved(h, KV_FileManHttpOpts()), "");
        KV_FileManSftpOpts s;
        EXPECT_TRUE(s.load(kv[0], kv[1], handled));
        EXPECT_EQ(saved(s, KV_FileManSftpOpts()), "");
    }
}

TEST(KvFileManOpts, RejectedFlagsFailTheLoad)
{
    const char* values[] = {"1", "TRUE", "", "YESNO"};
    for (const char* v : values) {
        SCOPED_TRACE(v);
        bool handled = false;
        KV_FileManFtpOpts ftp;
        EXPECT_FALSE(ftp.load("RDONLY", v, handled));
        EXPECT_TRUE(handled);
        EXPECT_FALSE(ftp.load("USE_APPEND", v, handled));
        EXPECT_TRUE(handled);
        EXPECT_EQ(saved(ftp, KV_FileManFtpOpts()), "");
        KV_FileManHttpOpts http;
        EXPECT_FALSE(http.load("PERSISTENT", v, handled));
        EXPECT_TRUE(handled);
        KV_FileManSftpOpts sftp;
        EXPECT_FALSE(sftp.load("COMPRESS", v, handled));
        EXPECT_TRUE(handled);
        KV_FileManStdOpts std_opts;
        EXPECT_FALSE(std_opts.load("RECYCLE", v, handled));
        EXPECT_TRUE(handled);
        EXPECT_TRUE(std_opts.recycle());
    }
}

// A key of another kind reaches only the kind that knows it.
TEST(KvFileManOpts, KeysOfOtherKindsAreNotHandled)
{
    struct Case
    {
        const char* key;
        bool ftp, http, sftp, local;
    };
    const Case cases[] = {
        {"RECYCLE", false, false, false, true},         {"RESUME_GET", false, true, true, false},
        {"USE_APPEND", true, false, false, false},      {"BUFF_SEND", true, true, true, false},
        {"NTHREADS_CONN", true, false, false, false},   {"AUTO_MKDIR", false, true, false, false},
        {"CIPHERS_DISABLE", false, false, true, false}, {"NTHREADS", true, true, true, true},
        {"recycle", false, false, false, false},        {"NRETRIES", false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        bool handled = !c.ftp;
        KV_FileManFtpOpts ftp;
        ftp.load(c.key, "NO", handled);
        EXPECT_EQ(handled, c.ftp);
        handled = !c.http;
        KV_FileManHttpOpts http;
        http.load(c.key, "NO", handled);
        EXPECT_EQ(handled, c.http);
        handled = !c.sftp;
        KV_FileManSftpOpts sftp;
        sftp.load(c.key, "NO", handled);
        EXPECT_EQ(handled, c.sftp);
        handled = !c.local;
        KV_FileManStdOpts local;
        EXPECT_TRUE(local.load(c.key, "NO", handled) || c.local);
        EXPECT_EQ(handled, c.local);
    }
}

TEST(KvFileManOpts, DisplayInfoDecoding)
{
    struct Case
    {
        const char* name;
        std::string value;
        bool ok;
        bool id_taken;
        bool panes_taken;
    };
    const std::string id_hex = disp_info_hex(kOther, {});
    const Case cases[] = {
        {"whole", id_hex + "0301", true, true, true},
        // Bytes after the panes are not looked at.
        {"trailing bytes", id_hex + "0301ff", true, true, true},
        {"one pane byte", id_hex + "03", false, true, false},
        {"no pane bytes", id_hex, false, true, false},
        {"short id", id_hex.substr(0, id_hex.size() - 4), false, false, false},
        {"odd length", id_hex + "030", false, false, false},
        {"not hex", id_hex + "zz01", false, false, false},
        // A pair that starts with a digit is read as far as it goes.
        {"half-hex pair", id_hex + "3g01", true, true, true},
        {"empty", "", false, false, false},
        // A name length far beyond the data must not be trusted either.
        {"huge name length", "0200ffffffff41004200", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KV_FileManFtpOpts o;
        bool handled = false;
        EXPECT_EQ(o.load("DISP_INFO", c.value.c_str(), handled), c.ok);
        EXPECT_TRUE(handled);
        EXPECT_EQ(o.open_with() == kOther, c.id_taken);
        if (!c.id_taken) {
            EXPECT_FALSE(o.open_with().valid());
        }
        EXPECT_EQ(o.disp_info(), c.panes_taken ? 0x0103 : 7);
    }
}

TEST(KvFileManOpts, MinFragSizeIn64Bits)
{
    KV_FileManHttpOpts o;
    o.set_min_frag_size(UINT32_MAX);
    EXPECT_EQ(o.min_frag_size(), int64_t{4294967295} * 1024);
    o.set_min_frag_size(4 * 1024 * 1024);
    EXPECT_EQ(o.min_frag_size(), int64_t{1} << 32);
}

} // namespace
