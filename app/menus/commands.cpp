#include "menus/commands.h"

#include "res/resources.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QWidget>

namespace {

struct Entry
{
    uint32_t first;
    uint32_t last;
    KV_CmdHandler handler;
    KV_CmdEnabler enabler;
};

QList<QPointer<CCommandLayer>>& Layers()
{
    static QList<QPointer<CCommandLayer>> layers;
    return layers;
}

QHash<const QObject*, QList<Entry>>& Targets()
{
    static QHash<const QObject*, QList<Entry>> map;
    return map;
}

void Register(QObject* target, Entry entry)
{
    if (target == nullptr) {
        return;
    }
    auto& map = Targets();
    if (!map.contains(target)) {
        QObject::connect(target, &QObject::destroyed, [target] { Targets().remove(target); });
    }
    map[target].append(std::move(entry));
    // What is enabled may have changed for every window.
    for (const QPointer<CCommandLayer>& layer : Layers()) {
        if (layer != nullptr) {
            layer->RequestUpdate();
        }
    }
}

const Entry* Find(const QObject* target, uint32_t id, bool wantEnabler)
{
    const auto it = Targets().constFind(target);
    if (it == Targets().constEnd()) {
        return nullptr;
    }
    for (const Entry& e : *it) {
        if (id >= e.first && id <= e.last && (wantEnabler ? bool(e.enabler) : bool(e.handler))) {
            return &e;
        }
    }
    return nullptr;
}

} // namespace

CCommandLayer::CCommandLayer(QWidget* window) : QObject(window), window_(window)
{
    setObjectName(QStringLiteral("kv_commands"));
    idle_.setSingleShot(true);
    idle_.setInterval(0);
    connect(&idle_, &QTimer::timeout, this, &CCommandLayer::UpdateActions);
    qApp->installEventFilter(this);
    Layers().removeAll(nullptr);
    Layers().append(this);
}

void CCommandLayer::RequestUpdate()
{
    if (!idle_.isActive()) {
        idle_.start();
    }
}

CCommandLayer* CCommandLayer::Of(QWidget* widget)
{
    if (widget == nullptr) {
        return nullptr;
    }
    QWidget* window = widget->window();
    auto* layer = window->findChild<CCommandLayer*>(QStringLiteral("kv_commands"),
                                                    Qt::FindDirectChildrenOnly);
    return layer != nullptr ? layer : new CCommandLayer(window);
}

void CCommandLayer::On(QObject* target, uint32_t id, KV_CmdHandler handler, KV_CmdEnabler enabler)
{
    Register(target, Entry{id, id, std::move(handler), std::move(enabler)});
}

void CCommandLayer::OnRange(QObject* target, uint32_t first, uint32_t last, KV_CmdHandler handler,
                            KV_CmdEnabler enabler)
{
    Register(target, Entry{first, last, std::move(handler), std::move(enabler)});
}

void CCommandLayer::OnUpdate(QObject* target, uint32_t id, KV_CmdEnabler enabler)
{
    Register(target, Entry{id, id, {}, std::move(enabler)});
}

QList<QObject*> CCommandLayer::Route() const
{
    QList<QObject*> route;
    QWidget* focus = QApplication::focusWidget();
    QObject* start = window_;
    if (focus != nullptr && (focus == window_ || window_->isAncestorOf(focus))) {
        start = focus;
    }
    for (QObject* o = start; o != nullptr; o = o->parent()) {
        route.append(o);
        if (o == window_) {
            break;
        }
    }
    route.append(qApp);
    return route;
}

bool CCommandLayer::HasHandler(uint32_t id) const
{
    for (const QObject* o : Route()) {
        if (Find(o, id, false) != nullptr) {
            return true;
        }
    }
    return false;
}

void CCommandLayer::Update(CCmdUI& ui, bool disableIfNoHandler)
{
    for (const QObject* o : Route()) {
        if (const Entry* e = Find(o, ui.m_nID, true)) {
            e->enabler(ui);
            break;
        }
    }
    if (disableIfNoHandler && !ui.enable_changed) {
        ui.enabled = HasHandler(ui.m_nID);
        ui.enable_changed = true;
    }
}

bool CCommandLayer::Execute(uint32_t id)
{
    CCmdUI ui(id);
    Update(ui, id < 0xF000);
    if (!ui.enabled) {
        return false;
    }
    for (const QObject* o : Route()) {
        if (const Entry* e = Find(o, id, false)) {
            // The handler may change the route (close the window); keep a
            // copy of it.
            const KV_CmdHandler handler = e->handler;
            handler(id);
            idle_.start();
            return true;
        }
    }
    return false;
}

bool CCommandLayer::Execute(QWidget* window, uint32_t id)
{
    if (window != nullptr) {
        return Of(window)->Execute(id);
    }
    if (const Entry* e = Find(qApp, id, false)) {
        const KV_CmdHandler handler = e->handler;
        handler(id);
        return true;
    }
    return false;
}

QAction* CCommandLayer::Action(uint32_t id)
{
    if (QAction* found = actions_.value(id, nullptr)) {
        return found;
    }
    auto* action = new QAction(window_);
    action->setObjectName(kvres::CommandName(id));
    action->setData(id);
    const QString prompt = kvres::LoadString(id);
    const qsizetype nl = prompt.indexOf(QLatin1Char('\n'));
    action->setStatusTip(nl < 0 ? prompt : prompt.left(nl));
    action->setText(nl < 0 ? prompt : prompt.mid(nl + 1));
    action->setShortcutContext(Qt::WindowShortcut);
    window_->addAction(action);
    connect(action, &QAction::triggered, this, [this, id] { Execute(id); });
    actions_.insert(id, action);
    return action;
}

bool CCommandLayer::LoadAccelerators(uint32_t tableId)
{
    const std::vector<kvres::Accelerator>* table = kvres::FindAccelerators(tableId);
    if (table == nullptr) {
        return false;
    }
    QHash<uint32_t, QList<QKeySequence>> keys;
    QList<uint32_t> order;
    for (const kvres::Accelerator& a : *table) {
        if (!keys.contains(a.command)) {
            order.append(a.command);
        }
        keys[a.command].append(QKeySequence(a.key));
    }
    for (uint32_t id : order) {
        Action(id)->setShortcuts(keys.value(id));
    }
    return true;
}

void CCommandLayer::Apply(const CCmdUI& ui, QAction* action)
{
    if (ui.enable_changed) {
        action->setEnabled(ui.enabled);
    }
    if (ui.check >= 0) {
        action->setCheckable(true);
        action->setChecked(ui.check != 0);
    }
    if (ui.text_set) {
        action->setText(ui.text);
    }
}

void CCommandLayer::UpdateMenu(QMenu* popup)
{
    if (popup == nullptr) {
        return;
    }
    // An enabler may change the menu: walk a snapshot and skip what left it.
    QList<QPointer<QAction>> items;
    for (QAction* a : popup->actions()) {
        items.append(a);
    }
    for (const QPointer<QAction>& action : items) {
        if (action == nullptr || action->isSeparator() || !popup->actions().contains(action)) {
            continue;
        }
        if (QMenu* sub = action->menu()) {
            const QList<QAction*> subItems = sub->actions();
            if (subItems.isEmpty() || subItems[0]->isSeparator() ||
                subItems[0]->menu() != nullptr) {
                continue;
            }
            const uint32_t first = subItems[0]->data().toUInt();
            if (first == 0) {
                continue;
            }
            CCmdUI ui(first);
            Update(ui, false);
            if (ui.enable_changed) {
                action->setEnabled(ui.enabled);
            }
            continue;
        }
        const uint32_t id = action->data().toUInt();
        if (id == 0) {
            continue;
        }
        CCmdUI ui(id);
        Update(ui, id < 0xF000);
        Apply(ui, action);
    }
}

void CCommandLayer::UpdateActions()
{
    for (auto it = actions_.constBegin(); it != actions_.constEnd(); ++it) {
        CCmdUI ui(it.key());
        Update(ui, it.key() < 0xF000);
        Apply(ui, it.value());
    }
}

bool CCommandLayer::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::FocusIn:
    case QEvent::WindowActivate:
    case QEvent::Show:
        RequestUpdate();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
