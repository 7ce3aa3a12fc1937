// SPDX-License-Identifier: GPL-3.0-or-later
#include "cportctl/QtMainThread.h"

#include "cport/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

namespace cportctl {

namespace {

// Owned by the application object (its parent), so it lives exactly as long as the event loop it
// posts to; its destructor removes the wake hook before the application goes.
class QueueDrainer : public QObject {
public:
    explicit QueueDrainer(QObject* parent) : QObject(parent)
    {
        setObjectName(QStringLiteral("cportMainThreadQueue"));
        cport::MainThreadQueue::SetWakeHook([this] {
            // Runs on the queuing thread: only post the wake-up (thread-safe), never drain here.
            QMetaObject::invokeMethod(this, &QueueDrainer::Drain, Qt::QueuedConnection);
        });
        // Calls queued before the hook existed get their wake-up now.
        if (cport::MainThreadQueue::HasQueuedCalls())
            QMetaObject::invokeMethod(this, &QueueDrainer::Drain, Qt::QueuedConnection);
    }
    ~QueueDrainer() override { cport::MainThreadQueue::SetWakeHook({}); }

    void Drain() { cport::MainThreadQueue::ProcessQueuedCalls(); }
};

} // namespace

void InstallQtMainThreadQueue()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr ||
        app->findChild<QueueDrainer*>(QStringLiteral("cportMainThreadQueue"), Qt::FindDirectChildrenOnly))
        return;
    new QueueDrainer(app); // owned by the application object
}

} // namespace cportctl
