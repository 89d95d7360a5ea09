#include "shell/wndutil.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>

namespace {

const char* const kKeyX = "ScreenX";
const char* const kKeyY = "ScreenY";
const char* const kKeyCX = "ScreenCX";
const char* const kKeyCY = "ScreenCY";

// Part of a window that stays on the screen, and the smallest saved size that
// is taken as it is.
const int kOnScreen = 30;

QSize PrimaryScreenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen == nullptr ? QSize() : screen->size();
}

} // namespace

bool SaveWndPlacement(QSettings& settings, const QString& section, const QWidget* wnd)
{
    if (wnd == nullptr || !wnd->isWindow()) {
        return false;
    }
    const QRect r = wnd->normalGeometry().isValid() ? wnd->normalGeometry() : wnd->geometry();
    settings.beginGroup(section);
    settings.setValue(kKeyX, r.x());
    settings.setValue(kKeyY, r.y());
    settings.setValue(kKeyCX, r.width());
    settings.setValue(kKeyCY, r.height());
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool LoadWndPos(QSettings& settings, const QString& section, QRect& rect, const QSize& screen)
{
    settings.beginGroup(section);
    bool ok[4] = {false, false, false, false};
    const int x = settings.value(kKeyX, -1).toInt(&ok[0]);
    const int y = settings.value(kKeyY, -1).toInt(&ok[1]);
    const int cx = settings.value(kKeyCX, -1).toInt(&ok[2]);
    const int cy = settings.value(kKeyCY, -1).toInt(&ok[3]);
    settings.endGroup();
    // A value that is no number counts as missing.
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || x < 0 || y < 0 || cx < 0 || cy < 0) {
        return false;
    }
    int left = x;
    int top = y;
    if (left + kOnScreen > screen.width()) {
        left = screen.width() - kOnScreen;
    }
    if (top + kOnScreen > screen.height()) {
        top = screen.height() - kOnScreen;
    }
    // A screen smaller than the strip that must stay on it pins the corner.
    left = std::max(left, 0);
    top = std::max(top, 0);
    const int width = cx < kOnScreen ? rect.width() : cx;
    const int height = cy < kOnScreen ? rect.height() : cy;
    rect = QRect(left, top, width, height);
    return true;
}

bool LoadWndPos(QSettings& settings, const QString& section, QRect& rect)
{
    return LoadWndPos(settings, section, rect, PrimaryScreenSize());
}

bool LoadWndPlacement(QSettings& settings, const QString& section, QWidget* wnd)
{
    if (wnd == nullptr) {
        return false;
    }
    QRect r = wnd->geometry();
    if (!LoadWndPos(settings, section, r)) {
        return false;
    }
    wnd->setGeometry(r);
    return true;
}

QString FormatByteAmount(double amount, bool speed, bool variable_decimals)
{
    static const char* const kSizeUnits[] = {"byte(s)", "kB", "MB", "GB", "TB"};
    static const char* const kSpeedUnits[] = {"b", "kB", "MB", "GB", "TB"};
    const int kUnits = 5;
    int i = 0;
    while (amount / 1024.0 > 1.0 && i + 1 < kUnits) {
        amount /= 1024.0;
        ++i;
    }
    if (!speed) {
        return QString::asprintf("%.2f %s", amount, kSizeUnits[i]);
    }
    const char* format = "%.2f %s/s";
    if (variable_decimals && amount >= 100.0) {
        format = "%.0f %s/s";
    } else if (variable_decimals && amount >= 10.0) {
        format = "%.1f %s/s";
    }
    return QString::asprintf(format, amount, kSpeedUnits[i]);
}

int CalcTextHeight(const QWidget* wnd, const QFont* font, const QString& text, int width, int flags)
{
    const QFont& f = font != nullptr ? *font : wnd != nullptr ? wnd->font() : QApplication::font();
    const QFontMetrics metrics(f);
    return metrics.boundingRect(QRect(0, 0, width, 0), flags, text).height();
}

bool IsFocusIn(const QWidget* wnd)
{
    if (wnd == nullptr) {
        return false;
    }
    for (const QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
        if (w == wnd) {
            return true;
        }
    }
    return false;
}

bool IsEditControl(const QWidget* wnd)
{
    return qobject_cast<const QLineEdit*>(wnd) != nullptr ||
           qobject_cast<const QTextEdit*>(wnd) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(wnd) != nullptr;
}

QString OneLineBreaks(const QString& text)
{
    if (!text.contains(QLatin1Char('\r'))) {
        return text;
    }
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

QString PlainToolTip(const QString& text)
{
    if (!Qt::mightBeRichText(text)) {
        return text;
    }
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}
