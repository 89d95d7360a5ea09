#ifndef KIVREL_DIALOGS_DLGFILETRANS_H
#define KIVREL_DIALOGS_DLGFILETRANS_H

// Confirms one file copy handed to the program from outside its browse
// windows: the source file and the data source serving it, the destination
// file and the data source receiving it (either may be a new data source),
// and the copy parameters. After OK the caller reads the chosen node infos
// (valid while the dialog lives), both file texts and the parameters, makes
// the new data sources it needs and starts the copy.
// User-interface thread only.

// Qt's headers first: moc reads the engine headers' standard includes only
// after Qt's have set the library's configuration macros.
#include "shell/kvdialog.h"

#include <QString>
#include <cstdint>
#include <memory>

#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenode.h"
#include "datasources/kv_filereqtransparams.h"
#include "foundation/kv_string.h"

class CComboDs;
class QLineEdit;
class QPushButton;

class CDlgFileTrans : public CKVDialog
{
    Q_OBJECT
public:
    enum : int {
        IDC_SRC_FILE = 1062,
        IDC_SRC_DS = 1050,
        IDC_SRC_PROPS = 1051,
        IDC_DST_FILE = 1056,
        IDC_BROWSE = 1058,
        IDC_DST_DS = 1047,
        IDC_DST_PROPS = 1048,
        IDC_EXTENDED = 1054,
    };

    // `src_lookup` also offers the source's secure variant; `dst_fixed`
    // locks the destination side (its data source, its properties and the
    // copy parameters).
    CDlgFileTrans(KV_DS_NODE_TYPE src_type, const KV_String& src_name, const KV_String& src_path,
                  KV_DS_NODE_TYPE dst_type, const KV_String& dst_name, const KV_String& dst_path,
                  bool src_lookup, bool dst_fixed, QWidget* parent = nullptr);
    ~CDlgFileTrans() override;

    const KV_DsTreeNodeInfo* GetSrcInfo() const { return src_sel; }
    const KV_DsTreeNodeInfo* GetDstInfo() const { return dst_sel; }
    const KV_String& GetSrcPath() const { return src_path; }
    const KV_String& GetDstPath() const { return dst_path; }
    const KV_FileReqTransParamsCp& GetParams() const { return params; }
    // Whether the destination text names a file rather than a folder.
    bool DestNamesFile() const { return dst_names_file != 0; }

    // The text of a node info in a box: its name, the manager's id when it
    // names a live manager, "[ New ]" for a new node.
    static QString ItemText(const KV_DsTreeNodeInfo& info);

protected:
    void OnInitDialog() override;
    void OnOK() override;

private:
    void OnSrcSelected();
    void OnDstSelected();
    void OnSrcEdited();
    void OnDstEdited();
    void OnBrowse();
    void OnExtended();
    // The property sheet of the side's selected data source (CKivrelApp::
    // EditProperties): on OK a data source of the tree changes there and in
    // the lookup's clone the caller reads; a new one only in that clone. A
    // running instance has no sheet: its button is greyed.
    void OnProperties(bool source);
    void SetDestText(const KV_String& text);
    const KV_DsTreeNodeInfo* Selected(const CComboDs* box, const KV_DsTreeInfo* lookup) const;

    QPushButton* browse = nullptr;
    CComboDs* src_box = nullptr;
    CComboDs* dst_box = nullptr;
    QLineEdit* src_edit = nullptr;
    QLineEdit* dst_edit = nullptr;
    QPushButton* src_props = nullptr;
    QPushButton* dst_props = nullptr;
    QPushButton* extended = nullptr;
    uint8_t dst_names_file = 1;
    uint8_t dst_fixed;
    KV_String src_name;
    KV_String dst_name;
    KV_String src_path;
    KV_String dst_path;
    std::unique_ptr<KV_DsTreeInfo> src_lookup_info;
    std::unique_ptr<KV_DsTreeInfo> dst_lookup_info;
    KV_DS_NODE_TYPE src_type;
    KV_DS_NODE_TYPE dst_type;
    KV_FileReqTransParamsCp params;
    const KV_DsTreeNodeInfo* src_sel = nullptr;
    const KV_DsTreeNodeInfo* dst_sel = nullptr;
    uint8_t src_lookup;
    // Set while the dialog writes the destination text itself.
    bool setting_dest = false;
};

#endif
