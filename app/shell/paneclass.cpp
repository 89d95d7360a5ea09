#include "shell/paneclass.h"

#include <QVariant>
#include <QWidget>

namespace {

const char* const kClassProperty = "kvPaneClass";

const CRuntimeClass*& RegistryHead()
{
    static const CRuntimeClass* head = nullptr;
    return head;
}

QWidget* MakePlainView()
{
    return new QWidget;
}

} // namespace

const CRuntimeClass classCView("CView", &MakePlainView, nullptr);

CRuntimeClass::CRuntimeClass(const char* name, QWidget* (*factory)(), const CRuntimeClass* base)
    : name(name), factory(factory), base(base), next(RegistryHead())
{
    RegistryHead() = this;
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* other) const
{
    for (const CRuntimeClass* c = this; c != nullptr; c = c->base) {
        if (c == other) {
            return true;
        }
    }
    return false;
}

QWidget* CRuntimeClass::CreateObject() const
{
    if (factory == nullptr) {
        return nullptr;
    }
    QWidget* wnd = factory();
    if (wnd != nullptr) {
        wnd->setProperty(kClassProperty, QVariant::fromValue(reinterpret_cast<quintptr>(this)));
    }
    return wnd;
}

const CRuntimeClass* CRuntimeClass::FromName(const QString& name)
{
    const QByteArray wanted = name.toUtf8();
    for (const CRuntimeClass* c = RegistryHead(); c != nullptr; c = c->next) {
        if (wanted == c->name) {
            return c;
        }
    }
    return nullptr;
}

const CRuntimeClass* CRuntimeClass::Of(const QWidget* wnd)
{
    if (wnd == nullptr) {
        return nullptr;
    }
    const QVariant v = wnd->property(kClassProperty);
    if (!v.isValid()) {
        return nullptr;
    }
    return reinterpret_cast<const CRuntimeClass*>(v.value<quintptr>());
}
