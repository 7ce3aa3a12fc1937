#pragma once
// A log memo: a plain-text box the user may edit, to which the program appends lines. Appending
// costs the same however long the log is: the line is inserted at the end without an undo record,
// and a view that was following the end is scrolled once per event-loop turn, not once per line.
// Main thread only.

#include <QPlainTextEdit>
#include <QString>

namespace varmio {

class LogMemo : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit LogMemo(QWidget* parent = nullptr);

    // Appends `line` as a line of its own after everything in the memo (typed text included), and
    // leaves an empty last line for the user to type into. What the user typed stays undoable.
    void AppendLine(const QString& line);
    // Empties the memo (and its undo history).
    void Clear();

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void FollowEnd();

    bool m_followPending = false;
};

} // namespace varmio
