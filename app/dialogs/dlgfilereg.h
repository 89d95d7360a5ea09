#ifndef KIVREL_DIALOGS_DLGFILEREG_H
#define KIVREL_DIALOGS_DLGFILEREG_H

// The data source under which a file handed to the program is registered:
// the data sources of the file's type and server name, or a new one, and
// the file's path, which the user may edit. After OK the caller reads the
// file text and the chosen node info (valid while the dialog lives).
// User-interface thread only.

// Qt's headers first: moc reads the engine headers' standard includes only
// after Qt's have set the library's configuration macros.
#include "shell/kvdialog.h"

#include <QString>
#include <cstdint>
#include <memory>

#include "datasources/kv_dstreeinfo.h"
#include "datasources/kv_dstreenode.h"
#include "foundation/kv_string.h"

class CComboDs;

class CDlgFileReg : public CKVDialog
{
    Q_OBJECT
public:
    enum : int {
        IDC_FILE = 1062,
        IDC_DS = 1050,
        IDC_PROPERTIES = 1051,
    };

    // `type` and `name` select the data sources offered (a new one named
    // `name` is always among them; `secure` makes it use the secure variant
    // of its protocol); `path` is the file's path.
    CDlgFileReg(KV_DS_NODE_TYPE type, const KV_String& name, const KV_String& path, bool secure,
                QWidget* parent = nullptr);
    ~CDlgFileReg() override;

    const QString& GetFileText() const { return file_text; }
    // The chosen node info after OK, else null.
    const KV_DsTreeNodeInfo* GetSelInfo() const { return sel_info; }

    // The text of a node info in the list: the name, the file-manager
    // identifier when it names a live manager, " [ New ]" for a new node.
    static QString ItemText(const KV_DsTreeNodeInfo& info);

protected:
    void OnInitDialog() override;
    void OnOK() override;
    void exchange(bool save) override;
    // The property sheet of the selected data source (CKivrelApp::
    // EditProperties): on OK a data source of the tree is changed there and
    // in the lookup's clone the caller reads; a new one only in that clone.
    void OnProperties();

private:
    CComboDs* combo = nullptr;
    QString file_text;
    KV_DS_NODE_TYPE type;
    KV_String name;
    KV_String path;
    std::unique_ptr<KV_DsTreeInfo> lookup;
    uint8_t secure;
    const KV_DsTreeNodeInfo* sel_info = nullptr;
};

#endif
