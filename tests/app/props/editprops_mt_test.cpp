// Sheets of data sources that live file managers serve: a data source held
// by requests opens with its identity fixed, and a change made in the sheet
// reaches the live manager (against vsftpd). These start the engine's
// manager threads.
#include "props/dspropsheets.h"

#include "core/propvalues.h"
#include "kv_propfixture.h"
#include "requests/kv_fileman.h"
#include "support/kv_nettest.h"
#include "support/kv_poolthreads.h"
#include "support/kv_vsftpd.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <filesystem>

namespace {

class EditProps_MT : public proptest::PoolTest
{
protected:
    KV_DsTreeNode* AddAnonymousFtp(const char* name, uint16_t port)
    {
        KV_DsTreeNodeFtp n;
        n.set_name(name);
        n.set_inh_params(false);
        n.params_ftp().set_dst_addr(kvprop::ToKv(QStringLiteral("127.0.0.1:%1").arg(port)));
        n.params_ftp().set_anonymous(true);
        n.params_ftp().opts_ftp().set_ntavos_conn(0);
        return pool->tree().create(FtpGroup(), &n, 0, true);
    }
    // Hands the engine root's notices to it, as the control window does,
    // until `done` holds.
    bool PumpUntil(const std::function<bool()>& done)
    {
        return kvtest::WaitFor([&] {
            while (KV_Msg* m = pool->informer().pop()) {
                pool->process_ntf(m);
                KV_Informer::destroy(m);
            }
            return done();
        });
    }
};

TEST_F(EditProps_MT, DataSourceHeldByRequestsOpensWithItsIdentityFixed)
{
    KV_DsTreeNode* node = AddAnonymousFtp("Mirror", kvtest::closed_port());
    ASSERT_NE(node, nullptr);
    KV_FileMan* man = pool->reg(KV_FileManId(node->id(), 0));
    ASSERT_NE(man, nullptr);
    man->lock(true);
    ASSERT_TRUE(pool->reqs_reg(node->id()));

    auto check = [](CDsProp& s) {
        CDsPropPage* main = s.GetPage(0);
        for (int id : {1094, 1156, 1006, 1195, 1001}) {
            EXPECT_FALSE(main->Item(id)->isEnabled()) << id;
        }
        for (int id : {1152, 1163, 1036, 1024}) {
            EXPECT_TRUE(main->Item(id)->isEnabled()) << id;
        }
        s.reject();
    };
    // The note comes at each opening until the user switches it off.
    int notes = 0;
    {
        kvtest::DialogDriver<CDlgAppInfo> off([&](CDlgAppInfo& d) {
            EXPECT_TRUE(d.findChild<QLabel*>("1073")->text().startsWith(
                "This data source is currently involved in at least one request."));
            if (++notes == 2) {
                d.findChild<QCheckBox*>("1044")->setChecked(true);
            }
            d.accept();
        });
        EXPECT_FALSE(Edit(node, nullptr, check));
        EXPECT_FALSE(Edit(node, nullptr, check));
        EXPECT_FALSE(Edit(node, nullptr, check));
    }
    EXPECT_EQ(notes, 2);
    EXPECT_EQ(sheets_shown, 3);

    // Free again once the requests are gone.
    man->unlock(true);
    EXPECT_FALSE(Edit(node, nullptr, [](CDsProp& s) {
        EXPECT_TRUE(s.GetPage(0)->Item(1156)->isEnabled());
        s.reject();
    }));
}

TEST_F(EditProps_MT, ChangesReachTheLiveManagerOfVsftpd)
{
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    const std::string root = dir / "root";
    std::filesystem::create_directories(root + "/pub");
    const uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> server = kvtest::start_vsftpd(dir.path(), root, port, "");
    ASSERT_TRUE(server && server->wait_port(port)) << (server ? server->log() : "");

    KV_DsTreeNode* node = AddAnonymousFtp("Mirror", port);
    ASSERT_NE(node, nullptr);
    KV_FileMan* man = pool->reg(KV_FileManId(node->id(), 0));
    ASSERT_NE(man, nullptr);
    // The tree learns of the live instance from the engine's notice.
    ASSERT_TRUE(PumpUntil([&] { return node->list().size() == 1; }));

    EXPECT_TRUE(Edit(node, nullptr, [](CDsProp& s) {
        Type(s.GetPage(0), 1036, "/pub");
        s.SetActivePage(3);
        Type(s.GetPage(3), 1181, "45");
        s.accept();
    }));
    KV_FileManParams* params = man->clone_params();
    auto* ftp = dynamic_cast<KV_FileManParamsFtp*>(params);
    ASSERT_NE(ftp, nullptr);
    EXPECT_EQ(ftp->opts_ftp().ftp().tmout_cmd_resp(), 45000u);
    // The folder a new pane of this data source opens.
    EXPECT_EQ(ftp->def_path(), KV_String("/pub"));
    KV_FileManParams::destr_clone(params);
}

} // namespace
