// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small painted lamp that shows one signal of a port: whether it is open, the CTS, DSR or RLSD line,
// a ring, or receive or transmit activity. It learns of changes through a TComLink it registers with
// the port. Without a port it is a plain two-state lamp whose state the application sets.
//
// The LED is a QWidget (owned by its Qt parent, painting on the parent's background) and a component:
// it asks its port for a removal notice, so a port destroyed first is forgotten (the LED goes off),
// and an LED destroyed first detaches its link and leaves the port's notification list.
//
// Glyphs: six built-in pairs, loaded by name from the program's resources (":/glyphs/LEDREDON.bmp"
// and so on), or a pair of pictures the application gives. A glyph's transparent colour is the colour
// of its bottom-left pixel.
//
// Threads: main thread only. The link callbacks repaint and process pending events, so the port must
// deliver its notices on the main thread (SyncMethod smThreadSync or smWindowSync).

#include "cport/ComPort.h"
#include "cport/Framework.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

namespace cportctl {

// The line signal an LED follows: the connection, a modem input line, a ring, receive or transmit activity.
enum TComLedSignal : std::uint8_t { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
// The LED's look: a built-in glyph pair, or the LED's own glyphs (lkCustom).
enum TLedKind : std::uint8_t { lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb, lkCustom };
// Off or on.
enum TLedState : std::uint8_t { lsOff, lsOn };

// The handler of OnChange: the new state.
using TLedStateEvent = std::function<void(cport::TObject* Sender, TLedState AState)>;

// The resource names of a built-in kind's glyphs ("LEDREDON", "LEDREDOFF"); null for lkCustom.
const char* LedGlyphName(TLedKind Kind, TLedState State);
// A glyph bitmap of the program's resources by name: the twelve built-in ones, and the monitor window's
// own pair "OKON" (a green disc with "OK") and "OKOFF" (a red disc), both 20 x 20 on white. A null
// image when there is no such glyph. The resources (":/glyphs/NAME.bmp") are registered by the first
// call of this, or the first LED made, whichever comes first.
QImage LoadGlyphResource(const char* name);

// A lamp that shows one signal of a bound port (LedSignal), or a state the program sets when no port is bound.
class TComLed : public QWidget, public cport::TComponent {
    Q_OBJECT

public:
    // 25 x 25, lsConn, lkRedLight, off, no glyphs yet (a built-in kind loads its pair at the first
    // paint), ring hold 1000 ms.
    explicit TComLed(QWidget* parent = nullptr);
    // Unbinds the port as writing null to ComPort does (the LED goes off and OnChange fires).
    ~TComLed() override;
    const char* ClassName() const override { return "TComLed"; }

    // The bound port; not owned. Binding detaches the link from the previous port and attaches it to
    // the new one (which is asked for a removal notice); an open port's signal is read at once (unless
    // loading), a closed port leaves the state as it is. Null turns the LED off. Throws the port's
    // EComPort (CE_ModemStatFailed when the line state cannot be read; the port stays bound).
    cport::TComPort* ComPort() const { return m_comPort; }
    void SetComPort(cport::TComPort* value);
    // The signal shown. A change only moves the link callback: the LED keeps its state until the next
    // notice of the new signal.
    TComLedSignal LedSignal() const { return m_ledSignal; }
    void SetLedSignal(TComLedSignal value);
    // The look; a built-in kind loads its glyph pair at the next paint.
    TLedKind Kind() const { return m_kind; }
    void SetKind(TLedKind value);
    // The LED's own glyphs. Writing is ignored unless Kind is lkCustom; the LED keeps a copy.
    // The glyph shown while on.
    const QImage& GlyphOn() const { return m_glyphs[lsOn].Image; }
    void SetGlyphOn(const QImage& value) { SetGlyph(lsOn, value); }
    // The glyph shown while off.
    const QImage& GlyphOff() const { return m_glyphs[lsOff].Image; }
    void SetGlyphOff(const QImage& value) { SetGlyph(lsOff, value); }
    // Throws EComPort (CE_LedStateFailed, "Cannot change led state if ComPort is selected") while a port
    // is bound, leaving the state unchanged; otherwise sets it and fires OnChange, also when unchanged.
    TLedState State() const { return m_state; }
    void SetState(TLedState value);
    // How long a ring keeps the LED on, in milliseconds. With 0 (or less) a ring keeps it on until a
    // positive duration is given (the hold then ends that long afterwards) or the port is unbound.
    std::int32_t RingDuration() const { return m_ringDuration; }
    void SetRingDuration(std::int32_t value);

    // Fired on every state change, also one to the state already shown (not while loading).
    const TLedStateEvent& OnChange() const { return m_onChange; }
    void SetOnChange(TLedStateEvent handler) { m_onChange = std::move(handler); }
    // A left-button press and release on the LED; a double click. An exception a handler throws goes
    // to the application's exception handler (the event loop carries none).
    // A click on the LED.
    const cport::TNotifyEvent& OnClick() const { return m_onClick; }
    void SetOnClick(cport::TNotifyEvent handler) { m_onClick = std::move(handler); }
    // A double click on the LED.
    const cport::TNotifyEvent& OnDblClick() const { return m_onDblClick; }
    void SetOnDblClick(cport::TNotifyEvent handler) { m_onDblClick = std::move(handler); }

    // The link this LED registers with its port (its callbacks show which signal it follows).
    const cport::TComLink& LedLink() const { return *m_ledLink; }

    QSize sizeHint() const override { return {25, 25}; }

protected:
    // Calls OnChange when it is assigned.
    virtual void FireChange(TLedState AState);
    // Calls OnClick when it is assigned.
    virtual void FireClick();
    // Calls OnDblClick when it is assigned.
    virtual void FireDblClick();

    void Notification(cport::TComponent* AComponent, cport::TOperation Operation) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

    // The port's notices. LinkSignalReceived lets pending events run before it returns, so that the
    // lamp is repainted at once; what they do (a click that closes the port, even one that destroys
    // the LED) is safe: nothing of the LED is touched afterwards.
    void LinkSignalReceived(cport::TObject* Sender, bool OnOff);
    // A ring: on, then off once RingDuration has passed (RingTimeElapsed).
    void LinkRingReceived(cport::TObject* Sender);
    // The ring's hold has ended: off again.
    void RingTimeElapsed();

    // The single way the state changes: store, fire OnChange (unless loading), repaint.
    void ChangeState(TLedState value);
    // The bound port's current level of the signal shown (always off for ring, rx and tx).
    bool QuerySignal();
    // The glyph pair of a built-in kind; loaded when first painted (EnsureGlyphs).
    void LoadKindGlyphs(TLedKind kind);
    // Loads the glyph pair of Kind when it has not been loaded yet.
    void EnsureGlyphs();
    // Where the glyph to draw goes: centred, or from the top-left corner when it is larger.
    QPoint GlyphPosition() const;
    // The glyph of State, or the off glyph while disabled.
    const QImage& GlyphToDraw() const;

private:
    struct Glyph {
        QImage Image;    // the picture as given or loaded
        QImage Drawable; // the same with its transparent colour cleared, ready to draw
        void Set(const QImage& image);
    };

    void SetGlyph(TLedState which, const QImage& image);
    void PlaceLinkCallback();
    void StartRingHold();
    void StopRingHold();
    bool Loading() const { return ComponentState().Contains(cport::csLoading); }
    bool Designing() const { return ComponentState().Contains(cport::csDesigning); }

    cport::TComPort* m_comPort = nullptr;
    cport::TComponent* m_portComponent = nullptr; // the port as the sender of its removal notice
    TComLedSignal m_ledSignal = lsConn;
    TLedKind m_kind = lkRedLight;
    TLedState m_state = lsOff;
    TLedStateEvent m_onChange;
    cport::TNotifyEvent m_onClick;
    cport::TNotifyEvent m_onDblClick;
    bool m_pressed = false;                     // the left button went down on the LED and is still down
    Glyph m_glyphs[2];                          // indexed by TLedState
    std::shared_ptr<cport::TComLink> m_ledLink; // shared so that a callback in progress keeps it alive
    QTimer* m_ringHoldTimer = nullptr;          // a child object
    bool m_ringHoldEnabled = false;
    std::int32_t m_ringDuration = 1000;
};

} // namespace cportctl
