// File names are shown as they are in the list and the tree: a name that
// looks like markup is not formatted, not even in the tooltip.
#include "kv_viewfixture.h"
#include "support/kv_plaintext.h"

namespace {

class PlainNames_MT : public kvtest::ViewFixture
{
};

TEST_F(PlainNames_MT, MarkupInAFileNameIsShownAsItIs)
{
    // A name may hold anything but a slash.
    const QString name = QStringLiteral("<b>x<img src=\"y.png\">&amp;");
    const std::string folder = name.toStdString() + " dir";
    ASSERT_TRUE(kvtest::write_file(work + "/" + name.toStdString(), "a"));
    ASSERT_TRUE(KV_File::mkdir((work + "/" + folder).c_str()));
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    ASSERT_TRUE(Until([&] { return Names(List()).size() == 2; }));
    Tree()->expandAll();
    const kvtest::MarkupScan scan = kvtest::ScanForMarkup(*wnd, name);
    EXPECT_TRUE(scan.faults.isEmpty()) << scan.faults.join(QLatin1Char('\n')).toStdString();
    // The file and the folder in the list, the folder in the tree: each
    // with its text and its tooltip.
    EXPECT_GE(scan.literal, 6);
}

} // namespace
