// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A group box drawn as the window was designed: an etched frame whose top line runs through the
// middle of the caption, so that the controls placed just below the caption clear the frame.
// (The usual Qt styles draw the caption above the frame and the frame lower down.)

#include <QGroupBox>

namespace varmio {

class GroupBox : public QGroupBox {
    Q_OBJECT

public:
    GroupBox(const QString& title, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace varmio
