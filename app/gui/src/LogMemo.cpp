#include "LogMemo.h"

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
    if (!end.block().text().isEmpty())
        end.insertBlock();
    end.insertText(line);
    end.insertBlock();
    end.endEditBlock();
    log->setUndoRedoEnabled(true);

    if (following && !m_followPending) {
        m_followPending = true;
        QTimer::singleShot(0, this, [this] { FollowEnd(); });
    }
}

void LogMemo::FollowEnd()
{
    m_followPending = false;
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void LogMemo::Clear() { setPlainText(QString()); }

void LogMemo::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    emit doubleClicked();
}

} // namespace varmio
