// The browse window's file commands on an FTP pane served by vsftpd with a
// local user who may write: rights changed in the properties dialog reach
// the server, and files cut on the local disk cannot be pasted there (a move
// between data sources does not exist) while copied ones can.
#include "../views/kv_viewfixture.h"

#include "datasources/kv_dstreenodeds.h"
#include "dialogs/dlgfileprop.h"
#include "menus/commands.h"
#include "support/kv_childproc.h"
#include "support/kv_nettest.h"
#include "support/kv_vsftpd.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using kvtest::write_file;

enum : uint32_t { kCopy = 57634, kCut = 57635, kPaste = 57637, kProperties = 32805 };

// vsftpd's local logins go through PAM with the system's users.
constexpr const char* kUser = "kvftpcmd";
constexpr const char* kPass = "kv-Ftp.pw7";

bool MakeUser()
{
    static const bool made = [] {
        const std::string u = kUser;
        if (std::system(("id -u " + u + " >/dev/null 2>&1").c_str()) != 0 &&
            std::system(("useradd -m -s /bin/sh " + u + " >/dev/null 2>&1").c_str()) != 0) {
            return false;
        }
        return std::system(("echo '" + u + ":" + kPass + "' | chpasswd").c_str()) == 0;
    }();
    return made;
}

class FtpFileCmds_MT : public kvtest::ViewFixture
{
protected:
    static bool SelectRow(CFileListView* list, const std::string& name)
    {
        list->setFocus();
        for (int row = 0; row < list->GetModel()->rowCount(); ++row) {
            if (list->GetModel()->index(row, 0).data().toString().toStdString() == name) {
                list->selectionModel()->setCurrentIndex(list->GetModel()->index(row, 0),
                                                        QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
                return true;
            }
        }
        return false;
    }
    // Gives `w` the focus once the window has it back from a closed
    // dialog.
    bool Focus(QWidget* w)
    {
        return Until([&] {
            if (!wnd->isActiveWindow()) {
                wnd->activateWindow();
            }
            w->setFocus();
            QTest::qWait(10);
            // A file list hands its focus to the item view it shows.
            QWidget* focus = QApplication::focusWidget();
            return focus == w || (focus != nullptr && w->isAncestorOf(focus));
        });
    }
    static mode_t Mode(const std::string& path)
    {
        struct stat st
        {
        };
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
};

TEST_F(FtpFileCmds_MT, PropertiesReachTheServerAndCutFilesStayHome)
{
    if (!kvtest::vsftpd_usable() || !MakeUser()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    const passwd* pw = ::getpwnam(kUser);
    ASSERT_NE(pw, nullptr);
    const std::string home = tmp / "ftp";
    const std::string anon = tmp / "anon";
    ASSERT_TRUE(KV_File::mkdir(home.c_str()));
    ASSERT_TRUE(KV_File::mkdir(anon.c_str()));
    ASSERT_TRUE(write_file(home + "/f.bin", "bytes"));
    ASSERT_EQ(::chown(home.c_str(), pw->pw_uid, pw->pw_gid), 0);
    ASSERT_EQ(::chown((home + "/f.bin").c_str(), pw->pw_uid, pw->pw_gid), 0);
    ASSERT_EQ(::chmod(home.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((home + "/f.bin").c_str(), 0644), 0);
    ASSERT_TRUE(write_file(work + "/local.txt", "here"));
    const uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> server =
        kvtest::start_vsftpd(tmp.path(), anon, port,
                             "local_enable=YES\nlocal_root=" + home +
                                 "\nchmod_enable=YES\nlocal_umask=022\npam_service_name=vsftpd\n");
    ASSERT_TRUE(server && server->wait_port(port)) << (server ? server->log() : "");

    KV_DsTreeNodeFtp n;
    n.set_name("Box");
    n.set_inh_params(false);
    const std::string addr = "127.0.0.1:" + std::to_string(port);
    n.params_ftp().set_dst_addr(KV_String(addr.c_str()));
    n.params_ftp().ldata().set_user(KV_String(kUser));
    KV_DsTreeNode* node = pool->tree().create(pool->tree().find(KV_DS_NODE_FTP, true), &n, 0, true);
    ASSERT_NE(node, nullptr);
    pool->tree().set_pass(node->id(), KV_String(kPass));

    // The FTP server on the left, the local disk on the right.
    wnd = std::make_unique<CBrowseSplt>(KV_FileManId(node->id(), 0), KV_FileManId(local, 0),
                                        CBrowseSplt::kList | (CBrowseSplt::kList << 8));
    ASSERT_TRUE(wnd->CreateFrame());
    wnd->resize(900, 600);
    wnd->show();
    wnd->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(wnd.get()));
    ASSERT_TRUE(Show(work, CBrowseSplt::kRight));
    CFileListView* ftp = List(CBrowseSplt::kLeft);
    CFileListView* disk = List(CBrowseSplt::kRight);
    ASSERT_NE(ftp, nullptr);
    ASSERT_TRUE(Until([&] { return SelectRow(ftp, "f.bin"); }, 30000)) << server->log();

    // 644 becomes 755 on the server.
    int shown = 0;
    kvtest::DialogDriver<CDlgFilePropFtp> answer([&](CDlgFilePropFtp& dlg) {
        ++shown;
        EXPECT_EQ(dlg.Item<QLabel>(CDlgFileProp::IDC_SERVER)->text().toStdString(), addr);
        auto* octal = dlg.Item<QLineEdit>(CDlgFilePropUnix::IDC_OCTAL);
        EXPECT_EQ(octal->text(), "644");
        octal->selectAll();
        QTest::keyClicks(octal, "755");
        dlg.accept();
    });
    ASSERT_TRUE(Run(kProperties));
    EXPECT_EQ(shown, 1);
    ASSERT_TRUE(Until([&] { return Mode(home + "/f.bin") == 0755; }))
        << std::oct << Mode(home + "/f.bin");

    // Local files copied may go to the server; cut ones may not, as they
    // cannot be moved there.
    ASSERT_TRUE(Focus(disk));
    ASSERT_TRUE(SelectRow(disk, "local.txt"));
    ASSERT_TRUE(Run(kCopy));
    ASSERT_TRUE(Focus(ftp));
    EXPECT_TRUE(Enabled(kPaste));
    // Into the folder they came from nothing can be copied.
    ASSERT_TRUE(Focus(disk));
    EXPECT_FALSE(Enabled(kPaste));
    ASSERT_TRUE(Focus(ftp));
    ASSERT_TRUE(Focus(disk));
    ASSERT_TRUE(SelectRow(disk, "local.txt"));
    ASSERT_TRUE(Run(kCut));
    ASSERT_TRUE(Focus(ftp));
    ftp->clearSelection();
    EXPECT_FALSE(Enabled(kPaste));
    ASSERT_TRUE(Focus(disk));
    ASSERT_TRUE(SelectRow(disk, "local.txt"));
    ASSERT_TRUE(Run(kCopy));
    ASSERT_TRUE(Focus(ftp));
    ftp->clearSelection();
    ASSERT_TRUE(Run(kPaste));
    EXPECT_TRUE(Until([&] { return std::filesystem::exists(home + "/local.txt"); }));
    EXPECT_TRUE(std::filesystem::exists(work + "/local.txt"));
}

} // namespace
