#include "browse/browserbar.h"

#include "res/resources.h"

#include <QAction>
#include <gtest/gtest.h>

TEST(BrowserBar, FolderMenuHoldsTheIdsTheWindowHandles)
{
    CBrowserBar bar(nullptr);
    EXPECT_EQ(bar.sizeHint().height(), 26);
    EXPECT_EQ(bar.StatusText(), "Disconnected");

    std::vector<PaneBarVolume> volumes;
    for (int i = 0; i < 150; ++i) {
        volumes.push_back({QString("/mnt/v%1").arg(i), QString("v%1").arg(i)});
    }
    QMenu* menu = bar.BuildFolderMenu(volumes);
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 101);
    EXPECT_EQ(items.front()->objectName(), kvres::CommandName(35000));
    EXPECT_EQ(items.back()->objectName(), kvres::CommandName(35100));
    EXPECT_EQ(bar.FolderOf(35100), "/mnt/v100");
    EXPECT_EQ(bar.FolderOf(35101), QString());

    // A refill replaces the items and their folders.
    menu = bar.BuildFolderMenu({{"/", "root"}});
    EXPECT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(bar.FolderOf(35000), "/");
    EXPECT_EQ(bar.FolderOf(35001), QString());
}
