#ifndef KIVREL_PROPS_DSPROPFTP_H
#define KIVREL_PROPS_DSPROPFTP_H

// The pages of the FTP sheets: the identity and login of one FTP data
// source ("Main"), and its file-manager options ("Details", "FTP
// protocol"), which the FTP group sheet shows too. User-interface thread
// only.

#include "props/dsprop.h"

#include <QString>
#include <cstdint>

class KV_DsTreeNodeFtp;
class KV_FileManFtpOpts;
class KV_FtpManOpts;

class CDsPropFtpMain : public CDsPropPage
{
    Q_OBJECT
public:
    // `node` (a clone) is not owned. Without `editable` the fields that
    // identify the data source are disabled.
    CDsPropFtpMain(KV_DsTreeNodeFtp* node, bool editable);

    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;
    // Server given, user given unless anonymous, default folder empty or
    // beginning with the data source's separator.
    bool OnApply() override;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void OnAnonymous();

    KV_DsTreeNodeFtp* node;
    const bool editable;
    // Whether the tree calls the node read-only, as it was opened: the
    // clone's id changes with what the page saves into it.
    const bool name_rdonly;
    QString name, server, user, acct, pass, def_path, comment;
    int security = 0;
    int server_type = 0;
    int anonymous = 0;
};

class CDsPropFtpAdv : public CDsPropPage
{
    Q_OBJECT
public:
    // The own options and the parent group's (null: none); not owned.
    CDsPropFtpAdv(KV_FileManFtpOpts* own, KV_FileManFtpOpts* parent);

    // The base rule; the part size only while the target options use REST
    // for downloads.
    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;

    // The parent's options while inheriting, else the own.
    KV_FileManFtpOpts* Target() const;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    KV_FileManFtpOpts* own;
    KV_FileManFtpOpts* parent;
    uint32_t ntavos = 1, ntavos_conn = 0, scan_cache = 0, min_frag = 0, ka_int = 0;
    QString amode_exts;
    int ka_cmd = -1;
};

class CDsPropFtpDet : public CDsPropPage
{
    Q_OBJECT
public:
    CDsPropFtpDet(KV_FtpManOpts* own, KV_FtpManOpts* parent);

    void LoadData() override;
    bool SaveData() override;
    KV_FtpManOpts* Target() const;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void OnConnMode();
    void OnUnreliable();

    KV_FtpManOpts* own;
    KV_FtpManOpts* parent;
    int conn_mode = 0;
    uint32_t tm_cmd = 1, tm_beg = 1, tm_ack = 1, tm_welcome = 0;
    uint32_t buff_send = 256, buff_recv = 256;
    int dtrans = 0, list_all = 0, list_links = 0, sz_unrel = 0;
    int use_append = 0, rest_get = 0, rest_put = 0;
};

#endif
