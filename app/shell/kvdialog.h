#ifndef KIVREL_SHELL_KVDIALOG_H
#define KIVREL_SHELL_KVDIALOG_H

#include "shell/paneclass.h"

#include <QDialog>
#include <QString>

// Base of every dialog and dialog-like pane of the program.
//
// A dialog builds its controls in its constructor and names each control by
// its numeric id (objectName "1001"), so that exchange and the tests find it
// with Item. It moves values between its members and its controls in one
// place, exchange: with `save` false into the controls when the dialog is
// first shown, with `save` true out of them when it is accepted.
// User-interface thread only.
class CKVDialog : public QDialog
{
    Q_OBJECT
public:
    static const CRuntimeClass classCKVDialog;

    // `template_id` names the dialog among the program's dialogs (0: none).
    explicit CKVDialog(int template_id = 0, QWidget* parent = nullptr);
    ~CKVDialog() override;

    int GetTemplateId() const { return template_id; }

    // The control whose objectName is `id`, of type T, or null.
    template <class T = QWidget> T* Item(int id) const
    {
        return findChild<T*>(QString::number(id));
    }

    // Moves the values of the controls: into them (`save` false) or out of
    // them (`save` true). Derived dialogs call the base first, then move
    // their own; the base moves nothing.
    virtual void exchange(bool save);

    // Accepting runs OnOK, rejecting OnCancel, so that dialogs override the
    // handlers and keep Qt's ways of closing.
    void accept() override;
    void reject() override;

protected:
    // The dialog is about to be shown the first time. The base fills the
    // controls (exchange(false)).
    virtual void OnInitDialog();
    // The base saves the controls (exchange(true)) and closes with Accepted.
    virtual void OnOK();
    // The base closes with Rejected.
    virtual void OnCancel();

    void showEvent(QShowEvent* event) override;

private:
    const int template_id;
    bool initialised = false;
};

#endif
