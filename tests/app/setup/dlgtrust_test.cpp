// The trusted certificates and keys: what the list shows, and that removals
// reach the store only with OK.
#include "setup/dlgtrust.h"

#include "foundation/kv_file.h"
#include "net/kv_ckman.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <gtest/gtest.h>
#include <vector>

namespace {

// A store of plain entries in the file of trusted server certificates.
class TestStore : public KV_CKList<KV_CKEntry, KV_PATH_SRV_CERTS>
{
public:
    void Put(uint32_t id, const char* name, const char* d1, const char* d2)
    {
        KV_Stream st;
        ASSERT_TRUE(KV_CKEntry(id, name, d1, d2).write(st));
        std::lock_guard<KV_CKMan> guard(*this);
        ASSERT_TRUE(add(st));
    }
    std::vector<uint32_t> Ids()
    {
        std::vector<uint32_t> ids;
        std::lock_guard<KV_CKMan> guard(*this);
        for (uint32_t i = 0; i < entries(); ++i) {
            ids.push_back(at(i).id());
        }
        return ids;
    }
};

class DlgTrustTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SRV_CERTS, (dir / "trusted-certs.bin").c_str()));
        store.Put(3, "ftp.example.com", "CN=ftp.example.com", "CN=Example CA");
        store.Put(5, "web.example.com:8443", "CN=web", "CN=Other CA");
        store.Put(9, "dav.example.com", "CN=dav", "CN=Example CA");
    }

    static QTableWidget* List(CDlgTrust& dlg)
    {
        return dlg.Item<QTableWidget>(CDlgTrust::IDC_LIST);
    }
    static bool Enabled(CDlgTrust& dlg, int id) { return dlg.Item(id)->isEnabled(); }
    static void Select(CDlgTrust& dlg, std::initializer_list<int> rows)
    {
        List(dlg)->clearSelection();
        for (int row : rows) {
            List(dlg)->selectionModel()->select(List(dlg)->model()->index(row, 0),
                                                QItemSelectionModel::Select |
                                                    QItemSelectionModel::Rows);
        }
    }

    TestStore store;
};

TEST_F(DlgTrustTest, ColumnsAndRows)
{
    struct Row
    {
        int template_id;
        const char* col3;
        const char* title;
        QStringList headers;
    } rows[] = {
        {CDlgTrust::IDD_CERTS,
         "Issuer",
         "Trusted certificates",
         {"Server", "Common name", "Issuer"}},
        {CDlgTrust::IDD_KEYS, "", "Trusted public keys", {"Server", "Fingerprint"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.title);
        CDlgTrust dlg(r.template_id, store, r.headers[1], r.col3, nullptr);
        dlg.show();
        EXPECT_EQ(dlg.windowTitle(), r.title);
        QTableWidget* list = List(dlg);
        ASSERT_EQ(list->columnCount(), r.headers.size());
        for (int c = 0; c < list->columnCount(); ++c) {
            EXPECT_EQ(list->horizontalHeaderItem(c)->text(), r.headers[c]);
        }
        ASSERT_EQ(list->rowCount(), 3);
        EXPECT_EQ(list->item(1, 0)->text(), "web.example.com:8443");
        EXPECT_EQ(list->item(1, 1)->text(), "CN=web");
        if (list->columnCount() == 3) {
            EXPECT_EQ(list->item(1, 2)->text(), "CN=Other CA");
        }
        EXPECT_FALSE(Enabled(dlg, CDlgTrust::IDC_REMOVE)) << "nothing selected";
        EXPECT_TRUE(Enabled(dlg, CDlgTrust::IDC_REMOVE_ALL));
        Select(dlg, {2});
        EXPECT_TRUE(Enabled(dlg, CDlgTrust::IDC_REMOVE));
        dlg.reject();
    }

    TestStore empty;
    CDlgTrust dlg(CDlgTrust::IDD_CERTS, empty, "Common name", "Issuer", nullptr);
    dlg.show();
    EXPECT_FALSE(Enabled(dlg, CDlgTrust::IDC_REMOVE));
    EXPECT_FALSE(Enabled(dlg, CDlgTrust::IDC_REMOVE_ALL));
}

TEST_F(DlgTrustTest, RemovalsOnlyWithOk)
{
    {
        CDlgTrust dlg(CDlgTrust::IDD_CERTS, store, "Common name", "Issuer", nullptr);
        dlg.show();
        Select(dlg, {0, 2});
        dlg.Item<QPushButton>(CDlgTrust::IDC_REMOVE)->click();
        EXPECT_EQ(List(dlg)->rowCount(), 1);
        EXPECT_EQ(dlg.RemovedIds(), (QList<uint32_t>{9, 3}));
        dlg.reject();
    }
    EXPECT_EQ(store.Ids(), (std::vector<uint32_t>{3, 5, 9})) << "Cancel keeps every entry";

    {
        CDlgTrust dlg(CDlgTrust::IDD_CERTS, store, "Common name", "Issuer", nullptr);
        dlg.show();
        Select(dlg, {1});
        dlg.Item<QPushButton>(CDlgTrust::IDC_REMOVE)->click();
        dlg.accept();
    }
    EXPECT_EQ(store.Ids(), (std::vector<uint32_t>{3, 9}));
    // The store saved its file.
    TestStore reread;
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.Ids(), (std::vector<uint32_t>{3, 9}));
}

TEST_F(DlgTrustTest, RemoveAllAsksFirst)
{
    CDlgTrust dlg(CDlgTrust::IDD_KEYS, store, "Fingerprint", "", nullptr);
    dlg.show();
    QString asked;
    QMessageBox::StandardButton answer = QMessageBox::No;
    kvtest::DialogDriver<QMessageBox> driver([&](QMessageBox& box) {
        asked = box.windowTitle() + "|" + box.text();
        box.button(answer)->click();
    });
    dlg.Item<QPushButton>(CDlgTrust::IDC_REMOVE_ALL)->click();
    EXPECT_EQ(asked, "Question|Are you sure you want to remove all items from the list ?");
    EXPECT_EQ(List(dlg)->rowCount(), 3) << "No keeps every row";
    EXPECT_TRUE(dlg.RemovedIds().isEmpty());

    answer = QMessageBox::Yes;
    dlg.Item<QPushButton>(CDlgTrust::IDC_REMOVE_ALL)->click();
    EXPECT_EQ(driver.handled, 2);
    EXPECT_EQ(List(dlg)->rowCount(), 0);
    EXPECT_FALSE(dlg.Item(CDlgTrust::IDC_REMOVE_ALL)->isEnabled());
    dlg.accept();
    EXPECT_TRUE(store.Ids().empty());
}

} // namespace
