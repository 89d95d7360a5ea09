// The program's dialogs, each made as its caller makes it over a live
// engine root, for the tests that look at every dialog alike (keyboard
// order, layout at each scale). Sheets are listed once per page.
#pragma once

#include "core/versioninfo.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "datasources/kv_filereqtransparams.h"
#include "dialogs/dlgappinfo.h"
#include "dialogs/dlgask.h"
#include "dialogs/dlgchdir.h"
#include "dialogs/dlgfileprop.h"
#include "dialogs/dlgfilereg.h"
#include "dialogs/dlgfiletrans.h"
#include "dialogs/dlgselcols.h"
#include "dialogs/dlgtranspar.h"
#include "net/kv_ckman.h"
#include "props/dspropsheets.h"
#include "root/kv_filemanpool.h"
#include "setup/dlgquickconn.h"
#include "setup/dlgtrust.h"
#include "setup/dspropgrpsheets.h"
#include "setup/wizconn.h"
#include "setup/wiznet.h"

#include <QDialog>
#include <QWizard>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kvtest {

struct DialogCase
{
    std::string name;                               // also the screenshot's name
    std::function<std::unique_ptr<QDialog>()> make; // made, not shown
    int page = -1;                                  // of a property sheet; -1 none
};

// The clone a sheet edits goes with the sheet, as the program frees it
// after the sheet.
template <class Sheet, class Node, class... Args>
std::unique_ptr<QDialog> SheetOver(Node* clone, Args... args)
{
    auto dlg = std::make_unique<Sheet>(clone, args...);
    QObject::connect(dlg.get(), &QObject::destroyed,
                     [clone] { KV_DsTreeNode::destr_clone(clone); });
    return dlg;
}

// The dialogs over `pool`, whose data-source tree must be loaded. Nodes the
// sheets edit are made in the tree and clones of them handed to the sheets,
// as the program does.
inline std::vector<DialogCase> ProgramDialogs(KV_FileManPool& pool)
{
    KV_DsTree& tree = pool.tree();
    KV_DsTreeNode* ftp_made = [&tree] {
        KV_DsTreeNodeFtp n;
        n.set_name("Mirror of the archive");
        n.params_ftp().set_dst_addr("ftp.example.com");
        n.params_ftp().ldata().set_user("joe");
        return tree.create(tree.find(KV_DS_NODE_FTP, true), &n, 0, true);
    }();
    const auto ftp_node = [&tree, ftp_made] {
        return dynamic_cast<KV_DsTreeNodeFtp*>(tree.clone(ftp_made, false));
    };
    KV_DsTreeNode* http_made = [&tree] {
        KV_DsTreeNodeHttp n;
        n.set_name("Documents");
        n.params_http().set_dst_addr("www.example.com");
        return tree.create(tree.find(KV_DS_NODE_HTTP, true), &n, 0, true);
    }();
    const auto http_node = [&tree, http_made] {
        return dynamic_cast<KV_DsTreeNodeHttp*>(tree.clone(http_made, false));
    };
    KV_DsTreeNode* sftp_made = [&tree] {
        KV_DsTreeNodeSftp n;
        n.set_name("Build server");
        n.params_sftp().set_dst_addr("ssh.example.com");
        return tree.create(tree.find(KV_DS_NODE_SFTP, true), &n, 0, true);
    }();
    const auto sftp_node = [&tree, sftp_made] {
        return dynamic_cast<KV_DsTreeNodeSftp*>(tree.clone(sftp_made, false));
    };
    const auto entry = [] {
        return KV_FileDataExt(KV_String("report.txt"), KV_String(), 0, KV_String("-rw-r--r--"),
                              KV_String("ann"), KV_String("staff"), KV_Time());
    };
    std::vector<DialogCase> cases = {
        {"chdir", [] { return std::make_unique<CDlgChdir>(); }},
        {"custom-command", [] { return std::make_unique<CDlgUsrDefCmd>(); }},
        {"ask-yes-no",
         [] {
             return std::make_unique<CDlgAsk>(KV_String("Overwrite /pub/a.txt ?"), KV_ANS_YES,
                                              KV_ASK_YES_NO, nullptr, nullptr);
         }},
        {"ask-yes-all",
         [] {
             return std::make_unique<CDlgAsk>(KV_String("Delete /pub/a.txt ?"), KV_ANS_YES,
                                              KV_ASK_YES_ALL, nullptr, nullptr);
         }},
        {"ask-trust",
         [] {
             return std::make_unique<CDlgAsk>(
                 KV_String("The certificate of ftp.example.com is not trusted.\nSubject: "
                           "CN=ftp.example.com\nIssuer: O=Example CA"),
                 KV_ANS_NO, KV_ASK_TRUST, nullptr, nullptr);
         }},
        {"ask-host-key",
         [] {
             return std::make_unique<CDlgAsk>(
                 KV_String("The host key of ssh.example.com is unknown.\nSHA256:"
                           "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU"),
                 KV_ANS_NO, KV_ASK_TRUST2, nullptr, nullptr);
         }},
        {"app-info",
         [] {
             return std::make_unique<CDlgAppInfo>(
                 QStringLiteral("Test"), QStringLiteral("The request was added to the list."),
                 false, false, nullptr);
         }},
        {"app-question",
         [] {
             return std::make_unique<CDlgAppInfo>(QStringLiteral("Test"),
                                                  QStringLiteral("Do you want to quit?"), true,
                                                  false, nullptr);
         }},
        {"app-update",
         [] {
             return std::make_unique<CDlgAppUpdate>(
                 QStringLiteral("Version 9.1 is out.\r\nIt mends things."), false, nullptr);
         }},
        {"shutdown", [] { return std::make_unique<CDlgShutdown>(0, nullptr); }},
        {"quick-connect", [] { return std::make_unique<CDlgQuickConn>(nullptr); }},
        {"copy-parameters",
         [] {
             return std::make_unique<CDlgTransParCp>(KV_DS_NODE_FTP, KV_DS_NODE_STD,
                                                     KV_FileReqTransParamsCp(),
                                                     static_cast<KV_REQ_STAT>(0), nullptr);
         }},
        {"rename-parameters",
         [] { return std::make_unique<CDlgTransParRen>(KV_FileReqTransParamsRen(), nullptr); }},
        {"delete-parameters",
         [] { return std::make_unique<CDlgTransParRm>(KV_FileReqTransParamsRm(), nullptr); }},
        {"file-transfer",
         [] {
             return std::make_unique<CDlgFileTrans>(KV_DS_NODE_FTP, "127.0.0.1", "/pub/f.bin",
                                                    KV_DS_NODE_STD, "", "", false, false);
         }},
        {"file-register",
         [] {
             return std::make_unique<CDlgFileReg>(KV_DS_NODE_FTP, "ftp.example.com", "/x", false,
                                                  nullptr);
         }},
        {"file-properties-local",
         [entry] { return std::make_unique<CDlgFilePropStd>(entry(), "report.txt", nullptr); }},
        {"file-properties-ftp",
         [entry] {
             return std::make_unique<CDlgFilePropFtp>(entry(), "ftp.example.com", "report.txt",
                                                      nullptr);
         }},
        {"columns",
         [] {
             return std::make_unique<CDlgSelCols>(std::vector<int>{0, 1, 2},
                                                  [](int) { return true; });
         }},
        {"trusted-certificates",
         [] {
             // The store must outlive the dialog: it goes with it.
             auto* store = new KV_CKList<KV_CKEntry, KV_PATH_SRV_CERTS>;
             auto dlg = std::make_unique<CDlgTrust>(CDlgTrust::IDD_CERTS, *store,
                                                    QStringLiteral("Common name"),
                                                    QStringLiteral("Issuer"), nullptr);
             QObject::connect(dlg.get(), &QObject::destroyed, [store] { delete store; });
             return dlg;
         }},
        {"about",
         [] {
             static CVersionInfo info;
             info.Read("/proc/self/exe");
             return std::make_unique<CDlgAbout>(info, nullptr);
         }},
    };
    const auto sheet = [&cases](const char* name, int pages,
                                std::function<std::unique_ptr<QDialog>()> make) {
        for (int p = 0; p < pages; ++p) {
            cases.push_back({std::string(name) + "-" + std::to_string(p), make, p});
        }
    };
    sheet("properties-ftp", 4,
          [ftp_node] { return SheetOver<CDsPropFtp>(ftp_node(), nullptr, true, nullptr, 0); });
    sheet("properties-http", 3,
          [http_node] { return SheetOver<CDsPropHttp>(http_node(), nullptr, true, nullptr, 0); });
    sheet("properties-sftp", 2,
          [sftp_node] { return SheetOver<CDsPropSftp>(sftp_node(), nullptr, true, nullptr, 0); });
    sheet("properties-local", 2, [&tree] {
        auto* local =
            dynamic_cast<KV_DsTreeNodeStd*>(tree.clone(tree.find(KV_DS_NODE_STD, false), false));
        return SheetOver<CDsPropStd>(local, true, nullptr, 0);
    });
    sheet("properties-ftp-group", 4, [&tree] {
        auto* group =
            dynamic_cast<KV_DsTreeNodeGrpFtp*>(tree.clone(tree.find(KV_DS_NODE_FTP, true), false));
        return SheetOver<CDsPropGrpFtp>(group, static_cast<KV_DsTreeNodeGrpFtp*>(nullptr), nullptr,
                                        0);
    });
    sheet("properties-http-group", 3, [&tree] {
        auto* group = dynamic_cast<KV_DsTreeNodeGrpHttp*>(
            tree.clone(tree.find(KV_DS_NODE_HTTP, true), false));
        return SheetOver<CDsPropGrpHttp>(group, static_cast<KV_DsTreeNodeGrpHttp*>(nullptr),
                                         nullptr, 0);
    });
    sheet("properties-sftp-group", 3, [&tree] {
        auto* group = dynamic_cast<KV_DsTreeNodeGrpSftp*>(
            tree.clone(tree.find(KV_DS_NODE_SFTP, true), false));
        return SheetOver<CDsPropGrpSftp>(group, static_cast<KV_DsTreeNodeGrpSftp*>(nullptr),
                                         nullptr, 0);
    });
    // Each page of a wizard, shown as its first.
    const auto wizard = [&cases](const char* name, std::function<std::unique_ptr<QWizard>()> make) {
        const QList<int> ids = make()->pageIds();
        for (qsizetype i = 0; i < ids.size(); ++i) {
            const int id = ids[i];
            cases.push_back({std::string(name) + "-" + std::to_string(i), [make, id] {
                                 std::unique_ptr<QWizard> wiz = make();
                                 wiz->setStartId(id);
                                 return std::unique_ptr<QDialog>(std::move(wiz));
                             }});
        }
    };
    wizard("wizard-connect", [] { return std::make_unique<CWizConn>(); });
    wizard("wizard-network", [] { return std::make_unique<CWizNet>(false, CSysProxy(), nullptr); });
    return cases;
}

} // namespace kvtest
