// SPDX-License-Identifier: GPL-3.0-or-later
// Network relays in the window: File > "Síťový převodník…" asks for host, TCP port and kind; the relay
// is listed, selected, kept in the user's configuration file for the next window, and opened by the
// LED like any port (here the simulator's raw TCP bridge).

#include "FormFixture.h"
#include "ModalDriver.h"

#include "NetRelayDialog.h"
#include "cportctl/CPortCtl.h"
#include "varmio/NetRelays.h"
#include "support/NetTestSupport.h"
#include "varmio/relaysim/RelaySim.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr int kPatienceMs = 60'000;

class NetRelayTest : public FormTest {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(varmio::UserConfigPath().parent_path());
        FormTest::SetUp();
    }
    void TearDown() override
    {
        m_form.reset();
        std::filesystem::remove_all(varmio::UserConfigPath().parent_path());
    }
    void ClickLed() { QTest::mouseClick(m_form->ComLed1(), Qt::LeftButton, {}, QPoint(12, 12)); }
    static std::string ConfigText()
    {
        std::ifstream in(varmio::UserConfigPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

TEST_F(NetRelayTest, AnAddedRelayIsListedSelectedKeptForTheNextWindowAndOpensByTheLed)
{
    varmio::relaysim::RelayOptions options;
    options.TcpPort = 0;
    options.Speed = 60;
    options.Seed = 5;
    varmio::relaysim::RelaySimulator relay(options);
    relay.Start();
    const std::string name = relay.DevicePath(); // socket://127.0.0.1:PORT

    m_form->AddNetRelay(name);
    EXPECT_EQ(m_form->ComComboBox1()->Text(), name);
    EXPECT_EQ(m_form->ComPort1()->Port(), name);
    EXPECT_NE(ConfigText().find("[NetRelays]"), std::string::npos) << ConfigText();
    EXPECT_NE(ConfigText().find(name), std::string::npos) << ConfigText();
    m_form->AddNetRelay(name);
    const cportctl::TStrings& items = m_form->ComComboBox1()->Items();
    int listed = 0;
    for (std::int32_t i = 0; i < items.Count(); ++i) listed += items.Strings(i) == name;
    EXPECT_EQ(listed, 1);

    SetUp(); // a new window lists the relay from the start
    EXPECT_GE(m_form->ComComboBox1()->Items().IndexOfText(name), 0);
    m_form->ComComboBox1()->SetText(name);
    ClickLed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_form->ComPort1()->Connected(); }, kPatienceMs));
    EXPECT_EQ(m_form->ComLed1()->State(), cportctl::lsOn);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_form->Core().FrameCount() >= 50; }, kPatienceMs));
    // The window goes before the relay: a bridge that vanished under an open port would be told in
    // a modal box, which nobody dismisses here.
    m_form.reset();
}

TEST_F(NetRelayTest, ARelayThatDoesNotAnswerLeavesTheWindowRunningAndFailsAsAnOpenOnceTimedOutOrIsCancelledQuietly)
{
    varmio::test::UnansweringListener silent;
    ASSERT_TRUE(silent.Full());
    const std::string name = "socket://127.0.0.1:" + std::to_string(silent.Port());
    m_form->AddNetRelay(name);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    int ticksBeforeTheBox = 0;
    QString caption, timedOut, refused;
    bool waitPending = true;
    const auto waits = [&] { return m_form->findChildren<QProgressDialog*>(QStringLiteral("NetPortWait")); };
    ModalDriver driver({[&](QWidget* modal) {
                            ticksBeforeTheBox = ticks;
                            ModalDriver::ReadMessageBox(&caption, &timedOut)(modal);
                        },
                        [&](QWidget* modal) {
                            const auto* timer = waits().isEmpty() ? nullptr : waits().value(0)->findChild<QTimer*>();
                            waitPending = timer != nullptr && timer->isActive();
                            ModalDriver::ReadMessageBox(&caption, &refused)(modal);
                        }});

    ClickLed();
    ClickLed(); // while it waits: no second open
    EXPECT_EQ(waits().size(), 1);
    EXPECT_EQ(waits().value(0)->labelText(), QStringLiteral("Připojuji se k 127.0.0.1:%1…").arg(silent.Port()));
    EXPECT_EQ(m_form->cursor().shape(), Qt::BusyCursor);
    ASSERT_TRUE(QTest::qWaitFor([&] { return driver.Answered() == 1; }, kPatienceMs));
    EXPECT_GE(ticksBeforeTheBox, 5) << "the event loop ran while the relay was being reached";
    EXPECT_EQ(timedOut, QStringLiteral("Unable to open com port (Error: 110)\n%1: Connection timed out")
                            .arg(QString::fromStdString(name)));
    EXPECT_FALSE(m_form->ComPort1()->Connected());
    EXPECT_EQ(m_form->ComLed1()->State(), cportctl::lsOff);
    EXPECT_TRUE(QTest::qWaitFor([&] { return waits().isEmpty(); }, kPatienceMs));
    EXPECT_EQ(m_form->cursor().shape(), Qt::ArrowCursor);

    // A relay that refuses at once: its box, and nothing left to bring the wait dialog up over it.
    const std::string refusing = "socket://127.0.0.1:" + std::to_string(varmio::test::FreeLoopbackPort());
    m_form->AddNetRelay(refusing);
    ClickLed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return driver.Answered() == 2; }, kPatienceMs));
    EXPECT_TRUE(refused.endsWith(QStringLiteral(": Connection refused"))) << refused.toStdString();
    EXPECT_FALSE(waitPending);
    ASSERT_TRUE(QTest::qWaitFor([&] { return waits().isEmpty(); }, kPatienceMs));
    m_form->AddNetRelay(name);

    ClickLed();
    ASSERT_EQ(waits().size(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return waits().value(0)->isVisible(); }, kPatienceMs));
    auto* cancel = waits().value(0)->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), QStringLiteral("Zrušit"));
    cancel->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return waits().isEmpty(); }, kPatienceMs));
    EXPECT_EQ(m_form->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(m_form->ComPort1()->Connected());

    // Closing the window while it waits is no cancel to report.
    m_form->show();
    ClickLed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !waits().isEmpty() && waits().value(0)->isVisible(); }, kPatienceMs));
    m_form->close();
    EXPECT_TRUE(waits().isEmpty() || !waits().value(0)->isVisible());
    EXPECT_EQ(driver.Answered(), 2) << "neither a cancel nor a close is reported as an error";
    EXPECT_FALSE(m_form->ComPort1()->Connected());
}

TEST_F(NetRelayTest, TheDialogGivesTheRelaysNameAndKeepsABadHostWithAMessage)
{
    varmio::NetRelayDialog dialog(m_form.get());
    EXPECT_EQ(dialog.PortEdit()->value(), 2217);
    dialog.HostEdit()->setText(QStringLiteral(" [::1] "));
    dialog.accept();
    ASSERT_TRUE(dialog.Address());
    EXPECT_EQ(cport::NetPortName(*dialog.Address()), "rfc2217://[::1]:2217");

    varmio::NetRelayDialog raw(m_form.get());
    raw.HostEdit()->setText(QStringLiteral("kotelna box"));
    raw.PortEdit()->setValue(4001);
    raw.KindBox()->setCurrentIndex(cport::npRaw);
    raw.accept();
    EXPECT_FALSE(raw.Address());
    auto* message = raw.findChild<QMessageBox*>();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text(), QStringLiteral("„kotelna box“ není název počítače ani adresa IP."));
    message->close();
    raw.HostEdit()->setText(QStringLiteral("kotelna.local"));
    raw.accept();
    ASSERT_TRUE(raw.Address());
    EXPECT_EQ(cport::NetPortName(*raw.Address()), "socket://kotelna.local:4001");
}

} // namespace
