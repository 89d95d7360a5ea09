#ifndef KIVREL_SETUP_DLGTRUST_H
#define KIVREL_SETUP_DLGTRUST_H

// The entries of one of the engine's trust stores (the trusted server
// certificates, or the known SSH host keys), from which the user removes
// entries. The removals reach the store only with OK; Cancel keeps every
// entry. User-interface thread only.

// Qt's headers first (see dialogs/dlgtranspar.h).
#include "shell/kvdialog.h"

#include <QList>
#include <QString>
#include <cstdint>

class KV_CKMan;

class CDlgTrust : public CKVDialog
{
    Q_OBJECT
public:
    enum : int {
        IDD_CERTS = 84,
        IDD_KEYS = 85,
        IDC_LIST = 1078,
        IDC_REMOVE = 1037,
        IDC_REMOVE_ALL = 1038,
    };

    // `template_id` IDD_CERTS or IDD_KEYS picks the title; `store` is not
    // owned and must outlive the dialog. An empty `col3` means two columns.
    CDlgTrust(int template_id, KV_CKMan& store, const QString& col2, const QString& col3,
              QWidget* parent);

    // The ids removed from the list so far.
    const QList<uint32_t>& RemovedIds() const { return removed; }

protected:
    void OnInitDialog() override;
    // Deletes the removed ids from the store (which saves its file).
    void OnOK() override;
    // The question before every row goes; true for Yes.
    virtual bool AskRemoveAll();

private:
    void OnRemove();
    void OnRemoveAll();
    void UpdateButtons();

    KV_CKMan& store;
    QList<uint32_t> removed;
};

#endif
