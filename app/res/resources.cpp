#include "res/resources.h"

#include <QFile>
#include <QHash>
#include <map>

// The images live in a resource file of this static library; the linker
// keeps its registration only when something names it.
static void InitArtResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(art);
        return true;
    }();
    (void)done;
}

namespace kvres {
namespace {

MenuItem C(const char* text, uint32_t id)
{
    return MenuItem{QString::fromUtf8(text), id, false, {}};
}

MenuItem S()
{
    return MenuItem{};
}

MenuItem P(const char* text, std::vector<MenuItem> items)
{
    return MenuItem{QString::fromUtf8(text), 0, true, std::move(items)};
}

MenuItem HelpPopup()
{
    return P("&Help",
             {C("&Contents\tF1", 32809), C("&Index", 57666), C("&Search", 57667), S(),
              P("Wi&zards", {C("&Connect to a server", 32851), C("&Network setup", 32852)}), S(),
              C("Kivrel &Website", 32850), C("Submit a &bug", 32840), C("&Online support", 32841),
              S(), C("&About Kivrel", 57664)});
}

std::map<uint32_t, MenuItem> BuildMenus()
{
    std::map<uint32_t, MenuItem> m;
    // Browse window menu bar. The "&Data Source" popup is replaced at run
    // time by the popup of the focused pane's protocol (menu 110); the one
    // here is what a local pane shows.
    m[109] =
        P("",
          {P("&File",
             {C("&Open\tEnter", 57601), C("&View\tF3", 32808), C("&Edit\tF4", 32803),
              C("&Print", 57607), S(), C("&Delete\tDel", 32801), C("E&xt. Delete\tAlt+Del", 32802),
              C("&New directory\tAlt+N", 32804), C("&Rename", 32807), S(), C("Re&fresh\tF5", 32806),
              C("P&arent directory", 32800), C("C&hange directory", 32776), C("Proper&ties", 32805),
              S(), C("&Close\tAlt+F4", 57602)}),
           P("&Edit", {C("&Undo\tCtrl+Z", 57643), S(), C("Cu&t\tCtrl+X", 57635),
                       C("&Copy\tCtrl+C", 57634), C("&Paste\tCtrl+V", 57637),
                       C("E&xt. Paste\tCtrl+Alt+V", 32797), S(), C("Select &all\tCtrl+A", 57642)}),
           P("&Data Source", {C("&Options\tF2", 32784), C("&Find this data src.", 32785),
                              C("&Set as default dir.", 32839)}),
           P("&View",
             {C("&Toolbar", 59392), C("&Status Bar", 59393), S(), C("&Next pane\tTab", 57680),
              C("&Prev. pane\tShift+Tab", 57681), S(),
              P("&List view", {C("&Large icons", 59409), C("&Small icons", 59408),
                               C("L&ist", 59410), C("&Details", 59411), S(), C("&Columns", 32779)}),
              S(), P("L&eft pane", {C("&Tree", 32815), C("&List", 32814), C("&Details", 32816)}),
              P("&Right pane", {C("&Tree", 32837), C("&List", 32836), C("&Details", 32838)})}),
           HelpPopup()});
    // The popup collection of the browse windows: the context menu of the
    // file views, the per-protocol "&Data Source" popups and the context
    // menus of the details view.
    m[110] =
        P("", {P("&File", {C("&Open\tEnter", 57601),
                           C("&View\tF3", 32808),
                           C("&Edit\tF4", 32803),
                           C("&Print", 57607),
                           S(),
                           C("C&ut\tCtrl+X", 57635),
                           C("&Copy\tCtrl+C", 57634),
                           C("P&aste\tCtrl+V", 57637),
                           C("Ext. Pa&ste\tCtrl+Alt+V", 32797),
                           S(),
                           C("&Delete\tDel", 32801),
                           C("E&xt. Delete\tAlt+Del", 32802),
                           S(),
                           C("&New directory", 32804),
                           C("&Rename", 32807),
                           C("Select a&ll\tCtrl+A", 57642),
                           S(),
                           C("Re&fresh\tF5", 32806),
                           C("Parent d&irectory", 32800),
                           C("C&hange directory", 32776),
                           S(),
                           C("Proper&ties", 32805)}),
               P("FTP", {C("&Connect", 32780), C("&Disconnect", 32782), S(),
                         C("Disconnect &all", 32783), S(), C("C&ustom command", 32778), S(),
                         P("&Transfer mode",
                           {C("&Automatic", 32846), C("A&SCII", 32845), C("&Binary", 32847)}),
                         C("&Options\tF2", 32784), C("&Find this data src.", 32785),
                         C("&Set as default dir.", 32839)}),
               P("HTTP", {C("&Connect", 32780), C("&Disconnect", 32782), S(),
                          C("Disconnect &all", 32783), S(), C("&Options\tF2", 32784),
                          C("&Find this data src.", 32785), C("&Set as default dir.", 32839)}),
               P("SFTP", {C("&Connect", 32780), C("&Disconnect", 32782), S(),
                          C("Disconnect &all", 32783), S(), C("&Options\tF2", 32784),
                          C("&Find this data src.", 32785), C("&Set as default dir.", 32839)}),
               P("STD", {C("&Options\tF2", 32784), C("&Find this data src.", 32785),
                         C("&Set as default dir.", 32839)}),
               P("FTP Connection", {C("&Connect", 32780), C("&Disconnect", 32782), S(),
                                    C("Disconnect &all", 32783), S(), C("C&ustom command", 32778)}),
               P("HTTP Connection",
                 {C("&Connect", 32780), C("&Disconnect", 32782), S(), C("Disconnect &all", 32783)}),
               P("SFTP Connection", {C("&Connect", 32780), C("&Disconnect", 32782), S(),
                                     C("Disconnect &all", 32783)})});
    // The control window's menu bar. "&Tree" is also the data-source view's
    // context menu and "Re&quest" the transfer list's.
    m[111] =
        P("",
          {P("&File",
             {C("&Quick connect", 32821), C("&Options", 32818), S(),
              C("&Close all browsers", 32777), S(), C("Auto &exit", 32771),
              C("Auto &shutdown", 32772), C("Auto s&uspend", 32773), S(), C("E&xit", 57665)}),
           P("&Edit", {C("&Undo", 57643), S(), C("Cu&t", 57635), C("&Copy", 57634),
                       C("&Paste", 57637), S(), C("Select &all", 57642)}),
           P("&View",
             {C("&Data sources", 32796), C("T&ransfer listing", 32849), S(), C("&Toolbar", 59392),
              C("&Status Bar", 59393), S(), C("&Always on top", 32848)}),
           P("&Tree",
             {C("&Open\tEnter", 32786), C("&Close", 32787), S(), C("&New data source", 57600),
              P("N&ew", {C("&FTP", 32790), C("&HTTP/WebDAV", 32791), C("&SFtp", 32792), S(),
                         C("F&older", 32789)}),
              S(), C("&Delete\tDel", 32788), C("&Rename", 32794), S(), C("Te&mporary", 32795), S(),
              C("&Properties", 32793)}),
           P("Re&quest",
             {C("&Cancel", 32823), C("&Pause", 32831), C("C&ontinue", 32825), C("&Restart", 32833),
              C("&Skip erroneous", 32835), S(), C("&Delete\tDel", 32827), S(), C("&Browse", 32822),
              C("View &Info\tEnter", 32829), C("Para&meters", 32830), S(),
              P("&All requests", {C("&Cancel", 32824), C("&Pause", 32832), C("C&ontinue", 32826),
                                  C("&Restart", 32834), C("&Delete", 32828)})}),
           HelpPopup()});
    // The tray icon's menu.
    m[112] =
        P("", {P("&File", {C("&Quick connect", 32821), C("&Options", 32818), C("&About ...", 57664),
                           S(), C("Auto &exit", 32771), C("Auto &shutdown", 32772),
                           C("Auto s&uspend", 32773), S(), C("E&xit", 57665)})});
    return m;
}

QKeyCombination K(Qt::KeyboardModifiers mods, Qt::Key key)
{
    return QKeyCombination(mods, key);
}

std::map<uint32_t, std::vector<Accelerator>> BuildAccelerators()
{
    const auto ctrl = Qt::ControlModifier;
    const auto shift = Qt::ShiftModifier;
    const auto alt = Qt::AltModifier;
    const auto none = Qt::NoModifier;
    std::map<uint32_t, std::vector<Accelerator>> t;
    t[109] = {
        {K(ctrl, Qt::Key_A), 57642},        {K(ctrl, Qt::Key_C), 57634},
        {K(ctrl, Qt::Key_Insert), 57634},   {K(ctrl, Qt::Key_X), 57635},
        {K(ctrl, Qt::Key_V), 57637},        {K(shift, Qt::Key_Insert), 57637},
        {K(ctrl | alt, Qt::Key_V), 32797},  {K(ctrl, Qt::Key_Z), 57643},
        {K(alt, Qt::Key_Backspace), 57643}, {K(alt, Qt::Key_N), 32804},
        {K(alt, Qt::Key_Delete), 32802},    {K(none, Qt::Key_F2), 32784},
        {K(none, Qt::Key_F3), 32808},       {K(none, Qt::Key_F4), 32803},
        {K(none, Qt::Key_F5), 32806},       {K(none, Qt::Key_F6), 57680},
        {K(none, Qt::Key_Tab), 57680},      {K(shift, Qt::Key_F6), 57681},
        {K(shift, Qt::Key_Backtab), 57681}, {K(ctrl, Qt::Key_F1), 57664},
        {K(ctrl, Qt::Key_N), 57600},        {K(ctrl, Qt::Key_S), 57603},
    };
    return t;
}

std::map<uint32_t, ToolBar> BuildToolBars()
{
    std::map<uint32_t, ToolBar> t;
    // Browse window.
    t[109] = {109,
              16,
              16,
              {57635, 57634, 57637, 0, 32801, 0, 32806, 0, 32800, 32776, 0, 57601, 57607, 32805, 0,
               32813, 0, 57664}};
    // Control window: connecting, the data-source view and the transfer list.
    t[111] = {111, 16, 16, {32821, 32818, 0, 57600, 32786, 32781, 32819, 0, 32823, 32831, 32825}};
    // Never shown: it lends the menus the pictures of commands that no
    // visible toolbar carries.
    t[113] = {113,
              16,
              16,
              {57665, 32809, 57666, 57667, 57664, 0, 32850, 32840, 32841, 0, 32780, 32782, 32783, 0,
               32851, 32852}};
    // Start tips.
    t[114] = {114, 16, 16, {8, 32774, 32817}};
    return t;
}

const QHash<uint32_t, QString>& Strings()
{
    static const QHash<uint32_t, QString> s = [] {
        QHash<uint32_t, QString> h;
        auto add = [&h](uint32_t id, const char* text) { h.insert(id, QString::fromUtf8(text)); };
        // Frame titles (the part before "\n").
        add(109, "Kivrel browser\n");
        add(111, "Kivrel\n");
        // Texts of the information and question boxes.
        add(115, "Please remember that the following dialog displays the main options only. All "
                 "application settings are stored in the data source tree and you can access them "
                 "by opening the properties dialog for the appropriate item (e.g. \"Ftp\" for the "
                 "FTP-related settings, \"Kivrel\" for the main application options, ...).");
        add(116,
            "Your request has been successfully registered by Kivrel. You can now simply close "
            "the browse window(s) if you don't want to start another request on this data "
            "source. The status of the request processing will be displayed in this small "
            "control window, whereby the corresponding browse windows can be re-opened at any "
            "time by choosing the \"browse\" menu item in the context menu.\n");
        add(117, "The file(s) you want to edit were downloaded and can be changed now. Please "
                 "resume the request processing as soon as you'll wish to upload the changes back "
                 "to the server.\n");
        add(118, "This data source is currently involved in at least one request. You can't change "
                 "a few data source properties until you delete these requests. ( When resuming an "
                 "interrupted request Kivrel must be able to identify the involved data sources "
                 "according to their name, server addresses, ...).\n");
        add(119, "Errors occurred during the request processing and some of the selected "
                 "files/directories were skipped. Please open the request info dialog for details "
                 "( use the context menu or double-click on the request ).");
        add(120, "Please turn this option on only if the server doesn't report correct file sizes "
                 "as a response to the LIST command. In such case, Kivrel will not check the sizes "
                 "of transferred files (there is no guarantee that the destionation file matches "
                 "the source file exactly).");
        add(121, "Are you sure you want to quit the application ?");
        // Status bars: the idle text and the runs of blanks that size panes.
        add(57345, "Ready");
        add(32810, "          ");
        add(32811, "                      ");
        add(32812, "                       ");
        add(59137, "CAP");
        add(59138, "NUM");
        add(59139, "SCRL");
        // Command prompts: the status-bar text, then after "\n" the tooltip.
        add(57634, "Copy the selection and put it on the Clipboard\nCopy");
        add(57635, "Cut the selection and put it on the Clipboard\nCut");
        add(57637, "Insert Clipboard contents\nPaste");
        add(32797, "Insert Clipboard contents using additional parameters (schedule, mirroring, "
                   "...)\nPaste");
        add(57643, "Undo the last action\nUndo");
        add(57642, "Select the entire text or all files\nSelect All");
        add(32801, "Delete the file\nDelete");
        add(32802, "Delete the file using additional parameters (schedule, ...)\nExtended delete");
        add(32804, "Create a new directory\nNew directory");
        add(32807, "Rename the file\nRename");
        add(32806, "Refresh the content\nRefresh");
        add(32805, "Display file properties\nProperties");
        add(32800, "Switch to the parent directory\nParent directory");
        add(32776, "Change the current directory\nChange directory");
        add(57601, "Open the file\nOpen");
        add(32808, "View the file\nView");
        add(32803, "Edit the file\nEdit");
        add(57607, "Print the file\nPrint");
        add(57602, "Close the browser\nClose");
        add(32780, "(Re)open the selected connection\nConnect");
        add(32782, "Close the selected connection\nDisconnect");
        add(32783, "Close all connections\nClose all connections");
        add(32778, "Send a user defined command\nSend command");
        add(32846, "Select the transfer mode automatically\nAutomatic transfer mode");
        add(32845, "Use the ASCII transfer mode for the file transfers\nASCII transfer mode");
        add(32847, "Use the binary transfer mode for the file transfers\nBinary transfer mode");
        add(32784, "Change the data source options\nChange options");
        add(32785, "Find and select this data source in the data source view\nFind this data "
                   "source");
        add(32839, "Set the selected directory as default\nSet as default directory");
        add(32815, "Show or hide the tree pane\nToggle tree pane");
        add(32837, "Show or hide the tree pane\nToggle tree pane");
        add(32814, "Show or hide the list pane\nToggle list pane");
        add(32836, "Show or hide the list pane\nToggle list pane");
        add(32816, "Show or hide the details pane\nToggle details pane");
        add(32838, "Show or hide the details pane\nToggle details pane");
        add(32779, "Select the columns displayed in the list\nSelect columns");
        add(32813, "Select the style for the listing\nList View");
        add(59408, "Display items by using small icons.\nSmall Icons");
        add(59409, "Display items by using large icons.\nLarge Icons");
        add(59410, "Displays items in a list.\nList");
        add(59411, "Displays detailed information about each item in the window.\nDetails");
        add(59412, "Arranges icons in a grid.");
        add(59413, "Sorts the icons alphabetically.");
        add(57680, "Switch to the next window pane\nNext Pane");
        add(57681, "Switch back to the previous window pane\nPrevious Pane");
        add(59392, "Show or hide the toolbar\nToggle ToolBar");
        add(59393, "Show or hide the status bar\nToggle StatusBar");
        add(57664, "Display program information, version number and copyright\nAbout");
        return h;
    }();
    return s;
}

const QHash<uint32_t, QString>& CommandNames()
{
    static const QHash<uint32_t, QString> n = [] {
        static const struct
        {
            uint32_t id;
            const char* name;
        } table[] = {
            {8, "tip_close"},
            {32771, "auto_exit"},
            {32772, "auto_shutdown"},
            {32773, "auto_suspend"},
            {32774, "tip_back"},
            {32776, "change_dir"},
            {32777, "close_all_browsers"},
            {32778, "custom_command"},
            {32779, "list_columns"},
            {32780, "conn_connect"},
            {32781, "item_delete"},
            {32782, "conn_disconnect"},
            {32783, "conn_disconnect_all"},
            {32784, "ds_options"},
            {32785, "ds_find"},
            {32786, "tree_open"},
            {32787, "tree_close"},
            {32788, "tree_delete"},
            {32789, "tree_new_folder"},
            {32790, "tree_new_ftp"},
            {32791, "tree_new_http"},
            {32792, "tree_new_sftp"},
            {32793, "tree_properties"},
            {32794, "tree_rename"},
            {32795, "tree_temporary"},
            {32796, "view_data_sources"},
            {32797, "edit_ext_paste"},
            {32800, "parent_dir"},
            {32801, "file_delete"},
            {32802, "file_ext_delete"},
            {32803, "file_edit"},
            {32804, "new_dir"},
            {32805, "file_properties"},
            {32806, "refresh"},
            {32807, "file_rename"},
            {32808, "file_view"},
            {32809, "help_contents"},
            {32813, "list_view_menu"},
            {32814, "left_list"},
            {32815, "left_tree"},
            {32816, "left_details"},
            {32817, "tip_next"},
            {32818, "options"},
            {32819, "item_properties"},
            {32821, "quick_connect"},
            {32822, "req_browse"},
            {32823, "req_cancel"},
            {32824, "all_cancel"},
            {32825, "req_continue"},
            {32826, "all_continue"},
            {32827, "req_delete"},
            {32828, "all_delete"},
            {32829, "req_info"},
            {32830, "req_parameters"},
            {32831, "req_pause"},
            {32832, "all_pause"},
            {32833, "req_restart"},
            {32834, "all_restart"},
            {32835, "req_skip_errors"},
            {32836, "right_list"},
            {32837, "right_tree"},
            {32838, "right_details"},
            {32839, "ds_set_default_dir"},
            {32840, "submit_bug"},
            {32841, "online_support"},
            {32842, "lamp_green"},
            {32843, "lamp_red"},
            {32844, "lamp_yellow"},
            {32845, "mode_ascii"},
            {32846, "mode_auto"},
            {32847, "mode_binary"},
            {32848, "always_on_top"},
            {32849, "view_transfers"},
            {32850, "website"},
            {32851, "wizard_connect"},
            {32852, "wizard_network"},
            {57600, "file_new"},
            {57601, "file_open"},
            {57602, "file_close"},
            {57603, "file_save"},
            {57607, "file_print"},
            {57634, "edit_copy"},
            {57635, "edit_cut"},
            {57637, "edit_paste"},
            {57642, "edit_select_all"},
            {57643, "edit_undo"},
            {57664, "app_about"},
            {57665, "app_exit"},
            {57666, "help_index"},
            {57667, "help_search"},
            {57680, "next_pane"},
            {57681, "prev_pane"},
            {59392, "view_toolbar"},
            {59393, "view_status_bar"},
            {59408, "view_small_icons"},
            {59409, "view_large_icons"},
            {59410, "view_list"},
            {59411, "view_details"},
            {59412, "view_arrange"},
            {59413, "view_by_name"},
        };
        QHash<uint32_t, QString> h;
        for (const auto& e : table) {
            h.insert(e.id, QString::fromLatin1(e.name));
        }
        return h;
    }();
    return n;
}

} // namespace

const MenuItem* FindMenu(uint32_t id)
{
    static const std::map<uint32_t, MenuItem> menus = BuildMenus();
    const auto it = menus.find(id);
    return it == menus.end() ? nullptr : &it->second;
}

const std::vector<Accelerator>* FindAccelerators(uint32_t id)
{
    static const std::map<uint32_t, std::vector<Accelerator>> tables = BuildAccelerators();
    const auto it = tables.find(id);
    return it == tables.end() ? nullptr : &it->second;
}

const ToolBar* FindToolBar(uint32_t id)
{
    static const std::map<uint32_t, ToolBar> bars = BuildToolBars();
    const auto it = bars.find(id);
    return it == bars.end() ? nullptr : &it->second;
}

QString LoadString(uint32_t id)
{
    return Strings().value(id);
}

QImage LoadBitmap(uint32_t id)
{
    InitArtResources();
    const QString path = QStringLiteral(":/kivrel/bmp/%1.png").arg(id);
    if (!QFile::exists(path)) {
        return QImage();
    }
    return QImage(path).convertToFormat(QImage::Format_ARGB32);
}

QIcon LoadIcon(uint32_t id)
{
    InitArtResources();
    const QString path = QStringLiteral(":/kivrel/ico/%1.png").arg(id);
    if (!QFile::exists(path)) {
        return QIcon();
    }
    return QIcon(path);
}

QString CommandName(uint32_t id)
{
    const QString name = CommandNames().value(id);
    return name.isEmpty() ? QStringLiteral("cmd_%1").arg(id) : name;
}

} // namespace kvres
