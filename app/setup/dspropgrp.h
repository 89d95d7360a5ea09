#ifndef KIVREL_SETUP_DSPROPGRP_H
#define KIVREL_SETUP_DSPROPGRP_H

// The "Main" pages of the protocol groups (FTP, HTTP, SFTP and the folders
// inside them): the group's name and description, and the proxy through
// which its data sources connect (for FTP also the password of anonymous
// logins). Proxy and anonymous password are read from and written to the
// target group: the parent group while the page inherits, else the own one;
// name and description always belong to the own group. User-interface
// thread only.

// Qt's headers first (see props/dsprop.h).
#include "props/dsprop.h"

#include <QString>
#include <QStringList>
#include <cstdint>

class KV_DsTree;
class KV_DsTreeNodeGrp;
class KV_DsTreeNodeGrpFtp;
class KV_DsTreeNodeGrpHttp;
class KV_DsTreeNodeGrpSftp;
class KV_LoginData;
class KV_ProxyOpts;

// Name and description of a group.
class CDsPropGrpMain : public CDsPropPage
{
    Q_OBJECT
public:
    enum : int { IDC_NAME = 1094, IDC_COMMENT = 1024 };

    // The name may be edited unless the tree says the group is read-only
    // (the protocol groups themselves); `tree` null: the engine root's tree.
    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;

protected:
    CDsPropGrpMain(int template_id, KV_DsTreeNodeGrp* group, const KV_DsTree* tree);
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

    KV_DsTreeNodeGrp* const group;
    const KV_DsTree* const tree;
    QString name;
    QString comment;
};

// The proxy part the three protocol pages share.
class CDsPropGrpProxyMain : public CDsPropGrpMain
{
    Q_OBJECT
public:
    enum : int {
        IDC_TYPE = 1130,
        IDC_SERVER = 1127,
        IDC_PORT = 1129,
        IDC_USER = 1195,
        IDC_PASS = 1113,
    };

    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;

    // The proxy type the box shows.
    int ProxyType() const;

protected:
    CDsPropGrpProxyMain(int template_id, KV_DsTreeNodeGrp* group, KV_DsTreeNodeGrp* parent,
                        const QStringList& types, const KV_DsTree* tree);
    void DoDataExchange(CDataExchange& dx) override;
    // The box's selection changed.
    virtual void OnTypeChanged();

    // The group the proxy is read from and written to.
    KV_DsTreeNodeGrp* Target() const;
    // The target's proxy, its login and its type.
    virtual KV_ProxyOpts& Proxy() const = 0;
    virtual KV_LoginData& Login() const = 0;
    virtual int GetType() const = 0;
    virtual void SetType(int type) const = 0;
    // Where a page puts controls of its own above the proxy group.
    class QFormLayout* TopForm() const { return top_form; }
    class QFormLayout* ProxyForm() const { return proxy_form; }

    KV_DsTreeNodeGrp* const parent;
    int type = 0;
    QString server;
    uint32_t port = 0;
    QString user;
    QString pass;

private:
    class QFormLayout* top_form = nullptr;
    class QFormLayout* proxy_form = nullptr;
};

class CDsPropGrpFtpMain : public CDsPropGrpProxyMain
{
    Q_OBJECT
public:
    enum : int { IDD = 56, IDC_ANON_PASS = 1114, IDC_PASV = 1128 };
    // `parent` is the enclosing FTP group when this one may inherit, else
    // null; neither is owned.
    CDsPropGrpFtpMain(KV_DsTreeNodeGrpFtp* group, KV_DsTreeNodeGrpFtp* parent,
                      const KV_DsTree* tree = nullptr);

    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    // An HTTP proxy carries only passive data connections.
    void OnTypeChanged() override;
    KV_ProxyOpts& Proxy() const override;
    KV_LoginData& Login() const override;
    int GetType() const override;
    void SetType(int type) const override;

private:
    KV_DsTreeNodeGrpFtp* FtpTarget() const;
    QString anon_pass;
    int pasv = 1;
};

class CDsPropGrpHttpMain : public CDsPropGrpProxyMain
{
    Q_OBJECT
public:
    enum : int { IDD = 57 };
    CDsPropGrpHttpMain(KV_DsTreeNodeGrpHttp* group, KV_DsTreeNodeGrpHttp* parent,
                       const KV_DsTree* tree = nullptr);

protected:
    KV_ProxyOpts& Proxy() const override;
    KV_LoginData& Login() const override;
    int GetType() const override;
    void SetType(int type) const override;
};

class CDsPropGrpSftpMain : public CDsPropGrpProxyMain
{
    Q_OBJECT
public:
    enum : int { IDD = 58 };
    CDsPropGrpSftpMain(KV_DsTreeNodeGrpSftp* group, KV_DsTreeNodeGrpSftp* parent,
                       const KV_DsTree* tree = nullptr);

protected:
    KV_ProxyOpts& Proxy() const override;
    KV_LoginData& Login() const override;
    int GetType() const override;
    void SetType(int type) const override;
};

#endif
