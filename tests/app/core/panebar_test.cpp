#include "core/panebar.h"

#include <gtest/gtest.h>

TEST(PaneBar, ButtonSitsAtTheRightEndCentred)
{
    // A 200 x 26 bar with a 16 x 16 arrow: left 200 - 16 - 1, top (26 - 16) / 2,
    // up to one pixel before the right and bottom edges.
    const QRect r = PaneBarButtonRect(QRect(0, 0, 200, 26), 16, 16);
    EXPECT_EQ(r.left(), 183);
    EXPECT_EQ(r.top(), 5);
    EXPECT_EQ(r.left() + r.width(), 199);
    EXPECT_EQ(r.top() + r.height(), 25);
    // Odd leftover: integer division rounds the top down.
    EXPECT_EQ(PaneBarButtonRect(QRect(0, 0, 100, 27), 16, 16).top(), 5);
}

TEST(PaneBar, FolderTakesTheFirstFormThatFits)
{
    const QStringList forms = {"/home/user/projects/kivrel/src", "/home/.../kivrel/src", "/.../src",
                               "..."};
    auto form = [&](uint32_t i) { return i < forms.size() ? forms[int(i)] : QString(); };
    auto measure = [](const QString& s) { return int(s.size()) * 7; };
    struct Case
    {
        int width;
        QString shown;
    } cases[] = {
        {1000, "[ /home/user/projects/kivrel/src ]"},
        {7 * 24, "[ /home/.../kivrel/src ]"}, // exactly fits
        {7 * 24 - 1, "[ /.../src ]"},
        {7 * 12 - 1, ""}, // only "..." would be left: nothing is shown
        {0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PaneBarFolderText(form, measure, c.width), c.shown) << c.width;
    }
    // An empty form ends the list even when later ones would fit.
    auto gap = [](uint32_t i) { return i == 0 ? QString("/a/very/long/path") : QString(); };
    EXPECT_EQ(PaneBarFolderText(gap, measure, 50), QString());
    // A source that never ends still returns.
    auto endless = [](uint32_t) { return QString("/far/too/long/for/the/bar"); };
    EXPECT_EQ(PaneBarFolderText(endless, measure, 10), QString());
}

TEST(PaneBar, FolderMenuStopsAtTheLastHandledId)
{
    std::vector<PaneBarVolume> volumes;
    volumes.push_back({"", "no path"});
    volumes.push_back({"/nameless", ""});
    for (int i = 0; i < 150; ++i) {
        volumes.push_back({QString("/mnt/v%1").arg(i), QString("v%1").arg(i)});
    }
    const std::vector<PaneBarItem> items = PaneBarFolderItems(volumes);
    ASSERT_EQ(items.size(), 101u);
    EXPECT_EQ(items.front().id, 35000u);
    EXPECT_EQ(items.front().path, "/mnt/v0");
    EXPECT_EQ(items.back().id, 35100u);
    EXPECT_EQ(items.back().name, "v100");
}

TEST(PaneBar, ButtonShowsTheMenuOnlyWhenReleasedWithoutLeaving)
{
    struct Step
    {
        char what; // p press, m move, r release
        bool inside;
        bool result;
    };
    const std::vector<std::vector<Step>> runs = {
        {{'p', true, true}, {'r', true, true}},
        {{'p', true, true}, {'m', true, false}, {'r', true, true}},
        // Press, move off, release back on the button: nothing.
        {{'p', true, true}, {'m', false, true}, {'m', true, false}, {'r', true, false}},
        {{'p', true, true}, {'r', false, false}},
        {{'p', false, false}, {'r', true, false}},
        {{'r', true, false}},
    };
    for (size_t n = 0; n < runs.size(); ++n) {
        PaneBarButtonState state;
        for (const Step& s : runs[n]) {
            bool got = false;
            switch (s.what) {
            case 'p':
                got = state.Press(s.inside);
                break;
            case 'm':
                got = state.Move(s.inside);
                break;
            default:
                got = state.Release(s.inside);
                break;
            }
            EXPECT_EQ(got, s.result) << "run " << n << " step " << s.what;
        }
        EXPECT_FALSE(state.Pressed()) << n;
    }
}
