#ifndef KIVREL_PROPS_PROPCTRLS_H
#define KIVREL_PROPS_PROPCTRLS_H

// Small builders for the controls of the property pages: each control is
// named by its numeric id, so that the exchange, the enable rules and the
// tests find it. User-interface thread only.

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QString>
#include <QVBoxLayout>

namespace kvprop {

template <class T> T* Named(T* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

inline QLineEdit* Edit(int id)
{
    return Named(new QLineEdit, id);
}

inline QLineEdit* PasswordEdit(int id)
{
    QLineEdit* e = Edit(id);
    e->setEchoMode(QLineEdit::Password);
    return e;
}

inline QPlainTextEdit* MultiEdit(int id, int lines = 3)
{
    auto* e = Named(new QPlainTextEdit, id);
    // A field among fields: Tab goes on to the next control, as in a line.
    e->setTabChangesFocus(true);
    e->setFixedHeight(e->fontMetrics().lineSpacing() * lines + 12);
    return e;
}

inline QCheckBox* Check(int id, const QString& text)
{
    return Named(new QCheckBox(text), id);
}

inline QRadioButton* Radio(int id, const QString& text)
{
    return Named(new QRadioButton(text), id);
}

// A static text; texts of the program's own are plain, never rich.
inline QLabel* Static(const QString& text)
{
    auto* l = new QLabel(text);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    return l;
}

// A group box with a form inside.
inline QFormLayout* FormGroup(QVBoxLayout* into, const QString& title)
{
    auto* box = new QGroupBox(title);
    auto* form = new QFormLayout(box);
    into->addWidget(box);
    return form;
}

} // namespace kvprop

#endif
