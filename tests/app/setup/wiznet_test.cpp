// The network setup: its start from the system's proxy, the roads through
// its pages, the refused port and speeds, and what Finish writes into the
// data-source tree.
#include "setup/wiznet.h"

#include "core/settings.h"
#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodegrp.h"
#include "foundation/kv_file.h"
#include "root/kv_filemanpool.h"
#include "setup/setupentry.h"
#include "shell/kivrelapp.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_dstest.h"
#include "support/kv_testdir.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

// Records the range messages instead of showing them.
class NetWiz : public CWizNet
{
public:
    NetWiz(bool next_follows, const CSysProxy& sys) : CWizNet(next_follows, sys, nullptr) {}
    QStringList errors;
    void ShowRangeError(const QString& text, QWidget*) override { errors << text; }
};

template <class T = QLineEdit> T* Ctl(QWizard& wiz, int page, int id)
{
    return wiz.page(page)->findChild<T*>(QString::number(id));
}

TEST(CWizNet, StartsFromTheSystemProxy)
{
    CWizNet none(false, CSysProxy(), nullptr);
    EXPECT_TRUE(Ctl<QRadioButton>(none, CWizNet::kPageMain, CWizNetMain::IDC_DIRECT)->isChecked());
    EXPECT_EQ(Ctl(none, CWizNet::kPageSrv, CWizNetSrv::IDC_PORT)->text(), "8080");
    EXPECT_TRUE(Ctl(none, CWizNet::kPageSrv, CWizNetSrv::IDC_ADDR)->text().isEmpty());

    CWizNet socks(false, ParseProxyVar("socks://anna:pw@gate.example.com:1081"), nullptr);
    EXPECT_TRUE(
        Ctl<QRadioButton>(socks, CWizNet::kPageMain, CWizNetMain::IDC_FIREWALL)->isChecked());
    EXPECT_EQ(Ctl<QComboBox>(socks, CWizNet::kPageSrv, CWizNetSrv::IDC_PROTOCOL)->currentIndex(),
              kNetProxySocks4);
    EXPECT_EQ(Ctl(socks, CWizNet::kPageSrv, CWizNetSrv::IDC_ADDR)->text(), "gate.example.com");
    EXPECT_EQ(Ctl(socks, CWizNet::kPageSrv, CWizNetSrv::IDC_PORT)->text(), "1081");
    EXPECT_EQ(Ctl(socks, CWizNet::kPageLogin, CWizNetLogin::IDC_USER)->text(), "anna");
    EXPECT_EQ(Ctl(socks, CWizNet::kPageLogin, CWizNetLogin::IDC_PASS)->text(), "pw");
}

TEST(CWizNet, RoadsThroughThePages)
{
    for (bool follows : {false, true}) {
        SCOPED_TRACE(follows);
        NetWiz wiz(follows, CSysProxy());
        wiz.show();
        EXPECT_EQ(wiz.currentId(), CWizNet::kPageMain);
        // Direct: straight to the bandwidth page and straight back.
        wiz.next();
        EXPECT_EQ(wiz.currentId(), CWizNet::kPageBwt);
        EXPECT_EQ(wiz.button(QWizard::FinishButton)->text(), follows ? "&Next >" : "&Finish");
        wiz.back();
        EXPECT_EQ(wiz.currentId(), CWizNet::kPageMain);

        Ctl<QRadioButton>(wiz, CWizNet::kPageMain, CWizNetMain::IDC_FIREWALL)->click();
        wiz.next();
        ASSERT_EQ(wiz.currentId(), CWizNet::kPageSrv);
        EXPECT_FALSE(wiz.button(QWizard::NextButton)->isEnabled()) << "no address";
        auto* protocol = Ctl<QComboBox>(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_PROTOCOL);
        EXPECT_EQ(protocol->count(), 3);
        protocol->setCurrentIndex(kNetProxySocks5);
        emit protocol->activated(kNetProxySocks5);
        EXPECT_EQ(Ctl(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_PORT)->text(), "1080");
        protocol->setCurrentIndex(kNetProxyHttp);
        emit protocol->activated(kNetProxyHttp);
        EXPECT_EQ(Ctl(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_PORT)->text(), "8080");
        Ctl(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_ADDR)->setText("proxy.example.com");
        EXPECT_TRUE(wiz.button(QWizard::NextButton)->isEnabled());

        // A port beyond 16 bits is refused where it is typed.
        Ctl(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_PORT)->setText("70000");
        wiz.next();
        EXPECT_EQ(wiz.currentId(), CWizNet::kPageSrv);
        EXPECT_EQ(wiz.errors, QStringList{"Please enter a number between 0 and 65535."});
        Ctl(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_PORT)->setText("65535");
        wiz.next();
        ASSERT_EQ(wiz.currentId(), CWizNet::kPageLogin);

        // A password without a user cannot go on.
        Ctl(wiz, CWizNet::kPageLogin, CWizNetLogin::IDC_PASS)->setText("pw");
        EXPECT_FALSE(wiz.button(QWizard::NextButton)->isEnabled());
        Ctl(wiz, CWizNet::kPageLogin, CWizNetLogin::IDC_USER)->setText("anna");
        EXPECT_TRUE(wiz.button(QWizard::NextButton)->isEnabled());
        wiz.next();
        ASSERT_EQ(wiz.currentId(), CWizNet::kPageBwt);
        wiz.back();
        EXPECT_EQ(wiz.currentId(), CWizNet::kPageLogin) << "back through the proxy pages";
        wiz.reject();
    }
}

TEST(CWizNet, SpeedRange)
{
    NetWiz wiz(false, CSysProxy());
    wiz.show();
    wiz.next();
    ASSERT_EQ(wiz.currentId(), CWizNet::kPageBwt);
    auto* limit = Ctl<QCheckBox>(wiz, CWizNet::kPageBwt, CWizNetBwt::IDC_LIMIT);
    auto* down = Ctl(wiz, CWizNet::kPageBwt, CWizNetBwt::IDC_DOWN);
    auto* up = Ctl(wiz, CWizNet::kPageBwt, CWizNetBwt::IDC_UP);
    EXPECT_FALSE(down->isEnabled());
    limit->click();
    EXPECT_TRUE(down->isEnabled());
    EXPECT_TRUE(up->isEnabled());
    struct Row
    {
        const char* down;
        const char* up;
        bool ok;
    } rows[] = {{"1000000", "0", false}, {"0", "999999.5", false}, {"-1", "0", false},
                {"fast", "0", false},    {"999999", "0.5", true},  {" 12.5 ", "0", true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.down << " / " << r.up);
        wiz.errors.clear();
        down->setText(r.down);
        up->setText(r.up);
        EXPECT_EQ(wiz.validateCurrentPage(), r.ok);
        EXPECT_EQ(wiz.errors.isEmpty(), r.ok);
    }
    // Without the limit nothing is checked: the speeds are not used.
    limit->click();
    down->setText("1000000");
    EXPECT_TRUE(wiz.validateCurrentPage());
    EXPECT_FALSE(wiz.GetSetup().limit);
}

class NetDriverTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        for (const char* var : {"https_proxy", "http_proxy", "all_proxy"}) {
            saved.push_back(qgetenv(var));
            qunsetenv(var);
        }
        app = CKivrelApp::Instance();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
        ASSERT_TRUE(app->GetPool()->tree().load(app->GetPool()->man_trans()));
    }
    void TearDown() override
    {
        app->DeletePool();
        dstest::reset_trans_statics();
        int i = 0;
        for (const char* var : {"https_proxy", "http_proxy", "all_proxy"}) {
            if (!saved[i++].isEmpty()) {
                qputenv(var, saved[i - 1]);
            }
        }
    }
    template <class G> G* Group(KV_DS_NODE_TYPE type)
    {
        return dynamic_cast<G*>(app->GetPool()->tree().find(type, true));
    }

    CKivrelApp* app = nullptr;
    QList<QByteArray> saved;
};

TEST_F(NetDriverTest, FinishWritesEveryGroup)
{
    struct Row
    {
        bool firewall;
        int protocol;
        int ftp, http, sftp;
    } rows[] = {{false, 1, 0, 0, 0}, {true, 0, 1, 1, 1}, {true, 1, 2, 3, 2}, {true, 2, 3, 4, 3}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.firewall << " " << r.protocol);
        kvtest::DialogDriver<CWizNet> driver([&r](CWizNet& wiz) {
            Ctl(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_ADDR)->setText("gate.example.com");
            Ctl<QComboBox>(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_PROTOCOL)
                ->setCurrentIndex(r.protocol);
            Ctl(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_PORT)->setText("3128");
            Ctl(wiz, CWizNet::kPageLogin, CWizNetLogin::IDC_USER)->setText("anna");
            if (r.firewall) {
                Ctl<QRadioButton>(wiz, CWizNet::kPageMain, CWizNetMain::IDC_FIREWALL)->click();
                wiz.next();
                wiz.next();
            }
            wiz.next();
            Ctl<QCheckBox>(wiz, CWizNet::kPageBwt, CWizNetBwt::IDC_LIMIT)->click();
            Ctl(wiz, CWizNet::kPageBwt, CWizNetBwt::IDC_DOWN)->setText("64");
            Ctl(wiz, CWizNet::kPageBwt, CWizNetBwt::IDC_UP)->setText("32.5");
            wiz.button(QWizard::FinishButton)->click();
        });
        ASSERT_TRUE(RunNetWizard(nullptr, true));
        auto* ftp = Group<KV_DsTreeNodeGrpFtp>(KV_DS_NODE_FTP);
        auto* http = Group<KV_DsTreeNodeGrpHttp>(KV_DS_NODE_HTTP);
        auto* sftp = Group<KV_DsTreeNodeGrpSftp>(KV_DS_NODE_SFTP);
        EXPECT_EQ(ftp->proxy().type(), r.ftp);
        EXPECT_EQ(http->proxy().type(), r.http);
        EXPECT_EQ(sftp->proxy().type(), r.sftp);
        EXPECT_EQ(http->proxy().addr(), "gate.example.com");
        EXPECT_EQ(sftp->proxy().port(), 3128);
        EXPECT_EQ(ftp->proxy().ldata().user(), "anna");
        EXPECT_DOUBLE_EQ(KV_FileTransManOpts::bwt_speed_in(), 64.0);
        EXPECT_DOUBLE_EQ(KV_FileTransManOpts::bwt_speed_out(), 32.5);
    }

    // Cancel writes nothing.
    kvtest::DialogDriver<CWizNet> cancel([](CWizNet& wiz) {
        Ctl(wiz, CWizNet::kPageSrv, CWizNetSrv::IDC_ADDR)->setText("other.example.com");
        wiz.reject();
    });
    EXPECT_FALSE(RunNetWizard(nullptr, false));
    EXPECT_EQ(Group<KV_DsTreeNodeGrpHttp>(KV_DS_NODE_HTTP)->proxy().addr(), "gate.example.com");
}

} // namespace
