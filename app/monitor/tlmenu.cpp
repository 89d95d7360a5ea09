#include "monitor/tlmenu.h"

#include "menus/commands.h"
#include "res/resources.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

namespace {

// Paints the items of one traffic-light popup as lamps.
class CLampStyle : public QProxyStyle
{
public:
    explicit CLampStyle(const CTlMenu* menu) : menu(menu) {}

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override
    {
        if (type == CT_MenuItem) {
            return CTlMenu::ItemSize();
        }
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        switch (metric) {
        case PM_MenuPanelWidth:
        case PM_MenuHMargin:
        case PM_MenuVMargin:
        case PM_MenuDesktopFrameWidth:
            return 0;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* p,
                     const QWidget* widget) const override
    {
        if (element != CE_MenuItem || widget != menu) {
            QProxyStyle::drawControl(element, option, p, widget);
            return;
        }
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (item == nullptr) {
            return;
        }
        // The item's command id is not in the option; find the action at the
        // item's place.
        const QAction* action = menu->actionAt(item->rect.center());
        const uint32_t id = action != nullptr ? action->data().toUInt() : 0;
        const bool enabled = (item->state & State_Enabled) != 0;
        const bool selected = (item->state & State_Selected) != 0;
        CTlMenu::DrawLamp(*p, item->rect, menu->LampColour(id, enabled), selected);
    }

private:
    const CTlMenu* menu;
};

} // namespace

CTlMenu::CTlMenu(QWidget* parent) : QMenu(parent) {}

CTlMenu::~CTlMenu()
{
    setStyle(nullptr);
}

bool CTlMenu::Create(QWidget* owner_wnd, uint32_t red, uint32_t yellow, uint32_t green)
{
    if (lamp_style != nullptr) {
        return false;
    }
    owner = owner_wnd;
    ids[0] = red;
    ids[1] = yellow;
    ids[2] = green;
    lamp_style = std::make_unique<CLampStyle>(this);
    setStyle(lamp_style.get());
    for (uint32_t id : ids) {
        if (id == 0) {
            continue;
        }
        QAction* action = addAction(QString());
        action->setData(id);
        action->setObjectName(kvres::CommandName(id));
        connect(action, &QAction::triggered, this, [this, id] {
            if (owner != nullptr) {
                CCommandLayer::Execute(owner->window(), id);
            }
        });
    }
    return true;
}

QColor CTlMenu::LampColour(uint32_t id, bool enabled) const
{
    if (!enabled) {
        return QColor(0xC0, 0xC0, 0xC0);
    }
    if (id != 0 && id == ids[0]) {
        return QColor(255, 0, 0);
    }
    if (id != 0 && id == ids[1]) {
        return QColor(255, 255, 0);
    }
    if (id != 0 && id == ids[2]) {
        return QColor(0, 255, 0);
    }
    return QColor(0, 0, 0);
}

void CTlMenu::DrawLamp(QPainter& p, const QRect& rect, const QColor& colour, bool selected)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor grey(0x80, 0x80, 0x80);
    p.fillRect(rect, grey);
    const QRect lamp = rect.adjusted(3, 1, -3, -1);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(lamp);
    // The highlight: 2 x 1, its left edge one pixel right of the centre and
    // its lower edge one pixel above the lamp's middle.
    const int cx = lamp.left() + lamp.width() / 2;
    const int cy = lamp.top() + lamp.height() / 2;
    p.fillRect(QRect(cx + 1, cy - 2, 2, 1), Qt::white);
    p.setBrush(Qt::NoBrush);
    p.setPen(selected ? QColor(Qt::white) : grey);
    p.drawRect(rect.adjusted(0, 0, -1, -1));
    p.restore();
}

void CTlMenu::Open(const QPoint& pos)
{
    if (owner != nullptr) {
        if (CCommandLayer* layer = CCommandLayer::Of(owner)) {
            layer->UpdateMenu(this);
        }
    }
    popup(pos);
}
