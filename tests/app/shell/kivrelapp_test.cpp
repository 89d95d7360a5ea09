// The application object: engine questions reach the user-interface thread
// and their answers go back to the thread that asked; windows disabled for
// a question come back as they were; posted messages; help addresses;
// images.
#include "shell/kivrelapp.h"

#include "core/wndregistry.h"
#include "dialogs/dlgask.h"
#include "foundation/kv_file.h"
#include "support/kv_dlgdriver.h"

#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using kvtest::DialogDriver;
using kvtest::WaitFor;

CKivrelApp& App()
{
    return *CKivrelApp::Instance();
}

// The hooks of the program in place, as after start-up.
class AskTest_MT : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(CKivrelApp::Instance(), nullptr);
        App().GetBridge().InstallHooks();
    }
    void TearDown() override { EXPECT_FALSE(App().WindowsDisabled()); }

    // A question of an engine thread; its answer lands in `ans`.
    static std::thread Ask(KV_Informer& informer, const char* text, KV_ASK kind,
                           std::atomic<int>& ans)
    {
        return std::thread([&informer, text, kind, &ans] {
            ans = informer.ask(text, KV_ANS_NONE, kind, nullptr);
        });
    }

    static void Click(CDlgAsk& dlg, int id)
    {
        QPushButton* b = dlg.Item<QPushButton>(id);
        ASSERT_NE(b, nullptr) << id;
        b->click();
    }
};

// The threads are plain threads and no transfer manager runs, as with the
// start-up dialog's loader: their questions are shown on the user-interface
// thread all the same.
TEST_F(AskTest_MT, QuestionsOfTwoThreadsNewestFirstEachWithItsAnswer)
{
    KV_Informer first_inf, second_inf;
    std::atomic<int> first{-1}, second{-1};
    std::thread a = Ask(first_inf, "first question", KV_ASK_YES_ALL, first);
    ASSERT_TRUE(WaitFor([] { return App().GetBridge().PendingInformers() == 1; }));
    std::thread b = Ask(second_inf, "second question", KV_ASK_TRUST, second);
    // Both wait before the user-interface thread shows any: the wake-ups
    // are still queued while this thread does not run its event loop.
    while (App().GetBridge().PendingInformers() < 2) {
        std::this_thread::yield();
    }

    std::vector<std::string> shown;
    std::vector<bool> on_ui_thread;
    DialogDriver<CDlgAsk> driver([&](CDlgAsk& dlg) {
        shown.push_back(dlg.Text().toStdString());
        on_ui_thread.push_back(QThread::currentThread() == App().thread());
        Click(dlg, shown.size() == 1 ? CDlgAsk::IDC_YES_ALL : CDlgAsk::IDC_NO_ALL);
    });
    ASSERT_TRUE(WaitFor([&] { return first != -1 && second != -1; }));
    a.join();
    b.join();
    EXPECT_EQ(shown, (std::vector<std::string>{"second question", "first question"}));
    EXPECT_EQ(on_ui_thread, (std::vector<bool>{true, true}));
    EXPECT_EQ(second, KV_ANS_YES_ALL);
    EXPECT_EQ(first, KV_ANS_NO_ALL);
}

TEST_F(AskTest_MT, OwnQuestionWhileAnEngineQuestionWaitsOnTheSameInformer)
{
    KV_Informer root;
    std::atomic<int> engine{-1};
    std::thread t = Ask(root, "engine question", KV_ASK_YES_ALL, engine);
    ASSERT_TRUE(WaitFor([] { return App().GetBridge().PendingInformers() == 1; }));

    std::vector<std::string> shown;
    DialogDriver<CDlgAsk> driver([&](CDlgAsk& dlg) {
        shown.push_back(dlg.Text().toStdString());
        Click(dlg, dlg.Text() == "own question" ? CDlgAsk::IDC_NO : CDlgAsk::IDC_YES);
    });
    // Shown at once, here; the engine's question stays queued meanwhile.
    EXPECT_EQ(root.ask("own question", KV_ANS_YES, KV_ASK_YES_NO, nullptr), KV_ANS_NO);
    ASSERT_TRUE(WaitFor([&] { return engine != -1; }));
    t.join();
    EXPECT_EQ(engine, KV_ANS_YES);
    EXPECT_EQ(shown, (std::vector<std::string>{"own question", "engine question"}));
}

TEST_F(AskTest_MT, ErrorsOfEngineThreadsAreShownAndReleaseTheReporter)
{
    KV_Informer root;
    App().GetBridge().SetErrHook(root);
    std::atomic<bool> done{false};
    std::thread t([&] {
        root.set_err(1, KV_String("FTP: 550 No such file"));
        done = true;
    });
    std::vector<std::string> shown;
    DialogDriver<QMessageBox> driver([&](QMessageBox& box) {
        shown.push_back((box.windowTitle() + "|" + box.text()).toStdString());
        box.button(QMessageBox::Ok)->click();
    });
    ASSERT_TRUE(WaitFor([&] { return done.load(); }));
    t.join();
    root.set_impl_err(nullptr);
    EXPECT_EQ(shown, (std::vector<std::string>{"Kivrel error|FTP: 550 No such file"}));
}

TEST_F(AskTest_MT, WindowsDisabledBeforeAQuestionStayDisabled)
{
    QWidget frame, sheet_owner;
    frame.show();
    sheet_owner.show();
    // A window with a modal sheet of its own is disabled already.
    sheet_owner.setEnabled(false);

    KV_Informer informer;
    std::atomic<int> ans{-1};
    std::thread t = Ask(informer, "overwrite?", KV_ASK_YES_NO, ans);
    std::vector<bool> enabled_meanwhile;
    DialogDriver<CDlgAsk> driver([&](CDlgAsk& dlg) {
        enabled_meanwhile = {frame.isEnabled(), sheet_owner.isEnabled(), dlg.isEnabled()};
        Click(dlg, CDlgAsk::IDC_NO);
    });
    ASSERT_TRUE(WaitFor([&] { return ans != -1; }));
    t.join();
    EXPECT_EQ(ans, KV_ANS_NO);
    EXPECT_EQ(enabled_meanwhile, (std::vector<bool>{false, false, true}));
    EXPECT_TRUE(frame.isEnabled());
    EXPECT_FALSE(sheet_owner.isEnabled());
}

TEST_F(AskTest_MT, ClosingAQuestionAnswersNone)
{
    KV_Informer informer;
    std::atomic<int> ans{-1};
    std::thread t = Ask(informer, "reconnect?", KV_ASK_YES_ALL, ans);
    DialogDriver<CDlgAsk> driver([](CDlgAsk& dlg) { dlg.reject(); });
    ASSERT_TRUE(WaitFor([&] { return ans != -1; }));
    t.join();
    EXPECT_EQ(ans, KV_ANS_NONE);
}

class Receiver : public QObject
{
public:
    std::vector<uint32_t> got;
    bool event(QEvent* e) override
    {
        if (e->type() == CPostedMsgEvent::EventType()) {
            got.push_back(static_cast<CPostedMsgEvent*>(e)->msg);
            return true;
        }
        return QObject::event(e);
    }
};

TEST(CWndRegistry, PostsReachOnlyLivingRegisteredWindows)
{
    App().GetBridge().InstallHooks();
    auto* recv = new Receiver;
    KV_HWND wnd = nullptr;
    {
        CWndHandle handle(recv);
        wnd = handle.hwnd();
        EXPECT_EQ(CWndRegistry::Find(wnd), recv);

        // The informer's doorbell arrives as the registered message.
        KV_Informer informer;
        informer.set_wnd(wnd);
        informer.send(new KV_MsgStdNtf(KV_MSG_STD_NTF_ALL_PROC));
        ASSERT_TRUE(WaitFor([&] { return !recv->got.empty(); }));
        EXPECT_EQ(recv->got.at(0), RegisterWindowMessage("__KV_KIVREL_INFORMER__"));
        EXPECT_GE(recv->got.at(0), 0xC000u);
        KV_Informer::destroy(informer.pop());

        // A window destroyed with a message still queued never sees it.
        EXPECT_TRUE(CWndRegistry::Post(wnd, 7, 0, 0));
    }
    delete recv;
    QCoreApplication::processEvents();
    EXPECT_FALSE(CWndRegistry::Post(wnd, 7, 0, 0));
    EXPECT_EQ(CWndRegistry::Find(wnd), nullptr);
}

TEST(CKivrelApp, HelpOpensTheNearestTopicUpTheChain)
{
    ASSERT_TRUE(KV_File::set_path(KV_PATH_PROGRAM, "/opt/kivrel"));
    QWidget dlg;
    QWidget group(&dlg);
    QWidget control(&group);
    struct Case
    {
        const char* name;
        const char* dlg_topic;
        const char* group_topic;
        const char* url;
    };
    const Case cases[] = {
        {"no topic anywhere", "", "", "file:///opt/kivrel/help/index.htm"},
        {"the dialog's", "html\\reqextcp.htm", "", "file:///opt/kivrel/help/html/reqextcp.htm"},
        {"the nearest, with its anchor", "html\\reqextcp.htm", "html\\browsewnd.htm#filelist",
         "file:///opt/kivrel/help/html/browsewnd.htm#filelist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKivrelApp::SetHelpTopic(&dlg, c.dlg_topic);
        CKivrelApp::SetHelpTopic(&group, c.group_topic);
        EXPECT_EQ(CKivrelApp::HelpUrl(&control).toStdString(), c.url);
    }
}

TEST(CKivrelApp, ImageListHoldsEveryImageWithoutATheme)
{
    ASSERT_TRUE(App().CreateImageLists());
    const CImageList& images = App().GetDsImageList();
    ASSERT_EQ(images.Count(), KV_IMG_COUNT);
    for (int i = 0; i < KV_IMG_COUNT; ++i) {
        EXPECT_FALSE(images.Icon(i).pixmap(16, 16).isNull()) << i;
    }
    EXPECT_TRUE(images.Icon(KV_IMG_COUNT).isNull());
    EXPECT_EQ(App().GetFont(0).pixelSize(), 12);
    EXPECT_TRUE(App().GetFont(1).bold());
}

} // namespace
