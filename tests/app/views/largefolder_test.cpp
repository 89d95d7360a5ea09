// A folder of thousands of entries in a local pane: the list takes the
// engine's listing in slices between which the window answers, ends with
// every entry once and in order, also after a refresh that announces them
// all again, and gives entries of one kind one shared icon; closing the
// window does not fill its folder tree with the files on the way out.
#include "kv_viewfixture.h"

#include <QTimer>
#include <algorithm>
#include <set>

namespace {

class LargeFolder_MT : public kvtest::ViewFixture
{
protected:
    static constexpr int kFiles = 5000;

    void SetUp() override
    {
        kvtest::ViewFixture::SetUp();
        ASSERT_TRUE(KV_File::mkdir((work + "/many").c_str()));
        for (int i = 0; i < kFiles; ++i) {
            char name[32];
            // Created out of order: the list sorts, not the disk.
            std::snprintf(name, sizeof name, "/many/f%05d.txt", (i * 7919) % kFiles);
            ASSERT_TRUE(kvtest::write_file(work + name, ""));
        }
        ASSERT_TRUE(KV_File::mkdir((work + "/many/sub1").c_str()));
        ASSERT_TRUE(KV_File::mkdir((work + "/many/sub2").c_str()));
    }

    // Rows inserted in the busiest single pass of the event loop while
    // `done` is awaited: a zero-time timer ticks once per pass.
    int BusiestPass(CFileListView* list, const std::function<bool()>& done)
    {
        int in_pass = 0;
        int busiest = 0;
        const QMetaObject::Connection c = QObject::connect(
            list->GetModel(), &QAbstractItemModel::rowsInserted,
            [&](const QModelIndex&, int first, int last) { in_pass += last - first + 1; });
        QTimer tick;
        tick.setInterval(0);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            busiest = std::max(busiest, in_pass);
            in_pass = 0;
        });
        tick.start();
        EXPECT_TRUE(Until(done, 60000));
        QObject::disconnect(c);
        return std::max(busiest, in_pass);
    }

    // The list's names without the way up, which a refresh adds.
    static std::vector<std::string> Entries(const CFileListView* list)
    {
        std::vector<std::string> names = Names(list);
        names.erase(std::remove(names.begin(), names.end(), ".."), names.end());
        return names;
    }

    static bool CompleteAndSorted(const std::vector<std::string>& names)
    {
        // Folders first, then files by name.
        std::vector<std::string> want{"sub1", "sub2"};
        for (int i = 0; i < kFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%05d.txt", i);
            want.emplace_back(name);
        }
        return names == want;
    }
};

TEST_F(LargeFolder_MT, TheListingArrivesInSlicesAndEndsCompleteInOrderAlsoAfterARefresh)
{
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    CFileListView* list = List();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(Until([&] { return !Data()->GetPath().empty(); }));
    ASSERT_TRUE(Data()->SetPathText(KV_String((work + "/many").c_str()), false));
    const int busiest =
        BusiestPass(list, [&] { return list->GetModel()->rowCount() >= kFiles + 2; });
    EXPECT_LT(busiest, kFiles) << "the whole listing went in during one pass";
    ASSERT_TRUE(Until([&] { return Entries(list).size() == size_t{kFiles} + 2; }));
    EXPECT_TRUE(CompleteAndSorted(Entries(list)));

    // A refresh announces every entry again: still each once.
    ASSERT_TRUE(Data()->Refresh());
    EXPECT_FALSE(Until([&] { return Entries(list).size() > size_t{kFiles} + 2; }, 1500));
    ASSERT_TRUE(Until([&] { return Entries(list).size() == size_t{kFiles} + 2; }));
    EXPECT_TRUE(CompleteAndSorted(Entries(list)));
    // Files stay the list's: the tree holds only the folders.
    EXPECT_EQ(Children(Tree()->ItemOf(Data()->GetPath())),
              (std::vector<std::string>{"sub1", "sub2"}));
}

TEST_F(LargeFolder_MT, EntriesOfOneKindShareOneIcon)
{
    Open(CBrowseSplt::kList);
    CFileListView* list = List();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(Show(work + "/many"));
    ASSERT_TRUE(Until([&] { return Entries(list).size() == size_t{kFiles} + 2; }));
    const std::vector<std::string> names = Names(list);
    const auto key = [&](const std::string& name) {
        const auto at = std::find(names.begin(), names.end(), name);
        EXPECT_NE(at, names.end()) << name;
        const int row = static_cast<int>(at - names.begin());
        return list->GetModel()->index(row, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey();
    };
    std::set<qint64> file_icons;
    for (const char* name : {"f00000.txt", "f01234.txt", "f04999.txt"}) {
        file_icons.insert(key(name));
    }
    EXPECT_EQ(file_icons.size(), 1u);
    EXPECT_EQ(key("sub1"), key("sub2")) << "the two folders";
    EXPECT_NE(key("sub1"), key("f00000.txt")) << "a folder and a file";
}

TEST_F(LargeFolder_MT, ClosingTheWindowLeavesItsFolderTreeAlone)
{
    Open(CBrowseSplt::kTree | CBrowseSplt::kList);
    CFileListView* list = List();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(Show(work + "/many"));
    ASSERT_TRUE(Until([&] { return Entries(list).size() == size_t{kFiles} + 2; }));
    // The list leaves first, and a pane without a list shows its files in
    // the tree: a dying tree took in every file of the folder, one by one,
    // and closing a window on 100,000 entries took seconds.
    int tree_rows = 0;
    QObject::connect(
        Tree()->GetModel(), &QAbstractItemModel::rowsInserted,
        [&](const QModelIndex&, int first, int last) { tree_rows += last - first + 1; });
    wnd.reset();
    EXPECT_EQ(tree_rows, 0);
}

} // namespace
