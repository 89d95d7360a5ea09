#ifndef KIVREL_PROPS_DSPROPSFTP_H
#define KIVREL_PROPS_DSPROPSFTP_H

// The pages of the SFTP sheets: the identity and login of one SFTP data
// source ("Main") and its file-manager options with the SSH ciphers it may
// use ("Details"), which the SFTP group sheet shows too. User-interface
// thread only.

#include "props/dsprop.h"

#include <QString>
#include <cstdint>

class KV_DsTreeNodeSftp;
class KV_FileManSftpOpts;

class CDsPropSftpMain : public CDsPropPage
{
    Q_OBJECT
public:
    CDsPropSftpMain(KV_DsTreeNodeSftp* node, bool editable);

    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;
    // Server given, user given (blanks do not count), default folder empty
    // or beginning with the data source's separator.
    bool OnApply() override;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    KV_DsTreeNodeSftp* node;
    const bool editable;
    // Whether the tree calls the node read-only, as it was opened: the
    // clone's id changes with what the page saves into it.
    const bool name_rdonly;
    QString name, server, user, pass, def_path, comment;
};

class CDsPropSftpAdv : public CDsPropPage
{
    Q_OBJECT
public:
    CDsPropSftpAdv(KV_FileManSftpOpts* own, KV_FileManSftpOpts* parent);

    void LoadData() override;
    bool SaveData() override;
    // At least one cipher must stay allowed.
    bool OnApply() override;
    KV_FileManSftpOpts* Target() const;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    KV_FileManSftpOpts* own;
    KV_FileManSftpOpts* parent;
    uint32_t min_frag = 0, ntavos = 1, scan_cache = 0, tm_msg = 1;
    uint32_t buff_send = 256, buff_recv = 256;
    int resume_get = 0, resume_put = 0, compress = 0, aggr_read = 0, aggr_write = 0;
};

#endif
