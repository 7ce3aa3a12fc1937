// SPDX-License-Identifier: GPL-3.0-or-later
#include "cportctl/ComLed.h"

#include "cport/Errors.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <array>

// The glyph resources live in this static library; referring to their initialiser keeps the linker
// from dropping them. Q_INIT_RESOURCE must be used outside any namespace; registering twice is harmless
// but done once.
static void InitGlyphResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(glyphs);
        return true;
    }();
    (void)registered;
}

namespace cportctl {

using namespace cport;

namespace {

struct KindGlyphs {
    const char* On;
    const char* Off;
};
// Indexed by TLedKind; lkCustom has no resources.
constexpr std::array<KindGlyphs, 7> kKindGlyphs = {{
    {"LEDREDON", "LEDREDOFF"},
    {"LEDGREENON", "LEDGREENOFF"},
    {"LEDBLUEON", "LEDBLUEOFF"},
    {"LEDYELLOWON", "LEDYELLOWOFF"},
    {"LEDPURPLEON", "LEDPURPLEOFF"},
    {"LEDBULBON", "LEDBULBOFF"},
    {nullptr, nullptr},
}};

} // namespace

QImage LoadGlyphResource(const char* name)
{
    InitGlyphResources();
    if (name == nullptr) return {};
    return QImage(QStringLiteral(":/glyphs/%1.bmp").arg(QLatin1StringView(name)));
}

const char* LedGlyphName(TLedKind Kind, TLedState State)
{
    if (Kind >= kKindGlyphs.size()) return nullptr;
    return State == lsOn ? kKindGlyphs[Kind].On : kKindGlyphs[Kind].Off;
}

// ---- Glyphs ------------------------------------------------------------------------------------------

void TComLed::Glyph::Set(const QImage& image)
{
    Image = image;
    if (image.isNull()) {
        Drawable = QImage();
        return;
    }
    // The transparent colour is the bottom-left pixel's.
    QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = argb.pixel(0, argb.height() - 1);
    for (int y = 0; y < argb.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
        std::replace(line, line + argb.width(), transparent, QRgb{0});
    }
    Drawable = argb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void TComLed::LoadKindGlyphs(TLedKind kind)
{
    if (kind == lkCustom) return;
    m_glyphs[lsOn].Set(LoadGlyphResource(LedGlyphName(kind, lsOn)));
    m_glyphs[lsOff].Set(LoadGlyphResource(LedGlyphName(kind, lsOff)));
}

void TComLed::EnsureGlyphs()
{
    if (m_glyphs[lsOn].Image.isNull() || m_glyphs[lsOff].Image.isNull()) LoadKindGlyphs(m_kind);
}

void TComLed::SetKind(TLedKind value)
{
    if (value == m_kind) return;
    m_kind = value;
    LoadKindGlyphs(value); // lkCustom keeps the glyphs last loaded until pictures are given
    update();
}

void TComLed::SetGlyph(TLedState which, const QImage& image)
{
    if (m_kind != lkCustom) return;
    m_glyphs[which].Set(image);
    update();
}

const QImage& TComLed::GlyphToDraw() const { return m_glyphs[isEnabled() ? m_state : lsOff].Image; }

QPoint TComLed::GlyphPosition() const
{
    const QSize glyph = GlyphToDraw().size();
    const QRect client = rect();
    return {client.left() + std::max(0, (client.width() - glyph.width()) / 2),
            client.top() + std::max(0, (client.height() - glyph.height()) / 2)};
}

void TComLed::paintEvent(QPaintEvent*)
{
    EnsureGlyphs();
    const QImage& drawable = m_glyphs[isEnabled() ? m_state : lsOff].Drawable;
    if (drawable.isNull()) return;
    QPainter painter(this); // clips to the control
    painter.drawImage(GlyphPosition(), drawable);
}

void TComLed::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

// ---- Mouse -------------------------------------------------------------------------------------------

void TComLed::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) m_pressed = true;
    QWidget::mousePressEvent(event);
}

void TComLed::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = event->button() == Qt::LeftButton && m_pressed && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton) m_pressed = false;
    QWidget::mouseReleaseEvent(event);
    if (!click) return;
    try {
        FireClick(); // may destroy this LED: nothing of it is touched afterwards
    } catch (...) {
        HandleCurrentException(this);
    }
}

void TComLed::mouseDoubleClickEvent(QMouseEvent* event)
{
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) return;
    try {
        FireDblClick();
    } catch (...) {
        HandleCurrentException(this);
    }
}

void TComLed::FireClick()
{
    if (m_onClick) m_onClick(this);
}

void TComLed::FireDblClick()
{
    if (m_onDblClick) m_onDblClick(this);
}

// ---- Construction ------------------------------------------------------------------------------------

TComLed::TComLed(QWidget* parent) : QWidget(parent), m_ledLink(std::make_shared<TComLink>())
{
    InitGlyphResources(); // so that ":/glyphs/..." paths work for whoever made an LED
    resize(25, 25);
    PlaceLinkCallback();
    m_ringHoldTimer = new QTimer(this); // owned by this widget
    m_ringHoldTimer->setObjectName(QStringLiteral("RingHoldTimer"));
    m_ringHoldTimer->setTimerType(Qt::PreciseTimer); // a ring is held no shorter than RingDuration
    connect(m_ringHoldTimer, &QTimer::timeout, this, &TComLed::RingTimeElapsed);
}

TComLed::~TComLed()
{
    StopRingHold();
    try {
        SetComPort(nullptr);
    } catch (...) {
        HandleCurrentException(this);
    }
}

// ---- State -------------------------------------------------------------------------------------------

void TComLed::ChangeState(TLedState value)
{
    m_state = value;
    if (!Loading()) FireChange(value);
    update();
}

void TComLed::FireChange(TLedState AState)
{
    if (m_onChange) m_onChange(this, AState);
}

void TComLed::SetState(TLedState value)
{
    // Raised here, not through the port's error report: the port's OnException never sees it.
    if (m_comPort != nullptr) throw EComPort(ComErrorCode(CE_LedStateFailed));
    ChangeState(value);
}

bool TComLed::QuerySignal()
{
    if (m_comPort == nullptr) return false;
    switch (m_ledSignal) {
    case lsConn: return m_comPort->Connected();
    case lsCTS: return m_comPort->ModemSignals().Contains(msCTS);
    case lsDSR: return m_comPort->ModemSignals().Contains(msDSR);
    case lsRLSD: return m_comPort->ModemSignals().Contains(msRLSD);
    case lsRing:
    case lsRx:
    case lsTx: return false;
    }
    return false;
}

// ---- Port and link -----------------------------------------------------------------------------------

void TComLed::SetComPort(TComPort* value)
{
    if (value == m_comPort) return;
    if (m_comPort != nullptr) m_comPort->DetachLink(m_ledLink.get());
    m_comPort = value;
    m_portComponent = value;
    if (value == nullptr) {
        ChangeState(lsOff);
        return;
    }
    value->FreeNotification(this);
    value->AttachLink(m_ledLink.get());
    if (value->Connected() && !Designing() && !Loading()) ChangeState(QuerySignal() ? lsOn : lsOff);
}

void TComLed::Notification(TComponent* AComponent, TOperation Operation)
{
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent != nullptr && AComponent == m_portComponent) SetComPort(nullptr);
}

void TComLed::SetLedSignal(TComLedSignal value)
{
    if (value == m_ledSignal) return;
    m_ledSignal = value;
    PlaceLinkCallback();
}

void TComLed::PlaceLinkCallback()
{
    TComLink& link = *m_ledLink;
    link.SetOnLinkConn({});
    link.SetOnLinkCTS({});
    link.SetOnLinkDSR({});
    link.SetOnLinkRLSD({});
    link.SetOnLinkRing({});
    link.SetOnLinkTx({});
    link.SetOnLinkRx({});
    const auto signal = [this](TObject* sender, bool onOff) { LinkSignalReceived(sender, onOff); };
    switch (m_ledSignal) {
    case lsConn: link.SetOnLinkConn(signal); break;
    case lsCTS: link.SetOnLinkCTS(signal); break;
    case lsDSR: link.SetOnLinkDSR(signal); break;
    case lsRLSD: link.SetOnLinkRLSD(signal); break;
    case lsRing: link.SetOnLinkRing([this](TObject* sender) { LinkRingReceived(sender); }); break;
    case lsRx: link.SetOnLinkRx(signal); break;
    case lsTx: link.SetOnLinkTx(signal); break;
    }
}

void TComLed::LinkSignalReceived(TObject*, bool OnOff)
{
    // Pending events may destroy this LED (a click that closes the window, say). The link, whose
    // callback is running now, is kept alive until the callback returns; nothing of the LED is
    // touched after the events have run.
    const std::shared_ptr<TComLink> keepLink = m_ledLink;
    ChangeState(OnOff ? lsOn : lsOff);
    QCoreApplication::processEvents();
}

// ---- Ring --------------------------------------------------------------------------------------------

void TComLed::LinkRingReceived(TObject*)
{
    StartRingHold();
    ChangeState(lsOn);
}

void TComLed::RingTimeElapsed()
{
    StopRingHold();
    ChangeState(lsOff);
}

void TComLed::StartRingHold()
{
    // A hold already under way is not restarted: a second ring does not lengthen it.
    if (m_ringHoldEnabled) return;
    m_ringHoldEnabled = true;
    if (m_ringDuration > 0) m_ringHoldTimer->start(m_ringDuration);
}

void TComLed::StopRingHold()
{
    m_ringHoldEnabled = false;
    m_ringHoldTimer->stop();
}

void TComLed::SetRingDuration(std::int32_t value)
{
    if (value == m_ringDuration) return;
    m_ringDuration = value;
    // A hold under way starts counting the new duration afresh; without a positive one it never ends.
    if (!m_ringHoldEnabled) return;
    m_ringHoldTimer->stop();
    if (value > 0) m_ringHoldTimer->start(value);
}

} // namespace cportctl
