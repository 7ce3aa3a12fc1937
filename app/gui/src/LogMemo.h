// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A log memo: a plain-text box the user may edit, to which the program appends lines. Appending
// costs the same however long the log is: the line is inserted at the end without an undo record,
// and a view that was following the end is scrolled once per event-loop turn, not once per line.
// A memo given a line cap keeps only the newest lines: past the cap the oldest leave from the top a
// block (a tenth of the cap) at a time, so a long run neither grows the memo nor pays a removal per
// line; the view and the user's selection stay on the lines they were on.
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
    // The most lines the memo keeps (0: every line). A lower cap takes effect at the next line.
    void SetLineCap(int lines);
    int LineCap() const { return m_lineCap; }

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void FollowEnd();
    void DropOldest(bool following);

    bool m_followPending = false;
    int m_lineCap = 0;
};

} // namespace varmio
