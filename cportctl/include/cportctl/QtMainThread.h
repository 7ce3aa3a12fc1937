// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Lets Qt's event loop serve the port component's main-thread queue, so that port events handed over
// to the main thread (SyncMethod smThreadSync and smWindowSync) run as soon as they are queued.

namespace cportctl {

// Call once on the main thread after the QCoreApplication (or QApplication) exists. From then on each
// call queued for the main thread wakes Qt's event loop, which runs every queued call; when the
// application object is destroyed the wake-ups stop. Calling it again does nothing more. The
// application's exception handler (cport::SetApplicationExceptionHandler) is the program's to set:
// it receives the failures that end a port's reception.
void InstallQtMainThreadQueue();

} // namespace cportctl
