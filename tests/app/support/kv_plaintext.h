// Finds where a window shows a text with its markup taken for formatting:
// texts a server sends (names, messages, certificate fields) must be shown
// as they are, angle brackets and all.
#pragma once

#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QStringList>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>

namespace kvtest {

// A text with markup that would show differently if formatted: bold, a
// picture from a path, an entity.
inline const QString kMarkup = QStringLiteral("<b>x</b><img src=\"/nonexistent.png\">&amp;");

// What a tooltip shows: Qt formats one that looks like markup.
inline QString ToolTipAsShown(const QString& tip)
{
    if (!Qt::mightBeRichText(tip)) {
        return tip;
    }
    QTextDocument doc;
    doc.setHtml(tip);
    return doc.toPlainText();
}

struct MarkupScan
{
    int literal = 0;    // places that show `text` as it is
    QStringList faults; // places that format it
};

// Every label, field, item and tooltip below `root` whose text holds `text`.
inline MarkupScan ScanForMarkup(const QWidget& root, const QString& text)
{
    MarkupScan scan;
    const auto name = [](const QObject* o) {
        return QString::fromLatin1(o->metaObject()->className()) + QLatin1Char(' ') +
               o->objectName();
    };
    const auto tip = [&](const QObject* o, const QString& t) {
        if (t.contains(text) && Qt::mightBeRichText(t)) {
            scan.faults << name(o) + QStringLiteral(": tooltip formats it");
        } else if (ToolTipAsShown(t).contains(text)) {
            ++scan.literal;
        }
    };
    for (const QWidget* w : root.findChildren<QWidget*>()) {
        tip(w, w->toolTip());
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            if (!label->text().contains(text)) {
                continue;
            }
            if (label->textFormat() == Qt::RichText ||
                (label->textFormat() != Qt::PlainText && Qt::mightBeRichText(label->text()))) {
                scan.faults << name(label) + QStringLiteral(": label formats it");
            } else {
                ++scan.literal;
            }
        } else if (const auto* edit = qobject_cast<const QTextEdit*>(w)) {
            scan.literal += edit->toPlainText().contains(text) ? 1 : 0;
        } else if (const auto* line = qobject_cast<const QLineEdit*>(w)) {
            scan.literal += line->text().contains(text) ? 1 : 0;
        } else if (const auto* view = qobject_cast<const QAbstractItemView*>(w)) {
            const QAbstractItemModel* model = view->model();
            if (model == nullptr) {
                continue;
            }
            // Item delegates draw the display text as it is; tooltips are
            // formatted when they look like markup.
            QList<QModelIndex> parents{QModelIndex()};
            while (!parents.isEmpty()) {
                const QModelIndex parent = parents.takeFirst();
                for (int r = 0; r < model->rowCount(parent); ++r) {
                    for (int c = 0; c < model->columnCount(parent); ++c) {
                        const QModelIndex i = model->index(r, c, parent);
                        scan.literal += i.data(Qt::DisplayRole).toString().contains(text) ? 1 : 0;
                        tip(view, i.data(Qt::ToolTipRole).toString());
                    }
                    if (model->hasChildren(model->index(r, 0, parent))) {
                        parents << model->index(r, 0, parent);
                    }
                }
            }
        }
    }
    return scan;
}

} // namespace kvtest
