#ifndef KIVREL_DIALOGS_DLGFILEPROP_H
#define KIVREL_DIALOGS_DLGFILEPROP_H

// The properties of one directory entry: name, server, time and size, and
// where the protocol has them its access rights: Unix permission bits on FTP
// and SFTP servers, the attribute letters of local files. The dialogs change
// nothing themselves: after OK the caller asks for the new rights and
// whether they changed, and starts the change request.
// User-interface thread only.

// Qt's headers first: moc reads the engine headers' standard includes only
// after Qt's have set the library's configuration macros.
#include "shell/kvdialog.h"

#include <QString>
#include <cstdint>

#include "foundation/kv_filedata.h"
#include "foundation/kv_string.h"

class QCheckBox;
class QGridLayout;
class QVBoxLayout;

// The dialog for entries without editable rights, and the base of the others.
class CDlgFileProp : public CKVDialog
{
    Q_OBJECT
public:
    enum : int {
        IDC_NAME = 1055,
        IDC_SERVER = 1156,
        IDC_SERVER_LABEL = 1162,
        IDC_TIME = 1090,
        IDC_SIZE = 1064,
    };

    // `entry` (not owned) must outlive the dialog. `server` empty: the
    // server line is hidden.
    CDlgFileProp(const KV_FileDataExt& entry, const QString& server, const QString& file_name,
                 QWidget* parent);

    const QString& GetTimeText() const { return time_text; }
    const QString& GetSizeText() const { return size_text; }

protected:
    CDlgFileProp(int template_id, const KV_FileDataExt& entry, const QString& server,
                 const QString& file_name, QWidget* parent);

    // Adds the OK and Cancel buttons under the controls; each dialog calls it
    // last in its constructor.
    void FinishLayout();
    QCheckBox* AddBox(QGridLayout* grid, int id, const char* text, int row, int column);

    QVBoxLayout* layout_main = nullptr;
    const KV_FileDataExt& entry;
    QString server;
    QString file_name;
    QString time_text;
    QString size_text;
};

// Permission bits of an entry on a Unix-like server; `special` adds the Set
// UID, Set GID and Sticky boxes.
class CDlgFilePropUnix : public CDlgFileProp
{
    Q_OBJECT
public:
    enum : int {
        IDC_USER = 1195,
        IDC_GROUP = 1068,
        IDC_OCTAL = 1120,
        IDC_OWNER_R = 1109,
        IDC_OWNER_W = 1110,
        IDC_OWNER_X = 1111,
        IDC_GROUP_R = 1069,
        IDC_GROUP_W = 1070,
        IDC_GROUP_X = 1071,
        IDC_OTHER_R = 1106,
        IDC_OTHER_W = 1107,
        IDC_OTHER_X = 1108,
        IDC_SETUID = 1165,
        IDC_SETGID = 1164,
        IDC_STICKY = 1169,
    };

    // The octal text of the boxes and the new ten-character access string.
    // Special bits the dialog has no boxes for (SFTP) keep their listed
    // state in both. True when the access string differs from the entry's. An entry whose
    // access string could not be read (not ten characters) reports no
    // change and an empty string: its boxes never showed its rights, so OK
    // must not send them.
    bool GetPermissions(QString& octal, KV_String& accf) const;

protected:
    CDlgFilePropUnix(int template_id, bool special, const KV_FileDataExt& entry,
                     const QString& server, const QString& file_name, QWidget* parent);

    void exchange(bool save) override;
    // The octal edit changed: the boxes follow, while octal updates are
    // allowed.
    void OnOctalChanged();
    // A box was clicked: the octal edit follows.
    void OnBoxClicked();

private:
    uint32_t BoxBits() const;
    void SetBoxes(uint32_t value);

    const bool special;
    const uint32_t mask;
    bool readable = false;
    // The bits the boxes showed when the dialog was accepted (or opened).
    uint32_t bits = 0;
    // Listed special bits without boxes, sent back unchanged.
    uint32_t kept = 0;
    uint8_t octal_updates = 1;
};

class CDlgFilePropFtp : public CDlgFilePropUnix
{
    Q_OBJECT
public:
    CDlgFilePropFtp(const KV_FileDataExt& entry, const QString& server, const QString& file_name,
                    QWidget* parent);
};

class CDlgFilePropSftp : public CDlgFilePropUnix
{
    Q_OBJECT
public:
    CDlgFilePropSftp(const KV_FileDataExt& entry, const QString& server, const QString& file_name,
                     QWidget* parent);
};

// The attributes of a local file.
class CDlgFilePropStd : public CDlgFileProp
{
    Q_OBJECT
public:
    enum : int {
        IDC_READONLY = 1134,
        IDC_HIDDEN = 1072,
        IDC_SYSTEM = 1173,
        IDC_ARCHIVE = 1007,
    };

    CDlgFilePropStd(const KV_FileDataExt& entry, const QString& file_name, QWidget* parent);

    // The letters of the checked boxes in the order R, H, S, A, in both
    // outputs; true when they differ from the entry's attribute text.
    bool GetAttributes(KV_String& letters, KV_String& copy) const;

protected:
    void exchange(bool save) override;

private:
    uint32_t attrs = 0;
};

#endif
