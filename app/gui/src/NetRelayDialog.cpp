// SPDX-License-Identifier: GPL-3.0-or-later
#include "NetRelayDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace varmio {

namespace {
// ser2net's usual port for a line that takes its settings over the network.
constexpr int kDefaultTcpPort = 2217;
} // namespace

NetRelayDialog::NetRelayDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("NetRelayDialog"));
    setWindowTitle(QStringLiteral("Síťový převodník"));
    m_host = new QLineEdit(this);
    m_host->setObjectName(QStringLiteral("Host"));
    m_host->setPlaceholderText(QStringLiteral("např. 192.168.1.20 nebo kotelna.local"));
    m_port = new QSpinBox(this);
    m_port->setObjectName(QStringLiteral("TcpPort"));
    m_port->setRange(1, 65535);
    m_port->setValue(kDefaultTcpPort);
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("Kind"));
    // In the order of cport::TNetPortKind.
    m_kind->addItem(QStringLiteral("Prostý TCP (socket://)"));
    m_kind->addItem(QStringLiteral("RFC 2217 – nastavení linky po síti (rfc2217://)"));
    m_kind->setCurrentIndex(cport::npRfc2217);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Přidat"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Zrušit"));
    connect(buttons, &QDialogButtonBox::accepted, this, &NetRelayDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NetRelayDialog::reject);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Adresa:"), m_host);
    form->addRow(QStringLiteral("Port TCP:"), m_port);
    form->addRow(QStringLiteral("Druh:"), m_kind);
    form->addRow(buttons);
}

void NetRelayDialog::accept()
{
    cport::TNetPortAddress address;
    address.Kind = static_cast<cport::TNetPortKind>(m_kind->currentIndex());
    address.Host = m_host->text().trimmed().toStdString();
    if (address.Host.size() > 2 && address.Host.front() == '[' && address.Host.back() == ']')
        address.Host = address.Host.substr(1, address.Host.size() - 2); // an IPv6 address typed in brackets
    address.Port = static_cast<std::uint16_t>(m_port->value());
    if (!cport::ParseNetPortName(cport::NetPortName(address))) {
        // Said without blocking: the dialog stays open with what was typed.
        auto* message =
            new QMessageBox(QMessageBox::Warning, windowTitle(),
                            QStringLiteral("„%1“ není název počítače ani adresa IP.").arg(m_host->text().trimmed()),
                            QMessageBox::Ok, this);
        message->setAttribute(Qt::WA_DeleteOnClose);
        message->open();
        m_host->setFocus();
        return;
    }
    m_address = address;
    QDialog::accept();
}

} // namespace varmio
