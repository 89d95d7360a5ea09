#include "datasources/kv_reqmanopts.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <locale.h>
#include <string>

#include "foundation/kv_filedata.h"
#include "foundation/kv_storage.h"
#include "ftp/kv_ftpman.h"
#include "http/kv_httpman.h"
#include "net/kv_session.h"
#include "requests/kv_filereqinfo.h"
#include "support/kv_dstest.h"

namespace {

using dstest::text_of;
std::string saved(const KV_FileTransManOpts& o)
{
    KV_Stream st;
    EXPECT_TRUE(o.save(st));
    return text_of(st);
}

// The forwarded settings are process-wide: every test starts and ends with
// their defaults.
class KvFileTransManOpts : public ::testing::Test
{
protected:
    static void reset_statics() { dstest::reset_trans_statics(); }
    void SetUp() override { reset_statics(); }
    void TearDown() override { reset_statics(); }
};

TEST(KvFileReqManOpts, WorkersAndNotation)
{
    // The constructor keeps 0; only the setter turns it into one worker.
    KV_FileReqManOpts o;
    EXPECT_EQ(o.ntavos(), 0u);
    EXPECT_EQ(o.rest_wait(), 0u);
    EXPECT_EQ(o.nretries(), 0u);
    o.set_ntavos(0);
    EXPECT_EQ(o.ntavos(), 1u);
    o.set_ntavos(12);
    EXPECT_EQ(o.ntavos(), 12u);

    // Local paths: '/' and case-sensitive.
    const KV_FileReqManOpts local(4, 2);
    const KV_PathMan& man = local.man_path();
    EXPECT_EQ(man.dir_sep(), '/');
    EXPECT_TRUE(man.case_sens());
}

TEST_F(KvFileTransManOpts, DefaultsSaveNothing)
{
    const KV_FileTransManOpts o;
    EXPECT_EQ(o.ntavos(), 100u);
    EXPECT_EQ(o.rest_wait(), 0u);
    EXPECT_EQ(o.nretries(), 500u);
    EXPECT_EQ(o.nfretries(), 50u);
    EXPECT_EQ(o.ntmpfiles(), 100u);
    EXPECT_EQ(o.auto_rm_req(), 5);
    EXPECT_EQ(o.auto_rm_req_st(), 2);
    EXPECT_TRUE(o.trexpl_ftps());
    EXPECT_FALSE(o.trexpl_https());
    EXPECT_EQ(o.add_init_cnt(), 7u);
    EXPECT_EQ(o.tm_form_disp(), "%c");
    EXPECT_EQ(saved(o), "");
}

// Each key loaded into default options is taken, reaches its setting, and is
// the one line that saving then writes.
TEST_F(KvFileTransManOpts, EveryKeyRoundTrips)
{
    using O = KV_FileTransManOpts;
    struct Case
    {
        const char* key;
        const char* value;
        std::function<bool(const O&)> check;
    };
    const Case cases[] = {
        {"NTHREADS", "7", [](const O& o) { return o.ntavos() == 7; }},
        {"NRETRIES", "3", [](const O& o) { return o.nretries() == 3; }},
        {"NFRETRIES", "0", [](const O& o) { return o.nfretries() == 0; }},
        {"NTMPFILES", "4294967295", [](const O& o) { return o.ntmpfiles() == 4294967295u; }},
        {"BWT_SPEED_IN", "1.500000", [](const O&) { return KV_Session::bwt_speed_in() == 1536.0; }},
        {"BWT_SPEED_OUT", "0.250000",
         [](const O&) { return KV_Session::bwt_speed_out() == 256.0; }},
        {"TREXPL_FTPS", "NO", [](const O&) { return !KV_FtpMan::trexpl(); }},
        {"TREXPL_HTTPS", "YES", [](const O&) { return KV_HttpMan::trexpl(); }},
        {"TM_DISP_FORM", "%Y-%m-%d %H:%M",
         [](const O&) { return KV_FileData::tm_form_disp() == "%Y-%m-%d %H:%M"; }},
        {"AUTO_RM_REQ", "7", [](const O& o) { return o.auto_rm_req() == 7; }},
        {"AUTO_RM_REQ_START", "0", [](const O& o) { return o.auto_rm_req_st() == 0; }},
        {"AUTO_RM_REQ_BLNK", "3", [](const O&) { return KV_FileReqInfo::add_init_cnt() == 3; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        reset_statics();
        O o;
        bool handled = false;
        EXPECT_TRUE(o.load(c.key, c.value, handled));
        EXPECT_TRUE(handled);
        EXPECT_TRUE(c.check(o));
        EXPECT_EQ(saved(o), std::string("SET ") + c.key + " " + c.value + "\n");
    }
}

TEST_F(KvFileTransManOpts, SavesInFixedOrderAndReadsBack)
{
    KV_FileTransManOpts o;
    o.set_add_init_cnt(2);
    o.set_auto_rm_req_st(1);
    o.set_auto_rm_req(0);
    o.set_tm_form_disp("%x");
    o.set_trexpl_https(true);
    o.set_trexpl_ftps(false);
    o.set_bwt_speed_out(3);
    o.set_bwt_speed_in(1.5);
    o.set_ntmpfiles(10);
    o.set_nfretries(5);
    o.set_nretries(4);
    o.set_ntavos(3);
    const std::string text = saved(o);
    EXPECT_EQ(text, "SET NTHREADS 3\n"
                    "SET NRETRIES 4\n"
                    "SET NFRETRIES 5\n"
                    "SET NTMPFILES 10\n"
                    "SET BWT_SPEED_IN 1.500000\n"
                    "SET BWT_SPEED_OUT 3.000000\n"
                    "SET TREXPL_FTPS NO\n"
                    "SET TREXPL_HTTPS YES\n"
                    "SET TM_DISP_FORM %x\n"
                    "SET AUTO_RM_REQ 0\n"
                    "SET AUTO_RM_REQ_START 1\n"
                    "SET AUTO_RM_REQ_BLNK 2\n");
    EXPECT_EQ(KV_Session::bwt_speed_in(), 1536.0);
    EXPECT_EQ(o.bwt_speed_in(), 1.5);

    // Everything read back into fresh options gives the same text.
    reset_statics();
    KV_FileTransManOpts back;
    dstest::load_opt_lines(back, text);
    EXPECT_EQ(saved(back), text);
}

TEST_F(KvFileTransManOpts, LoadingZeroWorkersGivesOne)
{
    KV_FileTransManOpts o;
    bool handled = false;
    EXPECT_TRUE(o.load("NTHREADS", "0", handled));
    EXPECT_TRUE(handled);
    EXPECT_EQ(o.ntavos(), 1u);
}

TEST_F(KvFileTransManOpts, FlagsAndUnknownKeys)
{
    KV_FileTransManOpts o;
    bool handled = false;
    EXPECT_FALSE(o.load("TREXPL_FTPS", "1", handled));
    EXPECT_TRUE(handled);
    EXPECT_TRUE(KV_FtpMan::trexpl());
    EXPECT_FALSE(o.load("TREXPL_HTTPS", "TRUE", handled));
    EXPECT_TRUE(handled);
    EXPECT_FALSE(KV_HttpMan::trexpl());
    EXPECT_TRUE(o.load("TREXPL_HTTPS", " yes ", handled));
    EXPECT_TRUE(KV_HttpMan::trexpl());

    for (const char* key : {"RECYCLE", "nthreads", "NTHREADS ", ""}) {
        SCOPED_TRACE(key);
        handled = true;
        EXPECT_TRUE(o.load(key, "1", handled));
        EXPECT_FALSE(handled);
    }
    EXPECT_EQ(o.ntavos(), 100u);
}

// Values from the file that do not fit their setting are ignored: no wrap to a
// small number, no NaN or infinite limit, no number read out of a word.
TEST_F(KvFileTransManOpts, UntrustedValuesAreIgnored)
{
    KV_FileTransManOpts changed;
    changed.set_ntavos(3);
    changed.set_nretries(4);
    changed.set_auto_rm_req(1);
    changed.set_auto_rm_req_st(4);
    changed.set_bwt_speed_in(2);
    changed.set_bwt_speed_out(2);
    changed.set_add_init_cnt(5);
    const std::string before = saved(changed);

    const char* bad[][2] = {
        {"NTHREADS", "4294967296"},
        {"NTHREADS", "-1"},
        {"NTHREADS", "abc"},
        {"NTHREADS", ""},
        {"NRETRIES", "18446744073709551616"},
        {"AUTO_RM_REQ_BLNK", "4294967301"},
        {"BWT_SPEED_IN", "nan"},
        {"BWT_SPEED_IN", "-1.000000"},
        {"BWT_SPEED_IN", "inf"},
        {"BWT_SPEED_OUT", "1e400"},
        {"BWT_SPEED_OUT", "x"},
        {"BWT_SPEED_OUT", "1e306"},
    };
    for (const auto& kv : bad) {
        SCOPED_TRACE(std::string(kv[0]) + " " + kv[1]);
        KV_FileTransManOpts o = changed;
        bool handled = false;
        EXPECT_TRUE(o.load(kv[0], kv[1], handled));
        EXPECT_TRUE(handled);
        EXPECT_EQ(saved(o), before);
    }
    EXPECT_EQ(KV_Session::bwt_speed_in(), 2048.0);
}

// The automatic-removal settings are sets of flag bits: a wider number keeps
// its low 8 bits rather than losing the user's flags.
TEST_F(KvFileTransManOpts, AutoRemovalFlagsKeepTheLowEightBits)
{
    const struct
    {
        const char* value;
        uint8_t bits;
    } cases[] = {{"5", 5}, {"259", 3}, {"263", 7}, {"257", 1}, {"256", 0}, {"4294967303", 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        KV_FileTransManOpts o;
        o.set_auto_rm_req(0x40);
        o.set_auto_rm_req_st(0x40);
        bool handled = false;
        EXPECT_TRUE(o.load("AUTO_RM_REQ", c.value, handled));
        EXPECT_TRUE(o.load("AUTO_RM_REQ_START", c.value, handled));
        EXPECT_TRUE(handled);
        EXPECT_EQ(o.auto_rm_req(), c.bits);
        EXPECT_EQ(o.auto_rm_req_st(), c.bits);
    }
}

// "%f" values are written and read with a '.' whatever the user's locale.
TEST_F(KvFileTransManOpts, RealValuesIgnoreCommaLocale)
{
    locale_t comma = static_cast<locale_t>(0);
    for (const char* name :
         {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "ru_RU.UTF-8", "de_DE"}) {
        comma = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
        if (comma)
            break;
    }
    if (!comma)
        GTEST_SKIP() << "no comma-decimal locale installed";
    const locale_t old = uselocale(comma);
    char buf[16];
    snprintf(buf, sizeof buf, "%.1f", 1.5);
    const bool is_comma = std::string(buf) == "1,5";

    KV_FileTransManOpts o;
    o.set_bwt_speed_in(1.5);
    const std::string text = saved(o);
    KV_FileTransManOpts back;
    KV_Session::set_bwt_speed_in(0);
    bool handled = false;
    EXPECT_TRUE(back.load("BWT_SPEED_IN", "2.750000", handled));
    const double loaded = back.bwt_speed_in();

    uselocale(old);
    freelocale(comma);
    ASSERT_TRUE(is_comma) << "the locale does not use a decimal comma";
    EXPECT_EQ(text, "SET BWT_SPEED_IN 1.500000\n");
    EXPECT_EQ(loaded, 2.75);
}

} // namespace
