// Tests of the container templates. Growth steps are written as the numbers
// of this platform (x86-64, libstdc++): 1024 bytes' worth of elements, at
// least one.
#include "foundation/kvtl.h"

#include "foundation/kv_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace KVTL;

namespace {

// Element with an order key and a tag that takes no part in comparisons, to
// tell equal elements apart.
struct Keyed
{
    int key = 0;
    int tag = 0;
    bool operator==(const Keyed& o) const { return key == o.key; }
    bool operator<(const Keyed& o) const { return key < o.key; }
};

// A pointee whose by-reference == means something else (like KV_FileReq's
// duplicate rule) and whose pointer forms give the container order.
struct Req
{
    int prio = 0;
    int id = 0;
    bool operator==(const Req&) const { return true; }
    bool operator==(const Req* o) const { return o && prio == o->prio && id == o->id; }
    bool operator<(const Req* o) const
    {
        if (!o) {
            return false;
        }
        return prio != o->prio ? prio > o->prio : id < o->id;
    }
};

// A pointee compared by value through its by-reference operators.
struct Val
{
    int v = 0;
    bool operator==(const Val& o) const { return v == o.v; }
    bool operator<(const Val& o) const { return v < o.v; }
};

// A pointee without any comparison: pointer lists fall back to identity.
struct Opaque
{
    int v = 0;
};

// Counts destructions, to show that pointer lists never delete pointees.
struct Counted
{
    static int destroyed;
    int v = 0;
    explicit Counted(int x = 0) : v(x) {}
    ~Counted() { ++destroyed; }
    bool operator==(const Counted& o) const { return v == o.v; }
};
int Counted::destroyed = 0;

struct Big
{
    char bytes[2000];
    bool operator==(const Big& o) const { return bytes[0] == o.bytes[0]; }
};

template <class T> std::vector<T> contents(const KV_ListBase<T>& list)
{
    std::vector<T> out;
    for (uint32_t i = 0; i < list.size(); ++i) {
        out.push_back(list.at(i));
    }
    return out;
}

std::vector<int> keys_of(const KV_ListBase<Keyed>& list)
{
    std::vector<int> out;
    for (uint32_t i = 0; i < list.size(); ++i) {
        out.push_back(list.at(i).key);
    }
    return out;
}

// The growth and shrink walk of the Part's edge case, generalised to the
// step g of T: 0 -> g -> 2g while adding 2g elements; removing from the end
// keeps 2g until count g-1 (the first count with count + g < 2g), where the
// array is cut to exactly g-1; then it stays until the last removal frees it.
template <class T, class Make> void check_growth_walk(uint32_t g, Make make)
{
    KV_ListVal<T> list;
    ASSERT_EQ(list.grow_step(), g);
    EXPECT_EQ(list.capacity(), 0u);
    EXPECT_EQ(list.data(), nullptr);

    for (uint32_t i = 0; i < 2 * g; ++i) {
        ASSERT_TRUE(list.add(make(i)));
        EXPECT_EQ(list.capacity(), i < g ? g : 2 * g) << "after adding element " << i;
    }
    for (uint32_t i = 0; i < 2 * g; ++i) {
        ASSERT_TRUE(list.at(i) == make(i)) << "element-wise copy lost element " << i;
    }

    while (list.size() > 0) {
        uint32_t before = list.capacity();
        ASSERT_TRUE(list.remove_at(list.size() - 1));
        uint32_t count = list.size();
        SCOPED_TRACE(count);
        if (count == 0) {
            EXPECT_EQ(list.capacity(), 0u);
            EXPECT_EQ(list.data(), nullptr);
        } else if (count + g < before) {
            EXPECT_EQ(list.capacity(), count);
        } else {
            EXPECT_EQ(list.capacity(), before);
        }
        if (count == g - 1 && g > 1) {
            EXPECT_EQ(list.capacity(), g - 1);
        }
        if (count >= g) {
            EXPECT_EQ(list.capacity(), 2 * g);
        }
    }
    for (uint32_t i = 0; i < list.size(); ++i) {
        EXPECT_TRUE(list.at(i) == make(i));
    }
}

// Works on any list through the base interface only.
template <class T> bool base_round_trip(KV_ListBase<T>& list, const T& a, const T& b)
{
    uint32_t pos = 99;
    return list.add(a) && list.add(b) && list.size() == 2 && list.find(b, nullptr, &pos) &&
           pos == 1 && list.remove(a) && list.size() == 1 && list.at(0) == b && list.remove_at(0) &&
           list.size() == 0;
}

} // namespace

// ---------------------------------------------------------------------------
// KV_ListVal
// ---------------------------------------------------------------------------

TEST(KvtlListVal, DefaultGrowStepIsOneKilobyteOfElements)
{
    EXPECT_EQ(KV_ListVal<uint32_t>().grow_step(), 256u);
    EXPECT_EQ(KV_ListVal<char>().grow_step(), 1024u);
    EXPECT_EQ(KV_ListVal<void*>().grow_step(), 128u);
    static_assert(sizeof(std::string) == 32, "the numbers below are libstdc++'s");
    EXPECT_EQ(KV_ListVal<std::string>().grow_step(), 32u);
    EXPECT_EQ(KV_ListVal<Keyed>().grow_step(), 128u); // 8 bytes
    EXPECT_EQ(KV_ListVal<Big>().grow_step(), 1u);     // 2000 bytes: never 0
    EXPECT_EQ(KV_ListPtr<Big>().grow_step(), 128u);
}

TEST(KvtlListVal, NewListIsEmptyWithoutStorage)
{
    KV_ListVal<int> list;
    EXPECT_EQ(list.size(), 0u);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.capacity(), 0u);
    EXPECT_EQ(list.data(), nullptr);
    EXPECT_EQ(list.copy_mode(), 1);
    EXPECT_EQ(list.at(0), 0);
}

TEST(KvtlListVal, OutOfRangeReadsReturnNullElement)
{
    KV_ListVal<int> ints;
    KV_ListVal<std::string> strs;
    KV_ListPtr<Val> ptrs;
    Val v;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(ints.add(i));
        ASSERT_TRUE(strs.add("s" + std::to_string(i)));
        ASSERT_TRUE(ptrs.add(&v));
    }
    EXPECT_EQ(ints.at(5), 0);
    EXPECT_EQ(&ints.at(5), &ints.null_elem());
    EXPECT_EQ(&ints.at(3), &ints.null_elem());
    EXPECT_EQ(ints.at(2), 3);
    EXPECT_EQ(strs.at(5), "");
    EXPECT_EQ(ptrs.at(5), nullptr);
    const KV_ListVal<std::string>& cs = strs;
    EXPECT_EQ(&cs.at(5), &cs.null_elem());
    EXPECT_EQ(cs.at(0), "s1");
}

TEST(KvtlListVal, InsertPositions)
{
    KV_ListVal<int> list;
    for (int i : {1, 2, 3}) {
        ASSERT_TRUE(list.add(i));
    }
    EXPECT_FALSE(list.insert(4, 9)); // beyond the end
    EXPECT_EQ(contents<int>(list), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(list.insert(3, 4)); // at the end: appends
    EXPECT_TRUE(list.insert(0, 0));
    EXPECT_TRUE(list.insert(2, 7));
    EXPECT_EQ(contents<int>(list), (std::vector<int>{0, 1, 7, 2, 3, 4}));
}

TEST(KvtlListVal, GrowthAndShrinkWalkInts)
{
    check_growth_walk<int>(256, [](uint32_t i) { return static_cast<int>(i * 3 + 1); });
}

TEST(KvtlListVal, GrowthAndShrinkWalkStrings)
{
    check_growth_walk<std::string>(32, [](uint32_t i) {
        return "a string long enough to live on the heap #" + std::to_string(i);
    });
}

TEST(KvtlListVal, GrowthAndShrinkWalkBigElements)
{
    // A step of 1: every add grows by one and every removal with a free place
    // more than one step cuts back.
    check_growth_walk<Big>(1, [](uint32_t i) {
        Big b{};
        b.bytes[0] = static_cast<char>(i);
        return b;
    });
}

TEST(KvtlListVal, CustomGrowStep)
{
    KV_ListVal<int> list;
    EXPECT_EQ(list.set_grow(0), 1u);
    EXPECT_EQ(list.grow_step(), 1u);
    EXPECT_EQ(list.set_grow(4), 4u);
    const uint32_t expect_cap[] = {4, 4, 4, 4, 8, 8, 8, 8, 12};
    for (uint32_t i = 0; i < 9; ++i) {
        ASSERT_TRUE(list.add(static_cast<int>(i)));
        EXPECT_EQ(list.capacity(), expect_cap[i]) << "after add " << i;
    }
    // 9 in 12: removing to count 7 (7 + 4 < 12) cuts to 7.
    ASSERT_TRUE(list.remove_at(0));
    EXPECT_EQ(list.capacity(), 12u); // 8 + 4 == 12: not less
    ASSERT_TRUE(list.remove_at(0));
    EXPECT_EQ(list.capacity(), 7u);
    EXPECT_EQ(contents<int>(list), (std::vector<int>{2, 3, 4, 5, 6, 7, 8}));
}

TEST(KvtlListVal, ReserveGrowsAndShrinksToCount)
{
    KV_ListVal<int> list;
    EXPECT_TRUE(list.reserve(0)); // empty list: frees (nothing), true
    EXPECT_EQ(list.capacity(), 0u);
    EXPECT_TRUE(list.reserve(100));
    EXPECT_EQ(list.capacity(), 100u);
    EXPECT_EQ(list.size(), 0u);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(list.add(i));
    }
    EXPECT_EQ(list.capacity(), 100u);
    EXPECT_TRUE(list.reserve(10)); // cut to the count
    EXPECT_EQ(list.capacity(), 20u);
    EXPECT_EQ(list.size(), 20u);
    EXPECT_TRUE(list.add(20)); // full: grows by one step
    EXPECT_EQ(list.capacity(), 20u + list.grow_step());
    for (int i = 0; i <= 20; ++i) {
        EXPECT_EQ(list.at(i), i);
    }
    list.clear();
    EXPECT_TRUE(list.reserve(0));
    EXPECT_EQ(list.data(), nullptr);
}

TEST(KvtlListVal, RemoveTakesOnlyTheFirstEqualElement)
{
    KV_ListVal<Keyed> list;
    const Keyed items[] = {{1, 0}, {2, 1}, {1, 2}, {2, 3}};
    for (const Keyed& k : items) {
        ASSERT_TRUE(list.add(k));
    }
    EXPECT_TRUE(list.remove(Keyed{2, 99}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.at(0).tag, 0);
    EXPECT_EQ(list.at(1).tag, 2);
    EXPECT_EQ(list.at(2).tag, 3);
    EXPECT_FALSE(list.remove(Keyed{5, 0}));
    EXPECT_EQ(list.size(), 3u);
}

TEST(KvtlListVal, RemoveAtShiftsAndChecksRange)
{
    KV_ListVal<std::string> list;
    for (const char* s : {"a", "b", "c", "d"}) {
        ASSERT_TRUE(list.add(s));
    }
    EXPECT_FALSE(list.remove_at(4));
    EXPECT_TRUE(list.remove_at(1));
    EXPECT_EQ(contents<std::string>(list), (std::vector<std::string>{"a", "c", "d"}));
    EXPECT_TRUE(list.remove_at(2));
    EXPECT_EQ(contents<std::string>(list), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(list.remove_at(0));
    EXPECT_TRUE(list.remove_at(0));
    EXPECT_FALSE(list.remove_at(0));
    EXPECT_EQ(list.data(), nullptr); // the last removal freed the array
}

TEST(KvtlListVal, FindIsLinearAndReportsTheFirstMatch)
{
    KV_ListVal<Keyed> list;
    for (const Keyed& k : {Keyed{5, 0}, Keyed{3, 1}, Keyed{5, 2}}) {
        ASSERT_TRUE(list.add(k));
    }
    Keyed out;
    uint32_t pos = 77;
    EXPECT_TRUE(list.find(Keyed{5, -1}, &out, &pos));
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(out.tag, 0);
    EXPECT_TRUE(list.find(Keyed{3, -1}, nullptr, &pos));
    EXPECT_EQ(pos, 1u);
    EXPECT_TRUE(list.find(Keyed{3, -1}));
    out = Keyed{42, 42};
    pos = 77;
    EXPECT_FALSE(list.find(Keyed{4, -1}, &out, &pos));
    EXPECT_EQ(out.key, 42); // untouched on a miss
    EXPECT_EQ(pos, 77u);
}

TEST(KvtlListVal, InsertOfOwnElementSurvivesResize)
{
    KV_ListVal<std::string> list;
    list.set_grow(1); // every add reallocates
    ASSERT_TRUE(list.add(std::string(64, 'x')));
    ASSERT_TRUE(list.add(std::string(64, 'y')));
    ASSERT_TRUE(list.add(list.at(0)));       // append a copy of the first
    ASSERT_TRUE(list.insert(0, list.at(1))); // the shifted element itself
    EXPECT_EQ(contents<std::string>(list),
              (std::vector<std::string>{std::string(64, 'y'), std::string(64, 'x'),
                                        std::string(64, 'y'), std::string(64, 'x')}));
}

TEST(KvtlListVal, ClearFreesStorageAndListStaysUsable)
{
    KV_ListVal<std::string> list;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(list.add(std::string(40, static_cast<char>('a' + i % 26))));
    }
    list.clear();
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(list.capacity(), 0u);
    EXPECT_EQ(list.data(), nullptr);
    EXPECT_TRUE(list.add("again"));
    EXPECT_EQ(list.at(0), "again");
}

TEST(KvtlListVal, DestructorFreesStorageTheOwnerDidNotClear)
{
    // Nothing to assert: the leak checker of the sanitizer build would report.
    KV_ListVal<std::string> list;
    ASSERT_TRUE(list.add(std::string(100, 'z')));
}

TEST(KvtlListVal, RangeForVisitsTheElements)
{
    KV_ListVal<int> list;
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(list.add(i));
    }
    int sum = 0;
    for (int v : list) {
        sum += v;
    }
    EXPECT_EQ(sum, 10);
}

TEST(KvtlListVal, EveryListWorksThroughTheBase)
{
    KV_ListVal<std::string> val;
    KV_ListValSrt<std::string> srt;
    KV_SListVal<std::string> slist;
    EXPECT_TRUE(base_round_trip<std::string>(val, "b", "c"));
    EXPECT_TRUE(base_round_trip<std::string>(srt, "b", "c"));
    EXPECT_TRUE(base_round_trip<std::string>(slist, "b", "c"));
    Val a{1};
    Val b{2};
    KV_ListPtr<Val> ptr;
    KV_ListPtrSrt<Val> ptr_srt;
    EXPECT_TRUE(base_round_trip<Val*>(ptr, &a, &b));
    EXPECT_TRUE(base_round_trip<Val*>(ptr_srt, &a, &b));
}

// ---------------------------------------------------------------------------
// KV_ListValSrt
// ---------------------------------------------------------------------------

struct SortedAddCase
{
    const char* name;
    std::vector<int> before;
    int key;
    uint32_t expect_pos;
};

class KvtlListValSrtAdd : public testing::TestWithParam<SortedAddCase>
{
};

TEST_P(KvtlListValSrtAdd, PlacesAfterEqualElements)
{
    const SortedAddCase& c = GetParam();
    KV_ListValSrt<Keyed> list;
    for (int k : c.before) {
        ASSERT_TRUE(list.add(Keyed{k, 0}));
    }
    uint32_t pos = 12345;
    EXPECT_FALSE(list.search(Keyed{c.key, 1}, pos, true));
    EXPECT_EQ(pos, c.expect_pos);
    ASSERT_TRUE(list.add(Keyed{c.key, 1}));
    ASSERT_EQ(list.size(), c.before.size() + 1);
    EXPECT_EQ(list.at(c.expect_pos).key, c.key);
    EXPECT_EQ(list.at(c.expect_pos).tag, 1);
    std::vector<int> keys = keys_of(list);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
}

INSTANTIATE_TEST_SUITE_P(Cases, KvtlListValSrtAdd,
                         testing::Values(SortedAddCase{"dup_middle", {1, 2, 2, 3}, 2, 3},
                                         SortedAddCase{"before_single", {5}, 0, 0},
                                         SortedAddCase{"after_single", {5}, 6, 1},
                                         SortedAddCase{"equal_single", {5}, 5, 1},
                                         SortedAddCase{"empty", {}, 7, 0},
                                         SortedAddCase{"between_two", {1, 3}, 2, 1},
                                         SortedAddCase{"after_two", {1, 3}, 4, 2},
                                         SortedAddCase{"front_of_five", {1, 2, 3, 4, 5}, 0, 0},
                                         SortedAddCase{"end_of_five", {1, 2, 3, 4, 5}, 9, 5},
                                         SortedAddCase{"equal_last", {1, 2, 3, 4, 5}, 5, 5},
                                         SortedAddCase{"equal_first", {1, 2, 3, 4, 5}, 1, 1},
                                         SortedAddCase{"all_equal", {4, 4, 4, 4}, 4, 4}),
                         [](const testing::TestParamInfo<SortedAddCase>& info) {
                             return info.param.name;
                         });

TEST(KvtlListValSrt, MatchesStableSortedVectorOnRandomKeys)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> dist(0, 200);
    KV_ListValSrt<Keyed> list;
    std::vector<Keyed> ref;
    for (int tag = 0; tag < 2000; ++tag) {
        Keyed k{dist(rng), tag};
        ASSERT_TRUE(list.add(k));
        ref.insert(std::upper_bound(ref.begin(), ref.end(), k), k);
    }
    ASSERT_EQ(list.size(), ref.size());
    for (uint32_t i = 0; i < list.size(); ++i) {
        ASSERT_EQ(list.at(i).key, ref[i].key) << i;
        ASSERT_EQ(list.at(i).tag, ref[i].tag) << i; // equal keys keep arrival order
    }
    for (int key = -5; key <= 205; ++key) {
        Keyed out;
        uint32_t pos = 0;
        bool present = std::binary_search(ref.begin(), ref.end(), Keyed{key, 0});
        ASSERT_EQ(list.find(Keyed{key, 0}, &out, &pos), present) << key;
        if (present) {
            EXPECT_EQ(out.key, key);
            EXPECT_EQ(list.at(pos).key, key);
        }
    }
}

TEST(KvtlListValSrt, RemoveAndFindUseTheSortedSearch)
{
    KV_ListValSrt<int> list;
    for (int k : {9, 1, 5, 3, 7}) {
        ASSERT_TRUE(list.add(k));
    }
    EXPECT_EQ(contents<int>(list), (std::vector<int>{1, 3, 5, 7, 9}));
    uint32_t pos = 0;
    EXPECT_TRUE(list.find(7, nullptr, &pos));
    EXPECT_EQ(pos, 3u);
    EXPECT_FALSE(list.find(4));
    EXPECT_TRUE(list.remove(5));
    EXPECT_FALSE(list.remove(5));
    EXPECT_EQ(contents<int>(list), (std::vector<int>{1, 3, 7, 9}));
    EXPECT_FALSE(KV_ListValSrt<int>().find(1));
    EXPECT_FALSE(KV_ListValSrt<int>().remove(1));
}

TEST(KvtlListValSrt, FindWithDuplicatesReturnsOneOfTheEqualElements)
{
    KV_ListValSrt<Keyed> list;
    for (int tag = 0; tag < 6; ++tag) {
        ASSERT_TRUE(list.add(Keyed{tag < 1 ? 1 : tag < 5 ? 2 : 3, tag}));
    }
    Keyed out;
    uint32_t pos = 0;
    ASSERT_TRUE(list.find(Keyed{2, -1}, &out, &pos));
    EXPECT_EQ(out.key, 2);
    EXPECT_GE(pos, 1u);
    EXPECT_LE(pos, 4u);
}

TEST(KvtlListValSrt, InsertAtPositionDoesNotCheckOrder)
{
    KV_ListValSrt<int> list;
    ASSERT_TRUE(list.add(1));
    ASSERT_TRUE(list.add(2));
    EXPECT_TRUE(list.insert(0, 10));
    EXPECT_EQ(contents<int>(list), (std::vector<int>{10, 1, 2}));
}

TEST(KvtlListValSrt, StringsSortByteWise)
{
    KV_ListValSrt<std::string> list;
    for (const char* s : {"pear", "apple", "Zebra", "fig", "apple"}) {
        ASSERT_TRUE(list.add(s));
    }
    EXPECT_EQ(contents<std::string>(list),
              (std::vector<std::string>{"Zebra", "apple", "apple", "fig", "pear"}));
}

// ---------------------------------------------------------------------------
// Pointer lists
// ---------------------------------------------------------------------------

TEST(KvtlListPtr, ConstructionSetsNullElementAndByteCopy)
{
    KV_ListPtr<Val> list;
    EXPECT_EQ(list.null_elem(), nullptr);
    EXPECT_EQ(list.copy_mode(), 0);
    EXPECT_EQ(list.grow_step(), 128u);
    EXPECT_EQ(KV_ListPtrSrt<Val>().copy_mode(), 0);
}

TEST(KvtlListPtr, ComparesPointeesNotAddresses)
{
    Val a{1};
    Val b{2};
    Val b2{2};
    KV_ListPtr<Val> list;
    ASSERT_TRUE(list.add(&a));
    ASSERT_TRUE(list.add(&b));
    Val* out = nullptr;
    uint32_t pos = 0;
    EXPECT_TRUE(list.find(&b2, &out, &pos)); // another object, equal value
    EXPECT_EQ(out, &b);
    EXPECT_EQ(pos, 1u);
    EXPECT_TRUE(list.remove(&b2));
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(list.at(0), &a);
}

TEST(KvtlListPtr, PrefersThePointeesPointerFormOperators)
{
    // Req's by-reference == is always true; the list must use the pointer form.
    Req r1{1, 10};
    Req r2{1, 11};
    Req r3{5, 12};
    KV_ListPtr<Req> list;
    ASSERT_TRUE(list.add(&r1));
    ASSERT_TRUE(list.add(&r2));
    uint32_t pos = 0;
    Req probe{1, 11};
    EXPECT_TRUE(list.find(&probe, nullptr, &pos));
    EXPECT_EQ(pos, 1u);
    Req missing{2, 10};
    EXPECT_FALSE(list.find(&missing));

    // The sorted queue: higher priority first, then smaller id.
    KV_ListPtrSrt<Req> queue;
    ASSERT_TRUE(queue.add(&r2));
    ASSERT_TRUE(queue.add(&r1));
    ASSERT_TRUE(queue.add(&r3));
    EXPECT_EQ(queue.at(0), &r3);
    EXPECT_EQ(queue.at(1), &r1);
    EXPECT_EQ(queue.at(2), &r2);
}

TEST(KvtlListPtr, PointeesWithoutComparisonUseIdentity)
{
    Opaque a{1};
    Opaque a_twin{1};
    KV_ListPtr<Opaque> list;
    ASSERT_TRUE(list.add(&a));
    EXPECT_TRUE(list.find(&a));
    EXPECT_FALSE(list.find(&a_twin));
}

TEST(KvtlListPtr, NullPointersCompareSafely)
{
    Val a{1};
    KV_ListPtr<Val> list;
    ASSERT_TRUE(list.add(&a));
    ASSERT_TRUE(list.add(nullptr));
    uint32_t pos = 0;
    EXPECT_TRUE(list.find(nullptr, nullptr, &pos));
    EXPECT_EQ(pos, 1u);
    EXPECT_TRUE(list.less(nullptr, &a));
    EXPECT_FALSE(list.less(&a, nullptr));
    EXPECT_FALSE(list.equal(&a, nullptr));
    EXPECT_TRUE(list.remove(nullptr));
    EXPECT_EQ(list.size(), 1u);
}

TEST(KvtlListPtr, NeverDeletesPointees)
{
    Counted::destroyed = 0;
    std::vector<Counted*> objs;
    {
        KV_ListPtr<Counted> list;
        for (int i = 0; i < 300; ++i) { // crosses a growth step and back
            objs.push_back(new Counted(i));
            ASSERT_TRUE(list.add(objs.back()));
        }
        for (int i = 0; i < 150; ++i) {
            ASSERT_TRUE(list.remove_at(0));
        }
        list.clear();
        ASSERT_TRUE(list.add(objs[0])); // left for the list's destructor
    }
    EXPECT_EQ(Counted::destroyed, 0);
    for (Counted* c : objs) {
        delete c;
    }
    EXPECT_EQ(Counted::destroyed, 300);
}

TEST(KvtlListPtr, SortedListOfConstPointees)
{
    const Val v3{3};
    const Val v1{1};
    const Val v2{2};
    KV_ListPtrSrt<const Val> list;
    ASSERT_TRUE(list.add(&v3));
    ASSERT_TRUE(list.add(&v1));
    ASSERT_TRUE(list.add(&v2));
    EXPECT_EQ(list.at(0), &v1);
    EXPECT_EQ(list.at(1), &v2);
    EXPECT_EQ(list.at(2), &v3);
    const Val probe{2};
    uint32_t pos = 0;
    EXPECT_TRUE(list.find(&probe, nullptr, &pos));
    EXPECT_EQ(pos, 1u);
}

TEST(KvtlListPtr, ResizeKeepsPointers)
{
    std::vector<Val> vals(1000);
    KV_ListPtr<Val> list;
    for (int i = 0; i < 1000; ++i) {
        vals[i].v = i;
        ASSERT_TRUE(list.add(&vals[i]));
    }
    for (uint32_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(list.at(i), &vals[i]);
    }
}

// A tree node that holds a sorted list of its own kind, declared before the
// node's comparison operators (the shape of KV_FileTreeNode): the list must
// still pick the pointer forms, not the by-reference == (always true here).
struct TreeNode
{
    KV_ListPtrSrt<TreeNode> children;
    int key = 0;
    explicit TreeNode(int k = 0) : key(k) {}
    ~TreeNode() { children.clear(); }
    bool operator==(const TreeNode&) const { return true; }
    bool operator==(const TreeNode* o) const { return o && key == o->key; }
    bool operator<(const TreeNode* o) const { return o && key > o->key; } // descending
};

TEST(KvtlListPtr, SelfReferentialPointeeUsesPointerForms)
{
    TreeNode root;
    TreeNode a(1);
    TreeNode b(2);
    TreeNode c(3);
    ASSERT_TRUE(root.children.add(&a));
    ASSERT_TRUE(root.children.add(&c));
    ASSERT_TRUE(root.children.add(&b));
    EXPECT_EQ(root.children.at(0), &c);
    EXPECT_EQ(root.children.at(1), &b);
    EXPECT_EQ(root.children.at(2), &a);
    TreeNode probe(4);
    EXPECT_FALSE(root.children.find(&probe));
}

// ---------------------------------------------------------------------------
// KV_SListVal
// ---------------------------------------------------------------------------

TEST(KvtlSListVal, AddInsertAndAt)
{
    KV_SListVal<int> list;
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(list.tail(), nullptr);
    ASSERT_TRUE(list.add(2));
    ASSERT_TRUE(list.add(4));
    ASSERT_TRUE(list.insert(0, 1));  // at the head
    ASSERT_TRUE(list.insert(2, 3));  // in the middle
    ASSERT_TRUE(list.insert(4, 5));  // at the end: the tail moves
    EXPECT_FALSE(list.insert(6, 9)); // beyond the end
    EXPECT_EQ(contents<int>(list), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(list.tail()->value, 5);
    EXPECT_EQ(list.head()->value, 1);
    EXPECT_EQ(list.at(7), 0);
    EXPECT_EQ(&list.at(7), &list.null_elem());
    ASSERT_TRUE(list.add(6));
    EXPECT_EQ(list.tail()->value, 6);
}

TEST(KvtlSListVal, RemovalsKeepHeadAndTail)
{
    KV_SListVal<int> list;
    ASSERT_TRUE(list.add(1));
    EXPECT_TRUE(list.remove_at(0));
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(list.tail(), nullptr);
    EXPECT_EQ(list.size(), 0u);
    EXPECT_FALSE(list.remove_at(0));

    for (int i : {1, 2, 3, 2}) {
        ASSERT_TRUE(list.add(i));
    }
    EXPECT_TRUE(list.remove_at(3)); // the tail
    EXPECT_EQ(list.tail()->value, 3);
    EXPECT_FALSE(list.remove_at(3));
    EXPECT_TRUE(list.add(2));
    EXPECT_TRUE(list.remove(2)); // only the first 2
    EXPECT_EQ(contents<int>(list), (std::vector<int>{1, 3, 2}));
    EXPECT_FALSE(list.remove(7));
    EXPECT_TRUE(list.remove(1)); // the head
    EXPECT_EQ(list.head()->value, 3);
    EXPECT_TRUE(list.remove(2)); // the tail
    EXPECT_EQ(list.tail()->value, 3);
    EXPECT_EQ(list.head(), list.tail());
    list.clear();
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(list.tail(), nullptr);
    EXPECT_TRUE(list.add(8)); // usable after clear
    EXPECT_EQ(list.tail()->value, 8);
}

TEST(KvtlSListVal, FindReportsTheFirstMatch)
{
    KV_SListVal<Keyed> list;
    for (const Keyed& k : {Keyed{4, 0}, Keyed{5, 1}, Keyed{4, 2}}) {
        ASSERT_TRUE(list.add(k));
    }
    Keyed out;
    uint32_t pos = 0;
    EXPECT_TRUE(list.find(Keyed{4, -1}, &out, &pos));
    EXPECT_EQ(out.tag, 0);
    EXPECT_EQ(pos, 0u);
    EXPECT_TRUE(list.find(Keyed{5, -1}, &out, &pos));
    EXPECT_EQ(pos, 1u);
    EXPECT_FALSE(list.find(Keyed{6, -1}));
}

TEST(KvtlSListVal, ReserveAndGrowAreTheBaseOnes)
{
    KV_SListVal<std::string> list;
    EXPECT_TRUE(list.reserve(100));
    EXPECT_EQ(list.set_grow(10), 0u);
    ASSERT_TRUE(list.add(std::string(50, 'n'))); // freed by the destructor
}

// ---------------------------------------------------------------------------
// Hash maps
// ---------------------------------------------------------------------------

TEST(KvtlHMap, HasFiveHundredTwelveBuckets)
{
    KV_HMapVal<uint32_t, int> map;
    EXPECT_EQ(map.size(), 512u);
    EXPECT_EQ(map.entries(), 0u);
    EXPECT_EQ(map.grow_step(), 256u);
    for (uint32_t i = 0; i < 512; ++i) {
        ASSERT_NE(map.at(i), nullptr);
    }
    EXPECT_EQ(map.at(512), nullptr);
    EXPECT_EQ(map.bucket_index(7), 7u);
    EXPECT_EQ(map.bucket_index(519), 7u);
    EXPECT_EQ(map.bucket_index(0xFFFFFFFFu), 511u);
}

TEST(KvtlHMap, KeysSharingABucket)
{
    KV_HMapVal<uint32_t, std::string> map;
    ASSERT_TRUE(map.add(7, "seven"));
    ASSERT_TRUE(map.add(519, "five-nineteen"));
    EXPECT_EQ(map.at(7)->size(), 2u); // both in bucket 7
    EXPECT_EQ(map.find(519), "five-nineteen");
    EXPECT_EQ(map.find(7), "seven");
    EXPECT_EQ(map.find(8), ""); // missing: the default value
    std::string out = "untouched";
    EXPECT_FALSE(map.find(1031, &out));
    EXPECT_EQ(out, "untouched");
    EXPECT_TRUE(map.find(519, &out));
    EXPECT_EQ(out, "five-nineteen");
    EXPECT_TRUE(map.contains(7));
    EXPECT_FALSE(map.contains(6));
    EXPECT_EQ(map.entries(), 2u);
}

TEST(KvtlHMap, SecondAddOfAKeyIsHiddenUntilTheFirstGoes)
{
    KV_HMapVal<uint32_t, int> map;
    ASSERT_TRUE(map.add(7, 1));
    ASSERT_TRUE(map.add(7, 2));
    EXPECT_EQ(map.entries(), 2u);
    EXPECT_EQ(map.find(7), 1);
    EXPECT_TRUE(map.remove(7));
    EXPECT_EQ(map.entries(), 1u);
    EXPECT_EQ(map.find(7), 2);
    EXPECT_TRUE(map.remove(7));
    EXPECT_FALSE(map.remove(7));
    EXPECT_EQ(map.entries(), 0u);
    EXPECT_FALSE(map.contains(7));
}

TEST(KvtlHMap, KeyZeroWorks)
{
    KV_HMapVal<uint32_t, int> map;
    uint32_t zero = 0;
    ASSERT_TRUE(map.add(zero, 5));
    EXPECT_EQ(map.find(zero), 5);
    EXPECT_TRUE(map.remove(zero));
}

TEST(KvtlHMap, ClearRemovesTheBucketsForGood)
{
    KV_HMapVal<uint32_t, std::string> map;
    ASSERT_TRUE(map.add(3, std::string(40, 'v')));
    map.clear();
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.capacity(), 0u);
    EXPECT_EQ(map.entries(), 0u);
    EXPECT_EQ(map.bucket_index(3), 0u);
    EXPECT_FALSE(map.add(3, "x"));
    EXPECT_FALSE(map.remove(3));
    EXPECT_EQ(map.find(3), "");
    EXPECT_EQ(map.entries(), 0u);
}

TEST(KvtlHMap, RemoveAllKeepsTheMapUsable)
{
    KV_HMapVal<uint32_t, int> map;
    for (uint32_t k = 0; k < 2000; ++k) {
        ASSERT_TRUE(map.add(k, static_cast<int>(k) * 2));
    }
    EXPECT_EQ(map.entries(), 2000u);
    for (uint32_t k = 0; k < 2000; ++k) {
        ASSERT_EQ(map.find(k), static_cast<int>(k) * 2);
    }
    map.remove_all();
    EXPECT_EQ(map.entries(), 0u);
    EXPECT_EQ(map.size(), 512u);
    EXPECT_FALSE(map.contains(5));
    EXPECT_TRUE(map.add(5, 1));
    EXPECT_EQ(map.find(5), 1);
}

TEST(KvtlHMap, PointerMapDeletesValueOnRemove)
{
    Counted::destroyed = 0;
    KV_HMapPtr<uint32_t, Counted> map;
    ASSERT_TRUE(map.add(1, new Counted(10)));
    ASSERT_TRUE(map.add(513, new Counted(20)));
    ASSERT_TRUE(map.add(2, new Counted(30)));
    EXPECT_EQ(map.find(4), nullptr);
    ASSERT_NE(map.find(513), nullptr);
    EXPECT_EQ(map.find(513)->v, 20);
    EXPECT_TRUE(map.remove(1));
    EXPECT_EQ(Counted::destroyed, 1);
    EXPECT_EQ(map.entries(), 2u);
    EXPECT_EQ(map.find(513)->v, 20);
    EXPECT_FALSE(map.remove(1));
    EXPECT_EQ(Counted::destroyed, 1);
    map.delete_all();
    EXPECT_EQ(Counted::destroyed, 3);
    EXPECT_EQ(map.entries(), 0u);
    EXPECT_TRUE(map.add(1, new Counted(40)));
    EXPECT_TRUE(map.remove(1));
    EXPECT_EQ(Counted::destroyed, 4);
}

TEST(KvtlHMap, OwnerDeletesValuesByIterationThenClears)
{
    Counted::destroyed = 0;
    {
        KV_HMapPtr<uint32_t, Counted> map;
        for (uint32_t k = 0; k < 1500; k += 3) {
            ASSERT_TRUE(map.add(k, new Counted(static_cast<int>(k))));
        }
        KV_HMapPtrIterator<uint32_t, Counted> it(map);
        int seen = 0;
        for (it.first(); !it.end(); it.next()) {
            EXPECT_EQ(static_cast<uint32_t>(it.value()->v), it.key());
            delete it.value();
            ++seen;
        }
        EXPECT_EQ(seen, 500);
        map.clear();
    }
    EXPECT_EQ(Counted::destroyed, 500); // the map's destructor deleted none
}

TEST(KvtlHMap, IterationVisitsBucketsInOrderAndInsertionOrderWithin)
{
    KV_HMapVal<uint32_t, int> map;
    ASSERT_TRUE(map.add(511, 1));
    ASSERT_TRUE(map.add(1027, 2)); // bucket 3
    ASSERT_TRUE(map.add(3, 3));    // bucket 3, after 1027
    ASSERT_TRUE(map.add(1023, 4)); // bucket 511, after 511
    KV_HMapValIterator<uint32_t, int> it(map);
    std::vector<uint32_t> keys;
    std::vector<int> values;
    for (it.first(); !it.end(); it.next()) {
        keys.push_back(it.key());
        values.push_back(it.value());
        EXPECT_EQ(it.entry().key, it.key());
        EXPECT_EQ(it.current(), map.at(it.key() % 512)); // current() is the bucket
        ASSERT_LE(keys.size(), 4u);
    }
    EXPECT_EQ(keys, (std::vector<uint32_t>{1027, 3, 511, 1023}));
    EXPECT_EQ(values, (std::vector<int>{2, 3, 1, 4}));
    EXPECT_TRUE(it.end());
    it.next(); // stays at the end
    EXPECT_TRUE(it.end());
    EXPECT_EQ(it.key(), 0u);
    EXPECT_EQ(it.value(), 0);
}

TEST(KvtlHMap, IterationOverEmptyMissingAndClearedMaps)
{
    KV_HMapVal<uint32_t, int> map;
    KV_HMapValIterator<uint32_t, int> it(map);
    it.first();
    EXPECT_TRUE(it.end());
    KV_HMapValIterator<uint32_t, int> none;
    none.first();
    EXPECT_TRUE(none.end());
    none.next();
    EXPECT_TRUE(none.end());
    ASSERT_TRUE(map.add(0, 1)); // bucket 0: the very first place
    it.first();
    ASSERT_FALSE(it.end());
    EXPECT_EQ(it.value(), 1);
    it.next();
    EXPECT_TRUE(it.end());
    map.clear();
    it.first();
    EXPECT_TRUE(it.end());
}

TEST(KvtlHMap, IterationSkip)
{
    KV_HMapVal<uint32_t, int> map;
    for (uint32_t k = 10; k < 20; ++k) {
        ASSERT_TRUE(map.add(k, static_cast<int>(k)));
    }
    KV_HMapValIterator<uint32_t, int> it(map);
    it.first();
    it.skip(4);
    ASSERT_FALSE(it.end());
    EXPECT_EQ(it.key(), 14u);
    it.skip(100);
    EXPECT_TRUE(it.end());
}

// ---------------------------------------------------------------------------
// List iterators
// ---------------------------------------------------------------------------

TEST(KvtlIterator, ArrayListWalk)
{
    KV_ListVal<std::string> list;
    for (const char* s : {"a", "b", "c"}) {
        ASSERT_TRUE(list.add(s));
    }
    KV_ListValIterator<std::string> it(list);
    std::string walked;
    for (it.first(); !it.end(); it.next()) {
        walked += it.current();
    }
    EXPECT_EQ(walked, "abc");
    EXPECT_EQ(it.index(), 3u);
    EXPECT_EQ(&it.current(), &list.null_elem()); // past the end: the list's null element
    it.next();
    EXPECT_EQ(it.index(), 3u); // does not move past the count
    it.first();
    it.skip(2);
    EXPECT_EQ(it.current(), "c");
}

TEST(KvtlIterator, WithoutAList)
{
    KV_ListValIterator<int> it;
    it.first();
    EXPECT_TRUE(it.end());
    EXPECT_EQ(it.current(), 0);
    it.next();
    EXPECT_TRUE(it.end());
    KV_SListValIterator<int> sit;
    sit.first();
    EXPECT_TRUE(sit.end());
    EXPECT_EQ(sit.current(), 0);
}

TEST(KvtlIterator, SortedAndPointerListWalks)
{
    KV_ListValSrt<int> srt;
    for (int k : {3, 1, 2}) {
        ASSERT_TRUE(srt.add(k));
    }
    KV_ListValSrtIterator<int> sit(srt);
    std::vector<int> seen;
    for (sit.first(); !sit.end(); sit.next()) {
        seen.push_back(sit.current());
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));

    Val a{1};
    Val b{2};
    KV_ListPtr<Val> ptrs;
    ASSERT_TRUE(ptrs.add(&a));
    ASSERT_TRUE(ptrs.add(&b));
    KV_ListPtrIterator<Val> pit(ptrs);
    std::vector<Val*> got;
    for (pit.first(); !pit.end(); pit.next()) {
        got.push_back(pit.current());
    }
    EXPECT_EQ(got, (std::vector<Val*>{&a, &b}));
    pit.first();
    pit.skip(5);
    EXPECT_TRUE(pit.end());
    EXPECT_EQ(pit.current(), nullptr);

    KV_ListPtrSrt<Val> sorted_ptrs; // any pointer list, through the base
    ASSERT_TRUE(sorted_ptrs.add(&b));
    ASSERT_TRUE(sorted_ptrs.add(&a));
    KV_ListPtrIterator<Val> spit(sorted_ptrs);
    spit.first();
    EXPECT_EQ(spit.current(), &a);
}

TEST(KvtlIterator, LinkedListWalk)
{
    KV_SListVal<int> list;
    for (int i : {5, 6, 7}) {
        ASSERT_TRUE(list.add(i));
    }
    KV_SListValIterator<int> it(list);
    std::vector<int> seen;
    for (it.first(); !it.end(); it.next()) {
        seen.push_back(it.current());
    }
    EXPECT_EQ(seen, (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(it.current(), 0);
    it.first();
    it.skip(1);
    EXPECT_EQ(it.current(), 6);
}

TEST(KvtlIterator, WorksThroughTheAbstractBase)
{
    KV_ListVal<int> list;
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(list.add(i));
    }
    KV_ListValIterator<int> concrete(list);
    KV_ListBaseIterator<int>& it = concrete;
    int sum = 0;
    for (it.first(); !it.end(); it.next()) {
        sum += it.current();
    }
    EXPECT_EQ(sum, 15);
}

// ---------------------------------------------------------------------------
// Lists of KV_String: the engine's most common element type.
// ---------------------------------------------------------------------------

namespace {

KV_String numbered(uint32_t i)
{
    return KV_String::format_impl("entry number %u, long enough for the heap", i);
}

} // namespace

TEST(KvtlKvString, GrowStepAndNullElement)
{
    KV_ListVal<KV_String> list;
    EXPECT_EQ(list.grow_step(), 42u); // 24 bytes
    EXPECT_EQ(list.copy_mode(), 1);
    for (const char* s : {"a", "b", "c"}) {
        ASSERT_TRUE(list.add(s));
    }
    EXPECT_TRUE(list.at(5).empty()); // the null element is an empty string
    EXPECT_EQ(&list.at(5), &list.null_elem());
    EXPECT_STREQ(list.at(2).data(), "c");
}

TEST(KvtlKvString, GrowthAndShrinkWalkCopiesElementWise)
{
    check_growth_walk<KV_String>(42, numbered);
}

TEST(KvtlKvString, InsertRemoveFindKeepTheTexts)
{
    KV_ListVal<KV_String> list;
    list.set_grow(1); // every insertion reallocates and copies
    for (uint32_t i = 0; i < 10; ++i) {
        ASSERT_TRUE(list.insert(0, numbered(i)));
    }
    ASSERT_TRUE(list.add(list.at(9))); // own element
    ASSERT_EQ(list.size(), 11u);
    for (uint32_t i = 0; i < 10; ++i) {
        EXPECT_TRUE(list.at(i) == numbered(9 - i)) << i;
    }
    EXPECT_TRUE(list.at(10) == numbered(0));
    uint32_t pos = 0;
    KV_String out;
    EXPECT_TRUE(list.find(numbered(0), &out, &pos));
    EXPECT_EQ(pos, 9u);
    EXPECT_TRUE(out == numbered(0));
    EXPECT_TRUE(list.remove(numbered(0))); // the first of the two
    EXPECT_EQ(list.size(), 10u);
    EXPECT_TRUE(list.at(9) == numbered(0));
    EXPECT_FALSE(list.remove(KV_String("absent")));
}

TEST(KvtlKvString, SortedListKeepsByteOrder)
{
    KV_ListValSrt<KV_String> list;
    for (const char* s : {"pear", "\xc3\xa9t\xc3\xa9", "Apple", "apple", "fig", "apple"}) {
        ASSERT_TRUE(list.add(s));
    }
    const char* expect[] = {"Apple", "apple", "apple", "fig", "pear", "\xc3\xa9t\xc3\xa9"};
    ASSERT_EQ(list.size(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_STREQ(list.at(i).data(), expect[i]) << i;
    }
    uint32_t pos = 0;
    EXPECT_TRUE(list.find(KV_String("fig"), nullptr, &pos));
    EXPECT_EQ(pos, 3u);
    EXPECT_TRUE(list.remove(KV_String("pear")));
    EXPECT_FALSE(list.find(KV_String("pear")));
}

TEST(KvtlKvString, PointerListAndMapOfStrings)
{
    KV_String a("alpha");
    KV_String a_twin("alpha");
    KV_ListPtr<KV_String> ptrs;
    ASSERT_TRUE(ptrs.add(&a));
    KV_String* out = nullptr;
    EXPECT_TRUE(ptrs.find(&a_twin, &out)); // pointees compared by value
    EXPECT_EQ(out, &a);

    KV_HMapVal<uint32_t, KV_String> map;
    ASSERT_TRUE(map.add(42, "forty-two"));
    EXPECT_STREQ(map.find(42).data(), "forty-two");
    EXPECT_TRUE(map.find(43).empty());
    KV_HMapValIterator<uint32_t, KV_String> it(map);
    it.first();
    ASSERT_FALSE(it.end());
    EXPECT_STREQ(it.value().data(), "forty-two");
}
