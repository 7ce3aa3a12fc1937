// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window TForm1: the value boxes, the status check lists, the "Data" group, the connection
// panel's group, the raw log (Memo1) and the record log (Memo2), the menu and the clock. It is the
// monitor core's display and owns the core.
//
// Thread safety: a QWidget; every member runs on the main thread only. Handlers are public so that
// the connection panel and the tests can run them as the event loop would.

#include "varmio/Display.h"
#include "varmio/MessageOverview.h"
#include "varmio/TrendStore.h"
#include "varmio/Monitor.h"
#include "varmio/MonitorPort.h"
#include "varmio/NetRelays.h"
#include "varmio/Regional.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QHash>
#include <QMainWindow>
#include <QString>

class QCheckBox;
class QCloseEvent;
class QFileDialog;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressDialog;
class QSplitter;
class QTimer;

namespace cport {
class TComPort;
class TObject;
} // namespace cport
namespace cportctl {
class TComComboBox;
class TComLed;
} // namespace cportctl

namespace varmio {

class LogMemo;
class NetPortProbe;
struct ControlSpec;
class MessagesWindow;
class TrendWindow;

// One reading of the local date and time.
using LocalClock = std::function<std::tm()>;
std::tm ReadLocalClock();

class TForm1 : public QMainWindow, public IDisplay {
    Q_OBJECT

public:
    // The window with the user's regional settings and the system clock.
    explicit TForm1(QWidget* parent = nullptr);
    // The window with given regional settings and clock (tests, screenshots).
    TForm1(Regional regional, LocalClock clock, QWidget* parent = nullptr);
    ~TForm1() override;

    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Handlers, as the event loop runs them. Sender is the control that fired.
    void FormCreate(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void Button1Click(QObject* Sender);
    void Memo1DblClick(QObject* Sender);
    void Memo2DblClick(QObject* Sender);
    // Throws FileError when the chosen file cannot be written (the event loop shows it).
    void Save1Click(QObject* Sender);
    void exit1Click(QObject* Sender);
    // The "Zprávy" menu item: shows the message window (created at the first click) and raises it.
    void Zpravy1Click(QObject* Sender);
    // The "Graf" menu item: shows the trends window over the live trend store (created at the first
    // click) and raises it.
    void Graf1Click(QObject* Sender);

    // The connection panel's handlers. ComLed1Click opens the port on the port selector's text, or
    // closes it; it throws the port's EComPort when the port does not open (the LED hands that to the
    // application's error box). A network relay's name is first checked on a thread of its own (name
    // lookup and connection, which can take seconds), while the window goes on and a small dialog
    // ("NetPortWait") offers to cancel; the port opens once the relay has answered, and a relay that
    // does not answer, or a cancel, is reported as that open's failure. Clicks meanwhile change
    // nothing. ComPort1RxChar feeds at most one ReceiveBuffer of waiting bytes to the frame decoder;
    // later receive events take the rest.
    void ComLed1Click(cport::TObject* Sender);
    void ComPort1RxChar(cport::TObject* Sender, std::int32_t Count);

    // The connection panel's components. The port belongs to the window; it is closed and destroyed
    // first when the window goes, while the controls that show it are still there.
    cport::TComPort* ComPort1() const { return m_comPort1.get(); }
    cportctl::TComComboBox* ComComboBox1() const { return m_comComboBox1; }
    cportctl::TComComboBox* ComComboBox2() const { return m_comComboBox2; }
    cportctl::TComLed* ComLed1() const { return m_comLed1; }
    // Makes `name` the port to open: ComPort1's Port, and the port selector's item when the list
    // has it (a program publishes the ports it provides before it creates the window).
    void PresetPort(const std::string& name);
    // Makes the port and speed of the last successful open (kept in the user's configuration file)
    // the ones to open, when the port list has that port; otherwise changes nothing. A file that
    // cannot be used is reported on standard error and otherwise ignored.
    void PresetRememberedPort();
    // Whether each successful open is kept in the user's configuration file (on unless turned off,
    // as the program does for ports it provides itself).
    void SetRemembersPort(bool value) { m_remembersPort = value; }
    // File > "Síťový převodník…": asks for a network relay, then AddNetRelay.
    void NetRelay1Click(cport::TObject* Sender);
    // Lists a network relay's port name in the port selector (published while the window lives),
    // selects it (and makes it the closed port's Port), and adds it to the user's list of network
    // relays, which the next window lists from the start. Throws std::runtime_error when the list
    // cannot be stored; the relay is listed and selected all the same.
    void AddNetRelay(const std::string& name);

    static constexpr std::size_t kReceiveBufferSize = 33;

    // The monitor core this window displays; the connection panel feeds it the received bytes.
    Monitor& Core() { return m_monitor; }
    const Monitor& Core() const { return m_monitor; }
    // Feeds one receive batch to the core, its frames stamped with one clock reading for the
    // message overview and log. (Bytes fed to Core() directly carry the previous batch's time.)
    void ReceiveBytes(const std::uint8_t* bytes, std::size_t count);
    // The second reading of every frame, shown by the message window.
    const MessageOverview& Overview() const { return m_overview; }
    const MessageLog& Messages() const { return m_messages; }
    MessagesWindow* MessagesWindow1() const { return m_messagesWindow1; } // null until first opened
    const TrendStore& Trends() const { return m_trends; }
    TrendWindow* TrendWindow1() const { return m_trendWindow1; } // null until first opened

    // Components, for the connection panel (which adds its controls to GroupBox4) and the tests.
    // Every control of the window layout is also reachable by its name through findChild.
    QGroupBox* GroupBox4() const { return m_groupBox4; }
    QLineEdit* Edit8() const { return m_edit8; }
    QPlainTextEdit* Memo1() const;
    QPlainTextEdit* Memo2() const;
    QFileDialog* SaveDialog1(); // created when first needed
    QTimer* Timer1() const { return m_timer1; }

    // IDisplay: the core's slots.
    void SetBoxText(Box box, std::string_view text) override;
    bool IsChecked(StatusList list, int item) const override;
    void SetChecked(StatusList list, int item, bool checked) override;
    void AppendRawLog(std::string_view line) override;
    void AppendRecordLog(std::string_view line) override;
    bool ChangesOnly() const override;
    std::string_view DateTimeText() const override;

protected:
    // A network relay still being reached when the window closes is forgotten without a word (its wait
    // dialog would otherwise be closed with the program and take that for a cancel to report).
    void closeEvent(QCloseEvent* event) override;

private:
    // Where the window design's controls go: each parent's container, and the splitter that holds
    // each parent's docked children.
    struct Docking {
        QWidget* FixedPane = nullptr;
        QHash<QString, QWidget*> Containers;
        QHash<QString, QSplitter*> Docks;
    };

    // The window's controls from its design, in steps.
    void BuildControls();
    Docking BuildClientArea();
    QWidget* NewControl(const ControlSpec& row, Docking& docking);
    void PlaceControl(const ControlSpec& row, QWidget* widget, const Docking& docking);
    void SizeDockedControls(const Docking& docking);
    void FindSlotControls();
    void ConnectControls();
    void BuildConnectionPanel();
    void ScheduleBacklogRead();
    // The network relay's check: its end (0 when the relay answered), the cancel button, and the
    // wait shown meanwhile.
    void NetPortProbed(int error);
    void CancelNetPortOpen();
    void ShowNetPortWait(const std::string& name);
    void EndNetPortWait();
    void RememberOpenPort() noexcept;
    void BuildMenu();
    QListWidget* CheckList(StatusList list) const;
    // The record log's full text, lines separated by LF, as the user sees it.
    std::string RecordLogText() const;

    Monitor m_monitor;
    MessageOverview m_overview;
    MessageLog m_messages;
    TimePoint m_receiveTime{};
    MessagesWindow* m_messagesWindow1 = nullptr;
    TrendStore m_trends;
    TrendWindow* m_trendWindow1 = nullptr;
    LocalClock m_clock;
    std::string m_dateTimeText; // Edit8's text in UTF-8, kept in step with the box

    QLineEdit* m_boxes[kBoxCount] = {}; // the control of each of the core's boxes
    QListWidget* m_checkLists[2] = {};
    QCheckBox* m_checkBox2 = nullptr;
    QGroupBox* m_groupBox4 = nullptr;
    QLineEdit* m_edit8 = nullptr;
    LogMemo* m_memo1 = nullptr;
    LogMemo* m_memo2 = nullptr;
    QFileDialog* m_saveDialog1 = nullptr;
    QTimer* m_timer1 = nullptr;

    NetRelayList m_netRelayList;
    std::vector<std::unique_ptr<PublishedPort>> m_netRelays; // before the port: listed while it lives
    std::unique_ptr<cport::TComPort> m_comPort1;
    cportctl::TComComboBox* m_comComboBox1 = nullptr;
    cportctl::TComComboBox* m_comComboBox2 = nullptr;
    cportctl::TComLed* m_comLed1 = nullptr;
    std::unique_ptr<NetPortProbe> m_portProbe;
    std::string m_probedPort;                                       // the name the running check is for
    QProgressDialog* m_netPortWait = nullptr;                       // while the check runs
    std::array<std::uint8_t, kReceiveBufferSize> m_receiveBuffer{}; // reused by every receive event
    bool m_backlogReadQueued = false;
    bool m_remembersPort = true;
};

} // namespace varmio
