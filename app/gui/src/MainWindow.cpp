// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/MainWindow.h"

#include "cportctl/CPortCtl.h"

#include "GroupBox.h"
#include "LogMemo.h"
#include "NetPortProbe.h"
#include "varmio/Application.h"
#include "varmio/MessageOverview.h"
#include "varmio/MessagesWindow.h"
#include "varmio/TrendWindow.h"
#include "varmio/RecordLog.h"
#include "varmio/WindowLayout.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>

namespace varmio {
namespace {

// The window's controls behind the core's display slots, in the order of varmio::Box and
// varmio::StatusList.
constexpr std::array<std::string_view, kBoxCount> kBoxNames{
    "Edit5",  // room temperature
    "Edit6",  // control setpoint
    "Edit2",  // hot water temperature
    "Edit1",  // flow temperature
    "Edit4",  // modulation level
    "Edit3",  // hot water setpoint
    "Edit12", // room setpoint
    "Edit7",  // outside temperature
    "Edit9",  // the last frame: message type
    "Edit10", // data ID
    "Edit11", // data value
    "Edit13", // frame count
};

constexpr std::array<std::string_view, 2> kCheckListNames{"CheckListBox1", "CheckListBox2"}; // master, slave

QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

void SetBold(QWidget* widget)
{
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

QSplitter* NewDockSplitter(QWidget* parent)
{
    auto* splitter = new QSplitter(Qt::Horizontal, parent);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

QListWidget* NewCheckList(const ControlSpec& row, StatusList list, QWidget* parent)
{
    auto* box = new QListWidget(parent);
    box->setUniformItemSizes(true);
    box->setSelectionMode(QAbstractItemView::SingleSelection);
    const int itemWidth = row.Width - 2 * box->frameWidth();
    for (std::string_view caption : StatusItemCaptions(list)) {
        auto* item = new QListWidgetItem(Text(caption), box);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setSizeHint(QSize(itemWidth, kCheckListItemHeight));
    }
    return box;
}

} // namespace

std::tm ReadLocalClock()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

TForm1::TForm1(QWidget* parent) : TForm1(Regional::FromEnvironment(), ReadLocalClock, parent) {}

TForm1::TForm1(Regional regional, LocalClock clock, QWidget* parent)
    : QMainWindow(parent), m_monitor(*this, std::move(regional)), m_receiveTime(std::chrono::system_clock::now()),
      m_clock(std::move(clock))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Text(kWindowCaption));
    setFont(WindowFont());
    m_monitor.SetOnFrame([this](const Frame& frame) {
        m_overview.Add(frame, m_receiveTime);
        m_messages.Add(frame, m_receiveTime);
        m_trends.AddFrame(frame, std::chrono::time_point_cast<std::chrono::milliseconds>(m_receiveTime));
    });
    m_trends.SetSeriesResolver(DecodedTrendSeries);

    // The user's network relays are listed from the start, like the ports the program publishes.
    for (const std::string& name : m_netRelayList.Names()) m_netRelays.push_back(std::make_unique<PublishedPort>(name));
    BuildMenu();
    BuildControls();
    BuildConnectionPanel();

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(kClockIntervalMs);
    connect(m_timer1, &QTimer::timeout, this, [this] { RunHandler([this] { Timer1Timer(m_timer1); }); });
    m_timer1->start();

    // The client area below the menu bar gets the design's size; the window manager adds its frame.
    resize(kClientWidth, menuBar()->sizeHint().height() + kClientHeight);
    if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());

    FormCreate(this);
}

TForm1::~TForm1()
{
    // The port closes while the LED and the selectors that show it still exist, and while it is
    // still there for whatever runs as the LED repaints (a queued receive event, a click). A relay
    // still being checked is forgotten.
    m_portProbe->Cancel();
    EndNetPortWait();
    RunHandler([this] { m_comPort1->ClosePort(); });
    m_comPort1.reset();
}

void TForm1::BuildMenu()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    QAction* save = file->addAction(QStringLiteral("Save"));
    save->setObjectName(QStringLiteral("Save1"));
    connect(save, &QAction::triggered, this, [this, save] { RunHandler([this, save] { Save1Click(save); }); });
    QAction* load = file->addAction(QStringLiteral("Load"));
    load->setObjectName(QStringLiteral("Load1"));
    QAction* netRelay = file->addAction(QStringLiteral("Síťový převodník…"));
    netRelay->setObjectName(QStringLiteral("NetRelay1"));
    connect(netRelay, &QAction::triggered, this, [this] { RunHandler([this] { NetRelay1Click(nullptr); }); });
    QAction* messages = menuBar()->addAction(QStringLiteral("Zprávy"));
    messages->setObjectName(QStringLiteral("Zpravy1"));
    connect(messages, &QAction::triggered, this,
            [this, messages] { RunHandler([this, messages] { Zpravy1Click(messages); }); });
    QAction* chart = menuBar()->addAction(QStringLiteral("Graf"));
    chart->setObjectName(QStringLiteral("Graf1"));
    connect(chart, &QAction::triggered, this, [this, chart] { RunHandler([this, chart] { Graf1Click(chart); }); });
    QAction* exit = menuBar()->addAction(QStringLiteral("Exit"));
    exit->setObjectName(QStringLiteral("exit1"));
    connect(exit, &QAction::triggered, this, [this, exit] { RunHandler([this, exit] { exit1Click(exit); }); });
}

void TForm1::BuildControls()
{
    Docking docking = BuildClientArea();
    for (const ControlSpec& row : WindowLayout()) {
        if (row.Kind == ckSplitter) {
            // Its handle exists once the docked control behind it is added.
            docking.Docks.value(Text(row.Parent))->setHandleWidth(row.Width);
            continue;
        }
        PlaceControl(row, NewControl(row, docking), docking);
    }
    SizeDockedControls(docking);
    FindSlotControls();
    ConnectControls();
}

TForm1::Docking TForm1::BuildClientArea()
{
    // The client area is a splitter: the fixed controls' pane on the left, then the controls docked
    // at the right edge. A parent with docked children is a splitter of its own (Panel1).
    auto* client = NewDockSplitter(this);
    client->setObjectName(QStringLiteral("Client"));
    client->setAutoFillBackground(true);
    QPalette background = client->palette();
    background.setColor(QPalette::Window, WindowBackground());
    client->setPalette(background);
    setCentralWidget(client);

    Docking docking;
    docking.FixedPane = new QWidget(client);
    docking.FixedPane->setObjectName(QStringLiteral("FixedPane"));
    client->addWidget(docking.FixedPane);
    client->setStretchFactor(0, 1);
    docking.Docks.insert(QString(), client);
    return docking;
}

QWidget* TForm1::NewControl(const ControlSpec& row, Docking& docking)
{
    const QString name = Text(row.Name);
    const QString caption = Text(row.Caption);
    QWidget* parent = row.Parent.empty() ? docking.FixedPane : docking.Containers.value(Text(row.Parent));
    QWidget* widget = nullptr;
    switch (row.Kind) {
    case ckLabel: widget = new QLabel(caption, parent); break;
    case ckEdit: widget = new QLineEdit(caption, parent); break;
    case ckButton: widget = new QPushButton(caption, parent); break;
    case ckCheckBox: {
        auto* box = new QCheckBox(caption, parent);
        box->setChecked((row.Flags & cfChecked) != 0);
        widget = box;
        break;
    }
    case ckGroupBox:
        widget = new GroupBox(caption, parent);
        docking.Containers.insert(name, widget);
        break;
    case ckCheckListBox: {
        const auto list = row.Name == kCheckListNames[1] ? StatusList::Slave : StatusList::Master;
        widget = NewCheckList(row, list, parent);
        break;
    }
    case ckPanel: {
        auto* panel = new QFrame(parent);
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setLineWidth(1);
        auto* inside = new QHBoxLayout(panel);
        inside->setContentsMargins(0, 0, 0, 0); // the children fill the panel inside its bevel
        QSplitter* dock = NewDockSplitter(panel);
        inside->addWidget(dock);
        docking.Containers.insert(name, dock);
        docking.Docks.insert(name, dock);
        widget = panel;
        break;
    }
    case ckSplitter: return nullptr; // not a control of its own: BuildControls gives its dock the handle width
    case ckMemo: widget = new LogMemo(parent); break;
    case ckStatusBar: {
        auto* bar = new QStatusBar(this);
        bar->setFixedHeight(row.Height);
        setStatusBar(bar);
        widget = bar;
        break;
    }
    }
    widget->setObjectName(name);
    if (row.Flags & cfBold) SetBold(widget);
    return widget;
}

void TForm1::PlaceControl(const ControlSpec& row, QWidget* widget, const Docking& docking)
{
    if ((row.Flags & (cfAlignLeft | cfAlignRight | cfAlignClient)) != 0) {
        QSplitter* dock = docking.Docks.value(Text(row.Parent));
        dock->addWidget(widget);
        dock->setStretchFactor(dock->indexOf(widget), (row.Flags & cfAlignClient) ? 1 : 0);
    } else if (row.Kind != ckStatusBar) {
        int width = row.Width;
        if (row.Kind == ckLabel) // no caption is cut, whatever the substitute font's metrics
            width = std::max(width, widget->sizeHint().width());
        widget->setGeometry(row.Left, row.Top, width, row.Height);
    }
}

void TForm1::SizeDockedControls(const Docking& docking)
{
    // Name the splitter handles after the splitters of the design, and give the docked controls their
    // design widths: a handle sits at the left edge of the control docked right of it.
    for (const ControlSpec& row : WindowLayout()) {
        if (row.Kind != ckSplitter) continue;
        QSplitter* dock = docking.Docks.value(Text(row.Parent));
        QList<int> sizes;
        for (int i = 0; i < dock->count(); ++i) {
            const ControlSpec* docked = FindControlSpec(dock->widget(i)->objectName().toStdString());
            sizes.append(docked != nullptr ? docked->Width : row.Left); // the fixed pane ends at the handle
            if (docked != nullptr && i > 0 && docked->Left == row.Left + row.Width)
                dock->handle(i)->setObjectName(Text(row.Name));
        }
        dock->setSizes(sizes);
    }
}

void TForm1::FindSlotControls()
{
    for (std::size_t i = 0; i < kBoxNames.size(); ++i) m_boxes[i] = findChild<QLineEdit*>(Text(kBoxNames[i]));
    for (std::size_t i = 0; i < kCheckListNames.size(); ++i)
        m_checkLists[i] = findChild<QListWidget*>(Text(kCheckListNames[i]));
    m_checkBox2 = findChild<QCheckBox*>(QStringLiteral("CheckBox2")); // the change-only switch
    m_groupBox4 = findChild<QGroupBox*>(QStringLiteral("GroupBox4"));
    m_edit8 = findChild<QLineEdit*>(QStringLiteral("Edit8")); // the date-time text
    m_memo1 = findChild<LogMemo*>(QStringLiteral("Memo1"));   // the raw log
    m_memo2 = findChild<LogMemo*>(QStringLiteral("Memo2"));   // the record log
    // The raw log keeps as many lines as the decoded message log; the record log is what File > Save
    // writes and keeps every line.
    m_memo1->SetLineCap(static_cast<int>(MessageLog::kDefaultCapacity));
}

void TForm1::ConnectControls()
{
    // The logs take their time stamps from whatever Edit8 shows, typed text included.
    connect(m_edit8, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_dateTimeText = text.toStdString(); });
    auto* button1 = findChild<QPushButton*>(QStringLiteral("Button1"));
    connect(button1, &QPushButton::clicked, this,
            [this, button1] { RunHandler([this, button1] { Button1Click(button1); }); });
    connect(m_memo1, &LogMemo::doubleClicked, this, [this] { RunHandler([this] { Memo1DblClick(m_memo1); }); });
    connect(m_memo2, &LogMemo::doubleClicked, this, [this] { RunHandler([this] { Memo2DblClick(m_memo2); }); });
}

void TForm1::FormCreate(QObject* /*Sender*/) { AppendRecordLog(CsvHeader); }

void TForm1::Timer1Timer(QObject* /*Sender*/)
{
    // Date and time come from one reading, so a tick at midnight never pairs one day's date with the
    // other day's time.
    const std::tm now = m_clock();
    m_edit8->setText(Text(m_monitor.RegionalSettings().DateTimeText(now)));
}

void TForm1::Button1Click(QObject* /*Sender*/) { m_monitor.ResetValues(); }

void TForm1::Memo1DblClick(QObject* /*Sender*/) { m_memo1->Clear(); }

void TForm1::Memo2DblClick(QObject* /*Sender*/)
{
    m_memo2->Clear();
    AppendRecordLog(CsvHeader);
}

QFileDialog* TForm1::SaveDialog1()
{
    if (m_saveDialog1 == nullptr) {
        m_saveDialog1 = new QFileDialog(this);
        m_saveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
        m_saveDialog1->setOption(QFileDialog::DontUseNativeDialog);
        m_saveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
        m_saveDialog1->setAcceptMode(QFileDialog::AcceptSave);
        m_saveDialog1->setFileMode(QFileDialog::AnyFile);
        m_saveDialog1->setNameFilter(QStringLiteral("*.csv"));
        // Appended to a name the user types without an extension; the offered name has its own.
        m_saveDialog1->setDefaultSuffix(QStringLiteral("csv"));
    }
    return m_saveDialog1;
}

void TForm1::Save1Click(QObject* /*Sender*/)
{
    QFileDialog* dialog = SaveDialog1();
    const std::tm today = m_clock();
    // The short date made into a file name: "12/08/26" would be taken as folders, and "8.12.2026 Zelb"
    // for a name with the extension ".2026 Zelb".
    dialog->selectFile(Text(OfferedRecordLogName(m_monitor.RegionalSettings().FormatShortDate(today))));
    if (dialog->exec() != QDialog::Accepted) return;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return;
    const QString& path = chosen.front();
    const std::size_t unmappable = WriteRecordLog(QFile::encodeName(path).toStdString(), RecordLogText());
    if (unmappable > 0) {
        QMessageBox::warning(this, ApplicationTitle(),
                             QStringLiteral("%1 character(s) of the record log have no Windows-1250 form and "
                                            "were saved to \"%2\" as \"?\".")
                                 .arg(unmappable)
                                 .arg(path));
    }
}

void TForm1::exit1Click(QObject* /*Sender*/) { close(); }

void TForm1::Zpravy1Click(QObject* /*Sender*/)
{
    if (m_messagesWindow1 == nullptr)
        m_messagesWindow1 = new MessagesWindow(m_overview, m_messages, m_monitor.RegionalSettings(), this);
    m_messagesWindow1->show();
    m_messagesWindow1->raise();
    m_messagesWindow1->activateWindow();
}

void TForm1::Graf1Click(QObject* /*Sender*/)
{
    if (m_trendWindow1 == nullptr) m_trendWindow1 = new TrendWindow(m_trends, m_monitor.RegionalSettings(), this);
    m_trendWindow1->show();
    m_trendWindow1->raise();
    m_trendWindow1->activateWindow();
}

void TForm1::ReceiveBytes(const std::uint8_t* bytes, std::size_t count)
{
    m_receiveTime = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < count; ++i) m_monitor.ProcessFrameByte(bytes[i]);
}

std::string TForm1::RecordLogText() const
{
    // The raw text keeps what the user typed as it is (no-break spaces included); blocks and line
    // separators become line ends.
    QString text = m_memo2->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text.toStdString();
}

QPlainTextEdit* TForm1::Memo1() const { return m_memo1; }

QPlainTextEdit* TForm1::Memo2() const { return m_memo2; }

QListWidget* TForm1::CheckList(StatusList list) const { return m_checkLists[static_cast<std::size_t>(list)]; }

void TForm1::SetBoxText(Box box, std::string_view text) { m_boxes[static_cast<std::size_t>(box)]->setText(Text(text)); }

bool TForm1::IsChecked(StatusList list, int item) const
{
    return CheckList(list)->item(item)->checkState() == Qt::Checked;
}

void TForm1::SetChecked(StatusList list, int item, bool checked)
{
    CheckList(list)->item(item)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void TForm1::AppendRawLog(std::string_view line) { m_memo1->AppendLine(Text(line)); }

void TForm1::AppendRecordLog(std::string_view line) { m_memo2->AppendLine(Text(line)); }

bool TForm1::ChangesOnly() const { return m_checkBox2->isChecked(); }

std::string_view TForm1::DateTimeText() const { return m_dateTimeText; }

} // namespace varmio
