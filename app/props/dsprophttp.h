#ifndef KIVREL_PROPS_DSPROPHTTP_H
#define KIVREL_PROPS_DSPROPHTTP_H

// The pages of the HTTP sheets: identity, security and authorisation of one
// HTTP/WebDAV data source ("Main"), its registered documents and folders
// ("Documents"), and its file-manager options ("Details"), which the HTTP
// group sheet shows too. User-interface thread only.

#include "props/dsprop.h"

#include <QString>
#include <cstdint>

class KV_DsTreeNodeHttp;
class KV_FileManHttpOpts;

class CDsPropHttpMain : public CDsPropPage
{
    Q_OBJECT
public:
    CDsPropHttpMain(KV_DsTreeNodeHttp* node, bool editable);

    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;
    // Server given; a user when authorisation is on with a method checked;
    // default folder empty or beginning with the separator.
    bool OnApply() override;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void OnAuth();
    void OnMethods();
    // Authorisation on with no method checked checks them all.
    void CheckAllIfNone();
    int CheckedMethods() const;

    KV_DsTreeNodeHttp* node;
    const bool editable;
    // Whether the tree calls the node read-only, as it was opened: the
    // clone's id changes with what the page saves into it.
    const bool name_rdonly;
    QString name, server, user, pass, def_path, comment;
    int security = 0;
    int auth = 0;
};

class CDsPropHttpDoc : public CDsPropPage
{
    Q_OBJECT
public:
    explicit CDsPropHttpDoc(KV_DsTreeNodeHttp* node);

    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;

    // The buttons' actions, as a click runs them.
    void OnAdd();
    void OnSet();
    void OnRemove();
    void OnRemoveAll();

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    // The typed path trimmed when it may be added: empty is refused
    // silently, a path not beginning with "/" with the error box.
    bool CheckPath(QString& path);
    bool InList(const QString& path) const;
    void OnSelChange();

    KV_DsTreeNodeHttp* node;
    QString path;
    int update_docs = 0;
};

class CDsPropHttpAdv : public CDsPropPage
{
    Q_OBJECT
public:
    CDsPropHttpAdv(KV_FileManHttpOpts* own, KV_FileManHttpOpts* parent);

    void LoadData() override;
    bool SaveData() override;
    KV_FileManHttpOpts* Target() const;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void OnVersion();

    KV_FileManHttpOpts* own;
    KV_FileManHttpOpts* parent;
    uint32_t min_frag = 0, ntavos = 1, scan_cache = 0, tm_hdr = 1;
    uint32_t buff_send = 256, buff_recv = 256;
    int resume_get = 0, resume_put = 0, persistent = 0, auto_mkdir = 0;
    int version = -1;
};

#endif
