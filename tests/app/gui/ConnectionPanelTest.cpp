// SPDX-License-Identifier: GPL-3.0-or-later
// The connection panel end to end: the window's port opened by a click on the LED on a pseudo-terminal,
// frames from a relay simulator reaching the boxes, check lists, logs and counter; closing and
// reopening; the failures a user sees.

#include "FormFixture.h"
#include "ModalDriver.h"

#include "cportctl/CPortCtl.h"
#include "varmio/Application.h"
#include "varmio/DemoRelay.h"
#include "varmio/UserConfig.h"
#include "varmio/relaysim/RelaySim.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kPatienceMs = 60'000;

class ConnectionPanelTest : public FormTest {
protected:
    void TearDown() override { m_form.reset(); } // the window's port closes before any relay goes

    void ClickLed() { QTest::mouseClick(m_form->ComLed1(), Qt::LeftButton, {}, QPoint(12, 12)); }

    int CheckedItems(const char* list)
    {
        auto* box = Control<QListWidget>(list);
        int checked = 0;
        for (int i = 0; i < box->count(); ++i) checked += box->item(i)->checkState() == Qt::Checked;
        return checked;
    }
};

TEST_F(ConnectionPanelTest, StartsClosedWithTheDesignedSpeedAndNoPortSelectedWhenTheMachineLacksIt)
{
    EXPECT_FALSE(m_form->ComPort1()->Connected());
    EXPECT_EQ(m_form->ComLed1()->State(), cportctl::lsOff);
    EXPECT_EQ(m_form->ComComboBox2()->Text(), "19200");
    EXPECT_EQ(m_form->ComComboBox2()->ItemIndex(), 9);
    EXPECT_EQ(m_form->ComPort1()->Port(), "COM12");
    EXPECT_EQ(m_form->ComComboBox1()->Text(), ""); // no COM12 on this machine
    EXPECT_EQ(m_form->ComLed1()->Kind(), cportctl::lkCustom);
    EXPECT_EQ(m_form->ComLed1()->GlyphOn().size(), QSize(20, 20));
    EXPECT_EQ(m_form->ComLed1()->GlyphOff().size(), QSize(20, 20));
    EXPECT_NE(m_form->ComLed1()->GlyphOn(), m_form->ComLed1()->GlyphOff());
    EXPECT_EQ(m_form->ComLed1()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(m_form->ComLed1()->geometry(), QRect(160, 24, 25, 25));
}

TEST_F(ConnectionPanelTest, ClickWithNoPortSelectedShowsTheOpenErrorAndLeavesThePortClosed)
{
    QString caption, text;
    ModalDriver driver({ModalDriver::ReadMessageBox(&caption, &text)});
    ClickLed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return driver.Answered() == 1; }, kPatienceMs));
    EXPECT_EQ(text, QStringLiteral("Unable to open com port (Error: 2)\nNení vybrán žádný port."));
    EXPECT_FALSE(m_form->ComPort1()->Connected());
    EXPECT_EQ(m_form->ComLed1()->State(), cportctl::lsOff);
    EXPECT_EQ(m_form->ComPort1()->Port(), ""); // the click took the selector's empty text
}

TEST_F(ConnectionPanelTest, AnOpenErrorKeepsTheComponentsMessageAndCodeAndNamesThePortAndTheReason)
{
    m_form->ComComboBox1()->addItem(QStringLiteral("ttyNONE9"), QByteArray("ttyNONE9"));
    m_form->ComComboBox1()->setCurrentIndex(m_form->ComComboBox1()->count() - 1);
    try {
        m_form->ComLed1Click(m_form->ComLed1());
        FAIL() << "a missing device opened";
    } catch (const cport::EComPort& error) {
        EXPECT_EQ(error.ComportCode(), 1);
        EXPECT_EQ(error.WinErrorCode(), 2);
        EXPECT_STREQ(error.what(), "Unable to open com port (Error: 2)");
        EXPECT_EQ(varmio::ExceptionText(error).toStdString(),
                  "Unable to open com port (Error: 2)\nttyNONE9: No such file or directory");
    }
    EXPECT_EQ(m_form->ComComboBox1()->toolTip(), QStringLiteral("/dev/ttyNONE9"));
}

TEST_F(ConnectionPanelTest, APortTheUserMayNotOpenIsToldHowToJoinTheDialoutGroup)
{
    // Made by hand: as root (the suite's usual user) no device refuses an open for lack of permission.
    const QString hint = QStringLiteral("skupiny dialout");
    QString caption, text;
    ModalDriver driver({ModalDriver::ReadMessageBox(&caption, &text)});
    varmio::ShowException(varmio::PortError(1, EACCES, "ttyUSB0"));
    ASSERT_EQ(driver.Answered(), 1);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Unable to open com port (Error: 13)\nttyUSB0: Permission denied\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(hint) && text.contains(QStringLiteral("usermod -aG dialout"))) << text.toStdString();
    // Other reasons, and a network relay (no group helps there), keep their two lines.
    for (const varmio::PortError& other :
         {varmio::PortError(1, ENOENT, "ttyUSB0"), varmio::PortError(1, EACCES, "socket://relay:4001"),
          varmio::PortError(1, EACCES, "ttyUSB0", true)})
        EXPECT_FALSE(varmio::ExceptionText(other).contains(hint)) << other.PortName();
}

TEST_F(ConnectionPanelTest, PacedSimulatorStreamFillsTheWindowAndTheLedFollowsOpenAndClose)
{
    // The conversation paced like the bus, played fast: a few hundred packets in seconds.
    varmio::relaysim::RelayOptions options;
    options.Speed = 60;
    options.Seed = 5;
    m_form.reset();
    auto relay = std::make_unique<varmio::DemoRelay>(options);
    SetUp(); // the window lists the published port
    m_form->PresetPort(relay->PortName());
    EXPECT_EQ(m_form->ComComboBox1()->Text(), relay->PortName());

    ClickLed();
    EXPECT_TRUE(m_form->ComPort1()->Connected());
    EXPECT_EQ(m_form->ComLed1()->State(), cportctl::lsOn);
    m_clock.push_back(LocalTime(2026, 12, 7, 13, 5, 21));
    m_form->Timer1Timer(m_form->Timer1());

    ASSERT_TRUE(QTest::qWaitFor([&] { return m_form->Core().FrameCount() >= 300; }, kPatienceMs));
    EXPECT_EQ(Control<QLineEdit>("Edit13")->text().toLongLong(), m_form->Core().FrameCount());
    for (const char* box : {"Edit1", "Edit2", "Edit5", "Edit6", "Edit7", "Edit12"})
        EXPECT_NE(Control<QLineEdit>(box)->text(), QStringLiteral("0")) << box;
    EXPECT_FALSE(Control<QLineEdit>("Edit9")->text().isEmpty());
    EXPECT_FALSE(Control<QLineEdit>("Edit10")->text().isEmpty());
    EXPECT_GE(CheckedItems("CheckListBox1") + CheckedItems("CheckListBox2"), 1);
    EXPECT_GE(m_form->Memo1()->document()->blockCount(), 300);
    EXPECT_GE(m_form->Memo2()->document()->blockCount(), 3);
    EXPECT_TRUE(m_form->Memo1()->toPlainText().contains(QStringLiteral("07.12.2026; 13:05:2")))
        << m_form->Memo1()->toPlainText().left(200).toStdString();

    ClickLed();
    EXPECT_FALSE(m_form->ComPort1()->Connected());
    EXPECT_EQ(m_form->ComLed1()->State(), cportctl::lsOff);
    const std::int64_t frames = m_form->Core().FrameCount();
    QTest::qWait(100); // nothing arrives while closed
    EXPECT_EQ(m_form->Core().FrameCount(), frames);
    m_form.reset();
}

// A pseudo-terminal the test writes into by hand.
class HandFedPortTest : public ConnectionPanelTest {
protected:
    void SetUp() override
    {
        m_published = std::make_unique<varmio::PublishedPort>(m_pty.DevicePath());
        StartWithoutPreset();
        m_form->PresetPort(m_published->Name());
    }
    // A new window, as at the next start of the program, with no port preset.
    void StartWithoutPreset() { ConnectionPanelTest::SetUp(); }
    void TearDown() override
    {
        ConnectionPanelTest::TearDown();
        m_published.reset();
    }

    void Write(const std::vector<std::uint8_t>& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) done += m_pty.Write(std::span(bytes).subspan(done));
    }
    // Waits until every byte written has been read and handed to the window.
    bool Consumed()
    {
        return QTest::qWaitFor([&] { return m_pty.InputQueueEmpty() && m_form->ComPort1()->BytesWaiting() == 0; },
                               kPatienceMs);
    }

    varmio::relaysim::PseudoTerminal m_pty;
    std::unique_ptr<varmio::PublishedPort> m_published;
};

TEST_F(ConnectionPanelTest, ADeviceThatGoesAwayWhileOpenIsReportedOnceAndLeavesThePortClosedForOneClickToReopen)
{
    auto relay = std::make_unique<varmio::relaysim::PseudoTerminal>();
    const varmio::PublishedPort published(relay->DevicePath());
    SetUp();
    m_form->PresetPort(published.Name());
    ASSERT_EQ(m_form->ComComboBox1()->Text(), published.Name());
    EXPECT_EQ(published.Name().rfind("pts/", 0), 0u) << "listed by its name under /dev";
    EXPECT_EQ(m_form->ComComboBox1()->toolTip().toStdString(), relay->DevicePath());
    ClickLed();
    ASSERT_TRUE(m_form->ComPort1()->Connected());

    QString caption, lost, reopen;
    ModalDriver driver({ModalDriver::ReadMessageBox(&caption, &lost), ModalDriver::ReadMessageBox(&caption, &reopen)});
    relay.reset(); // the relay ends: the device hangs up and goes
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return driver.Answered() == 1 && !m_form->ComPort1()->Connected(); }, kPatienceMs));
    EXPECT_TRUE(lost.startsWith(QStringLiteral("Port %1 zmizel (").arg(QString::fromStdString(published.Name()))))
        << lost.toStdString();
    EXPECT_EQ(m_form->ComLed1()->State(), cportctl::lsOff);
    QCoreApplication::processEvents(); // a second report, had there been one, would be shown now
    EXPECT_EQ(driver.Answered(), 1) << "one box only";

    ClickLed(); // one click tries the device again, which is gone for good
    ASSERT_TRUE(QTest::qWaitFor([&] { return driver.Answered() == 2; }, kPatienceMs));
    EXPECT_TRUE(reopen.startsWith(QStringLiteral("Unable to open com port (Error: 2)\npts/"))) << reopen.toStdString();
    EXPECT_FALSE(m_form->ComPort1()->Connected());
}

TEST_F(HandFedPortTest, ClosingMidPacketAndReopeningContinuesThePacket)
{
    ClickLed();
    ASSERT_TRUE(m_form->ComPort1()->Connected());
    Write({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80, 0x35, 0x35, 0x35, 0x04});
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_form->Core().FrameCount() == 1; }, kPatienceMs));
    ASSERT_TRUE(Consumed());
    EXPECT_EQ(Control<QLineEdit>("Edit1")->text(), QStringLiteral("45,5"));

    ClickLed(); // closed in the middle of the second packet
    ASSERT_FALSE(m_form->ComPort1()->Connected());
    ClickLed();
    ASSERT_TRUE(m_form->ComPort1()->Connected());
    Write({0x1A, 0x32, 0x00});
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_form->Core().FrameCount() == 2; }, kPatienceMs));
    EXPECT_EQ(Control<QLineEdit>("Edit10")->text(), QStringLiteral("26"));
    EXPECT_EQ(Control<QLineEdit>("Edit2")->text(), QStringLiteral("50"));
}

TEST_F(HandFedPortTest, ABurstBeyondTheReceiveBufferArrivesWholeAndInOrder)
{
    // Sixty packets at once: far more than one receive event takes. No value byte is a sync byte.
    std::vector<std::uint8_t> burst;
    for (int i = 0; i < 60; ++i) {
        for (const std::uint8_t b : {0x35, 0x35, 0x35, 0x04, 0x11, 0x00, 0x00}) burst.push_back(b);
        burst.back() = static_cast<std::uint8_t>(0x40 + i);
    }
    ClickLed();
    Write(burst);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_form->Core().FrameCount() == 60; }, kPatienceMs));
    const QStringList lines = m_form->Memo1()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 60);
    for (int i = 0; i < 60; ++i)
        EXPECT_TRUE(lines[i].endsWith(QStringLiteral(":%1").arg(0x40 + i))) << lines[i].toStdString();
}

TEST_F(HandFedPortTest, OneReceiveEventFeedsExactlyOneBufferAndLeavesTheRestWaiting)
{
    ClickLed();
    std::vector<std::uint8_t> packets;
    for (int i = 0; i < 10; ++i)
        for (const std::uint8_t b : {0x35, 0x35, 0x35, 0x04, 0x11, 0x00, 0x40}) packets.push_back(b);
    Write(packets);
    // Without running the event loop, so that no receive event is delivered meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (m_form->ComPort1()->BytesWaiting() < 70)
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the bytes never reached the port";

    m_form->ComPort1RxChar(m_form->ComPort1(), 70);
    EXPECT_EQ(m_form->Core().FrameCount(), 4); // 33 bytes: four packets and the start of a fifth
    EXPECT_EQ(m_form->ComPort1()->BytesWaiting(), 37);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_form->Core().FrameCount() == 10; }, kPatienceMs));
}

TEST_F(HandFedPortTest, ChoosingAnotherSpeedAppliesItToTheOpenPort)
{
    ClickLed();
    auto* speed = m_form->ComComboBox2();
    const int index = speed->findText(QStringLiteral("9600"));
    ASSERT_GE(index, 0);
    speed->setCurrentIndex(index); // what a pick in the list does
    emit speed->activated(index);
    EXPECT_EQ(m_form->ComPort1()->BaudRate(), cport::br9600);
    EXPECT_TRUE(m_form->ComPort1()->Connected());
}

} // namespace

namespace {

TEST_F(HandFedPortTest, TheLastSuccessfulOpenIsRememberedAndPreselectedAtTheNextStartWhenListed)
{
    std::filesystem::remove(varmio::UserConfigPath());
    varmio::WriteUserConfig("NetRelays", "Relay1", "socket://127.0.0.1:2000"); // another part's section
    auto* speed = m_form->ComComboBox2();
    speed->setCurrentIndex(speed->findText(QStringLiteral("9600")));
    emit speed->activated(speed->currentIndex());
    ClickLed();
    ASSERT_TRUE(m_form->ComPort1()->Connected());
    ClickLed();

    const auto ini = varmio::ReadUserConfig();
    EXPECT_EQ(ini->ReadString("ComPort1", "Port", ""), m_published->Name());
    EXPECT_EQ(ini->ReadString("ComPort1", "BaudRate", ""), "9600");
    EXPECT_EQ(ini->ReadString("NetRelays", "Relay1", ""), "socket://127.0.0.1:2000") << "the rest of the file is kept";

    StartWithoutPreset(); // the next start
    EXPECT_EQ(m_form->ComComboBox1()->Text(), "");
    m_form->PresetRememberedPort();
    EXPECT_EQ(m_form->ComComboBox1()->Text(), m_published->Name());
    EXPECT_EQ(m_form->ComComboBox2()->Text(), "9600");
    EXPECT_EQ(m_form->ComPort1()->BaudRate(), cport::br9600);

    // Not listed any more: nothing is preselected, as without a remembered port.
    m_published.reset();
    StartWithoutPreset();
    m_form->PresetRememberedPort();
    EXPECT_EQ(m_form->ComComboBox1()->Text(), "");
    EXPECT_EQ(m_form->ComComboBox2()->Text(), "19200");
}

TEST_F(HandFedPortTest, ARememberedPortThatCannotBeUsedIsReportedOnStandardErrorAndIgnored)
{
    for (const char* speed : {"fast", "-5"}) {
        std::filesystem::remove(varmio::UserConfigPath());
        varmio::WriteUserConfig("ComPort1", "Port", m_published->Name());
        varmio::WriteUserConfig("ComPort1", "BaudRate", speed);
        testing::internal::CaptureStderr();
        m_form->PresetRememberedPort();
        const std::string warning = testing::internal::GetCapturedStderr();
        EXPECT_NE(warning.find(varmio::UserConfigPath().string()), std::string::npos) << speed << ": " << warning;
        EXPECT_EQ(m_form->ComComboBox2()->Text(), "19200") << speed;
    }
    std::filesystem::remove(varmio::UserConfigPath());
}

} // namespace
