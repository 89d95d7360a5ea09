// The settings file and the table of well-known folders at start-up: first
// and later runs, what a user set, and every way the start-up stops.
#include "core/settings.h"

#include "foundation/kv_file.h"
#include "foundation/kv_string.h"
#include "net/kv_sslctx.h"
#include "support/kv_testdir.h"

#include <QSettings>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string PathOf(KV_PATH_TYPE type)
{
    return KV_File::path(type, false).data();
}

// An installed program (its folder and its data folder with the three
// installed files) and a user without settings, all in the test's folder.
class SettingsTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        ASSERT_EQ(mkdir((dir / "inst").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((dir / "inst/kivrel").c_str(), 0755), 0);
        for (const char* name : {"ca-bundle.pem", "self.pem", "kivrel.ds"}) {
            ASSERT_TRUE(kvtest::write_file(dir / "inst/kivrel/" + name, "installed"));
        }
        // A folder among the installed files is not copied.
        ASSERT_EQ(mkdir((dir / "inst/kivrel/sub").c_str(), 0755), 0);
        WriteMachine("MainExe=\"" + dir / "inst/kivrel-bin" + "\"\nData=\"" + inst + "/\"\n");
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel/kivrel.conf");
        env.machine_confs << QString::fromStdString(dir / "none/kivrel/kivrel.conf")
                          << QString::fromStdString(dir / "etc/kivrel/kivrel.conf");
        env.data_home = QString::fromStdString(dir / "home/.local/share");
        env.tmp = QString::fromStdString(dir / "tmp");
        SetSettingsEnv(env);
    }

    void WriteMachine(const std::string& init)
    {
        mkdir((dir / "etc").c_str(), 0755);
        mkdir((dir / "etc/kivrel").c_str(), 0755);
        ASSERT_TRUE(kvtest::write_file(dir / "etc/kivrel/kivrel.conf", "[Init]\n" + init));
    }

    bool Run()
    {
        messages.clear();
        return InitSettings(
            [this](const QString& text) { messages.push_back(text.toStdString()); });
    }

    static std::string Init(const char* key) { return GetProfileString("Init", key).toStdString(); }

    const std::string inst = dir / "inst/kivrel";
    const std::string user = dir / "home/.local/share/kivrel";
    std::vector<std::string> messages;
};

TEST_F(SettingsTest, FirstRunMakesTheUsersFoldersAndWritesEveryValue)
{
    ASSERT_TRUE(Run()) << (messages.empty() ? "" : messages[0]);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(PathOf(KV_PATH_PROGRAM), dir / "inst");
    EXPECT_EQ(PathOf(KV_PATH_DATA), inst);
    EXPECT_EQ(PathOf(KV_PATH_SETTINGS), user);
    EXPECT_EQ(PathOf(KV_PATH_TMP), user + "/requests");
    EXPECT_EQ(PathOf(KV_PATH_CA_FILE), user + "/ca-bundle.pem");
    EXPECT_EQ(PathOf(KV_PATH_SRV_CERTS), user + "/trusted-certs.bin");
    EXPECT_EQ(PathOf(KV_PATH_HOST_KEYS), user + "/trusted-pks.bin");
    EXPECT_EQ(PathOf(KV_PATH_CERT_FILE), user + "/self.pem");
    EXPECT_EQ(PathOf(KV_PATH_KEY_PASS), "quondrel");
    EXPECT_EQ(PathOf(KV_PATH_CIPHERS), "");
    EXPECT_EQ(PathOf(KV_PATH_SYS_TMP), dir / "tmp");

    EXPECT_EQ(Init("Data"), user);
    EXPECT_EQ(Init("Temp"), user + "/requests");
    EXPECT_EQ(Init("SSLCas"), user + "/ca-bundle.pem");
    EXPECT_EQ(Init("TrustedCerts"), user + "/trusted-certs.bin");
    EXPECT_EQ(Init("TrustedPKs"), user + "/trusted-pks.bin");
    EXPECT_EQ(Init("SSLKey"), user + "/self.pem");
    // Stored scrambled, as the security page reads it.
    const std::string stored = Init("SSLKeypass");
    EXPECT_NE(stored, "quondrel");
    EXPECT_STREQ(KV_String(stored.c_str()).decrypt_bf(KV_SSLCtx::bf_key).data(), "quondrel");

    for (const char* name : {"ca-bundle.pem", "self.pem", "kivrel.ds"}) {
        EXPECT_EQ(kvtest::read_file(user + "/" + name), "installed") << name;
    }
    struct stat st
    {
    };
    EXPECT_NE(stat((user + "/sub").c_str(), &st), 0) << "folders are not copied";
    EXPECT_EQ(stat((user + "/requests").c_str(), &st), 0);
}

TEST_F(SettingsTest, InstalledFilesNeverReplaceTheUsersOwn)
{
    // A user who kept the data-source file of an earlier installation, then
    // starts with fresh settings: the first run must not replace it.
    ASSERT_EQ(system(("mkdir -p " + user).c_str()), 0);
    ASSERT_TRUE(kvtest::write_file(user + "/kivrel.ds", "kept"));
    ASSERT_TRUE(Run());
    EXPECT_EQ(kvtest::read_file(user + "/kivrel.ds"), "kept");
    EXPECT_EQ(kvtest::read_file(user + "/self.pem"), "installed");

    // A later run brings back only what the user deleted.
    ASSERT_EQ(unlink((user + "/ca-bundle.pem").c_str()), 0);
    ASSERT_TRUE(kvtest::write_file(user + "/self.pem", "user's own"));
    ASSERT_TRUE(Run());
    EXPECT_EQ(kvtest::read_file(user + "/ca-bundle.pem"), "installed");
    EXPECT_EQ(kvtest::read_file(user + "/self.pem"), "user's own");
    EXPECT_EQ(kvtest::read_file(user + "/kivrel.ds"), "kept");
}

TEST_F(SettingsTest, LaterRunsKeepWhatTheUserSet)
{
    ASSERT_TRUE(kvtest::write_file(dir / "mykey.pem", "key"));
    const std::string pass = KV_String("s3cret").encrypt_bf(KV_SSLCtx::bf_key).data();
    ASSERT_FALSE(pass.empty());
    WriteProfileString("Init", "SSLKey", QString::fromStdString(dir / "mykey.pem"));
    WriteProfileString("Init", "SSLKeypass", QString::fromStdString(pass));
    WriteProfileString("Init", "SSLCiphers", "HIGH:!aNULL");
    ASSERT_TRUE(Run());
    EXPECT_EQ(Init("SSLKeypass"), pass);
    EXPECT_EQ(PathOf(KV_PATH_KEY_PASS), "s3cret");
    EXPECT_EQ(PathOf(KV_PATH_CERT_FILE), dir / "mykey.pem");
    EXPECT_EQ(PathOf(KV_PATH_CIPHERS), "HIGH:!aNULL");

    // The user's data folder set to the installed one: nothing to copy.
    WriteProfileString("Init", "Data", QString::fromStdString(inst));
    ASSERT_TRUE(Run());
    EXPECT_EQ(PathOf(KV_PATH_SETTINGS), inst);
    struct stat st
    {
    };
    EXPECT_NE(stat((inst + "/requests").c_str(), &st), 0) << "Temp stays where it was set";
}

TEST_F(SettingsTest, FailuresStopTheStartUpWithOneMessage)
{
    const std::string not_installed = "Kivrel is not installed properly.";
    struct Case
    {
        const char* name;
        std::string machine; // the machine-wide "Init" section; "-" for no file
        std::vector<std::pair<const char*, std::string>> user;
        std::string message; // empty: none
    };
    const std::string data = "Data=\"" + inst + "\"\n";
    const Case cases[] = {
        {"no machine-wide settings", "-", {}, not_installed},
        {"program path without folder", "MainExe=kivrel\n" + data, {}, not_installed},
        {"program path binary", "MainExe=@ByteArray(/x/kivrel)\n" + data, {}, not_installed},
        {"no installed data folder", "MainExe=/x/kivrel\n", {}, not_installed},
        {"empty installed data folder", "MainExe=/x/kivrel\nData=\n", {}, not_installed},
        {"user data folder is a file",
         data,
         {{"Data", dir / "inst/kivrel/kivrel.ds"}},
         "Invalid path (" + inst + "/kivrel.ds)."},
        {"copy fails",
         data,
         {{"Data", "/proc/self"}},
         "An error occured while copying initial settings."},
        {"CA bundle missing",
         data,
         {{"SSLCas", dir / "none.pem"}},
         "Invalid path (" + dir / "none.pem" + ")."},
        {"own key missing",
         data,
         {{"SSLKey", dir / "none.pem"}},
         "Invalid path (" + dir / "none.pem" + ")."},
        {"temporary folder cannot be made",
         data,
         {{"Temp", "/proc/self/x"}},
         "Invalid path (/proc/self/x)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unlink((dir / "etc/kivrel/kivrel.conf").c_str());
        unlink((dir / "config/kivrel/kivrel.conf").c_str());
        if (c.machine != "-") {
            WriteMachine(c.machine);
        }
        for (const auto& [key, value] : c.user) {
            WriteProfileString("Init", key, QString::fromStdString(value));
        }
        EXPECT_FALSE(Run());
        if (c.message.empty()) {
            EXPECT_TRUE(messages.empty());
        } else {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0], c.message);
        }
    }
}

TEST_F(SettingsTest, BinaryValuesKeepTheirBytes)
{
    const QByteArray time("\x00\xff\x7f\x0a", 4);
    ASSERT_TRUE(WriteProfileBinary("Init", "AutoUpdtCheck", time));
    ASSERT_TRUE(WriteProfileString("UI", "Note", "a, b; c=d"));
    EXPECT_EQ(GetProfileBinary("Init", "AutoUpdtCheck"), time);
    EXPECT_EQ(GetProfileString("UI", "Note").toStdString(), "a, b; c=d");
    EXPECT_EQ(GetProfileInt("UI", "Sounds", 1), 1);
    ASSERT_TRUE(WriteProfileInt("UI", "Sounds", 0));
    EXPECT_EQ(GetProfileInt("UI", "Sounds", 1), 0);
}

TEST_F(SettingsTest, NoDataFolderWithoutAHome)
{
    CSettingsEnv env = SettingsEnv();
    env.data_home.clear();
    SetSettingsEnv(env);
    EXPECT_FALSE(Run());
    EXPECT_TRUE(messages.empty());
}

TEST(CSettingsEnv, FollowsTheXdgVariables)
{
    struct Var
    {
        const char* name;
        const char* value;
    };
    const Var vars[] = {
        {"HOME", "/home/u"},   {"XDG_CONFIG_HOME", "/cfg"}, {"XDG_CONFIG_DIRS", "/a:rel:/b/"},
        {"XDG_DATA_HOME", ""}, {"TMPDIR", "/scratch"},
    };
    std::vector<std::pair<std::string, std::string>> saved;
    for (const Var& v : vars) {
        const char* old = getenv(v.name);
        saved.emplace_back(v.name, old ? old : "\x01");
        setenv(v.name, v.value, 1);
    }
    const CSettingsEnv env = CSettingsEnv::FromProcess();
    for (const auto& [name, value] : saved) {
        if (value == "\x01") {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    EXPECT_EQ(env.user_conf.toStdString(), "/cfg/kivrel/kivrel.conf");
    ASSERT_EQ(env.machine_confs.size(), 3);
    EXPECT_EQ(env.machine_confs[0].toStdString(), "/a/kivrel/kivrel.conf");
    EXPECT_EQ(env.machine_confs[1].toStdString(), "/b/kivrel/kivrel.conf");
    EXPECT_TRUE(env.machine_confs[2].endsWith("/kivrel.conf")) << "beside the program";
    EXPECT_EQ(env.data_home.toStdString(), "/home/u/.local/share");
    EXPECT_EQ(env.tmp.toStdString(), "/scratch");
}

} // namespace
