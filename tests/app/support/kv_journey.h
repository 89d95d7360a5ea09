#ifndef KV_TESTS_APP_SUPPORT_KV_JOURNEY_H
#define KV_TESTS_APP_SUPPORT_KV_JOURNEY_H

// What a journey through the whole program needs: a home of its own with
// empty XDG folders, starts of the program as a process on an X server, and
// a screenshot of each step with an index page that shows them in order.
//
// A start is this test program run again without arguments (a first start
// with a command line runs no setup), its test chosen by GTEST_FILTER and
// its part by an environment variable the test reads.

#include "support/kv_testdir.h"
#include "support/kv_testtools.h"
#include "support/kv_xvfb.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSaveFile>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace kvtest {

// The build folder's screenshots: <build>/screenshots.
inline QString ShotsRoot()
{
    return QDir::cleanPath(QStringLiteral(KV_TEST_BUILD_DIR "/../../screenshots"));
}

// Rewrites <build>/screenshots/index.html: every journey's folder in name
// order, each with its steps' pictures in order, then the loose pictures.
// Several test programs write pictures at once, so the scan and the write
// hold a lock and the page replaces the old one whole.
inline bool WriteShotsIndex(const QString& shots_root = ShotsRoot())
{
    const QDir root(shots_root);
    if (!root.mkpath(QStringLiteral("."))) {
        return false;
    }
    const int lock = ::open(root.filePath(QStringLiteral(".index.lock")).toUtf8().constData(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) {
        return false;
    }
    ::flock(lock, LOCK_EX);
    const auto escape = [](const QString& s) { return s.toHtmlEscaped().toUtf8(); };
    QByteArray html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                      "<title>kivrel screenshots</title><style>"
                      "body{font-family:sans-serif;margin:1em}"
                      "figure{display:inline-block;margin:0 1em 1em 0;vertical-align:top}"
                      "img{border:1px solid #888;max-width:820px}"
                      "</style></head><body>\n<h1>kivrel screenshots</h1>\n";
    const QStringList pngs{QStringLiteral("*.png")};
    const QStringList journeys = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    html += "<ul>\n";
    for (const QString& j : journeys) {
        html += "<li><a href=\"#" + escape(j) + "\">" + escape(j) + "</a></li>\n";
    }
    html += "</ul>\n";
    for (const QString& j : journeys) {
        html += "<h2 id=\"" + escape(j) + "\">" + escape(j) + "</h2>\n";
        for (const QString& p : QDir(root.filePath(j)).entryList(pngs, QDir::Files, QDir::Name)) {
            const QString rel = j + QLatin1Char('/') + p;
            html += "<figure><a href=\"" + escape(rel) + "\"><img src=\"" + escape(rel) +
                    "\" alt=\"" + escape(p) + "\"></a><figcaption>" +
                    escape(QFileInfo(p).completeBaseName()) + "</figcaption></figure>\n";
        }
    }
    const QStringList loose = root.entryList(pngs, QDir::Files, QDir::Name);
    if (!loose.isEmpty()) {
        html += "<h2 id=\"other\">other screenshots</h2>\n";
        for (const QString& p : loose) {
            html += "<figure><a href=\"" + escape(p) + "\"><img src=\"" + escape(p) + "\" alt=\"" +
                    escape(p) + "\"></a><figcaption>" + escape(QFileInfo(p).completeBaseName()) +
                    "</figcaption></figure>\n";
        }
    }
    html += "</body></html>\n";
    QSaveFile out(root.filePath(QStringLiteral("index.html")));
    const bool ok =
        out.open(QIODevice::WriteOnly) && out.write(html) == html.size() && out.commit();
    ::close(lock);
    return ok;
}

// The steps of one journey: <build>/screenshots/<journey>/<NN>-<step>.png.
// The numbers go on across the journey's starts (each start is a process
// of its own), so a journey's parent calls Begin once to clear the folder.
class JourneyShots
{
public:
    explicit JourneyShots(const QString& journey, const QString& shots_root = ShotsRoot())
        : root_(shots_root), dir_(shots_root + QLatin1Char('/') + journey)
    {
        dir_.mkpath(QStringLiteral("."));
        next_ = static_cast<int>(
            dir_.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name).size());
    }

    // Starts the journey's pictures afresh (in the parent, before the first
    // start).
    static void Begin(const QString& journey, const QString& shots_root = ShotsRoot())
    {
        QDir(shots_root + QLatin1Char('/') + journey).removeRecursively();
        QDir(shots_root).mkpath(journey);
    }

    // The whole screen, as the person sees it; the image saved (null when
    // there is no screen).
    QImage Shot(const QString& step)
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        return Save(screen == nullptr ? QImage() : screen->grabWindow(0).toImage(), step);
    }

    // What the screen shows of `w` (what lies over it included).
    QImage Shot(QWidget& w, const QString& step) { return Save(GrabOnScreen(w), step); }

    // The path the next step is saved under.
    QString NextPath(const QString& step) const
    {
        return dir_.filePath(
            QStringLiteral("%1-%2.png").arg(next_, 2, 10, QLatin1Char('0')).arg(step));
    }

private:
    QImage Save(const QImage& image, const QString& step)
    {
        EXPECT_FALSE(image.isNull()) << "no picture of " << step.toStdString();
        if (!image.isNull()) {
            EXPECT_TRUE(image.save(NextPath(step), "PNG")) << NextPath(step).toStdString();
            ++next_;
            EXPECT_TRUE(WriteShotsIndex(root_));
        }
        return image;
    }

    QString root_;
    QDir dir_;
    int next_ = 0;
};

// A home of the program's own: empty XDG folders (config, data, runtime,
// temporary) in a temporary folder; only the machine-wide settings name the
// program and the data folder the build made, as an installation does.
class ProgramHome
{
public:
    ProgramHome() : dir_("kvjourney")
    {
        namespace fs = std::filesystem;
        for (const char* sub : {"config", "data", "run", "etc/kivrel", "tmp"}) {
            fs::create_directories(dir_ / sub);
        }
        fs::permissions(dir_ / "run", fs::perms::owner_all);
        const std::string built = KV_TEST_BUILD_DIR "/../../app";
        ok_ = dir_.ok() &&
              write_file(dir_ / "etc/kivrel/kivrel.conf",
                         "[Init]\nMainExe=\"" + built + "/kivrel\"\nData=\"" + built + "/data\"\n");
    }

    bool ok() const { return ok_; }
    const std::string& path() const { return dir_.path(); }
    std::string operator/(const std::string& rel) const { return dir_ / rel; }

    // The user's settings file and data folder, as the program finds them.
    std::string ConfFile() const { return dir_ / "config/kivrel/kivrel.conf"; }
    std::string DataDir() const { return dir_ / "data/kivrel"; }

    // The environment of a start on `display` that runs the tests `filter`.
    QProcessEnvironment Env(const QString& display, const QString& filter) const
    {
        QProcessEnvironment env = XcbChildEnv(display, QString::fromStdString(dir_.path()));
        env.insert(QStringLiteral("GTEST_FILTER"), filter);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir_ / "run"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir_ / "config"));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), QString::fromStdString(dir_ / "etc"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dir_ / "data"));
        env.insert(QStringLiteral("HOME"), QString::fromStdString(dir_.path()));
        env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(dir_ / "tmp"));
        // The system's proxy would be offered instead of a direct connection.
        for (const char* var :
             {"https_proxy", "http_proxy", "all_proxy", "HTTPS_PROXY", "HTTP_PROXY", "ALL_PROXY"}) {
            env.remove(QString::fromLatin1(var));
        }
        return env;
    }

private:
    TempDir dir_;
    bool ok_ = false;
};

// One start of the program: this test program again, without arguments,
// with `var` set to `part`. Killed if it still runs when dropped.
class ProgramStart
{
public:
    ProgramStart(const QProcessEnvironment& env, const char* var, const QString& part)
    {
        QProcessEnvironment e = env;
        e.insert(QString::fromLatin1(var), part);
        child_.setProcessEnvironment(e);
        child_.setProcessChannelMode(QProcess::MergedChannels);
        child_.start(QStringLiteral("/proc/self/exe"), QStringList());
    }
    ProgramStart(const ProgramStart&) = delete;
    ProgramStart& operator=(const ProgramStart&) = delete;
    ~ProgramStart()
    {
        if (child_.state() != QProcess::NotRunning) {
            child_.kill();
            child_.waitForFinished(10000);
        }
    }

    QProcess& process() { return child_; }

    // Waits for the start to end within `ms` and checks that its test
    // passed; its output.
    QByteArray Finish(int ms)
    {
        const bool finished = child_.waitForFinished(ms);
        if (!finished) {
            child_.kill();
            child_.waitForFinished(10000);
        }
        const QByteArray output = child_.readAll();
        EXPECT_TRUE(finished) << output.constData();
        EXPECT_EQ(child_.exitStatus(), QProcess::NormalExit) << output.constData();
        EXPECT_EQ(child_.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
        return output;
    }

private:
    QProcess child_;
};

// In a start: runs `part` on the X server. A part that failed half-way may
// leave the engine running, so the process ends at once (its failures are
// printed already) instead of waiting for threads that will not stop.
inline void RunProgramPart(const std::function<void()>& part)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    part();
    if (::testing::Test::HasFailure()) {
        std::fflush(stdout);
        std::_Exit(1);
    }
}

// Runs one start to its end (see ProgramStart::Finish).
inline QByteArray RunStart(const QProcessEnvironment& env, const char* var, const QString& part,
                           int ms = 180000)
{
    ProgramStart start(env, var, part);
    return start.Finish(ms);
}

} // namespace kvtest

#endif
