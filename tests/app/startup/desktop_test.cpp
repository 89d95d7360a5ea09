// The desktop entry the build writes: valid for the desktop's menus, starts
// the built program, names the icon that is written beside it.
#include "support/kv_testdir.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

const QString kApp = QStringLiteral(KV_TEST_BUILD_DIR "/../../app");

TEST(DesktopEntry, ValidAndStartsTheBuiltProgram)
{
    for (const QString& entry : {kApp + "/kivrel.desktop"}) {
        SCOPED_TRACE(entry.toStdString());
        ASSERT_TRUE(QFileInfo::exists(entry));
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty()) {
            GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
        }
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(validator, {entry});
        ASSERT_TRUE(check.waitForFinished(30000));
        const QByteArray said = check.readAll();
        EXPECT_EQ(check.exitCode(), 0) << said.constData();
        EXPECT_EQ(said, "") << "hints and warnings count too";
    }
    // Key=value lines; a QSettings would take ";" for a comment.
    QFile file(kApp + "/kivrel.desktop");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QMap<QString, QString> keys;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) {
            keys[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
        }
    }
    QString exec = keys.value("Exec");
    exec.remove('"');
    EXPECT_EQ(QFileInfo(exec).canonicalFilePath(), QFileInfo(kApp + "/kivrel").canonicalFilePath());
    EXPECT_EQ(keys.value("Icon"), "kivrel");
    EXPECT_EQ(keys.value("Categories"), "Network;FileTransfer;");
    EXPECT_FALSE(QImage(kApp + "/icons/hicolor/32x32/apps/kivrel.png").isNull());
}

} // namespace
