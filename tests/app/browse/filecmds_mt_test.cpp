// The browse window's file commands over live local file managers: which
// commands a focused name editor, a view and the clipboard enable, and what
// running them does on the disk.
#include "../views/kv_viewfixture.h"

#include "core/fileclip.h"
#include "dialogs/dlgchdir.h"
#include "dialogs/dlgfileprop.h"
#include "menus/commands.h"
#include "res/resources.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace {

using kvtest::write_file;

enum : uint32_t {
    kCopy = 57634,
    kCut = 57635,
    kPaste = 57637,
    kExtPaste = 32797,
    kUndo = 57643,
    kSelectAll = 57642,
    kDelete = 32801,
    kExtDelete = 32802,
    kNewDir = 32804,
    kRename = 32807,
    kRefresh = 32806,
    kProperties = 32805,
    kParent = 32800,
    kChdir = 32776,
    kOpen = 57601,
    kView = 32808,
    kEdit = 32803,
    kPrint = 57607,
    kClose = 57602,
};

class FileCmds_MT : public kvtest::ViewFixture
{
protected:
    void OpenShown(uint16_t flags, bool two = false)
    {
        Open(flags, two);
        wnd->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(wnd.get()));
    }

    // The ids of `ids` that are enabled, for a readable failure.
    std::string EnabledOf(std::initializer_list<uint32_t> ids)
    {
        std::string out;
        for (uint32_t id : ids) {
            if (Enabled(id)) {
                out += (out.empty() ? "" : " ") + kvres::CommandName(id).toStdString();
            }
        }
        return out;
    }

    static void SelectRow(CFileListView* list, const std::string& name)
    {
        list->setFocus();
        list->clearSelection();
        for (int row = 0; row < list->GetModel()->rowCount(); ++row) {
            if (list->GetModel()->index(row, 0).data().toString().toStdString() == name) {
                list->selectionModel()->setCurrentIndex(list->GetModel()->index(row, 0),
                                                        QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
                return;
            }
        }
        ADD_FAILURE() << name << " is not listed";
    }

    static QLineEdit* Editor(QWidget* view)
    {
        for (QLineEdit* e : view->findChildren<QLineEdit*>()) {
            if (e->isVisible()) {
                return e;
            }
        }
        return nullptr;
    }

    static void SetClipText(const QString& text) { QApplication::clipboard()->setText(text); }

    static bool ClipHasFiles()
    {
        const QMimeData* mime = QApplication::clipboard()->mimeData();
        return mime != nullptr && mime->hasFormat(CKivrelApp::GetClipFormatBrCl());
    }

    static mode_t Mode(const std::string& path)
    {
        struct stat st
        {
        };
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }

    void MakeFiles()
    {
        ASSERT_TRUE(write_file(work + "/a.txt", "a"));
        ASSERT_TRUE(write_file(work + "/c.dat", "cc"));
        ASSERT_TRUE(KV_File::mkdir((work + "/b").c_str()));
    }
};

TEST_F(FileCmds_MT, TheNameEditorTakesTheEditCommands)
{
    MakeFiles();
    OpenShown(CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    SelectRow(list, "a.txt");
    SetClipText("before");
    ASSERT_TRUE(Run(kRename));
    QLineEdit* editor = Editor(list);
    ASSERT_NE(editor, nullptr);
    ASSERT_EQ(QApplication::focusWidget(), editor);
    editor->setSelection(0, 1);

    // Ctrl+C copies the selected text, not the entry.
    QTest::keyClick(editor, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "a");
    EXPECT_FALSE(ClipHasFiles());
    // The same through the command.
    editor->setSelection(2, 3);
    ASSERT_TRUE(Run(kCopy));
    EXPECT_EQ(QApplication::clipboard()->text(), "txt");
    EXPECT_FALSE(ClipHasFiles());

    // Text on the clipboard pastes into the editor; the extended paste is
    // the files' only.
    EXPECT_EQ(EnabledOf({kCopy, kCut, kPaste, kExtPaste, kUndo, kSelectAll}),
              "edit_copy edit_cut edit_paste edit_select_all");
    editor->deselect();
    EXPECT_EQ(EnabledOf({kCopy, kCut}), "");
    ASSERT_TRUE(Run(kPaste));
    EXPECT_EQ(editor->text(), "a.txttxt");
    EXPECT_TRUE(Enabled(kUndo));
    ASSERT_TRUE(Run(kUndo));
    EXPECT_EQ(editor->text(), "a.txt");
    ASSERT_TRUE(Run(kSelectAll));
    EXPECT_EQ(editor->selectedText(), "a.txt");
    EXPECT_FALSE(Enabled(kSelectAll)) << "all of it is selected already";
    // A read-only field takes no text: Paste follows the files, and there
    // are none on the clipboard.
    editor->setReadOnly(true);
    EXPECT_EQ(EnabledOf({kPaste, kExtPaste, kUndo}), "");
    editor->setReadOnly(false);
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_TRUE(Until([&] { return Editor(list) == nullptr; }));
    EXPECT_TRUE(std::filesystem::exists(work + "/a.txt"));
}

TEST_F(FileCmds_MT, EnablingFollowsTheSelectionAndTheFolder)
{
    MakeFiles();
    OpenShown(CBrowseSplt::kTree | CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    SetClipText("words");

    struct Case
    {
        const char* select; // null: nothing selected
        const char* enabled;
    };
    const Case cases[] = {
        {"a.txt", "edit_copy edit_cut edit_select_all file_delete file_ext_delete new_dir "
                  "file_rename refresh file_properties parent_dir change_dir file_open "
                  "file_view file_edit file_print file_close"},
        // A folder: the clipboard and delete take files only; it cannot be
        // opened as a file.
        {"b", "edit_select_all new_dir refresh file_properties parent_dir change_dir "
              "file_close"},
        {nullptr, "edit_select_all new_dir refresh parent_dir change_dir file_close"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.select != nullptr ? c.select : "nothing");
        if (c.select != nullptr) {
            SelectRow(list, c.select);
        } else {
            list->clearSelection();
        }
        EXPECT_EQ(EnabledOf({kCopy, kCut, kPaste, kExtPaste, kUndo, kSelectAll, kDelete, kExtDelete,
                             kNewDir, kRename, kRefresh, kProperties, kParent, kChdir, kOpen, kView,
                             kEdit, kPrint, kClose}),
                  c.enabled);
    }

    // Select all selects every entry.
    ASSERT_TRUE(Run(kSelectAll));
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 3);

    // Outside the window only Close is on.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    EXPECT_EQ(EnabledOf({kCopy, kPaste, kSelectAll, kDelete, kRefresh, kParent, kOpen, kClose}),
              "file_close");
}

TEST_F(FileCmds_MT, PasteFollowsWhatTheClipboardHolds)
{
    ASSERT_TRUE(KV_File::mkdir((work + "/src").c_str()));
    ASSERT_TRUE(KV_File::mkdir((work + "/dst").c_str()));
    ASSERT_TRUE(write_file(work + "/src/a.txt", "a"));
    OpenShown(CBrowseSplt::kList | (CBrowseSplt::kList << 8), true);
    ASSERT_TRUE(Show(work + "/src", CBrowseSplt::kLeft));
    ASSERT_TRUE(Show(work + "/dst", CBrowseSplt::kRight));
    CFileListView* left = List(CBrowseSplt::kLeft);
    CFileListView* right = List(CBrowseSplt::kRight);
    ASSERT_TRUE(Until([&] { return Names(left).size() == 1; }));

    // Text: nothing to paste into a view.
    SetClipText("not files");
    right->setFocus();
    EXPECT_EQ(EnabledOf({kPaste, kExtPaste}), "");

    // Files copied in one pane paste into the other.
    SelectRow(left, "a.txt");
    ASSERT_TRUE(Run(kCopy));
    ASSERT_TRUE(ClipHasFiles());
    EXPECT_FALSE(Enabled(kPaste)) << "into their own folder";
    right->setFocus();
    EXPECT_EQ(EnabledOf({kPaste, kExtPaste}), "edit_paste edit_ext_paste");

    // Cut files are moved: into their own folder there is no move, into the
    // other folder there is.
    SelectRow(left, "a.txt");
    ASSERT_TRUE(Run(kCut));
    EXPECT_FALSE(Enabled(kPaste));
    right->setFocus();
    EXPECT_TRUE(Enabled(kPaste));
    ASSERT_TRUE(Run(kPaste));
    ASSERT_TRUE(Until([&] { return std::filesystem::exists(work + "/dst/a.txt"); }));
    EXPECT_TRUE(Until([&] { return !std::filesystem::exists(work + "/src/a.txt"); }));
}

TEST_F(FileCmds_MT, ParentAndChangeDirectoryStopAtTheRoot)
{
    ASSERT_TRUE(KV_File::mkdir((work + "/a").c_str()));
    ASSERT_TRUE(KV_File::mkdir((work + "/a/deep").c_str()));
    OpenShown(CBrowseSplt::kList);
    ASSERT_TRUE(Show("/"));
    // Above "/" stands the computer, which lists the one drive "/": that
    // is the data source's root.
    List()->setFocus();
    ASSERT_TRUE(Run(kParent));
    ASSERT_TRUE(Until([&] { return Data()->GetPath().entries() == 1; }));
    EXPECT_EQ(Data()->GetPath().first_ind(), 1u);
    List()->setFocus();
    EXPECT_EQ(EnabledOf({kParent, kChdir}), "");

    ASSERT_TRUE(Show(work + "/a/deep"));
    List()->setFocus();
    EXPECT_EQ(EnabledOf({kParent, kChdir}), "parent_dir change_dir");
    ASSERT_TRUE(Run(kParent));
    auto shown = [this] {
        KV_String text;
        Data()->GetPathText(text, Data()->GetPath(), true, 0);
        return std::string(text.data(), text.length());
    };
    ASSERT_TRUE(Until([&] { return shown().ends_with("/a"); })) << shown();

    // A folder typed with either slash.
    std::string typed = work + "/a/deep";
    std::replace(typed.begin(), typed.end(), '/', '\\');
    int asked = 0;
    kvtest::DialogDriver<CDlgChdir> answer([&](CDlgChdir& dlg) {
        ++asked;
        dlg.Item<QLineEdit>(CDlgChdir::IDC_FOLDER)->setText(QString::fromStdString(typed));
        dlg.accept();
    });
    List()->setFocus();
    ASSERT_TRUE(Run(kChdir));
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(Until([&] { return shown().ends_with("/a/deep"); })) << shown();
}

TEST_F(FileCmds_MT, PropertiesChangeALocalFileOnlyWhenSomethingChanged)
{
    ASSERT_TRUE(write_file(work + "/a.txt", "a"));
    ASSERT_TRUE(write_file(work + "/b.txt", "b"));
    ::chmod((work + "/a.txt").c_str(), 0644);
    ::chmod((work + "/b.txt").c_str(), 0644);
    OpenShown(CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 2; }));

    // Read only checked: the file loses its write bits.
    int shown = 0;
    kvtest::DialogDriver<CDlgFilePropStd> set([&](CDlgFilePropStd& dlg) {
        ++shown;
        EXPECT_FALSE(dlg.Item<QCheckBox>(CDlgFilePropStd::IDC_READONLY)->isChecked());
        dlg.Item<QCheckBox>(CDlgFilePropStd::IDC_READONLY)->click();
        dlg.accept();
    });
    SelectRow(list, "a.txt");
    ASSERT_TRUE(Run(kProperties));
    EXPECT_EQ(shown, 1);
    ASSERT_TRUE(Until([&] { return (Mode(work + "/a.txt") & 0222) == 0; }));
}

TEST_F(FileCmds_MT, PropertiesConfirmedUnchangedSendNothing)
{
    ASSERT_TRUE(write_file(work + "/a.txt", "a"));
    ASSERT_TRUE(write_file(work + "/b.txt", "b"));
    ::chmod((work + "/a.txt").c_str(), 0444);
    ::chmod((work + "/b.txt").c_str(), 0644);
    OpenShown(CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 2; }));
    // Behind the listing's back the file becomes writable: a request with
    // the listed rights would make it read-only again.
    ::chmod((work + "/a.txt").c_str(), 0644);

    int shown = 0;
    kvtest::DialogDriver<CDlgFilePropStd> ok([&](CDlgFilePropStd& dlg) {
        ++shown;
        if (shown == 2) {
            dlg.Item<QCheckBox>(CDlgFilePropStd::IDC_READONLY)->click();
        }
        dlg.accept();
    });
    SelectRow(list, "a.txt");
    ASSERT_TRUE(Run(kProperties));
    // A change of the other file runs after anything the first one queued.
    SelectRow(list, "b.txt");
    ASSERT_TRUE(Run(kProperties));
    EXPECT_EQ(shown, 2);
    ASSERT_TRUE(Until([&] { return (Mode(work + "/b.txt") & 0222) == 0; }));
    EXPECT_EQ(Mode(work + "/a.txt"), 0644u);
}

TEST_F(FileCmds_MT, TheContextMenuIsTheFilePopup)
{
    MakeFiles();
    OpenShown(CBrowseSplt::kList);
    ASSERT_TRUE(Show(work));
    CFileListView* list = List();
    ASSERT_TRUE(Until([&] { return Names(list).size() == 3; }));
    SelectRow(list, "a.txt");
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            list->GetItemView()->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(list->GetItemView()->viewport(), &event);
    QMenu* shown = nullptr;
    ASSERT_TRUE(Until([&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* menu = qobject_cast<QMenu*>(w);
            if (menu != nullptr && menu->isVisible()) {
                shown = menu;
            }
        }
        return shown != nullptr;
    }));
    QStringList names;
    for (QAction* a : shown->actions()) {
        if (!a->isSeparator()) {
            names << a->objectName();
        }
    }
    EXPECT_EQ(names.size(), 17);
    EXPECT_TRUE(names.contains(kvres::CommandName(kProperties)));
    shown->close();
}

TEST_F(FileCmds_MT, CloseHidesTheWindow)
{
    OpenShown(CBrowseSplt::kList);
    const QPointer<CBrowseSplt> w(wnd.get());
    ASSERT_TRUE(Run(kClose));
    EXPECT_TRUE(w->isVisible()) << "closed after the command has returned";
    // An idle window is destroyed once hidden.
    EXPECT_TRUE(Until([&] { return w == nullptr || !w->isVisible(); }));
    if (w == nullptr) {
        (void)wnd.release();
    }
}

} // namespace
