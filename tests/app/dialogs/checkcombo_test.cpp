// The closed face of the check-box combo box and its clicks.
#include "dialogs/checkcombo.h"

#include <QAbstractItemView>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(CCheckComboBox, TheFaceShowsTheCheckedItemsInListOrder)
{
    CCheckComboBox combo;
    combo.addItems({"aes128-ctr", "aes256-ctr", "3des-cbc", "blowfish-cbc"});
    EXPECT_EQ(combo.GetText(), "");
    EXPECT_EQ(combo.GetCheckedCount(), 0);
    EXPECT_TRUE(combo.SetCheck(3, true));
    EXPECT_TRUE(combo.SetCheck(0, true));
    EXPECT_TRUE(combo.SetCheck(2, true));
    EXPECT_FALSE(combo.SetCheck(4, true));
    EXPECT_EQ(combo.GetText(), "aes128-ctr; 3des-cbc; blowfish-cbc");
    EXPECT_EQ(combo.GetCheckedCount(), 3);
    combo.SetCheckAll(false);
    EXPECT_EQ(combo.GetText(), "");
}

TEST(CCheckComboBox, ClicksToggleItemsAndKeepTheListOpen)
{
    CCheckComboBox combo;
    combo.addItems({"one", "two"});
    combo.show();
    combo.showPopup();
    QAbstractItemView* list = combo.view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    const QRect second = list->visualRect(list->model()->index(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_TRUE(combo.GetCheck(1));
    EXPECT_FALSE(combo.GetCheck(0));
    EXPECT_TRUE(list->isVisible());
    // Below the last item nothing changes.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(second.center().x(), second.bottom() + 5));
    EXPECT_EQ(combo.GetText(), "two");
    combo.hidePopup();
}

} // namespace
