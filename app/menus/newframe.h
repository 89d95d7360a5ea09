#ifndef KIVREL_MENUS_NEWFRAME_H
#define KIVREL_MENUS_NEWFRAME_H

#include <QMainWindow>

// Base of every frame of the program. Holds the frame's menu bar as a menu
// object of the menu library.
// Does not yet load menus, toolbars or accelerators from the resource tables.
class CNewFrameWnd : public QMainWindow
{
    Q_OBJECT
public:
    explicit CNewFrameWnd(QWidget* parent = nullptr) : QMainWindow(parent) {}
};

#endif
