#include "gui/widgets/ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>

#include <algorithm>

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
}

QStringList ElidedLabel::displayedLines() const
{
    const QString caption = text();
    const QRect box = contentsRect();
    const QFontMetrics metrics = fontMetrics();
    if (!wordWrap())
        return {metrics.elidedText(caption, Qt::ElideRight, box.width())};

    // Lay the caption out at the box's width; keep the lines that fit its
    // height and let the last kept one run on to the end, cut to the width.
    QTextLayout layout(caption, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const int maxLines = std::max(1, (box.height() + metrics.leading()) / metrics.lineSpacing());
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(box.width());
        if (lines.size() + 1 == maxLines) {
            lines << metrics.elidedText(caption.mid(line.textStart()), Qt::ElideRight, box.width());
            break;
        }
        lines << caption.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    return lines;
}

bool ElidedLabel::isElided() const
{
    return displayedLines().join(QString()) != text();
}

void ElidedLabel::syncToolTip()
{
    const QString tip = isElided() ? text() : QString();
    if (toolTip() != tip)
        setToolTip(tip);
}

void ElidedLabel::paintEvent(QPaintEvent *event)
{
    syncToolTip();
    if (!isElided()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const QRect box = contentsRect();
    const int lineSpacing = fontMetrics().lineSpacing();
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    const QStringList lines = displayedLines();
    // One-line captions keep the label's vertical alignment; wrapped ones start at the top.
    int top = box.top();
    if (!wordWrap() && !(alignment() & Qt::AlignTop))
        top = box.top() + (box.height() - lineSpacing) / 2;
    for (const QString &line : lines) {
        style()->drawItemText(&painter, QRect(box.left(), top, box.width(), lineSpacing),
                              int(horizontal | Qt::AlignVCenter), palette(), isEnabled(), line, foregroundRole());
        top += lineSpacing;
    }
}

bool ElidedLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip)
        syncToolTip();
    return QLabel::event(event);
}
