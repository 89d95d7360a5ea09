#ifndef KV_TESTS_APP_SUPPORT_KV_XVFB_H
#define KV_TESTS_APP_SUPPORT_KV_XVFB_H

// A test that needs a real X server starts its own Xvfb and runs itself
// again as an xcb client of it: the platform of a running QApplication
// cannot change, and each test program keeps the offscreen one.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QScreen>
#include <QStandardPaths>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

namespace kvtest {

// An X server of its own: Xvfb picks a free display itself (-displayfd), so
// that several test programs may run side by side. Stopped on destruction.
class XServer
{
public:
    XServer() = default;
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    ~XServer()
    {
        if (server_.state() != QProcess::NotRunning) {
            server_.terminate();
            server_.waitForFinished(5000);
        }
    }

    // Xvfb's path, or empty when it is not installed.
    static QString Program() { return QStandardPaths::findExecutable(QStringLiteral("Xvfb")); }

    // Starts a screen of `geometry` ("WxHxD"); the display name (":N"), or
    // empty when the server did not start.
    QString Start(const QString& geometry)
    {
        server_.start(Program(), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                  QStringLiteral("-screen"), QStringLiteral("0"), geometry,
                                  QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!server_.waitForStarted(10000)) {
            return {};
        }
        QByteArray number;
        while (!number.contains('\n') && server_.waitForReadyRead(10000)) {
            number += server_.readAllStandardOutput();
        }
        number = number.trimmed();
        return number.isEmpty() ? QString() : QStringLiteral(":") + QString::fromLatin1(number);
    }

private:
    QProcess server_;
};

// The environment of a child that draws on `display`. Two things of the X
// platform's libraries are told to the sanitizers, and nothing more: the
// D-Bus library keeps a buffer until exit (a leak suppression, written into
// `scratch_dir`), and the keyboard library hands strndup() buffers that are
// not NUL-terminated within their length, which strict string checks take
// for an overflow.
inline QProcessEnvironment XcbChildEnv(const QString& display, const QString& scratch_dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.remove(QStringLiteral("XAUTHORITY"));
    const QString supp = QDir(scratch_dir).filePath(QStringLiteral("xcb-lsan.supp"));
    QFile f(supp);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        f.write("leak:libdbus-1.so\n");
    }
    const auto append = [&env](const QString& var, const QString& option) {
        const QString old = env.value(var);
        env.insert(var, (old.isEmpty() ? QString() : old + QStringLiteral(":")) + option);
    };
    append(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("suppressions=") + supp);
    append(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("strict_string_checks=0"));
    return env;
}

// Runs the test `filter` of this program again as a client of `display`,
// with `var` set to `value` (the child sees it and does the part on
// screen), and checks that it passed within `ms`.
inline void RunOnDisplay(const QString& display, const char* var, const QString& value,
                         const char* filter, int ms = 60000)
{
    QProcess child;
    QProcessEnvironment env = XcbChildEnv(display, QStringLiteral(KV_TEST_BUILD_DIR));
    env.insert(QString::fromLatin1(var), value);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--gtest_filter=") + QString::fromLatin1(filter)});
    const bool finished = child.waitForFinished(ms);
    const QByteArray output = child.readAll();
    ASSERT_TRUE(finished) << output.constData();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
}

// Dark pixels (grey below 110: text, frames, pictures) of `image` within
// `rect`, to tell drawn regions from empty ones.
inline int DarkPixels(const QImage& image, const QRect& rect)
{
    int dark = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            dark += qGray(image.pixel(x, y)) < 110;
        }
    }
    return dark;
}

// What the X server shows of the widget `w` (its children and what the
// window manager draws over it included, unlike QWidget::grab).
inline QImage GrabOnScreen(QWidget& w)
{
    const QPoint origin = w.mapToGlobal(QPoint(0, 0));
    return w.screen()->grabWindow(0, origin.x(), origin.y(), w.width(), w.height()).toImage();
}

} // namespace kvtest

#endif
