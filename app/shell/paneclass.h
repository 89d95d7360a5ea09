#ifndef KIVREL_SHELL_PANECLASS_H
#define KIVREL_SHELL_PANECLASS_H

#include <QString>

class QWidget;

// The class of a pane: a name, a way to make one and the class it derives
// from. Splitters name their panes by class ("show the file list"), find
// panes by class and build nested frames by class, so every widget that can
// be a pane has one of these. Objects live for the whole program (define them
// at namespace scope or as static members); each registers itself by name
// when its file's static objects are initialised.
// User-interface thread only.
class CRuntimeClass
{
public:
    // `factory` makes a new object without parent, or is null for a class
    // that cannot be made yet. `base` is null for a root class.
    CRuntimeClass(const char* name, QWidget* (*factory)(), const CRuntimeClass* base);
    CRuntimeClass(const CRuntimeClass&) = delete;
    CRuntimeClass& operator=(const CRuntimeClass&) = delete;

    const char* GetName() const { return name; }
    const CRuntimeClass* GetBaseClass() const { return base; }

    // Whether this class is `other` or derives from it. False for null.
    bool IsDerivedFrom(const CRuntimeClass* other) const;

    // A new object of the class, without parent, marked with this class
    // (see Of). Null when the class has no factory.
    QWidget* CreateObject() const;

    // The registered class of that name, or null.
    static const CRuntimeClass* FromName(const QString& name);

    // The class a widget was made with by CreateObject, or null for a widget
    // made otherwise (a top-level frame created directly is no pane).
    static const CRuntimeClass* Of(const QWidget* wnd);

private:
    const char* const name;
    QWidget* (*const factory)();
    const CRuntimeClass* const base;
    const CRuntimeClass* next = nullptr;
};

// Root class of the views: panes that show data, as opposed to nested frames.
// A frame's active view is always one of these. Its factory makes a plain
// widget, the view a frame gets when no class is asked for.
extern const CRuntimeClass classCView;

#endif
