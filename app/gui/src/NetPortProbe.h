// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Checks, on a thread of its own, that a network relay's bridge answers (cport::ProbeNetPort), and
// tells the owner's thread the result through its event loop, so a window that waits for a relay
// that does not answer stays responsive. At most one probe runs at a time.
//
// Threads: Start, Cancel, Running and the done handler belong to the thread of the owner object. The
// probing thread touches nothing but its own share of the state; it is not waited for: a cancelled
// probe (or one whose owner went) ends on its own once the name lookup it may be in returns.

#include <functional>
#include <memory>
#include <string>

class QObject;

namespace varmio {

class NetPortProbe {
public:
    // Called with 0 when the bridge answered, else the error number the port's open would fail with.
    using DoneHandler = std::function<void(int error)>;

    // The results are delivered as queued calls on `owner` (which must outlive this object).
    NetPortProbe(QObject* owner, DoneHandler done);
    ~NetPortProbe(); // cancels a running probe
    NetPortProbe(const NetPortProbe&) = delete;
    NetPortProbe& operator=(const NetPortProbe&) = delete;

    // Starts probing the network port `name`; false, starting nothing, while a probe runs.
    bool Start(const std::string& name);
    // The running probe's result is dropped (no done call); nothing when none runs.
    void Cancel();
    // A probe has started and its done handler has not been called yet.
    bool Running() const { return m_current != nullptr; }

private:
    struct Shared;
    void Finish(int error);

    QObject* m_owner;
    DoneHandler m_done;
    std::shared_ptr<Shared> m_current; // the running probe's state
};

} // namespace varmio
