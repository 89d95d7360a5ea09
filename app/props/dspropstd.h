#ifndef KIVREL_PROPS_DSPROPSTD_H
#define KIVREL_PROPS_DSPROPSTD_H

// The local computer's main page and the layout page that every data-source
// and protocol-group sheet carries: which panes a browse window opened on
// the data source shows, and which second data source opens beside it.
// User-interface thread only.

#include "props/dsprop.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/kv_ids.h"

class KV_DsTreeInfo;
class KV_DsTreeNodeStd;
class KV_FileManOpts;

class CDsPropStdMain : public CDsPropPage
{
    Q_OBJECT
public:
    CDsPropStdMain(KV_DsTreeNodeStd* node, bool editable);

    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    KV_DsTreeNodeStd* node;
    const bool editable;
    // Whether the tree calls the node read-only, as it was opened: the
    // clone's id changes with what the page saves into it.
    const bool name_rdonly;
    QString name, comment, def_path;
    uint32_t ntavos = 1;
    int recycle = 0;
};

class CDsPropLayout : public CDsPropPage
{
    Q_OBJECT
public:
    // The own options and the parent group's (null: none); not owned.
    CDsPropLayout(KV_FileManOpts* own, KV_FileManOpts* parent);
    ~CDsPropLayout() override;

    // The base rule; then a side without any pane gets its tree checked,
    // the last checked pane of a side cannot be unchecked, and the second
    // side's panes need a data source chosen.
    bool IsCtrlEnabled(int id) const override;
    void LoadData() override;
    bool SaveData() override;
    KV_FileManOpts* Target() const;

protected:
    void OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;

private:
    void OnChanged();
    bool Checked(int id) const;
    // Whether the box shows a data source, not "<disabled>".
    bool OtherChosen() const;

    KV_FileManOpts* own;
    KV_FileManOpts* parent;
    // Owns the nodes' list the box was filled from, as long as the page.
    std::unique_ptr<KV_DsTreeInfo> info;
    // The ids of the box's items, taken when it was filled: the tree may
    // change while the sheet is open, the ids stay what the user saw.
    std::vector<KV_DsId> item_ids;
    int panes[6] = {}; // 1088, 1087, 1086, 1149, 1148, 1147
    int other = -1;    // the box's index
};

#endif
