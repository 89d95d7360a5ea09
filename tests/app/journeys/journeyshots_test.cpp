// The journeys' pictures: numbered in the order taken, across the several
// processes of one journey, and shown in that order by the index page.
#include "support/kv_journey.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(JourneyShots, StepsAreNumberedAcrossStartsAndTheIndexShowsThemInOrder)
{
    kvtest::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const QString root = QString::fromStdString(dir / "shots");
    QLabel label(QStringLiteral("step"));
    label.resize(120, 40);
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));

    // A stale picture of an earlier run goes at the journey's beginning.
    ASSERT_TRUE(QDir().mkpath(root + "/b<&>"));
    ASSERT_TRUE(QImage(4, 4, QImage::Format_RGB32).save(root + "/b<&>/00-stale.png"));
    kvtest::JourneyShots::Begin(QStringLiteral("b<&>"), root);
    {
        kvtest::JourneyShots first(QStringLiteral("b<&>"), root);
        EXPECT_FALSE(first.Shot(label, QStringLiteral("start")).isNull());
        EXPECT_FALSE(first.Shot(label, QStringLiteral("connect")).isNull());
    }
    // The next start of the same journey goes on counting.
    kvtest::JourneyShots second(QStringLiteral("b<&>"), root);
    EXPECT_FALSE(second.Shot(label, QStringLiteral("restart")).isNull());
    kvtest::JourneyShots other(QStringLiteral("a"), root);
    EXPECT_FALSE(other.Shot(label, QStringLiteral("only")).isNull());

    EXPECT_EQ(QDir(root + "/b<&>").entryList({"*.png"}, QDir::Files, QDir::Name),
              QStringList({"00-start.png", "01-connect.png", "02-restart.png"}));
    const std::string html = kvtest::read_file(dir / "shots/index.html");
    const size_t a = html.find("<h2 id=\"a\">");
    const size_t b = html.find("<h2 id=\"b&lt;&amp;&gt;\">");
    const size_t start = html.find("b&lt;&amp;&gt;/00-start.png");
    const size_t connect = html.find("b&lt;&amp;&gt;/01-connect.png");
    const size_t restart = html.find("b&lt;&amp;&gt;/02-restart.png");
    ASSERT_NE(a, std::string::npos) << html;
    EXPECT_LT(a, b) << html;
    EXPECT_LT(b, start) << html;
    EXPECT_LT(start, connect) << html;
    EXPECT_LT(connect, restart) << html;
    EXPECT_EQ(html.find("stale"), std::string::npos) << html;
    EXPECT_EQ(html.find("<&>"), std::string::npos) << "names are escaped";
}

} // namespace
