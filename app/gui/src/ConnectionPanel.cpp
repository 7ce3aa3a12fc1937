// SPDX-License-Identifier: GPL-3.0-or-later
// The connection panel: the "Serial Port" group's port selector, speed selector and LED, bound to
// the window's port ComPort1, and the two handlers that open or close the port and feed received
// bytes to the frame decoder.

#include "varmio/Application.h"
#include "varmio/MainWindow.h"
#include "varmio/MonitorPort.h"
#include "varmio/UserConfig.h"

#include "NetPortProbe.h"
#include "NetRelayDialog.h"

#include "cport/NetPort.h"
#include "cportctl/CPortCtl.h"

#include <algorithm>

#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressDialog>

#include <cstdio>
#include <optional>

namespace varmio {
namespace {

// Positions and sizes within GroupBox4.
struct PanelPlace {
    int Left, Top, Width, Height;
};
constexpr PanelPlace kComComboBox1{8, 28, 65, 21};
constexpr PanelPlace kComComboBox2{80, 28, 73, 21};
constexpr PanelPlace kComLed1{160, 24, 25, 25};

// A network relay that answers at once opens without the wait dialog flashing up.
constexpr int kNetPortWaitDelayMs = 400;

// The LED's own glyphs: a green disc with "OK" when open, a plain red disc when closed.
constexpr const char* kGlyphOn = "OKON";
constexpr const char* kGlyphOff = "OKOFF";

void Place(QWidget* widget, const PanelPlace& place)
{
    widget->setGeometry(place.Left, place.Top, place.Width, place.Height);
}

} // namespace

void TForm1::BuildConnectionPanel()
{
    // In the stored window's order: the group's controls, then the port, which the controls refer to.
    m_comComboBox1 = new cportctl::TComComboBox(m_groupBox4);
    m_comComboBox2 = new cportctl::TComComboBox(m_groupBox4);
    m_comLed1 = new cportctl::TComLed(m_groupBox4);
    m_comPort1 = std::make_unique<cport::TComPort>();
    m_portProbe = std::make_unique<NetPortProbe>(
        this, [this](int error) { RunHandler([this, error] { NetPortProbed(error); }); });

    m_comComboBox1->setObjectName(QStringLiteral("ComComboBox1"));
    m_comComboBox1->SetName("ComComboBox1");
    m_comComboBox2->setObjectName(QStringLiteral("ComComboBox2"));
    m_comComboBox2->SetName("ComComboBox2");
    m_comLed1->setObjectName(QStringLiteral("ComLed1"));
    m_comLed1->SetName("ComLed1");
    m_comPort1->SetName("ComPort1");
    Place(m_comComboBox1, kComComboBox1);
    Place(m_comComboBox2, kComComboBox2);
    Place(m_comLed1, kComLed1);
    m_comLed1->setCursor(Qt::PointingHandCursor);

    // Every stored property is read while the components are loading; a reference to the port, which
    // comes later in the stored window, is resolved once all have been read, so each selector then
    // shows the item matching the port's value (or none), and the LED binds without reading a signal.
    cport::TComponent::LoadGroup({m_comComboBox1, m_comComboBox2, m_comLed1, m_comPort1.get()}, [this] {
        m_comComboBox1->SetComProperty(cportctl::cpPort);
        m_comComboBox1->SetAutoApply(true);
        m_comComboBox1->SetText(kDesignPortName);
        m_comComboBox1->SetStyle(cportctl::csDropDownList);
        m_comComboBox1->SetItemIndex(0);

        m_comComboBox2->SetComProperty(cportctl::cpBaudRate);
        m_comComboBox2->SetAutoApply(true);
        m_comComboBox2->SetText(cport::BaudRateToText(kDesignBaudRate));
        m_comComboBox2->SetStyle(cportctl::csDropDownList);
        m_comComboBox2->SetItemIndex(kDesignBaudRate);

        m_comLed1->SetLedSignal(cportctl::lsConn);
        m_comLed1->SetKind(cportctl::lkCustom);
        m_comLed1->SetGlyphOn(cportctl::LoadGlyphResource(kGlyphOn));
        m_comLed1->SetGlyphOff(cportctl::LoadGlyphResource(kGlyphOff));
        m_comLed1->SetOnClick([this](cport::TObject* Sender) { ComLed1Click(Sender); });

        ApplyMonitorPortSettings(*m_comPort1);
        // Its errors name the port and the reason, and a device that goes away leaves it closed.
        RaisePortErrors(*m_comPort1);
        m_comPort1->SetOnAfterOpen([this](cport::TObject* /*Sender*/) { RememberOpenPort(); });
        m_comPort1->SetOnRxChar([this](cport::TObject* Sender, std::int32_t Count) { ComPort1RxChar(Sender, Count); });

        m_comComboBox1->SetComPort(m_comPort1.get());
        m_comComboBox2->SetComPort(m_comPort1.get());
        m_comLed1->SetComPort(m_comPort1.get());
    });

    // The selector is narrow ("pts/3" fits, "/dev/pts/3" would not): the full name is its tooltip.
    auto showFullName = [this] {
        const std::string name = m_comComboBox1->Text();
        m_comComboBox1->setToolTip(QString::fromLocal8Bit(PortDevicePath(name).c_str()));
    };
    connect(m_comComboBox1, &QComboBox::currentIndexChanged, this, showFullName);
    showFullName();

    // Tab order within the group: the two selectors, then the date-time box.
    setTabOrder(m_comComboBox1, m_comComboBox2);
    setTabOrder(m_comComboBox2, m_edit8);
}

void TForm1::ComLed1Click(cport::TObject* /*Sender*/)
{
    if (m_portProbe->Running()) return; // the open under way goes on; its dialog cancels it
    if (m_comPort1->Connected()) {
        m_comPort1->ClosePort();
        return;
    }
    // No port selected gives an empty name, which the port refuses to open.
    m_comPort1->SetPort(m_comComboBox1->Text());
    // A network relay is reached first on a thread of its own: the open would block the window for
    // as long as the name lookup and the connection take. A name that is no valid relay fails at once.
    const std::string name = m_comPort1->Port();
    if (!cport::ParseNetPortName(name)) {
        m_comPort1->OpenPort();
        return;
    }
    m_portProbe->Start(name);
    m_probedPort = name;
    ShowNetPortWait(name);
}

void TForm1::NetPortProbed(int error)
{
    EndNetPortWait();
    if (m_comPort1->Connected()) return;
    // The selector may have moved meanwhile: what opens is the relay the click was for.
    if (m_comPort1->Port() != m_probedPort) PresetPort(m_probedPort);
    // The relay answered, so the open is quick; or the open fails with the error it would have met.
    if (error == 0) m_comPort1->OpenPort();
    else m_comPort1->ReportComError(cport::ComErrorCode(cport::CE_OpenFailed), error);
}

void TForm1::CancelNetPortOpen()
{
    if (!m_portProbe->Running()) return;
    m_portProbe->Cancel();
    EndNetPortWait(); // the user's own choice: the port stays closed, and there is nothing to report
}

void TForm1::closeEvent(QCloseEvent* event)
{
    m_portProbe->Cancel();
    EndNetPortWait();
    QMainWindow::closeEvent(event);
}

void TForm1::ShowNetPortWait(const std::string& name)
{
    const std::string where = name.substr(name.find("://") + 3);
    m_netPortWait = new QProgressDialog(QStringLiteral("Připojuji se k %1…").arg(QString::fromStdString(where)),
                                        QStringLiteral("Zrušit"), 0, 0, this);
    m_netPortWait->setObjectName(QStringLiteral("NetPortWait"));
    m_netPortWait->setWindowTitle(ApplicationTitle());
    m_netPortWait->setWindowModality(Qt::NonModal);
    m_netPortWait->setMinimumDuration(kNetPortWaitDelayMs);
    m_netPortWait->setValue(0); // the delay counts from here (a busy bar has no value of its own)
    connect(m_netPortWait, &QProgressDialog::canceled, this, [this] { RunHandler([this] { CancelNetPortOpen(); }); });
    setCursor(Qt::BusyCursor);
    m_comLed1->setCursor(Qt::BusyCursor);
}

void TForm1::EndNetPortWait()
{
    if (m_netPortWait == nullptr) return;
    m_netPortWait->disconnect(this);
    // Its timer stopped too: an error box shown next runs the event loop before the later deletion,
    // and the dialog would come up over the box.
    m_netPortWait->reset();
    m_netPortWait->hide();
    m_netPortWait->deleteLater();
    m_netPortWait = nullptr;
    unsetCursor();
    m_comLed1->setCursor(Qt::PointingHandCursor);
}

void TForm1::ComPort1RxChar(cport::TObject* /*Sender*/, std::int32_t /*Count*/)
{
    const std::int32_t n =
        m_comPort1->ReadData(m_receiveBuffer.data(), static_cast<std::int32_t>(m_receiveBuffer.size()));
    ReceiveBytes(m_receiveBuffer.data(), static_cast<std::size_t>(std::max<std::int32_t>(n, 0)));
    if (n == static_cast<std::int32_t>(m_receiveBuffer.size())) ScheduleBacklogRead();
}

void TForm1::ScheduleBacklogRead()
{
    // The port announces bytes when they arrive, not while they wait: a burst larger than the buffer
    // would otherwise sit in the port until the next arrival. One more receive event is queued
    // behind whatever the window has to do, so the window stays responsive while the burst drains
    // in buffer-sized steps, in order.
    if (m_backlogReadQueued) return;
    m_backlogReadQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_backlogReadQueued = false;
            RunHandler([this] {
                if (!m_comPort1->Connected()) return;
                if (const std::int32_t waiting = m_comPort1->BytesWaiting(); waiting > 0)
                    ComPort1RxChar(m_comPort1.get(), waiting);
            });
        },
        Qt::QueuedConnection);
}

void TForm1::RememberOpenPort() noexcept
{
    if (!m_remembersPort) return;
    try {
        RememberPort(*m_comPort1, UserConfigPath());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varmio: the port is not remembered: %s\n", e.what());
    }
}

void TForm1::PresetRememberedPort()
{
    try {
        const std::optional<RememberedPort> last = RecallPort(m_comPort1->Name(), UserConfigPath());
        if (!last || m_comComboBox1->Items().IndexOfText(last->Port) < 0) return;
        PresetPort(last->Port);
        ApplyLineSpeed(*m_comPort1, last->Speed);
        m_comComboBox2->SyncWithPort();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varmio: the last port is not preselected: %s\n", e.what());
    }
}

void TForm1::PresetPort(const std::string& name)
{
    m_comPort1->SetPort(name);
    m_comComboBox1->SyncWithPort();
}

void TForm1::NetRelay1Click(cport::TObject* /*Sender*/)
{
    NetRelayDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted && dialog.Address()) AddNetRelay(cport::NetPortName(*dialog.Address()));
}

void TForm1::AddNetRelay(const std::string& name)
{
    const bool listed = std::any_of(m_netRelays.begin(), m_netRelays.end(),
                                    [&](const std::unique_ptr<PublishedPort>& p) { return p->Name() == name; });
    if (!listed) m_netRelays.push_back(std::make_unique<PublishedPort>(name));
    // The list anew (it keeps the open port's item selected), then the relay's item; an open port
    // stays on its line until the LED closes it and opens the selected one.
    m_comComboBox1->SetComProperty(cportctl::cpPort);
    m_comComboBox1->SetText(name);
    if (!m_comPort1->Connected()) m_comPort1->SetPort(name);
    m_netRelayList.Add(name);
}

} // namespace varmio
