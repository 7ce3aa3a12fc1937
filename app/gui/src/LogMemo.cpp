// SPDX-License-Identifier: GPL-3.0-or-later
#include "LogMemo.h"

#include <algorithm>

#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace varmio {

LogMemo::LogMemo(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void LogMemo::AppendLine(const QString& line)
{
    const QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();

    QTextDocument* log = document();
    // The undo history would otherwise keep a copy of every line ever logged.
    log->setUndoRedoEnabled(false);
    QTextCursor end(log);
    end.movePosition(QTextCursor::End);
    end.beginEditBlock(); // one layout pass for the new blocks and the text
    // The log ends in an empty line after each logged line, so that what the user types there is a
    // line of its own; a line logged after the user typed there starts a new line.
    if (!end.block().text().isEmpty()) end.insertBlock();
    end.insertText(line);
    end.insertBlock();
    end.endEditBlock();
    log->setUndoRedoEnabled(true);
    // Lines in the log: every block but the empty one at the end.
    if (m_lineCap > 0 && log->blockCount() - 1 > m_lineCap) DropOldest(following);

    if (following && !m_followPending) {
        m_followPending = true;
        QTimer::singleShot(0, this, [this] { FollowEnd(); });
    }
}

void LogMemo::DropOldest(bool following)
{
    QTextDocument* log = document();
    const int block = std::max(1, m_lineCap / 10);
    const QTextBlock firstKept = log->findBlockByNumber(log->blockCount() - 1 - (m_lineCap - block));
    QScrollBar* bar = verticalScrollBar();
    const int top = bar->value();
    const int linesGone = firstKept.firstLineNumber(); // visual lines, wrapped ones counted

    log->setUndoRedoEnabled(false);
    QTextCursor gone(log);
    gone.setPosition(firstKept.position(), QTextCursor::KeepAnchor);
    gone.removeSelectedText(); // the user's cursor and selection move with the text they are in
    // Undo records of what the user typed point at places in the text that have just moved: they go.
    log->setUndoRedoEnabled(true);

    if (!following) bar->setValue(std::max(0, top - linesGone));
}

void LogMemo::FollowEnd()
{
    m_followPending = false;
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void LogMemo::Clear() { setPlainText(QString()); }

void LogMemo::SetLineCap(int lines) { m_lineCap = std::max(0, lines); }

void LogMemo::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    emit doubleClicked();
}

} // namespace varmio
