#include "core/settings.h"

#include "foundation/kv_file.h"
#include "foundation/kv_string.h"
#include "net/kv_sslctx.h"

#include <QByteArray>
#include <QFileInfo>
#include <QSettings>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex env_lock;
CSettingsEnv* env_now = nullptr;

QString EnvFolder(const char* name)
{
    const QByteArray value = qgetenv(name);
    // The XDG rules ignore relative paths.
    if (value.isEmpty() || value.at(0) != '/') {
        return QString();
    }
    return QString::fromUtf8(value);
}

QString ProgramFolder()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) {
        return QString();
    }
    buf[n] = '\0';
    return QFileInfo(QString::fromUtf8(buf)).absolutePath();
}

QString Key(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

// Without trailing '/' (a lone "/" stays the root).
QString TrimSeps(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return path;
}

KV_String ToKv(const QString& text)
{
    return KV_String(text.toUtf8().constData());
}

QString FromKv(const KV_String& text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.length()));
}

bool IsDir(const QString& path)
{
    struct stat st
    {
    };
    return stat(path.toUtf8().constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const QString& path)
{
    return !path.isEmpty() && KV_File::exists(ToKv(path));
}

// Creates `path` and the folders above it that are missing: a fresh account
// has no ~/.local/share yet.
bool MakeFolders(const QString& path)
{
    if (path.isEmpty() || IsDir(path)) {
        return !path.isEmpty();
    }
    const QString parent = QFileInfo(path).path();
    if (parent != path && !IsDir(parent)) {
        MakeFolders(parent);
    }
    KV_File::mkdir(ToKv(path));
    return IsDir(path);
}

// Copies `src` to `dst` unless something named `dst` exists: the copy goes
// to a new name first and is linked in, so an existing file is never
// replaced and an interrupted copy leaves no half file under `dst`.
// True when `dst` existed or was made.
bool CopyNew(const QString& src, const QString& dst)
{
    const QByteArray dst8 = dst.toUtf8();
    struct stat st
    {
    };
    if (lstat(dst8.constData(), &st) == 0) {
        return true;
    }
    const QByteArray tmp8 = dst8 + ".new" + QByteArray::number(getpid());
    unlink(tmp8.constData());
    bool ok = KV_File::copy(ToKv(src), KV_String(tmp8.constData()), 0, 0, 0);
    if (ok && link(tmp8.constData(), dst8.constData()) != 0) {
        ok = errno == EEXIST;
    }
    unlink(tmp8.constData());
    return ok;
}

// Copies every file of `from` that `to` lacks. False at the first failure.
bool CopyInitial(const QString& from, const QString& to)
{
    DIR* dir = opendir(from.toUtf8().constData());
    if (!dir) {
        return false;
    }
    bool ok = true;
    while (ok) {
        const dirent* ent = readdir(dir);
        if (!ent) {
            break;
        }
        const QString name = QString::fromUtf8(ent->d_name);
        if (name == QLatin1String(".") || name == QLatin1String("..")) {
            continue;
        }
        const QString src = from + QLatin1Char('/') + name;
        struct stat st
        {
        };
        if (stat(src.toUtf8().constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        ok = CopyNew(src, to + QLatin1Char('/') + name);
    }
    closedir(dir);
    return ok;
}

QString InvalidPath(const QString& path)
{
    return QStringLiteral("Invalid path (%1).").arg(path);
}

QString InvalidKey(const QString& key)
{
    return QStringLiteral("Invalid path (registry key: %1).").arg(key);
}

// One "Init" value naming a file or folder of the user's data folder:
// read, or derived as user folder + `name` when empty; written back.
// `must_exist` checks the file; `folder` creates the folder first.
// `derived` (when given) tells whether the value had to be derived.
bool InitPath(const QString& key, const char* name, KV_PATH_TYPE type, bool must_exist, bool folder,
              const std::function<void(const QString&)>& report, bool* derived = nullptr)
{
    QString value = GetProfileString(QStringLiteral("Init"), key);
    if (derived) {
        *derived = value.isEmpty();
    }
    if (value.isEmpty()) {
        value = FromKv(KV_File::path(KV_PATH_SETTINGS, true)) + QLatin1String(name);
    }
    if (value.isEmpty()) {
        report(InvalidKey(key));
        return false;
    }
    if (folder) {
        MakeFolders(value);
    }
    if ((folder && !IsDir(value)) || (must_exist && !Exists(value))) {
        report(InvalidPath(value));
        return false;
    }
    WriteProfileString(QStringLiteral("Init"), key, value);
    KV_File::set_path(type, ToKv(value));
    return true;
}

} // namespace

CSettingsEnv CSettingsEnv::FromProcess()
{
    CSettingsEnv env;
    const QString home = EnvFolder("HOME");
    QString config_home = EnvFolder("XDG_CONFIG_HOME");
    if (config_home.isEmpty() && !home.isEmpty()) {
        config_home = home + QStringLiteral("/.config");
    }
    if (!config_home.isEmpty()) {
        env.user_conf = config_home + QStringLiteral("/kivrel/kivrel.conf");
    }
    QString dirs = QString::fromUtf8(qgetenv("XDG_CONFIG_DIRS"));
    if (dirs.isEmpty()) {
        dirs = QStringLiteral("/etc/xdg");
    }
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (dir.startsWith(QLatin1Char('/'))) {
            env.machine_confs << TrimSeps(dir) + QStringLiteral("/kivrel/kivrel.conf");
        }
    }
    const QString program = ProgramFolder();
    if (!program.isEmpty()) {
        env.machine_confs << program + QStringLiteral("/kivrel.conf");
    }
    env.data_home = EnvFolder("XDG_DATA_HOME");
    if (env.data_home.isEmpty() && !home.isEmpty()) {
        env.data_home = home + QStringLiteral("/.local/share");
    }
    env.tmp = EnvFolder("TMPDIR");
    if (env.tmp.isEmpty()) {
        env.tmp = QStringLiteral("/tmp");
    }
    return env;
}

const CSettingsEnv& SettingsEnv()
{
    std::lock_guard<std::mutex> guard(env_lock);
    if (!env_now) {
        env_now = new CSettingsEnv(CSettingsEnv::FromProcess());
    }
    return *env_now;
}

void SetSettingsEnv(const CSettingsEnv& env)
{
    std::lock_guard<std::mutex> guard(env_lock);
    if (!env_now) {
        env_now = new CSettingsEnv(env);
    } else {
        *env_now = env;
    }
}

QString GetProfileString(const QString& section, const QString& key, const QString& def)
{
    QSettings s(SettingsEnv().user_conf, QSettings::IniFormat);
    const QVariant v = s.value(Key(section, key));
    if (!v.isValid()) {
        return def;
    }
    // An unquoted value with commas comes back as a list.
    if (v.typeId() == QMetaType::QStringList) {
        return v.toStringList().join(QLatin1Char(','));
    }
    return v.toString();
}

int GetProfileInt(const QString& section, const QString& key, int def)
{
    QSettings s(SettingsEnv().user_conf, QSettings::IniFormat);
    bool ok = false;
    const int value = s.value(Key(section, key)).toInt(&ok);
    return ok ? value : def;
}

QByteArray GetProfileBinary(const QString& section, const QString& key)
{
    QSettings s(SettingsEnv().user_conf, QSettings::IniFormat);
    return s.value(Key(section, key)).toByteArray();
}

namespace {

template <class T> bool WriteValue(const QString& section, const QString& key, const T& value)
{
    if (SettingsEnv().user_conf.isEmpty()) {
        return false;
    }
    QSettings s(SettingsEnv().user_conf, QSettings::IniFormat);
    s.setValue(Key(section, key), value);
    s.sync();
    return s.status() == QSettings::NoError;
}

} // namespace

bool WriteProfileString(const QString& section, const QString& key, const QString& value)
{
    return WriteValue(section, key, value);
}

bool WriteProfileInt(const QString& section, const QString& key, int value)
{
    return WriteValue(section, key, value);
}

bool WriteProfileBinary(const QString& section, const QString& key, const QByteArray& value)
{
    return WriteValue(section, key, value);
}

QVariant GetMachineValue(const QString& key)
{
    for (const QString& path : SettingsEnv().machine_confs) {
        if (QFileInfo::exists(path)) {
            QSettings s(path, QSettings::IniFormat);
            return s.value(Key(QStringLiteral("Init"), key));
        }
    }
    return QVariant();
}

bool InitSettings(const std::function<void(const QString&)>& report)
{
    // 1, 2: the program's folder and the installed data folder.
    bool installed = false;
    for (const QString& path : SettingsEnv().machine_confs) {
        installed = installed || QFileInfo::exists(path);
    }
    if (installed) {
        const QVariant exe = GetMachineValue(QStringLiteral("MainExe"));
        if (exe.isValid()) {
            if (exe.typeId() != QMetaType::QString) {
                installed = false;
            } else {
                QString folder = exe.toString();
                folder.truncate(std::max<qsizetype>(folder.lastIndexOf(QLatin1Char('/')), 0));
                folder = TrimSeps(folder);
                installed = !folder.isEmpty() && KV_File::set_path(KV_PATH_PROGRAM, ToKv(folder));
            }
        }
    }
    if (installed) {
        const QVariant data = GetMachineValue(QStringLiteral("Data"));
        const QString folder =
            data.typeId() == QMetaType::QString ? TrimSeps(data.toString()) : QString();
        installed = !folder.isEmpty() && KV_File::set_path(KV_PATH_DATA, ToKv(folder));
    }
    // 3.
    if (!installed) {
        report(QStringLiteral("Kivrel is not installed properly."));
        return false;
    }

    // 4: the user's data folder. It is named after the program rather than
    // after the installed folder, as the other programs of the desktop do.
    QString user = TrimSeps(GetProfileString(QStringLiteral("Init"), QStringLiteral("Data")));
    if (user.isEmpty()) {
        const QString base = TrimSeps(SettingsEnv().data_home);
        if (base.isEmpty()) {
            return false;
        }
        user = base + QStringLiteral("/kivrel");
    }
    MakeFolders(user);
    if (!IsDir(user)) {
        report(InvalidPath(user));
        return false;
    }
    KV_File::set_path(KV_PATH_SETTINGS, ToKv(user));

    // 5: the installed files the user lacks.
    const QString user_dir = FromKv(KV_File::path(KV_PATH_SETTINGS, false));
    const QString inst_dir = FromKv(KV_File::path(KV_PATH_DATA, false));
    if (user_dir != inst_dir) {
        if (!CopyInitial(inst_dir, user_dir)) {
            report(QStringLiteral("An error occured while copying initial settings."));
            return false;
        }
    }
    WriteProfileString(QStringLiteral("Init"), QStringLiteral("Data"), user_dir);

    // 6 to 10.
    bool key_derived = false;
    if (!InitPath(QStringLiteral("Temp"), "requests", KV_PATH_TMP, false, true, report) ||
        !InitPath(QStringLiteral("SSLCas"), "ca-bundle.pem", KV_PATH_CA_FILE, true, false,
                  report) ||
        !InitPath(QStringLiteral("TrustedCerts"), "trusted-certs.bin", KV_PATH_SRV_CERTS, false,
                  false, report) ||
        !InitPath(QStringLiteral("TrustedPKs"), "trusted-pks.bin", KV_PATH_HOST_KEYS, false, false,
                  report) ||
        !InitPath(QStringLiteral("SSLKey"), "self.pem", KV_PATH_CERT_FILE, true, false, report,
                  &key_derived)) {
        return false;
    }
    if (key_derived) {
        const KV_String pass = KV_String(KV_DEFAULT_KEY_PASS).encrypt_bf(KV_SSLCtx::bf_key);
        WriteProfileString(QStringLiteral("Init"), QStringLiteral("SSLKeypass"), FromKv(pass));
    }

    // 11, 12: values, not paths.
    const KV_String stored =
        ToKv(GetProfileString(QStringLiteral("Init"), QStringLiteral("SSLKeypass")));
    KV_File::set_path(KV_PATH_KEY_PASS, stored.decrypt_bf(KV_SSLCtx::bf_key));
    KV_File::set_path(KV_PATH_CIPHERS,
                      ToKv(GetProfileString(QStringLiteral("Init"), QStringLiteral("SSLCiphers"))));

    // 13.
    KV_File::set_path(KV_PATH_SYS_TMP, ToKv(SettingsEnv().tmp));
    return true;
}
