#ifndef KIVREL_CORE_SETTINGS_H
#define KIVREL_CORE_SETTINGS_H

// The program's settings and the engine's table of well-known folders.
//
// The user's settings are an INI file, $XDG_CONFIG_HOME/kivrel/kivrel.conf
// (default ~/.config), with the sections "Init" (folders and files) and "UI"
// (switches that default to 1). The machine-wide settings that installing
// writes ("MainExe", "Data", "UserInst" in "Init") are read from
// kivrel/kivrel.conf in the first folder of $XDG_CONFIG_DIRS (default
// /etc/xdg) that has one, else from the kivrel.conf beside the program, which
// the build writes; nothing here writes machine-wide settings.
//
// Any thread may read and write the user's settings (QSettings on one file
// path is safe across threads); InitSettings runs once at start-up on the
// user-interface thread before any engine thread exists.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

// The folders the settings depend on, taken from the process environment
// (FromProcess) or set by a test.
struct CSettingsEnv
{
    // The user's settings file.
    QString user_conf;
    // Machine-wide settings files, the first existing one counts.
    QStringList machine_confs;
    // The base of the user's data folder ($XDG_CONFIG_HOME's sibling
    // $XDG_DATA_HOME); empty when neither it nor $HOME is known.
    QString data_home;
    // The system's temporary folder ($TMPDIR, else /tmp).
    QString tmp;

    // From $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS, $XDG_DATA_HOME, $HOME, $TMPDIR
    // and the folder of the running program (/proc/self/exe).
    static CSettingsEnv FromProcess();
};

// The environment the profile functions below use; FromProcess until a test
// sets another one. Set it before any thread reads settings.
const CSettingsEnv& SettingsEnv();
void SetSettingsEnv(const CSettingsEnv& env);

// The user's settings, as the program's other windows read and write them.
QString GetProfileString(const QString& section, const QString& key,
                         const QString& def = QString());
int GetProfileInt(const QString& section, const QString& key, int def);
QByteArray GetProfileBinary(const QString& section, const QString& key);
bool WriteProfileString(const QString& section, const QString& key, const QString& value);
bool WriteProfileInt(const QString& section, const QString& key, int value);
bool WriteProfileBinary(const QString& section, const QString& key, const QByteArray& value);

// A machine-wide value of "Init" from the first machine-wide file that
// exists; a null QVariant when there is none or it lacks the value.
QVariant GetMachineValue(const QString& key);

// The pass phrase that the program's own key file is made with.
inline constexpr const char* KV_DEFAULT_KEY_PASS = "quondrel";

// Fills the engine's table of well-known folders from the settings, and on
// a user's first run makes the user's folders and copies the installed
// files into the user's data folder. Files already in the user's data
// folder are never replaced, on the first run neither: a kept data-source
// file survives. Each failure is reported once through `report` (a message
// for the user, such as "Invalid path (/x)."), and the result is false;
// values written before the failing step stay written.
bool InitSettings(const std::function<void(const QString&)>& report);

#endif
