#include "foundation/kv_fileliststore.h"

#include <gtest/gtest.h>

#include "foundation/kv_filetreenode.h"

namespace {

KV_FileTreeNode* node(const char* name, bool dir = false)
{
    return new KV_FileTreeNode(true, KV_FileData(name, dir));
}

} // namespace

TEST(KV_FileListStore, MissingNamesTheWantedOnesNeverSeen)
{
    KVTL::KV_ListVal<KV_String> wanted;
    wanted.add("a");
    wanted.add("b");
    KV_FileListStore store(true, &wanted);
    EXPECT_STREQ(store.missing().data(), "a, b");
    EXPECT_TRUE(store.is_wanted("a"));
    EXPECT_FALSE(store.is_wanted("c"));
    ASSERT_TRUE(store.add(node("a")));
    EXPECT_STREQ(store.missing().data(), "b");
    ASSERT_TRUE(store.add(node("b", true)));
    EXPECT_STREQ(store.missing().data(), "");

    KV_FileListStore all(true, nullptr);
    EXPECT_TRUE(all.is_wanted("anything"));
    EXPECT_STREQ(all.missing().data(), "");
}

TEST(KV_FileListStore, CaseSensitivityOfLookups)
{
    KVTL::KV_ListVal<KV_String> wanted;
    wanted.add("README");
    for (bool case_sens : {false, true}) {
        SCOPED_TRACE(case_sens);
        KV_FileListStore store(case_sens, &wanted);
        ASSERT_TRUE(store.add(node("readme")));
        KV_FileTreeNode* hit = nullptr;
        EXPECT_EQ(store.find("README", &hit), !case_sens);
        EXPECT_EQ(store.is_wanted("readme"), !case_sens);
        EXPECT_STREQ(store.missing().data(), case_sens ? "README" : "");
    }
}

TEST(KV_FileListStore, ContainsMatchesOnlyTheSameKind)
{
    KV_FileListStore store(true, nullptr);
    ASSERT_TRUE(store.add(node("x", true)));
    KV_FileTreeNode file_x(true, KV_FileData("x", false));
    KV_FileTreeNode dir_x(true, KV_FileData("x", true));
    KV_FileTreeNode* hit = nullptr;
    EXPECT_FALSE(store.contains(&file_x, &hit));
    EXPECT_TRUE(store.contains(&dir_x, &hit));
    EXPECT_EQ(hit, store.entries().at(0));
}

TEST(KV_FileListStore, OwnershipOfNodes)
{
    KV_FileListStore store(true, nullptr);
    EXPECT_FALSE(store.add(nullptr));
    EXPECT_EQ(store.entries().size(), 0u);
    ASSERT_TRUE(store.add(node("kept")));
    ASSERT_TRUE(store.add(node("taken")));
    KV_FileTreeNode* taken = store.entries().at(1);
    ASSERT_TRUE(store.remove_at(1));
    delete taken; // remove_at handed it to us; the store deletes "kept" (ASan checks both)
    EXPECT_EQ(store.entries().size(), 1u);
}
