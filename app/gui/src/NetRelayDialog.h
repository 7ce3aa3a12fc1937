// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File > "Síťový převodník…": asks for a network relay's host, TCP port and kind, and gives its port
// name. The name is checked before the dialog closes; a host that is no host name or address is
// said in a message and the dialog stays open with what was typed.

#include "cport/NetPort.h"

#include <QDialog>

#include <optional>

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace varmio {

class NetRelayDialog : public QDialog {
    Q_OBJECT

public:
    explicit NetRelayDialog(QWidget* parent = nullptr);

    // The relay entered, once the dialog has been accepted.
    const std::optional<cport::TNetPortAddress>& Address() const { return m_address; }

    // The fields, for tests.
    QLineEdit* HostEdit() const { return m_host; }
    QSpinBox* PortEdit() const { return m_port; }
    QComboBox* KindBox() const { return m_kind; }

    // Takes the fields: accepts the dialog, or says what is wrong and stays open.
    void accept() override;

private:
    QLineEdit* m_host = nullptr;
    QSpinBox* m_port = nullptr;
    QComboBox* m_kind = nullptr;
    std::optional<cport::TNetPortAddress> m_address;
};

} // namespace varmio
