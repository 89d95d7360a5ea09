#include "requests/kv_filetree.h"

#include <algorithm>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kv_informer.h"
#include "foundation/kv_msg.h"

namespace {

KV_PathDef P(std::initializer_list<const char*> entries)
{
    KV_PathDef p;
    for (const char* e : entries) {
        p.append(e);
    }
    return p;
}

std::string text(const KV_PathDef& p)
{
    std::string s;
    for (uint32_t i = 0; i < p.entries(); ++i) {
        s += (i ? "/" : "") + std::string(p.at(i).data());
    }
    return s;
}

KV_FileData file(const char* name, int64_t size, const char* time = "t1")
{
    KV_FileData fd(name, time, size, KV_Time());
    fd.set_fd_flags(KV_FD_SIZE, 0);
    return fd;
}

// Every notice as one line: the event letter, the node's name and the path.
class Recorder : public KV_FileTreeNtfRecv
{
public:
    explicit Recorder(std::string tag = "") : tag(std::move(tag)) {}

    void on_tree_ntf(const KV_MsgTreeNtf* msg) override
    {
        log.push_back(tag + "N" + std::to_string(msg->ntf) + "@" + text(msg->path));
    }
    void on_node_ntf(KV_FileTreeNode* node, KV_TREE_NODE_NTF ntf, const KV_PathDef& path,
                     uint32_t extra) override
    {
        static const char letters[] = "ARCSFBE";
        std::string line =
            tag + letters[ntf] + ":" + (node ? node->name().data() : "-") + "@" + text(path);
        if (extra) {
            line += "#" + std::to_string(extra);
        }
        log.push_back(line);
    }
    // The lines recorded since the last take, then forgets them.
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }

    std::string tag;
    std::vector<std::string> log;
};

using Lines = std::vector<std::string>;

class KV_FileTreeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tree.reg(&rec);
        KV_MsgTreePwd pwd(P({"srv", "home", "u"}));
        ASSERT_TRUE(tree.process_ntf(&pwd));
        rec.take();
    }

    bool scan(const KV_PathDef& path, std::initializer_list<KV_FileData> entries)
    {
        KV_MsgTreeScan msg(path);
        for (const KV_FileData& fd : entries) {
            msg.nodes.add(new KV_FileTreeNode(true, fd));
        }
        bool ok = tree.process_ntf(&msg);
        EXPECT_EQ(msg.nodes.size(), ok ? 0u : msg.nodes.size());
        return ok;
    }
    bool ntf(const KV_PathDef& path, KV_TREE_NTF kind, bool flag = true, const char* msg = "")
    {
        KV_MsgTreeNtf m(path, kind, flag, msg);
        return tree.process_ntf(&m);
    }
    // A whole listing: begin, the entries, end.
    void listing(const KV_PathDef& path, std::initializer_list<KV_FileData> entries)
    {
        ASSERT_TRUE(ntf(path, KV_TREE_NTF_SCAN_BEGIN));
        ASSERT_TRUE(scan(path, entries));
        ASSERT_TRUE(ntf(path, KV_TREE_NTF_SCAN_END, true));
    }
    std::vector<std::string> children(const KV_PathDef& path)
    {
        std::vector<std::string> out;
        KV_FileTreeNode* n = tree.find(path.list());
        EXPECT_NE(n, nullptr);
        if (n) {
            for (KV_FileTreeNode* c : n->list()) {
                out.emplace_back(c->name().data());
            }
        }
        return out;
    }

    KV_FileTree tree;
    Recorder rec;
    const KV_PathDef home_u = P({"srv", "home", "u"});
};

} // namespace

// ------------------------------------------------------------------ the node

TEST(KV_FileTreeNode, FileAndFolderOfOneNameCollide)
{
    KV_FileTreeNode parent(true, KV_FileData("p", true));
    auto* f = new KV_FileTreeNode(true, KV_FileData("x", false));
    auto* d = new KV_FileTreeNode(true, KV_FileData("x", true));
    ASSERT_TRUE(parent.list().add(f));
    EXPECT_TRUE(parent.list().find(d));
    delete d;
    EXPECT_EQ(parent.list().size(), 1u);
}

TEST(KV_FileTreeNode, CopyTakesTheFileDataOnly)
{
    KV_FileTreeNode n(true, KV_FileData("d", true), KV_TREE_NODE_STAT_RUNNING);
    n.set_node_flags(KV_TN_RDONLY | KV_TN_MARKED, 0);
    n.set_err_str("boom");
    ASSERT_TRUE(n.list().add(new KV_FileTreeNode(true, KV_FileData("c"))));
    KV_FileTreeNode copy(n);
    EXPECT_TRUE(copy == n);
    EXPECT_EQ(copy.list().size(), 0u);
    EXPECT_EQ(copy.node_flags(), KV_TN_DIR) << "only the folder bit, which is never stored";
    EXPECT_EQ(copy.status(), KV_TREE_NODE_STAT_NONE);
    EXPECT_EQ(copy.valid_items(), 0xFFFFFFFFu);
    EXPECT_STREQ(copy.err_str().data(), "");
}

TEST(KV_FileTreeNode, Info)
{
    KV_PathMan unix_paths('/');
    KV_PathDef where = P({"/", "home", "u"});
    KV_FileTreeNode up(true, KV_FileData("..", true));
    EXPECT_STREQ(up.info(unix_paths, where).data(), "Current directory: /home/u");

    KV_FileDataExt e("f.txt", "raw", 1234, "rw-r--r--", "bob", "", KV_Time());
    e.set_fd_flags(KV_FD_SIZE, 0);
    KV_FileTreeNode n(true, e);
    n.set_err_str("denied");
    EXPECT_STREQ(n.info(unix_paths, where).data(),
                 "f.txt\r\nsize: 1234 byte(s)\r\npermissions: rw-r--r--\r\nuser: bob\r\n"
                 "last error: denied");
    KV_FileTreeNode bare(true, KV_FileData("plain"));
    EXPECT_STREQ(bare.info(unix_paths, where).data(), "plain");
}

// --------------------------------------------------------- current folder

TEST(KV_FileTree, CurrentFolderBuildsTheWayDown)
{
    KV_FileTree t;
    Recorder r;
    t.reg(&r);
    t.set_drv_relevant(true);
    KV_MsgTreePwd pwd(P({"srv", "c", "dir"}));
    ASSERT_TRUE(t.process_ntf(&pwd));
    EXPECT_EQ(r.take(), (Lines{"A:srv@", "A:c@srv", "A:dir@srv/c", "N0@srv/c/dir"}));
    ASSERT_NE(t.root(), nullptr);
    EXPECT_EQ(t.root()->node_flags(), KV_TN_DIR | KV_TN_RDONLY | KV_TN_NSCAN);
    EXPECT_EQ(t.find(P({"srv", "c"}).list())->node_flags(), KV_TN_DIR | KV_TN_RDONLY | KV_TN_DRIVE);
    EXPECT_EQ(t.find(P({"srv", "c", "dir"}).list())->node_flags(), KV_TN_DIR);

    KV_MsgTreePwd again(P({"other"}));
    EXPECT_TRUE(t.process_ntf(&again));
    EXPECT_TRUE(r.take().empty()) << "only the first current folder builds the tree";
    EXPECT_TRUE(t.pwd_path() == P({"srv", "c", "dir"}));
}

// ------------------------------------------------------------------ merging

TEST_F(KV_FileTreeTest, ListingCountsItemsAndBytes)
{
    KV_FileData unsized("c", "t", 999, KV_Time());
    listing(home_u, {file("a", 10), file("b", 20), unsized, KV_FileData("sub", true)});
    KV_FileTreeNode* n = tree.find(home_u.list());
    EXPECT_EQ(n->valid_items(), 4u) << "the tree's own \"..\" is not counted";
    EXPECT_EQ(n->sum_size(), 30);
    EXPECT_EQ(children(home_u), (Lines{"..", "a", "b", "c", "sub"}));
    EXPECT_EQ(rec.take(), (Lines{"A:..@srv/home/u", "S:u@srv/home", "N2@srv/home/u",
                                 "A:a@srv/home/u", "A:b@srv/home/u", "A:c@srv/home/u",
                                 "A:sub@srv/home/u", "S:u@srv/home", "N3@srv/home/u"}));
    EXPECT_EQ(n->status(), KV_TREE_NODE_STAT_NONE);
}

TEST_F(KV_FileTreeTest, KnownNameIsUpdatedInPlace)
{
    listing(home_u, {file("a", 1), file("b", 2)});
    KV_FileTreeNode* a = tree.find(tree.find(home_u.list()), "a");
    rec.take();

    ASSERT_TRUE(scan(home_u, {file("b", 2), file("a", 5), file("new", 0)}));
    EXPECT_EQ(rec.take(), (Lines{"C:a@srv/home/u", "A:new@srv/home/u"}))
        << "unchanged b tells nothing; notices follow the listing's order";
    EXPECT_EQ(tree.find(tree.find(home_u.list()), "a"), a) << "same node, new data";
    EXPECT_EQ(a->fdc().size(false), 5);
}

TEST_F(KV_FileTreeTest, FileThatBecameAFolderIsRemovedAndReAdded)
{
    KV_PathDef x = P({"srv", "home", "u", "x"});
    listing(home_u, {KV_FileData("x", true)});
    listing(x, {file("inner", 1)});
    rec.take();

    ASSERT_TRUE(scan(home_u, {file("x", 3)}));
    EXPECT_EQ(rec.take(), (Lines{"R:x@srv/home/u", "A:x@srv/home/u"}));
    KV_FileTreeNode* node = tree.find(x.list());
    ASSERT_NE(node, nullptr);
    EXPECT_FALSE(node->is_dir());
    EXPECT_EQ(node->list().size(), 0u) << "a file keeps nothing of the folder it was";

    ASSERT_TRUE(scan(home_u, {KV_FileData("x", true)}));
    EXPECT_EQ(rec.take(), (Lines{"R:x@srv/home/u", "A:x@srv/home/u"}));
    EXPECT_TRUE(tree.find(x.list())->is_dir());
}

TEST_F(KV_FileTreeTest, SweepRemovesWhatTheListingLacksAndKeepsTheWayUp)
{
    listing(home_u, {file("gone", 1), file("stays", 2), file("gone2", 3)});
    rec.take();
    listing(home_u, {file("stays", 2)});
    EXPECT_EQ(rec.take(), (Lines{"S:u@srv/home", "N2@srv/home/u", "R:gone@srv/home/u",
                                 "R:gone2@srv/home/u", "S:u@srv/home", "N3@srv/home/u"}));
    EXPECT_EQ(children(home_u), (Lines{"..", "stays"}));
}

TEST_F(KV_FileTreeTest, FailedListingKeepsChildrenOnlyOnTheWayToTheCurrentFolder)
{
    KV_PathDef aside = P({"srv", "home", "u", "aside"});
    listing(home_u, {file("f", 1), KV_FileData("aside", true)});
    listing(aside, {file("g", 1)});

    ASSERT_TRUE(ntf(home_u, KV_TREE_NTF_SCAN_BEGIN));
    ASSERT_TRUE(ntf(home_u, KV_TREE_NTF_SCAN_END, false, "550 denied"));
    EXPECT_EQ(children(home_u), (Lines{"..", "aside", "f"}));
    KV_FileTreeNode* u = tree.find(home_u.list());
    EXPECT_EQ(u->status(), KV_TREE_NODE_STAT_FAILED);
    EXPECT_STREQ(u->err_str().data(), "550 denied");
    for (KV_FileTreeNode* c : u->list()) {
        EXPECT_FALSE(c->marked()) << c->name().data();
    }

    ASSERT_TRUE(ntf(aside, KV_TREE_NTF_SCAN_BEGIN));
    ASSERT_TRUE(ntf(aside, KV_TREE_NTF_SCAN_END, false, "gone"));
    EXPECT_EQ(children(aside), (Lines{".."}));

    ASSERT_TRUE(ntf(aside, KV_TREE_NTF_SCAN_REQ));
    EXPECT_EQ(tree.find(aside.list())->status(), KV_TREE_NODE_STAT_REQUESTED);
    ASSERT_TRUE(ntf(aside, KV_TREE_NTF_STATUS_RESET));
    EXPECT_EQ(tree.find(aside.list())->status(), KV_TREE_NODE_STAT_NONE);
}

TEST_F(KV_FileTreeTest, ListingOfAnUnknownFolderCreatesTheWayThere)
{
    KV_PathDef deep = P({"srv", "var", "log"});
    ASSERT_TRUE(scan(deep, {file("syslog", 7)}));
    EXPECT_EQ(rec.take(), (Lines{"A:var@srv", "A:log@srv/var", "A:syslog@srv/var/log"}));
    EXPECT_TRUE(tree.find(P({"srv", "var"}).list())->rdonly()) << "first-level folder";
    EXPECT_FALSE(tree.find(deep.list())->rdonly());
    EXPECT_EQ(tree.find(deep.list())->valid_items(), 1u);

    EXPECT_FALSE(scan(P({"elsewhere", "x"}), {file("y", 1)}));
    EXPECT_FALSE(ntf(P({"srv", "nowhere"}), KV_TREE_NTF_SCAN_BEGIN));
    EXPECT_TRUE(rec.take().empty()) << "messages about unknown paths tell nobody";

    KV_FileTree empty;
    KV_MsgTreeScan msg(deep);
    msg.nodes.add(new KV_FileTreeNode(true, file("a", 1)));
    EXPECT_FALSE(empty.process_ntf(&msg)) << "without a root nothing can be created";
    EXPECT_EQ(msg.nodes.size(), 1u) << "the node stays with the message";
}

TEST_F(KV_FileTreeTest, NameTwiceInOneListingUpdatesItsFirstNode)
{
    ASSERT_TRUE(scan(home_u, {file("d", 1), file("e", 0), file("d", 2)}));
    EXPECT_EQ(rec.take(), (Lines{"A:d@srv/home/u", "A:e@srv/home/u", "C:d@srv/home/u"}));
    EXPECT_EQ(children(home_u), (Lines{"d", "e"}));
    EXPECT_EQ(tree.find(tree.find(home_u.list()), "d")->fdc().size(false), 2);
}

TEST_F(KV_FileTreeTest, CaseInsensitiveTreeMatchesNamesIgnoringCase)
{
    KV_FileTree t;
    t.set_case_sens(false);
    KV_MsgTreePwd pwd(P({"srv", "a", "b"}));
    ASSERT_TRUE(t.process_ntf(&pwd));
    KV_MsgTreeScan msg(P({"SRV", "A", "B"}));
    msg.nodes.add(new KV_FileTreeNode(true, file("Readme", 1)));
    msg.nodes.add(new KV_FileTreeNode(true, file("README", 2)));
    ASSERT_TRUE(t.process_ntf(&msg));
    KV_FileTreeNode* b = t.find(P({"srv", "a", "b"}).list());
    ASSERT_EQ(b->list().size(), 1u);
    EXPECT_EQ(t.find(b, "readme")->fdc().size(false), 2);
}

// A large folder merges in near-linear time: listed in random order, listed
// again, then listed with every other entry gone. The result must be the same
// as entry-by-entry merging would give: every name once, sorted, the gone ones
// told as removed.
TEST_F(KV_FileTreeTest, LargeFolderMergesAndSweeps)
{
    const int count = 100000;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        char buf[16];
        snprintf(buf, sizeof buf, "f%06d", i);
        names.emplace_back(buf);
    }
    std::vector<std::string> shuffled = names;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));

    auto send = [&](bool odd_only) {
        ASSERT_TRUE(ntf(home_u, KV_TREE_NTF_SCAN_BEGIN));
        KV_MsgTreeScan msg(home_u);
        for (const std::string& n : shuffled) {
            if (!odd_only || (n.back() - '0') % 2 == 1) {
                msg.nodes.add(new KV_FileTreeNode(true, file(n.c_str(), 1)));
            }
        }
        ASSERT_TRUE(tree.process_ntf(&msg));
        ASSERT_TRUE(ntf(home_u, KV_TREE_NTF_SCAN_END, true));
    };
    send(false);
    send(false);
    KV_FileTreeNode* u = tree.find(home_u.list());
    ASSERT_EQ(u->list().size(), static_cast<uint32_t>(count + 1));
    EXPECT_EQ(u->valid_items(), static_cast<uint32_t>(count));
    for (int i = 0; i < count; ++i) {
        ASSERT_STREQ(u->list().at(i + 1)->name().data(), names[i].c_str());
    }
    size_t added = rec.take().size();
    EXPECT_EQ(added, static_cast<size_t>(count) + 9)
        << "\"..\", the entries and the notices; the second listing told nothing new";

    send(true);
    ASSERT_EQ(u->list().size(), static_cast<uint32_t>(count / 2 + 1));
    for (int i = 0; i < count / 2; ++i) {
        ASSERT_STREQ(u->list().at(i + 1)->name().data(), names[2 * i + 1].c_str());
    }
    Lines log = rec.take();
    size_t removed =
        std::count_if(log.begin(), log.end(), [](const std::string& l) { return l[0] == 'R'; });
    EXPECT_EQ(removed, static_cast<size_t>(count / 2));
    EXPECT_EQ(log[2], "R:" + names[0] + "@srv/home/u") << "removals in list order";
    EXPECT_EQ(u->list().capacity(), u->list().size()) << "storage cut back after the sweep";
}

// A listing goes through the informer, which sorts it by name on the
// sending thread; the tree then merges it without sorting it again. Whether
// the order came with the message or not, the tree must end the same and
// tell the same notices in listing order. Also when the order was made with
// another case sensitivity than the tree's (it is then not used), with
// names listed twice, and with names the folder already knows.
TEST(KV_FileTree, ListingSortedByItsSenderMergesAsOneSortedHere)
{
    struct Case
    {
        const char* what;
        bool tree_case_sens;
        bool node_case_sens;
        std::vector<const char*> known;
        std::vector<const char*> listed;
    };
    const Case cases[] = {
        {"new names", true, true, {}, {"m", "b", "z", "a", "B"}},
        {"known names and new ones", true, true, {"c", "k"}, {"k", "a", "d", "c", "b"}},
        {"a name listed twice", true, true, {"k"}, {"q", "k", "a", "q", "k"}},
        {"case-insensitive tree", false, false, {"Readme"}, {"b", "README", "A", "a", "readme"}},
        {"order of another case sensitivity", false, true, {"x"}, {"X", "b", "B", "a"}},
        {"the way up and a name three times", true, true, {"m"}, {"..", "m", "c", "c", "m", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const KV_PathDef dir = P({"srv", "d"});
        // Both trees are listed alike; only the second listing differs:
        // once with the sender's order, once without.
        auto run = [&](bool through_informer, Lines& log) {
            KV_FileTree t;
            t.set_case_sens(c.tree_case_sens);
            Recorder r;
            t.reg(&r);
            KV_MsgTreePwd pwd(dir);
            EXPECT_TRUE(t.process_ntf(&pwd));
            KV_MsgTreeScan first(dir);
            for (const char* name : c.known) {
                first.nodes.add(new KV_FileTreeNode(c.node_case_sens, file(name, 1)));
            }
            EXPECT_TRUE(t.process_ntf(&first));
            r.take();
            auto* msg = new KV_MsgTreeScan(dir);
            for (size_t i = 0; i < c.listed.size(); ++i) {
                // The way up is a folder, which a listing does not count.
                const KV_FileData fd = std::string(c.listed[i]) == ".."
                                           ? KV_FileData("..", true)
                                           : file(c.listed[i], static_cast<int64_t>(i + 2));
                msg->nodes.add(new KV_FileTreeNode(c.node_case_sens, fd));
            }
            KV_Informer informer;
            KV_Msg* popped = msg;
            if (through_informer) {
                informer.send(msg);
                popped = informer.pop();
                EXPECT_EQ(popped, msg);
                EXPECT_EQ(msg->order.size(), c.listed.size()) << "sorted when sent";
                EXPECT_EQ(msg->order_case_sens, c.node_case_sens);
                EXPECT_TRUE(std::is_sorted(
                    msg->order.begin(), msg->order.end(), [&](uint32_t a, uint32_t b) {
                        return msg->nodes.at(a)->name().compare(msg->nodes.at(b)->name(),
                                                                c.node_case_sens) < 0;
                    }));
            } else {
                EXPECT_TRUE(msg->order.empty());
            }
            EXPECT_TRUE(t.process_ntf(popped));
            KV_Informer::destroy(popped);
            log = r.take();
            KV_FileTreeNode* d = t.find(dir.list());
            log.push_back("counted " + std::to_string(d->valid_items()) + " " +
                          std::to_string(d->sum_size()));
            for (KV_FileTreeNode* child : d->list()) {
                log.push_back(std::string("child ") + child->name().data() + " " +
                              std::to_string(child->fdc().size(false)));
            }
        };
        Lines sorted_there;
        Lines sorted_here;
        run(true, sorted_there);
        run(false, sorted_here);
        EXPECT_EQ(sorted_there, sorted_here);
        EXPECT_FALSE(sorted_here.empty());
    }
}

// ----------------------------------------------------------- expand notices

TEST_F(KV_FileTreeTest, ExpandNotices)
{
    KV_PathDef made = P({"srv", "home", "u", "made"});
    KV_MsgTreeExp create(made, KV_TREE_EXP_CREATED, true);
    ASSERT_TRUE(tree.process_ntf(&create));
    KV_FileTreeNode* n = tree.find(made.list());
    ASSERT_NE(n, nullptr);
    EXPECT_TRUE(n->is_dir());
    EXPECT_TRUE(n->marked() && n->expected());
    EXPECT_TRUE(tree.process_ntf(&create)) << "a known name is left alone";
    EXPECT_EQ(rec.take(), (Lines{"A:made@srv/home/u"}));

    // A listing confirms it: no longer marked nor expected.
    ASSERT_TRUE(scan(home_u, {KV_FileData("made", true)}));
    EXPECT_FALSE(n->marked() || n->expected());

    KV_MsgTreeScan listing_ext(home_u);
    listing_ext.nodes.add(
        new KV_FileTreeNode(true, KV_FileDataExt("perm", "", 0, "rw", "", "", KV_Time())));
    ASSERT_TRUE(tree.process_ntf(&listing_ext));
    rec.take();
    KV_PathDef perm = P({"srv", "home", "u", "perm"});
    KV_MsgTreeExp chmod(perm, KV_TREE_EXP_CHMOD, KV_String("r-"), false);
    ASSERT_TRUE(tree.process_ntf(&chmod));
    EXPECT_STREQ(static_cast<const KV_FileDataExt&>(tree.find(perm.list())->fdc()).accf().data(),
                 "r-");

    KV_MsgTreeExp remove(made, KV_TREE_EXP_REMOVED, false);
    ASSERT_TRUE(tree.process_ntf(&remove));
    EXPECT_EQ(tree.find(made.list()), nullptr);
    EXPECT_EQ(rec.take(), (Lines{"C:perm@srv/home/u", "R:made@srv/home/u"}));
    EXPECT_FALSE(tree.process_ntf(&remove)) << "nothing left to remove";

    KV_MsgTreeExp orphan(P({"srv", "no", "x"}), KV_TREE_EXP_CREATED, false);
    EXPECT_FALSE(tree.process_ntf(&orphan));
}

// --------------------------------------------------------------- receivers

TEST_F(KV_FileTreeTest, ReceiversInRegistrationOrderUntilUnregistered)
{
    Recorder second("2");
    rec.tag = "1";
    ASSERT_TRUE(tree.reg(&second));
    ASSERT_TRUE(scan(home_u, {file("a", 1)}));
    EXPECT_EQ(rec.take(), (Lines{"1A:a@srv/home/u"}));
    EXPECT_EQ(second.take(), (Lines{"2A:a@srv/home/u"}));

    ASSERT_TRUE(tree.unreg(&rec));
    EXPECT_FALSE(tree.unreg(&rec));
    ASSERT_TRUE(ntf(home_u, KV_TREE_NTF_RECV_ONLY));
    EXPECT_TRUE(rec.take().empty());
    EXPECT_EQ(second.take(), (Lines{"2N5@srv/home/u"}));
}

TEST_F(KV_FileTreeTest, GlobalReceiverHearsOnlyItsNode)
{
    struct Global : KV_FileTreeGlobalNtfRecv
    {
        void node_updated(KV_FileTreeNode* node) override { seen.push_back(node); }
        std::vector<KV_FileTreeNode*> seen;
    } global;
    tree.set_act_inf(tree.root()); // no global receiver yet: nothing happens
    tree.set_ntf(&global);
    KV_FileTreeNode* u = tree.find(home_u.list());
    tree.set_act_inf(u);
    ASSERT_TRUE(scan(P({"srv", "home"}), {file("z", 1)}));
    EXPECT_TRUE(global.seen.empty());
    ASSERT_TRUE(scan(home_u, {file("z", 1)}));
    ASSERT_TRUE(ntf(home_u, KV_TREE_NTF_SCAN_REQ));
    EXPECT_EQ(global.seen, (std::vector<KV_FileTreeNode*>{u, u}));
}

TEST_F(KV_FileTreeTest, Refresh)
{
    listing(home_u, {file("a", 1), KV_FileData("d", true)});
    ASSERT_TRUE(scan(P({"srv", "home", "u", "d"}), {file("in", 1)}));
    rec.take();

    EXPECT_TRUE(tree.refresh(home_u, 9, false));
    EXPECT_EQ(rec.take(), (Lines{"B:-@srv/home/u#9", "F:..@srv/home/u#9", "F:a@srv/home/u#9",
                                 "F:d@srv/home/u#9", "E:-@srv/home/u#9"}));

    EXPECT_TRUE(tree.refresh(P({"srv", "home"}), 0, true));
    EXPECT_EQ(rec.take(),
              (Lines{"B:-@srv/home", "F:u@srv/home", "F:..@srv/home/u", "F:a@srv/home/u",
                     "F:d@srv/home/u", "F:in@srv/home/u/d", "E:-@srv/home"}));

    EXPECT_TRUE(tree.refresh(KV_PathDef(), 0, false));
    EXPECT_EQ(rec.take(), (Lines{"B:-@", "F:srv@", "E:-@"}));

    EXPECT_FALSE(tree.refresh(P({"srv", "missing"}), 0, true));
    EXPECT_EQ(rec.take(), (Lines{"B:-@srv/missing", "E:-@srv/missing"}));
}

// A refresh spread over slices: each slice names the last entry it told, and
// the next one starts after that name, so entries added or removed between
// slices neither repeat nor skip the others.
TEST_F(KV_FileTreeTest, RefreshInSlicesResumesAfterTheLastName)
{
    listing(home_u, {file("a", 1), file("c", 1), file("e", 1), file("g", 1), file("i", 1)});
    rec.take();
    KV_String after;
    EXPECT_EQ(tree.refresh_part(home_u, 7, &after, 2), 2);
    EXPECT_EQ(rec.take(), (Lines{"F:..@srv/home/u#7", "F:a@srv/home/u#7"}));
    EXPECT_STREQ(after.data(), "a");
    // Between slices "a" and "e" go, "b" and "d" come.
    KV_MsgTreeExp gone_a(P({"srv", "home", "u", "a"}), KV_TREE_EXP_REMOVED, false);
    KV_MsgTreeExp gone_e(P({"srv", "home", "u", "e"}), KV_TREE_EXP_REMOVED, false);
    KV_MsgTreeExp new_b(P({"srv", "home", "u", "b"}), KV_TREE_EXP_CREATED, false);
    KV_MsgTreeExp new_d(P({"srv", "home", "u", "d"}), KV_TREE_EXP_CREATED, false);
    for (KV_MsgTreeExp* m : {&gone_a, &gone_e, &new_b, &new_d}) {
        ASSERT_TRUE(tree.process_ntf(m));
    }
    rec.take();
    EXPECT_EQ(tree.refresh_part(home_u, 7, &after, 3), 3);
    EXPECT_EQ(rec.take(), (Lines{"F:b@srv/home/u#7", "F:c@srv/home/u#7", "F:d@srv/home/u#7"}));
    EXPECT_EQ(tree.refresh_part(home_u, 7, &after, 3), 2) << "the end: fewer than asked";
    EXPECT_EQ(rec.take(), (Lines{"F:g@srv/home/u#7", "F:i@srv/home/u#7"}));
    EXPECT_EQ(tree.refresh_part(home_u, 7, &after, 3), 0);
    EXPECT_EQ(tree.refresh_part(P({"srv", "nowhere"}), 7, &after, 3), -1);
}

TEST(KV_FileTree, DestructionTellsNobody)
{
    Recorder r;
    {
        KV_FileTree t;
        t.reg(&r);
        KV_MsgTreePwd pwd(P({"srv", "a"}));
        ASSERT_TRUE(t.process_ntf(&pwd));
        r.take();
    }
    EXPECT_TRUE(r.take().empty());
}

TEST(KV_FileTree, ProcessNtfOnOtherMessages)
{
    KV_FileTree t;
    EXPECT_FALSE(t.process_ntf(nullptr));
    KV_MsgErrNtf err(1, "x");
    EXPECT_TRUE(t.process_ntf(&err));
}
