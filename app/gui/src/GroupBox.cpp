// SPDX-License-Identifier: GPL-3.0-or-later
#include "GroupBox.h"

#include <QFontMetrics>
#include <QPainter>
#include <qdrawutil.h>

namespace varmio {

namespace {
constexpr int kCaptionLeft = 8; // where the caption starts, with a blank's room on either side
}

GroupBox::GroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

void GroupBox::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int lineTop = metrics.height() / 2;
    qDrawShadeRect(&painter, rect().adjusted(0, lineTop, 0, 0), palette(), true, 1);

    const QString caption = title();
    if (caption.isEmpty()) return;
    const int pad = metrics.horizontalAdvance(QLatin1Char(' ')) / 2;
    const QRect captionRect(kCaptionLeft - pad, 0, metrics.horizontalAdvance(caption) + 2 * pad, metrics.height());
    painter.fillRect(captionRect, palette().window());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(captionRect, Qt::AlignCenter | Qt::TextSingleLine, caption);
}

} // namespace varmio
