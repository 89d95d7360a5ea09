// Window helpers: byte amounts as text, placements in the settings file,
// text height and the focus tests.
#include "shell/wndutil.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <optional>

namespace {

TEST(FormatByteAmount, UnitsAndDecimals)
{
    const double kB = 1024.0;
    struct Case
    {
        double amount;
        bool speed;
        bool variable;
        const char* text;
    };
    const Case cases[] = {
        {0, true, true, "0.00 b/s"},
        {0, false, false, "0.00 byte(s)"},
        {1, false, false, "1.00 byte(s)"},
        // 1024 divided by 1024 is not more than 1: the unit stays.
        {1024, false, false, "1024.00 byte(s)"},
        {1025, false, false, "1.00 kB"},
        {1048576, false, false, "1024.00 kB"},
        {1048577, false, false, "1.00 MB"},
        {1.5 * kB * kB * kB, false, false, "1.50 GB"},
        // Nothing above terabytes.
        {kB * kB * kB * kB * kB, false, false, "1024.00 TB"},
        {kB * kB * kB * kB * kB * kB, false, true, "1048576.00 TB"},
        {1536, true, false, "1.50 kB/s"},
        {150, true, false, "150.00 b/s"},
        // Variable decimals: two below 10, one below 100, none from 100.
        {9.5, true, true, "9.50 b/s"},
        {10, true, true, "10.0 b/s"},
        {99.5 * kB, true, true, "99.5 kB/s"},
        {100 * kB, true, true, "100 kB/s"},
        {150, true, true, "150 b/s"},
        {1023.4 * kB * kB, true, true, "1023 MB/s"},
        // Sizes ignore the variable decimals.
        {150, false, true, "150.00 byte(s)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FormatByteAmount(c.amount, c.speed, c.variable).toStdString(), c.text);
    }
}

class Placement : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        settings.emplace(dir.filePath("kivrel.conf"), QSettings::IniFormat);
    }

    QTemporaryDir dir;
    std::optional<QSettings> settings;
};

TEST_F(Placement, LoadClampsToScreenAndNeedsAllFourValues)
{
    struct Case
    {
        const char* name;
        std::optional<QVariant> x, y, cx, cy;
        QSize screen;
        bool saved;
        QRect rect; // from the default rect (5, 6, 225, 360)
    };
    const QSize full(1920, 1080);
    const QRect fallback(5, 6, 225, 360);
    const Case cases[] = {
        {"as saved", 100, 50, 400, 300, full, true, QRect(100, 50, 400, 300)},
        {"zeros count as saved", 0, 0, 30, 30, full, true, QRect(0, 0, 30, 30)},
        {"30 px stay on screen", 1900, 1070, 400, 300, full, true, QRect(1890, 1050, 400, 300)},
        {"corner exactly 30 px in", 1890, 1050, 400, 300, full, true, QRect(1890, 1050, 400, 300)},
        {"smaller screen", 1500, 900, 800, 600, QSize(1024, 768), true, QRect(994, 738, 800, 600)},
        {"size beyond the screen kept", 10, 10, 3000, 2000, full, true, QRect(10, 10, 3000, 2000)},
        {"tiny width takes the default", 10, 20, 12, 300, full, true, QRect(10, 20, 225, 300)},
        {"tiny height takes the default", 10, 20, 300, 29, full, true, QRect(10, 20, 300, 360)},
        {"no values", {}, {}, {}, {}, full, false, fallback},
        {"width missing", 10, 20, {}, 300, full, false, fallback},
        {"only position", 10, 20, {}, {}, full, false, fallback},
        {"negative x", -8, 20, 300, 300, full, false, fallback},
        {"negative height", 10, 20, 300, -1, full, false, fallback},
        {"not a number", QString("abc"), 20, 300, 300, full, false, fallback},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings->remove("LayoutTest");
        settings->beginGroup("LayoutTest");
        const std::pair<const char*, const std::optional<QVariant>*> keys[] = {
            {"ScreenX", &c.x}, {"ScreenY", &c.y}, {"ScreenCX", &c.cx}, {"ScreenCY", &c.cy}};
        for (const auto& [key, value] : keys) {
            if (value->has_value()) {
                settings->setValue(key, **value);
            }
        }
        settings->endGroup();
        QRect rect = fallback;
        EXPECT_EQ(LoadWndPos(*settings, "LayoutTest", rect, c.screen), c.saved);
        EXPECT_EQ(rect, c.rect);
    }
}

TEST_F(Placement, SaveWritesTheNormalGeometryOfAWindowOnly)
{
    QWidget wnd;
    wnd.setGeometry(120, 80, 300, 200);
    EXPECT_TRUE(SaveWndPlacement(*settings, "LayoutWndMain", &wnd));
    settings->sync();

    QSettings reread(dir.filePath("kivrel.conf"), QSettings::IniFormat);
    EXPECT_EQ(reread.value("LayoutWndMain/ScreenX").toInt(), 120);
    EXPECT_EQ(reread.value("LayoutWndMain/ScreenY").toInt(), 80);
    EXPECT_EQ(reread.value("LayoutWndMain/ScreenCX").toInt(), 300);
    EXPECT_EQ(reread.value("LayoutWndMain/ScreenCY").toInt(), 200);

    QWidget other;
    other.resize(50, 50);
    EXPECT_TRUE(LoadWndPlacement(reread, "LayoutWndMain", &other));
    EXPECT_EQ(other.geometry().size(), QSize(300, 200));

    QWidget child(&wnd);
    EXPECT_FALSE(SaveWndPlacement(*settings, "LayoutChild", &child));
    EXPECT_FALSE(SaveWndPlacement(*settings, "LayoutNone", nullptr));
    EXPECT_FALSE(settings->childGroups().contains("LayoutChild"));
}

TEST(CalcTextHeight, WrapsToTheWidth)
{
    QWidget wnd;
    const QString text = QString("word ").repeated(40);
    const int line = CalcTextHeight(&wnd, nullptr, "word", 1000, Qt::TextWordWrap);
    EXPECT_EQ(line, QFontMetrics(wnd.font()).height());
    const int wrapped = CalcTextHeight(&wnd, nullptr, text, 100, Qt::TextWordWrap);
    EXPECT_GE(wrapped, 5 * line);
    // Without word wrap the text stays on one line whatever the width.
    EXPECT_EQ(CalcTextHeight(&wnd, nullptr, text, 100, 0), line);

    QFont big = wnd.font();
    big.setPixelSize(4 * QFontMetrics(wnd.font()).height());
    EXPECT_GT(CalcTextHeight(&wnd, &big, "word", 1000, 0), 2 * line);
}

TEST(IsEditControl, TextFieldsOnly)
{
    QLineEdit line;
    QTextEdit text;
    QTextBrowser browser;
    QPlainTextEdit plain;
    QSpinBox spin;
    QLabel label;
    QPushButton button;
    struct Case
    {
        const char* name;
        const QWidget* wnd;
        bool edit;
    };
    const Case cases[] = {
        {"line edit", &line, true},
        {"text edit", &text, true},
        {"read-only text", &browser, true},
        {"plain text", &plain, true},
        {"field of a spin box", spin.findChild<QLineEdit*>(), true},
        {"spin box", &spin, false},
        {"label", &label, false},
        {"button", &button, false},
        {"none", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsEditControl(c.wnd), c.edit);
    }
}

TEST(IsFocusIn, FocusWindowOrItsAncestors)
{
    QWidget wnd;
    auto* layout = new QVBoxLayout(&wnd);
    auto* box = new QWidget;
    auto* edit = new QLineEdit(box);
    auto* other = new QLineEdit;
    layout->addWidget(box);
    layout->addWidget(other);
    wnd.show();
    wnd.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&wnd));
    edit->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }));

    EXPECT_TRUE(IsFocusIn(edit));
    EXPECT_TRUE(IsFocusIn(box));
    EXPECT_TRUE(IsFocusIn(&wnd));
    EXPECT_FALSE(IsFocusIn(other));
    EXPECT_FALSE(IsFocusIn(nullptr));
}

} // namespace
