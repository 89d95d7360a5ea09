#include "setup/dspropgrpsheets.h"

#include "datasources/kv_dstreenodegrp.h"
#include "props/dspropftp.h"
#include "props/dsprophttp.h"
#include "props/dspropsftp.h"
#include "props/dspropstd.h"
#include "setup/dspropgrp.h"
#include "setup/dspropgrpds.h"

CDsPropGrpFtp::CDsPropGrpFtp(KV_DsTreeNodeGrpFtp* group, KV_DsTreeNodeGrpFtp* parent, QWidget* wnd,
                             int initial_page)
    : CDsProp(group, parent, wnd, initial_page)
{
    SetSheetHelpTopic(QStringLiteral("html\\dspropftp.htm"));
    KV_FileManFtpOpts* parent_opts = parent != nullptr ? &parent->opts_ftp() : nullptr;
    AddPage(new CDsPropGrpFtpMain(group, parent));
    AddPage(new CDsPropLayout(&group->opts_ftp(), parent_opts));
    AddPage(new CDsPropFtpAdv(&group->opts_ftp(), parent_opts));
    AddPage(new CDsPropFtpDet(&group->opts_ftp().ftp(),
                              parent_opts != nullptr ? &parent_opts->ftp() : nullptr));
}

CDsPropGrpHttp::CDsPropGrpHttp(KV_DsTreeNodeGrpHttp* group, KV_DsTreeNodeGrpHttp* parent,
                               QWidget* wnd, int initial_page)
    : CDsProp(group, parent, wnd, initial_page)
{
    SetSheetHelpTopic(QStringLiteral("html\\dsprophttp.htm"));
    KV_FileManHttpOpts* parent_opts = parent != nullptr ? &parent->opts_http() : nullptr;
    AddPage(new CDsPropGrpHttpMain(group, parent));
    AddPage(new CDsPropLayout(&group->opts_http(), parent_opts));
    AddPage(new CDsPropHttpAdv(&group->opts_http(), parent_opts));
}

CDsPropGrpSftp::CDsPropGrpSftp(KV_DsTreeNodeGrpSftp* group, KV_DsTreeNodeGrpSftp* parent,
                               QWidget* wnd, int initial_page)
    : CDsProp(group, parent, wnd, initial_page)
{
    SetSheetHelpTopic(QStringLiteral("html\\dspropsftp.htm"));
    KV_FileManSftpOpts* parent_opts = parent != nullptr ? &parent->opts_sftp() : nullptr;
    AddPage(new CDsPropGrpSftpMain(group, parent));
    AddPage(new CDsPropLayout(&group->opts_sftp(), parent_opts));
    AddPage(new CDsPropSftpAdv(&group->opts_sftp(), parent_opts));
}

CDsPropGrpDs::CDsPropGrpDs(KV_DsTreeNodeGrpDs* root, QWidget* wnd, int initial_page)
    : CDsProp(root, nullptr, wnd, initial_page)
{
    SetSheetHelpTopic(QStringLiteral("html\\dspropmain.htm"));
    AddPage(new CDsPropGrpDsMain(&root->opts_trans()));
    AddPage(new CDsPropGrpDsAdv(&root->opts_trans()));
    AddPage(new CDsPropGrpDsSecurity(&root->opts_trans()));
}

std::unique_ptr<CDsProp> MakeGroupPropSheet(KV_DsTreeNodeGrp* group, KV_DsTreeNode* parent,
                                            QWidget* wnd)
{
    if (group == nullptr) {
        return nullptr;
    }
    if (auto* g = dynamic_cast<KV_DsTreeNodeGrpFtp*>(group)) {
        return std::make_unique<CDsPropGrpFtp>(g, dynamic_cast<KV_DsTreeNodeGrpFtp*>(parent), wnd);
    }
    if (auto* g = dynamic_cast<KV_DsTreeNodeGrpHttp*>(group)) {
        return std::make_unique<CDsPropGrpHttp>(g, dynamic_cast<KV_DsTreeNodeGrpHttp*>(parent),
                                                wnd);
    }
    if (auto* g = dynamic_cast<KV_DsTreeNodeGrpSftp*>(group)) {
        return std::make_unique<CDsPropGrpSftp>(g, dynamic_cast<KV_DsTreeNodeGrpSftp*>(parent),
                                                wnd);
    }
    if (auto* g = dynamic_cast<KV_DsTreeNodeGrpDs*>(group)) {
        return std::make_unique<CDsPropGrpDs>(g, wnd);
    }
    return nullptr;
}
