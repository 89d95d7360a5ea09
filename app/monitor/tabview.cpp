#include "monitor/tabview.h"

#include "core/reqmonitor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTabBar>

CTabView::CTabView(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // The application hands no key presses to tab views, so the view takes
    // those of its own pages from the application's event stream.
    qApp->installEventFilter(this);
}

CTabView::~CTabView()
{
    qApp->removeEventFilter(this);
}

bool CTabView::Create()
{
    if (tabs != nullptr) {
        return false;
    }
    tabs = new QTabBar(this);
    tabs->setObjectName("1111");
    tabs->setDrawBase(true);
    tabs->setExpanding(false);
    tabs->setFocusPolicy(Qt::NoFocus);
    if (const QFont* font = GetTabFont()) {
        tabs->setFont(*font);
    }
    InitPages();
    connect(tabs, &QTabBar::currentChanged, this, [this](int index) { OnTabChanged(index); });
    tabs->show();
    OnTabChanged(tabs->currentIndex());
    return true;
}

const QFont* CTabView::GetTabFont() const
{
    return nullptr;
}

bool CTabView::AddPage(QWidget* page)
{
    if (page == nullptr) {
        return false;
    }
    page->setParent(this, Qt::Widget);
    page->hide();
    pages.append(page);
    return true;
}

void CTabView::InitPages()
{
    for (int i = 0; i < pages.size(); ++i) {
        tabs->insertTab(i, kvmon::TabTitle(pages[i]->windowTitle()));
    }
}

QWidget* CTabView::Page(int index) const
{
    return index >= 0 && index < pages.size() ? pages[index] : nullptr;
}

int CTabView::CurrentIndex() const
{
    return tabs != nullptr ? tabs->currentIndex() : -1;
}

void CTabView::SetCurrentIndex(int index)
{
    if (tabs != nullptr) {
        tabs->setCurrentIndex(index);
    }
}

void CTabView::PlacePage()
{
    QWidget* page = CurrentPage();
    if (page == nullptr || tabs->count() == 0) {
        return;
    }
    const QRect first = tabs->tabRect(0).translated(tabs->pos());
    const int x = first.left() + 3;
    const int y = first.bottom() + 1 + 3;
    page->setGeometry(x, y, std::max(0, width() - x - 3), std::max(0, height() - y - 3));
    page->show();
}

void CTabView::OnTabChanged(int)
{
    QWidget* page = CurrentPage();
    if (shown != nullptr && shown != page) {
        shown->hide();
    }
    shown = page;
    PlacePage();
    if (page != nullptr && isVisible()) {
        FocusPage(page);
    }
}

void CTabView::FocusPage(QWidget* page)
{
    for (QWidget* w : page->findChildren<QWidget*>()) {
        if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isEnabled()) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    page->setFocus(Qt::TabFocusReason);
}

void CTabView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (tabs != nullptr) {
        tabs->setGeometry(0, 0, width(), tabs->sizeHint().height());
        PlacePage();
    }
}

void CTabView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    PlacePage();
    if (QWidget* page = CurrentPage()) {
        FocusPage(page);
    }
}

bool CTabView::PreTranslate(const QKeyEvent* event)
{
    const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        if (!ctrl || tabs == nullptr) {
            return false;
        }
        const bool back =
            event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier) != 0;
        const int next = kvmon::NextTab(tabs->currentIndex(), tabs->count(), back);
        if (next >= 0) {
            tabs->setCurrentIndex(next);
        }
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return true;
    default:
        return false;
    }
}

bool CTabView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w != nullptr && w != this && isAncestorOf(w)) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (event->type() == QEvent::ShortcutOverride) {
                // Keep the window's shortcuts off the keys the view takes.
                if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                    key->key() == Qt::Key_Escape ||
                    ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                     (key->modifiers() & Qt::ControlModifier) != 0)) {
                    event->accept();
                }
                return false;
            }
            if (PreTranslate(key)) {
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
