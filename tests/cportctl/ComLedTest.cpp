// SPDX-License-Identifier: GPL-3.0-or-later
// The signal LED: state and OnChange, following a port through its link, the ring hold, glyphs and
// painting, removal of the port, loading, and events processed inside a link notice.
#include "cportctl/ComLed.h"

#include "cport/Errors.h"

#include "ControlTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <memory>
#include <vector>

namespace cportctl::test {
namespace {

using namespace cport;

const QColor kBackdrop(1, 2, 3); // what the LED's parent shows where the LED draws nothing
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kMaroon = qRgb(128, 0, 0);
const QRgb kLime = qRgb(0, 255, 0);

// The LED as its parent would show it, one image pixel per screen pixel.
QImage Render(TComLed& led)
{
    QImage image(led.size(), QImage::Format_ARGB32);
    image.fill(kBackdrop);
    led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// A picture whose bottom-left pixel (the transparent colour) is blue, with a one-pixel frame of
// `frame` and `fill` inside.
QImage Picture(int width, int height, QColor frame, QColor fill)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    QPainter painter(&image);
    painter.setPen(frame);
    painter.drawRect(0, 0, width - 1, height - 1);
    painter.end();
    image.setPixel(0, height - 1, qRgb(0, 0, 255));
    return image;
}

// Records every OnChange of an LED.
struct ChangeLog {
    explicit ChangeLog(TComLed& led)
    {
        led.SetOnChange([this, &led](TObject* sender, TLedState state) {
            EXPECT_EQ(sender, static_cast<TObject*>(&led));
            states.push_back(state);
        });
    }
    std::vector<TLedState> states;
};

void Click(QWidget& widget)
{
    const QPointF at(widget.width() / 2.0, widget.height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
    QApplication::sendEvent(&widget, &release);
}

class ComLedTest : public FakePortTest {
protected:
    ComLedTest() : led(std::make_unique<TComLed>()), log(*led) {}
    void TearDown() override
    {
        led.reset();
        FakePortTest::TearDown();
    }
    // The LED's own hold timer.
    QTimer& RingTimer() { return *led->findChild<QTimer*>(QStringLiteral("RingHoldTimer")); }

    std::unique_ptr<TComLed> led;
    ChangeLog log;
};

// ---- State -------------------------------------------------------------------------------------------

TEST_F(ComLedTest, StartsOffAsARedLampFollowingTheConnection)
{
    EXPECT_EQ(led->size(), QSize(25, 25));
    EXPECT_EQ(led->State(), lsOff);
    EXPECT_EQ(led->LedSignal(), lsConn);
    EXPECT_EQ(led->Kind(), lkRedLight);
    EXPECT_EQ(led->RingDuration(), 1000);
    EXPECT_EQ(led->ComPort(), nullptr);
    EXPECT_TRUE(led->GlyphOn().isNull()); // a built-in kind loads its glyphs at the first paint
    EXPECT_TRUE(led->GlyphOff().isNull());
    const TComLink& link = led->LedLink();
    EXPECT_TRUE(link.OnLinkConn());
    EXPECT_FALSE(link.OnLinkCTS() || link.OnLinkDSR() || link.OnLinkRLSD() || link.OnLinkRing() || link.OnLinkRx() ||
                 link.OnLinkTx() || link.OnLinkRxBuf() || link.OnLinkTxBuf() || link.OnLinkTxEmpty() ||
                 link.OnLinkRxFlag());
}

TEST_F(ComLedTest, WithoutAPortStateIsSetAndFiresEveryTime)
{
    led->SetState(lsOn);
    led->SetState(lsOn);
    led->SetState(lsOff);
    EXPECT_EQ(led->State(), lsOff);
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOn, lsOn, lsOff}));
}

TEST_F(ComLedTest, StateCannotBeSetWhileAPortIsBound)
{
    bool portReported = false;
    port->SetOnException(
        [&](TObject*, TComExceptions, const std::string&, std::int64_t, const std::string&) { portReported = true; });
    led->SetComPort(port.get());
    try {
        led->SetState(lsOn);
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), ComErrorCode(CE_LedStateFailed));
        EXPECT_EQ(e.WinErrorCode(), -1);
        EXPECT_STREQ(e.what(), "Cannot change led state if ComPort is selected");
    }
    EXPECT_FALSE(portReported); // raised by the LED itself, not reported through the port
    EXPECT_EQ(led->State(), lsOff);
    EXPECT_TRUE(log.states.empty());
}

// ---- Following a port --------------------------------------------------------------------------------

TEST_F(ComLedTest, FollowsThePortOpeningAndClosingFiringEachTime)
{
    led->SetComPort(port.get());
    EXPECT_EQ(led->State(), lsOff);
    EXPECT_TRUE(log.states.empty()); // a closed port leaves the state alone
    port->OpenPort();
    EXPECT_EQ(led->State(), lsOn);
    port->ClosePort();
    EXPECT_EQ(led->State(), lsOff);
    port->OpenPort();
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOn, lsOff, lsOn}));
}

TEST_F(ComLedTest, BindingAnOpenPortReadsTheSignalAtOnce)
{
    port->OpenPort();
    led->SetComPort(port.get());
    EXPECT_EQ(led->State(), lsOn);
    for (TComLedSignal signal : {lsRing, lsRx, lsTx}) {
        led->SetComPort(nullptr);
        led->SetLedSignal(signal);
        led->SetState(lsOn);
        led->SetComPort(port.get());
        EXPECT_EQ(led->State(), lsOff) << int(signal);
    }
    led->SetComPort(nullptr);
    led->SetLedSignal(lsCTS);
    fake->SetModemStatus(device::MS_CTS_ON);
    led->SetComPort(port.get());
    EXPECT_EQ(led->State(), lsOn);
}

TEST_F(ComLedTest, AFailedLineReadWhileBindingLeavesThePortBoundAndLinked)
{
    port->OpenPort();
    led->SetLedSignal(lsCTS);
    fake->FailCall(FakeDevice::opGetCommModemStatus, 5);
    try {
        led->SetComPort(port.get());
        FAIL() << "the failed read was swallowed";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), ComErrorCode(CE_ModemStatFailed));
    }
    EXPECT_EQ(led->ComPort(), port.get());
    fake->SetModemStatus(device::MS_CTS_ON);
    led->SetLedSignal(lsConn);
    port->ClosePort(); // the link is registered: the LED hears the close
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOff}));
}

TEST_F(ComLedTest, BindingAClosedPortKeepsTheState)
{
    led->SetState(lsOn);
    led->SetComPort(port.get());
    EXPECT_EQ(led->State(), lsOn);
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOn}));
}

TEST_F(ComLedTest, UnbindingTurnsTheLedOffAndFires)
{
    port->OpenPort();
    led->SetComPort(port.get());
    led->SetComPort(nullptr);
    EXPECT_EQ(led->State(), lsOff);
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOn, lsOff}));
    port->ClosePort(); // the link is gone: no notice reaches the LED
    port->OpenPort();
    EXPECT_EQ(log.states.size(), 2u);
}

TEST_F(ComLedTest, RebindingMovesTheLinkToTheNewPort)
{
    auto other = std::make_unique<TComPort>(FakeDevice::FactoryFor(std::make_shared<FakeDevice>()));
    other->SetEvents({});
    led->SetComPort(port.get());
    led->SetComPort(other.get());
    port->OpenPort();
    EXPECT_EQ(led->State(), lsOff);
    other->OpenPort();
    EXPECT_EQ(led->State(), lsOn);
    led->SetComPort(other.get()); // the port already bound: nothing happens (a second attach would fail)
    led->SetComPort(nullptr);
}

TEST_F(ComLedTest, ChangingTheSignalMovesTheCallbackAndKeepsTheState)
{
    port->OpenPort();
    led->SetComPort(port.get());
    ASSERT_EQ(led->State(), lsOn);
    led->SetLedSignal(lsCTS);
    EXPECT_EQ(led->State(), lsOn); // until the next CTS notice
    EXPECT_FALSE(led->LedLink().OnLinkConn());
    EXPECT_TRUE(led->LedLink().OnLinkCTS());
    port->ClosePort(); // CTS is reported off before the port closes
    EXPECT_EQ(led->State(), lsOff);
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOn, lsOff}));
}

TEST_F(ComLedTest, EachSignalHasItsOwnLinkSlot)
{
    struct Slot {
        TComLedSignal signal;
        bool (*assigned)(const TComLink&);
    };
    const Slot kSlots[] = {
        {lsConn, [](const TComLink& l) { return bool(l.OnLinkConn()); }},
        {lsCTS, [](const TComLink& l) { return bool(l.OnLinkCTS()); }},
        {lsDSR, [](const TComLink& l) { return bool(l.OnLinkDSR()); }},
        {lsRLSD, [](const TComLink& l) { return bool(l.OnLinkRLSD()); }},
        {lsRing, [](const TComLink& l) { return bool(l.OnLinkRing()); }},
        {lsRx, [](const TComLink& l) { return bool(l.OnLinkRx()); }},
        {lsTx, [](const TComLink& l) { return bool(l.OnLinkTx()); }},
    };
    for (const Slot& chosen : kSlots) {
        led->SetLedSignal(chosen.signal);
        for (const Slot& other : kSlots)
            EXPECT_EQ(other.assigned(led->LedLink()), other.signal == chosen.signal)
                << int(chosen.signal) << " " << int(other.signal);
    }
}

TEST_F(ComLedTest, FollowsALineThroughThePortsEventThread)
{
    port->SetEvents({evCTS, evDSR});
    led->SetLedSignal(lsDSR);
    led->SetComPort(port.get());
    port->OpenPort();
    EXPECT_EQ(led->State(), lsOff); // the level reported after opening
    fake->SetModemStatus(device::MS_DSR_ON);
    EXPECT_TRUE(WaitFor([&] { return led->State() == lsOn; }));
    fake->SetModemStatus(device::MS_CTS_ON); // another line: no DSR notice
    fake->SetModemStatus(0);
    EXPECT_TRUE(WaitFor([&] { return led->State() == lsOff; }));
    port->ClosePort();
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOff, lsOn, lsOff, lsOff}));
}

TEST_F(ComLedTest, TheTransmitLedLightsAsAWriteStartsAndGoesOutWithTheEmptyQueue)
{
    port->SetEvents({evTxEmpty});
    led->SetLedSignal(lsTx);
    led->SetComPort(port.get());
    port->OpenPort();
    fake->SetWriteLimit(0); // nothing goes out: no empty-queue event follows
    port->SetOnException([](TObject*, TComExceptions, const std::string&, std::int64_t, const std::string&) {});
    port->WriteStr("held");
    EXPECT_EQ(led->State(), lsOn);
    fake->SetWriteLimit(SIZE_MAX);
    port->WriteStr("sent");
    EXPECT_TRUE(WaitFor([&] { return led->State() == lsOff; }));
    port->ClosePort();
}

TEST_F(ComLedTest, DestroyingTheBoundPortTurnsTheLedOff)
{
    port->OpenPort();
    led->SetComPort(port.get());
    port.reset();
    EXPECT_EQ(led->ComPort(), nullptr);
    EXPECT_EQ(led->State(), lsOff);
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOn, lsOff, lsOff})); // closed, then unbound
    led->SetState(lsOn);                                                 // no port any more
    EXPECT_EQ(led->State(), lsOn);
}

TEST_F(ComLedTest, DestroyingTheLedDetachesItsLinkAndFiresOff)
{
    // A notice reaching the destroyed LED would be a use of freed memory (AddressSanitizer reports it).
    std::vector<TLedState> last;
    led->SetOnChange([&](TObject*, TLedState state) { last.push_back(state); });
    led->SetComPort(port.get());
    led.reset();
    EXPECT_EQ(last, (std::vector<TLedState>{lsOff}));
    port->OpenPort();
    port->ClosePort();
    EXPECT_EQ(last.size(), 1u);
}

// ---- Ring --------------------------------------------------------------------------------------------

TEST_F(ComLedTest, ARingHoldsTheLedOnForRingDurationFromTheFirstRing)
{
    constexpr int kHold = 300;
    led->SetLedSignal(lsRing);
    led->SetRingDuration(kHold);
    led->SetComPort(port.get());
    QElapsedTimer sinceFirstRing;
    sinceFirstRing.start();
    led->LedLink().OnLinkRing()(port.get());
    EXPECT_EQ(led->State(), lsOn);
    ASSERT_TRUE(RingTimer().isActive());
    // A second ring while the hold runs does not start it again.
    ASSERT_TRUE(WaitFor([&] { return RingTimer().remainingTime() <= kHold / 2; }));
    led->LedLink().OnLinkRing()(port.get());
    EXPECT_LE(RingTimer().remainingTime(), kHold / 2);
    EXPECT_TRUE(WaitFor([&] { return led->State() == lsOff; }));
    EXPECT_GE(sinceFirstRing.elapsed(), kHold);
    EXPECT_FALSE(RingTimer().isActive());
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOn, lsOn, lsOff}));
}

TEST_F(ComLedTest, ARingDurationOfZeroHoldsUntilAPositiveDurationIsGiven)
{
    led->SetLedSignal(lsRing);
    led->SetRingDuration(0);
    led->SetComPort(port.get());
    led->LedLink().OnLinkRing()(port.get());
    QCoreApplication::processEvents();
    EXPECT_EQ(led->State(), lsOn);
    EXPECT_FALSE(RingTimer().isActive());
    led->SetRingDuration(20);
    EXPECT_TRUE(RingTimer().isActive());
    EXPECT_TRUE(WaitFor([&] { return led->State() == lsOff; }));
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOn, lsOff}));
}

TEST_F(ComLedTest, AHeldRingEndsWhenThePortIsUnbound)
{
    led->SetLedSignal(lsRing);
    led->SetRingDuration(0);
    led->SetComPort(port.get());
    led->LedLink().OnLinkRing()(port.get());
    led->SetComPort(nullptr);
    EXPECT_EQ(led->State(), lsOff);
}

TEST_F(ComLedTest, ARingFromTheLineLightsTheLed)
{
    port->SetEvents({evRing});
    led->SetLedSignal(lsRing);
    led->SetRingDuration(50);
    led->SetComPort(port.get());
    port->OpenPort();
    fake->SetModemStatus(device::MS_RING_ON);
    EXPECT_TRUE(WaitFor([&] { return !log.states.empty(); }));
    EXPECT_EQ(log.states.front(), lsOn);
    EXPECT_TRUE(WaitFor([&] { return led->State() == lsOff; }));
    port->ClosePort();
}

// ---- Glyphs and painting -----------------------------------------------------------------------------

TEST_F(ComLedTest, PaintsTheBuiltInGlyphCentredWithItsBackgroundTransparent)
{
    QImage image = Render(*led);
    ASSERT_EQ(led->GlyphOff().size(), QSize(15, 15));
    EXPECT_EQ(image.pixel(12, 12), kMaroon);         // the lamp's middle, drawn at (5, 5)
    EXPECT_EQ(image.pixel(5, 19), kBackdrop.rgb());  // the glyph's olive corner
    EXPECT_EQ(image.pixel(4, 12), kBackdrop.rgb());  // left of the glyph
    EXPECT_EQ(image.pixel(12, 20), kBackdrop.rgb()); // below it
    led->SetState(lsOn);
    image = Render(*led);
    EXPECT_EQ(image.pixel(12, 12), kRed);
}

TEST_F(ComLedTest, ChangingKindLoadsItsGlyphs)
{
    led->SetKind(lkGreenLight);
    ASSERT_FALSE(led->GlyphOn().isNull());
    EXPECT_EQ(led->GlyphOn().pixel(7, 7), kLime);
    led->SetKind(lkCustom); // keeps the glyphs last loaded until pictures are given
    EXPECT_EQ(led->GlyphOn().pixel(7, 7), kLime);
    led->SetState(lsOn);
    EXPECT_EQ(Render(*led).pixel(12, 12), kLime);
}

TEST_F(ComLedTest, AnLedDisabledDrawsItsOffGlyphCentredByItsOwnSize)
{
    led->SetKind(lkCustom);
    led->SetGlyphOn(Picture(21, 21, Qt::green, Qt::green));
    led->SetGlyphOff(Picture(11, 11, Qt::black, Qt::red));
    led->SetState(lsOn);
    EXPECT_EQ(Render(*led).pixel(2, 2), qRgb(0, 255, 0));
    led->setEnabled(false);
    const QImage image = Render(*led);
    EXPECT_EQ(image.pixel(7, 7), qRgb(0, 0, 0)); // the off glyph's corner: (25 - 11) / 2 = 7
    EXPECT_EQ(image.pixel(12, 12), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(6, 7), kBackdrop.rgb());
    EXPECT_EQ(image.pixel(7, 17), kBackdrop.rgb()); // the bottom-left pixel is transparent
    EXPECT_EQ(led->State(), lsOn);
}

TEST_F(ComLedTest, AGlyphLargerThanTheLedIsDrawnFromItsCornerAndClipped)
{
    led->SetKind(lkCustom);
    QImage big = Picture(40, 30, Qt::black, Qt::white);
    big.setPixel(24, 24, qRgb(255, 0, 0));
    led->SetGlyphOff(big);
    const QImage image = Render(*led);
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(24, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(1, 1), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(24, 24), qRgb(255, 0, 0));
}

TEST_F(ComLedTest, EveryPixelOfTheBottomLeftColourIsTransparent)
{
    led->SetKind(lkCustom);
    QImage picture = Picture(25, 25, Qt::blue, Qt::white); // the frame is the bottom-left colour
    led->SetGlyphOff(picture);
    const QImage image = Render(*led);
    EXPECT_EQ(image.pixel(0, 0), kBackdrop.rgb());
    EXPECT_EQ(image.pixel(24, 10), kBackdrop.rgb());
    EXPECT_EQ(image.pixel(1, 1), qRgb(255, 255, 255));
    EXPECT_EQ(led->GlyphOff(), picture); // the LED's copy is the picture as given
}

TEST_F(ComLedTest, GivenPicturesAreIgnoredUntilTheKindIsCustom)
{
    const QImage picture = Picture(10, 10, Qt::black, Qt::yellow);
    led->SetGlyphOn(picture);
    EXPECT_TRUE(led->GlyphOn().isNull());
    led->SetKind(lkCustom);
    led->SetGlyphOn(picture);
    EXPECT_EQ(led->GlyphOn(), picture);
    led->SetKind(lkBulb);
    EXPECT_NE(led->GlyphOn(), picture);
    EXPECT_EQ(led->GlyphOn().size(), QSize(15, 15));
}

TEST_F(ComLedTest, ACustomLedWithoutPicturesDrawsNothing)
{
    led->SetKind(lkCustom);
    const QImage image = Render(*led);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ASSERT_EQ(image.pixel(x, y), kBackdrop.rgb()) << x << "," << y;
}

// ---- Loading -----------------------------------------------------------------------------------------

TEST_F(ComLedTest, WhileLoadingNoChangeFiresAndABoundPortIsNotRead)
{
    port->OpenPort();
    TComponent::LoadGroup({led.get()}, [&] {
        led->SetLedSignal(lsConn);
        led->SetKind(lkGreenLight);
        led->SetState(lsOn);
        led->SetComPort(port.get()); // a port stored later in the form is resolved last
    });
    EXPECT_EQ(led->State(), lsOn); // stored, without OnChange, and the open port was not asked
    EXPECT_TRUE(log.states.empty());
    port->ClosePort();
    EXPECT_EQ(log.states, (std::vector<TLedState>{lsOff}));
}

// ---- Events processed inside a notice ----------------------------------------------------------------

TEST_F(ComLedTest, AClickThatClosesThePortWhileItOpensLeavesBothClosed)
{
    led->SetComPort(port.get());
    led->SetOnClick([&](TObject*) {
        if (port->Connected()) port->ClosePort();
        else port->OpenPort();
    });
    // The click waits in the queue; the LED lets it run while the port tells it that it opened.
    QCoreApplication::postEvent(led.get(), new QMouseEvent(QEvent::MouseButtonPress, QPointF(12, 12), QPointF(12, 12),
                                                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(led.get(), new QMouseEvent(QEvent::MouseButtonRelease, QPointF(12, 12), QPointF(12, 12),
                                                           Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    try {
        port->OpenPort();
    } catch (const EComPort&) {
        // The rest of the open found the port closed: an error box at worst.
    }
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(led->State(), lsOff);
    ASSERT_GE(log.states.size(), 2u);
    EXPECT_EQ(log.states[0], lsOn);
    EXPECT_EQ(log.states.back(), lsOff);
    Click(*led); // the next click opens it again
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(led->State(), lsOn);
}

TEST_F(ComLedTest, AnLedDestroyedByAnEventRunInsideItsNoticeIsLeftAlone)
{
    led->SetComPort(port.get());
    QTimer::singleShot(0, QCoreApplication::instance(), [&] { led.reset(); });
    port->OpenPort();
    EXPECT_EQ(led, nullptr);
    EXPECT_TRUE(port->Connected());
    port->ClosePort();
}

TEST_F(ComLedTest, AClickHandlerErrorReachesTheApplication)
{
    ApplicationErrors errors;
    int clicks = 0;
    led->SetOnClick([&](TObject* sender) {
        EXPECT_EQ(sender, static_cast<TObject*>(led.get()));
        ++clicks;
        throw EComPort(ComErrorCode(CE_OpenFailed), 2);
    });
    Click(*led);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(errors.messages, (std::vector<std::string>{"Unable to open com port (Error: 2)"}));
}

} // namespace
} // namespace cportctl::test
