#ifndef KIVREL_DIALOGS_DLGCHDIR_H
#define KIVREL_DIALOGS_DLGCHDIR_H

// Two dialogs that collect one text for a browse pane: the folder to change
// to, and a raw command to send to the server. The caller reads the text
// after OK. User-interface thread only.

#include "shell/kvdialog.h"

#include <QString>

class CDlgChdir : public CKVDialog
{
    Q_OBJECT
public:
    enum : int { IDC_FOLDER = 1115 };

    explicit CDlgChdir(QWidget* parent = nullptr);

    // The folder as typed; before OK the text the caller set.
    QString folder;

protected:
    void exchange(bool save) override;
};

class CDlgUsrDefCmd : public CKVDialog
{
    Q_OBJECT
public:
    enum : int { IDC_COMMAND = 1021 };

    explicit CDlgUsrDefCmd(QWidget* parent = nullptr);

    QString command;

protected:
    void exchange(bool save) override;
};

#endif
