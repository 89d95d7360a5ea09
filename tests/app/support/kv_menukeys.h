// Checks that a person can reach every command of a menu from the keyboard:
// each item either has a mnemonic that no sibling shares, so that one key
// picks it once the menu is open, or a shortcut that runs it from the window.
#pragma once

#include <QAction>
#include <QHash>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

namespace kvtest {

// The mnemonic letter of a menu text ("Re&fresh\tF5" gives 'F', "&&" is a
// literal ampersand); empty when there is none.
inline QString MnemonicOf(const QString& text)
{
    const QKeySequence key = QKeySequence::mnemonic(text.section(QLatin1Char('\t'), 0, 0));
    return key.isEmpty() ? QString() : key.toString().section(QLatin1Char('+'), -1).toUpper();
}

// One entry of a menu as the checks see it: its text, whether it opens a
// submenu, and whether a shortcut of the window runs it.
struct MenuEntry
{
    QString text;
    bool has_shortcut = false;
};

// The faults of one menu level, each naming `where` and the item.
inline QStringList MnemonicFaults(const QString& where, const QList<MenuEntry>& entries)
{
    QStringList faults;
    QHash<QString, QString> taken;
    for (const MenuEntry& e : entries) {
        const QString m = MnemonicOf(e.text);
        if (m.isEmpty()) {
            if (!e.has_shortcut) {
                faults << where + QStringLiteral(": \"") + e.text +
                              QStringLiteral("\" has neither mnemonic nor shortcut");
            }
            continue;
        }
        if (taken.contains(m)) {
            faults << where + QStringLiteral(": \"") + e.text + QStringLiteral("\" and \"") +
                          taken.value(m) + QStringLiteral("\" share the mnemonic ") + m;
            continue;
        }
        taken.insert(m, e.text);
    }
    return faults;
}

// The faults of a live menu and its submenus; `shortcut` says whether the
// window runs the action's command from a key.
inline QStringList LiveMenuFaults(const QString& where, QMenu* menu,
                                  const std::function<bool(const QAction*)>& shortcut)
{
    QStringList faults;
    QList<MenuEntry> entries;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator() || !a->isVisible()) {
            continue;
        }
        entries.append({a->text(), a->menu() == nullptr && shortcut(a)});
        if (QMenu* sub = a->menu()) {
            faults += LiveMenuFaults(where + QStringLiteral(" > ") + a->text(), sub, shortcut);
        }
    }
    faults += MnemonicFaults(where, entries);
    return faults;
}

// The faults of a window's menu bar: its titles among themselves, then each
// popup.
inline QStringList MenuBarFaults(const QString& where, QMenuBar* bar,
                                 const std::function<bool(const QAction*)>& shortcut)
{
    QStringList faults;
    QList<MenuEntry> titles;
    for (QAction* a : bar->actions()) {
        if (a->isSeparator() || !a->isVisible()) {
            continue;
        }
        titles.append({a->text(), false});
        if (QMenu* sub = a->menu()) {
            faults += LiveMenuFaults(where + QStringLiteral(" > ") + a->text(), sub, shortcut);
        }
    }
    faults += MnemonicFaults(where, titles);
    return faults;
}

// Two different commands of `window` bound to one key: the second would
// never run. Each fault names the key and both commands.
inline QStringList ShortcutCollisions(const QWidget& window)
{
    QStringList faults;
    QHash<QKeySequence, const QAction*> owner;
    for (const QAction* a : window.findChildren<QAction*>()) {
        for (const QKeySequence& key : a->shortcuts()) {
            const QAction* before = owner.value(key, nullptr);
            if (before == nullptr) {
                owner.insert(key, a);
            } else if (before->objectName() != a->objectName() || before->data() != a->data()) {
                faults << key.toString() + QStringLiteral(": ") + before->objectName() +
                              QStringLiteral(" and ") + a->objectName();
            }
        }
    }
    return faults;
}

} // namespace kvtest
