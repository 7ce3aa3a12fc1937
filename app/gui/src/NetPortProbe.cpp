// SPDX-License-Identifier: GPL-3.0-or-later
#include "NetPortProbe.h"

#include "cport/NetPort.h"

#include <mutex>
#include <stop_token>
#include <thread>

#include <QMetaObject>
#include <QObject>

namespace varmio {

// What the probing thread and the owner share: whether the result is still wanted, and where to send it.
struct NetPortProbe::Shared {
    std::mutex mutex;
    NetPortProbe* probe = nullptr; // null once the result is no longer wanted
    std::stop_source stop;
};

NetPortProbe::NetPortProbe(QObject* owner, DoneHandler done) : m_owner(owner), m_done(std::move(done)) {}

NetPortProbe::~NetPortProbe() { Cancel(); }

bool NetPortProbe::Start(const std::string& name)
{
    if (m_current) return false;
    auto shared = std::make_shared<Shared>();
    shared->probe = this;
    QObject* owner = m_owner;
    // Detached: a lookup of a name that does not answer cannot be interrupted, and nobody waits for it.
    std::thread([shared, owner, name] {
        const int error = cport::ProbeNetPort(name, shared->stop.get_token());
        // Posted under the lock, so that a Cancel (which the owner's destruction begins with) either
        // comes first and nothing is posted, or comes after and finds the call queued, which the
        // owner's destruction then discards with its other pending events.
        std::lock_guard lock(shared->mutex);
        if (shared->probe != nullptr)
            QMetaObject::invokeMethod(
                owner,
                [shared, error] {
                    // Null when the probe was cancelled after this call was posted.
                    NetPortProbe* wanted = nullptr;
                    {
                        std::lock_guard relock(shared->mutex);
                        wanted = shared->probe;
                    }
                    if (wanted) wanted->Finish(error);
                },
                Qt::QueuedConnection);
    }).detach();
    m_current = std::move(shared);
    return true;
}

void NetPortProbe::Cancel()
{
    if (!m_current) return;
    {
        std::lock_guard lock(m_current->mutex);
        m_current->probe = nullptr;
    }
    m_current->stop.request_stop();
    m_current.reset();
}

void NetPortProbe::Finish(int error)
{
    m_current.reset();
    m_done(error);
}

} // namespace varmio
