#ifndef KIVREL_MONITOR_TLMENU_H
#define KIVREL_MONITOR_TLMENU_H

// The traffic-light popup of request commands: up to three items without
// text, drawn as round lamps (red, yellow, green, each a command id). The
// items run their commands through the owner window's command layer, so the
// lamps are enabled exactly as the same commands in the menus.
// User-interface thread only.

#include <QMenu>
#include <QPointer>
#include <cstdint>
#include <memory>

class QPainter;
class QStyle;

class CTlMenu : public QMenu
{
    Q_OBJECT
public:
    explicit CTlMenu(QWidget* parent = nullptr);
    ~CTlMenu() override;

    // Makes one item per non-zero id in the order red, yellow, green;
    // `owner` is the window whose commands they run. False when called
    // twice.
    bool Create(QWidget* owner, uint32_t red, uint32_t yellow, uint32_t green);

    uint32_t RedId() const { return ids[0]; }
    uint32_t YellowId() const { return ids[1]; }
    uint32_t GreenId() const { return ids[2]; }

    // Every item is 8 wide and 15 high.
    static QSize ItemSize() { return QSize(8, 15); }
    // The colour of the lamp of command `id` (light grey when disabled,
    // black for an id that is no lamp of this menu).
    QColor LampColour(uint32_t id, bool enabled) const;
    // Draws one lamp into `rect`: dark grey ground, the lamp as an ellipse
    // 3 pixels in from the sides and 1 from top and bottom, a small white
    // highlight above its middle, and a white frame when `selected` (dark
    // grey otherwise).
    static void DrawLamp(QPainter& p, const QRect& rect, const QColor& colour, bool selected);

    // Brings the enabling up to date and opens the popup at `pos`.
    void Open(const QPoint& pos);

private:
    uint32_t ids[3] = {0, 0, 0};
    QPointer<QWidget> owner;
    std::unique_ptr<QStyle> lamp_style;
};

#endif
