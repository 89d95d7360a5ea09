#include "props/dspropsheets.h"

#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "dialogs/dlgappinfo.h"
#include "props/dspropftp.h"
#include "props/dsprophttp.h"
#include "props/dspropsftp.h"
#include "props/dspropstd.h"
#include "setup/dspropgrpsheets.h"

namespace {

void NoteInUse(bool editable, QWidget* sheet)
{
    if (!editable) {
        CDlgAppInfo::Info(QStringLiteral("InfoReqReg"), 118, sheet);
    }
}

} // namespace

CDsPropFtp::CDsPropFtp(KV_DsTreeNodeFtp* node, KV_DsTreeNodeGrpFtp* group, bool editable,
                       QWidget* wnd, int initial_page)
    : CDsProp(node, group, wnd, initial_page)
{
    SetSheetHelpTopic(QStringLiteral("html\\dspropftp.htm"));
    KV_FileManFtpOpts& opts = node->params_ftp().opts_ftp();
    KV_FileManFtpOpts* group_opts = group != nullptr ? &group->opts_ftp() : nullptr;
    AddPage(new CDsPropFtpMain(node, editable));
    AddPage(new CDsPropLayout(&opts, group_opts));
    AddPage(new CDsPropFtpAdv(&opts, group_opts));
    AddPage(new CDsPropFtpDet(&opts.ftp(), group_opts != nullptr ? &group_opts->ftp() : nullptr));
    NoteInUse(editable, this);
}

CDsPropHttp::CDsPropHttp(KV_DsTreeNodeHttp* node, KV_DsTreeNodeGrpHttp* group, bool editable,
                         QWidget* wnd, int initial_page)
    : CDsProp(node, group, wnd, initial_page)
{
    SetSheetHelpTopic(QStringLiteral("html\\dsprophttp.htm"));
    KV_FileManHttpOpts& opts = node->params_http().opts_http();
    KV_FileManHttpOpts* group_opts = group != nullptr ? &group->opts_http() : nullptr;
    AddPage(new CDsPropHttpMain(node, editable));
    AddPage(new CDsPropHttpDoc(node));
    AddPage(new CDsPropLayout(&opts, group_opts));
    AddPage(new CDsPropHttpAdv(&opts, group_opts));
    NoteInUse(editable, this);
}

CDsPropSftp::CDsPropSftp(KV_DsTreeNodeSftp* node, KV_DsTreeNodeGrpSftp* group, bool editable,
                         QWidget* wnd, int initial_page)
    : CDsProp(node, group, wnd, initial_page)
{
    SetSheetHelpTopic(QStringLiteral("html\\dspropsftp.htm"));
    KV_FileManSftpOpts& opts = node->params_sftp().opts_sftp();
    KV_FileManSftpOpts* group_opts = group != nullptr ? &group->opts_sftp() : nullptr;
    AddPage(new CDsPropSftpMain(node, editable));
    AddPage(new CDsPropLayout(&opts, group_opts));
    AddPage(new CDsPropSftpAdv(&opts, group_opts));
    NoteInUse(editable, this);
}

CDsPropStd::CDsPropStd(KV_DsTreeNodeStd* node, bool editable, QWidget* wnd, int initial_page)
    : CDsProp(node, nullptr, wnd, initial_page)
{
    SetSheetHelpTopic(QStringLiteral("html\\dspropstd.htm"));
    AddPage(new CDsPropStdMain(node, editable));
    AddPage(new CDsPropLayout(&node->params_std().opts_std(), nullptr));
    NoteInUse(editable, this);
}

std::unique_ptr<CDsProp> MakeDsPropSheet(KV_DsTreeNode* node, KV_DsTreeNode* parent, bool editable,
                                         QWidget* wnd)
{
    if (node == nullptr) {
        return nullptr;
    }
    switch (node->type()) {
    case KV_DS_NODE_STD:
        if (auto* n = dynamic_cast<KV_DsTreeNodeStd*>(node)) {
            return std::make_unique<CDsPropStd>(n, editable, wnd);
        }
        break;
    case KV_DS_NODE_FTP:
        if (auto* n = dynamic_cast<KV_DsTreeNodeFtp*>(node)) {
            return std::make_unique<CDsPropFtp>(n, dynamic_cast<KV_DsTreeNodeGrpFtp*>(parent),
                                                editable, wnd);
        }
        break;
    case KV_DS_NODE_SFTP:
        if (auto* n = dynamic_cast<KV_DsTreeNodeSftp*>(node)) {
            return std::make_unique<CDsPropSftp>(n, dynamic_cast<KV_DsTreeNodeGrpSftp*>(parent),
                                                 editable, wnd);
        }
        break;
    case KV_DS_NODE_HTTP:
        if (auto* n = dynamic_cast<KV_DsTreeNodeHttp*>(node)) {
            return std::make_unique<CDsPropHttp>(n, dynamic_cast<KV_DsTreeNodeGrpHttp*>(parent),
                                                 editable, wnd);
        }
        break;
    case KV_DS_NODE_GRP:
        if (auto* g = dynamic_cast<KV_DsTreeNodeGrp*>(node)) {
            return MakeGrpSheet(g, parent, wnd);
        }
        break;
    default:
        break;
    }
    return nullptr;
}

std::unique_ptr<CDsProp> MakeGrpSheet(KV_DsTreeNodeGrp* group, KV_DsTreeNode* parent, QWidget* wnd)
{
    return MakeGroupPropSheet(group, parent, wnd);
}
