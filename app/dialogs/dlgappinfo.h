#ifndef KIVREL_DIALOGS_DLGAPPINFO_H
#define KIVREL_DIALOGS_DLGAPPINFO_H

// The application's own small dialogs: an information text or a yes/no
// question that the user can switch off for good (remembered per key in the
// "UI" settings), and the countdown before the program closes or the
// computer shuts down or suspends. Controls are named by their ids
// (objectName "1044" and so on). User-interface thread only.

#include <QDialog>
#include <QString>
#include <QTimer>
#include <cstdint>

class CVersionInfo;
class QCheckBox;
class QLabel;
class QProgressBar;

class CDlgAppInfo : public QDialog
{
    Q_OBJECT
public:
    // `question`: the question form ("&Yes"/"&No"). An empty `key` shows the
    // text always, without the check box.
    CDlgAppInfo(const QString& key, const QString& text, bool question, bool checked,
                QWidget* parent);

    // Whether the text of `key` is shown: an empty key always, else the
    // "UI" value of the key (default 1) is not 0.
    static bool IsEnabled(const QString& key);
    // Shows the text of the string `text_id` unless switched off; whether it
    // was shown.
    static bool Info(const QString& key, uint32_t text_id, QWidget* parent, bool checked = false);
    // Asks the question of the string `text_id`; a switched-off question
    // answers `def_yes` without a window. True for Yes.
    static bool Ask(const QString& key, uint32_t text_id, QWidget* parent, bool checked,
                    bool def_yes);

    void accept() override;

private:
    QString key;
    QCheckBox* box = nullptr;
};

// The notice of a newer program version. As an offer it has "&Ignore"
// (Cancel) and "&Download" (OK, the default); as a notice only "&OK".
class CDlgAppUpdate : public QDialog
{
    Q_OBJECT
public:
    CDlgAppUpdate(const QString& text, bool notice_only, QWidget* parent);
};

// The program's name, version, copyright and build time.
class CDlgAbout : public QDialog
{
    Q_OBJECT
public:
    // `info` is read in the constructor only.
    CDlgAbout(const CVersionInfo& info, QWidget* parent);

    // "Productname", the version, and "SpecialBuild" when there is one.
    static QString TitleLine(const CVersionInfo& info);
    // "LegalCopyright", three blanks, "CompanyName"; "(C)" becomes the sign.
    static QString CopyrightLine(const CVersionInfo& info);
    // "Comments" with each pair of blanks as a line break (CR LF), then the
    // build time (`date` and `time` as the compiler writes them).
    static QString Description(const CVersionInfo& info, const char* date, const char* time);

    QString Title() const { return title; }
    QString Copyright() const { return copyright; }
    QString Desc() const { return desc; }

private:
    QString title;
    QString copyright;
    QString desc;
};

// The countdown of 30 seconds; OK when it ran out or the user pressed OK.
class CDlgShutdown : public QDialog
{
    Q_OBJECT
public:
    // `kind` 1 closes the program, 2 shuts the computer down, 3 suspends it.
    CDlgShutdown(int kind, QWidget* parent);

    // One second passed; at 0 the dialog ends with OK.
    void Tick();
    uint32_t SecondsLeft() const { return left; }
    QString Text() const;
    int Progress() const;

    // Runs the dialog; whether it ended with OK.
    static bool Run(int kind, QWidget* parent);

    void done(int result) override;

private:
    void Show();

    QLabel* text = nullptr;
    QProgressBar* progress = nullptr;
    QTimer timer;
    uint32_t left = 30;
    int kind;
};

#endif
