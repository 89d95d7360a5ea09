#ifndef KIVREL_PROPS_DSPROP_H
#define KIVREL_PROPS_DSPROP_H

// The property sheets of the data-source tree and the base of their pages.
//
// A sheet edits clones: the node (a data source or group) and, when it may
// inherit, a clone of the group it inherits from. The caller made both and
// commits the node on OK (CKivrelApp::EditProperties); the sheet and its
// pages never touch the live tree. A sheet is a dialog with one tab per page
// and OK/Cancel, no Apply.
//
// Pages are made with the sheet but "created" (loaded from the engine
// objects) only when first shown, and only created pages take part in an
// inheritance toggle and in OK: a page first shown after the toggle loads
// the state the toggle left. Each page names its controls by their numeric
// ids (objectName "1100"), moves its members to and from them in one
// DoDataExchange, loads its members from the engine objects in LoadData and
// writes them back in SaveData. While a page inherits, its target objects
// are the parent group's, so it shows the group's values greyed out and its
// saves go into the parent clone, which the caller discards.
//
// User-interface thread only.

// Qt's headers first: moc reads the engine headers' standard includes only
// after Qt's have set the library's configuration macros.
#include <QDialog>
#include <QList>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <initializer_list>

class CDsPropPage;
class KV_DsTreeNode;
class QCheckBox;
class QDialogButtonBox;
class QTabWidget;
class QVBoxLayout;

class CDsProp : public QDialog
{
    Q_OBJECT
public:
    // `node` and `parent` (a group clone, or null: the node cannot inherit)
    // are not owned and must outlive the sheet. The caption reads
    // "<name> properties."; `initial_page` is the page shown first.
    CDsProp(KV_DsTreeNode* node, KV_DsTreeNode* parent, QWidget* wnd, int initial_page = 0);
    ~CDsProp() override;

    KV_DsTreeNode* GetNode() const { return node; }
    KV_DsTreeNode* GetParentNode() const { return parent_node; }

    // Appends a page (the sheet owns it from then on); pages keep the order
    // in which they were added.
    void AddPage(CDsPropPage* page);
    int GetPageCount() const { return pages.size(); }
    CDsPropPage* GetPage(int index) const { return pages.value(index, nullptr); }
    int GetPageIndex(const CDsPropPage* page) const;
    CDsPropPage* GetActivePage() const;
    // Shows the page, creating it first when it was never shown. False for a
    // page of another sheet.
    bool SetActivePage(CDsPropPage* page);
    bool SetActivePage(int index);

    // False without a parent group; else the node's inherit flag.
    bool IsInherited() const;
    // The inherit box of a page was clicked: every created page saves into
    // its current targets, the node's inherit flag becomes `inherit`, and
    // every created page loads again. False (the flag unchanged) when a page
    // refused its values; that page is shown with the reason.
    bool SetInherit(bool inherit);

    // The sheet's help file ("html\\dspropftp.htm"); pages append their
    // anchor (CDsPropPage::SetHelpTopic).
    void SetSheetHelpTopic(const QString& file);
    QString GetSheetHelpTopic() const;

    QTabWidget* GetTabs() const { return tabs; }
    QDialogButtonBox* GetButtons() const { return buttons; }

    // OK: every created page, in page order, validates and saves (OnApply);
    // the first that refuses keeps the sheet open on itself.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnTabChanged(int index);

    KV_DsTreeNode* const node;
    KV_DsTreeNode* const parent_node;
    QList<CDsPropPage*> pages;
    QTabWidget* tabs;
    QDialogButtonBox* buttons;
    int initial_page;
    int shown_page = -1; // the page whose tab was current last
    bool switching = false;
};

// The exchange between a page's members and its controls: into the
// controls (`save` false) or out of them with the range checks (`save`
// true). The first failed check is shown on its control (the page becomes
// the active one and the control gets the focus); from then on the exchange
// does nothing, and Failed() tells the page not to write its engine objects.
class CDataExchange
{
public:
    CDataExchange(CDsPropPage& page, bool save) : page(page), save(save) {}

    bool IsSaving() const { return save; }
    bool Failed() const { return failed; }

    // A line or multi-line edit.
    void Text(int id, QString& value);
    // A check box: 0 unchecked, 1 checked, 2 the third state.
    void Check(int id, int& value);
    // A group of radio buttons: the index of the checked one, -1 for none.
    void Radio(std::initializer_list<int> ids, int& index);
    // The current index of a combo box or list (-1 none).
    void ComboIndex(int id, int& index);
    // An unsigned number typed in an edit, min..max on save.
    void UInt(int id, uint32_t& value, uint32_t min, uint32_t max);

    // Marks the exchange failed and shows `text` on control `id`.
    void Fail(int id, const QString& text);

private:
    CDsPropPage& page;
    const bool save;
    bool failed = false;
};

class CDsPropPage : public QWidget
{
    Q_OBJECT
public:
    // The inherit box every inheriting page carries.
    enum : int { IDC_INHERIT = 1074 };

    // `template_id` names the page among the program's dialogs, `title` is
    // its tab's text; `inherit_box` adds the inherit box at the top.
    CDsPropPage(int template_id, const QString& title, bool inherit_box);
    ~CDsPropPage() override;

    int GetTemplateId() const { return template_id; }
    QString GetTitle() const { return title; }
    // The control whose objectName is `id`, of type T, or null.
    template <class T = QWidget> T* Item(int id) const
    {
        return findChild<T*>(QString::number(id));
    }

    // The sheet the page was added to, or null.
    CDsProp* GetSheet() const { return sheet; }
    // Whether the page was shown (and so loaded) at least once.
    bool IsCreated() const { return created; }
    // Runs the page's initialisation once; later calls do nothing.
    void Create();

    // The owning sheet's inherit state; false without a sheet.
    bool IsInherited() const;

    // Whether control `id` is enabled (-1: static texts and group boxes).
    // The base: everything unless inheriting; while inheriting only 1094
    // (name), 1024 (description), 1074 (the inherit box) and -1.
    virtual bool IsCtrlEnabled(int id) const;
    // Fills the members from the engine objects and shows them. Pages fill
    // their members first, then call the base: the inherit flag, the
    // exchange into the controls, the enable rules.
    virtual void LoadData();
    // Reads the controls and writes the engine objects. The base runs the
    // exchange out of the controls (with the range checks) and gives false
    // when a check failed; pages call it first and write nothing then.
    virtual bool SaveData();
    // Validation on OK; pages that check their values override it, show the
    // failure with ShowCtrlError and give false. The base: OnOK.
    virtual bool OnApply();
    // Saves the page on OK (SaveData).
    virtual bool OnOK();

    // Enables or disables every control by IsCtrlEnabled.
    void UpdateCtrls();
    // The exchange in one direction; false when a range check failed.
    bool UpdateData(bool save);

    // Makes the page's help topic the sheet's file followed by `anchor`
    // ("#details"); nothing when the sheet names no file.
    void SetHelpTopic(const QString& anchor);
    QString GetHelpTopic() const;

    // Shows `text` in an error box. When control `id` is on this page, the
    // page becomes the active one first and the control gets the focus
    // afterwards.
    void ShowCtrlError(const QString& text, int id);

    // The inherit flag as last exchanged (0 or 1).
    int GetInheritFlag() const { return inherit; }

protected:
    // The page is shown the first time: the base loads (LoadData) and sets
    // up the inherit box (hidden without a parent group, else its text names
    // the group). Pages set their help anchor before calling the base and
    // may add steps after it.
    virtual void OnInitDialog();
    // Moves the members; the base moves the inherit flag. Pages call it
    // first.
    virtual void DoDataExchange(CDataExchange& dx);

    // Whether the engine root's tree calls the node of `node`'s id read-only
    // (KV_DsTree::rdonly, not counting use); false without an engine root.
    static bool IsNodeRdonly(const KV_DsTreeNode* node);

    // Where the pages put their controls, under the inherit box.
    QVBoxLayout* PageLayout() const { return layout_page; }

    int inherit = 0;

private:
    friend class CDsProp;
    void OnInheritClicked();
    void UpdateCtrls(QWidget* parent);

    const int template_id;
    const QString title;
    CDsProp* sheet = nullptr;
    QCheckBox* inherit_box = nullptr;
    QVBoxLayout* layout_page = nullptr;
    QString help_topic;
    bool created = false;
};

#endif
