// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application object and its central exception handler: an exception that escapes a handler run
// from the event loop ends that handler only; it is shown in an error message box and the program
// goes on. Main thread only.

#include "cport/Framework.h"

#include <exception>
#include <string_view>

#include <QApplication>
#include <QString>

namespace varmio {

// The error box's caption: the program file's name without its extension.
QString ApplicationTitle();

// The error box's text for an exception message: the message, with "." appended when its last
// character sorts after "." ("No such port" and "Why?" get one; "Stopped.", "Done!" and
// "(Error: 2)" do not).
QString ErrorBoxText(const QString& message);

// The error box's text for an exception: ErrorBoxText of its message; for a port's error (PortError)
// a second line names the port and the system's reason ("ttyUSB0: No such file or directory"), and a
// port whose device went away while open is told in a plain sentence instead; a device the user lacks
// the permission for (EACCES) gets a third line: how to join the group dialout.
QString ExceptionText(const std::exception& error);

// The message of an exception: what() for a std::exception, a fixed text for anything else.
QString ExceptionMessage(const std::exception_ptr& error);

// Shows the error box for an exception and returns when the user has closed it. Never throws;
// without a QApplication the text goes to standard error.
void ShowException(const std::exception_ptr& error) noexcept;
void ShowException(const std::exception& error) noexcept;

// Runs one handler; an exception that escapes it is shown by ShowException. Every handler that
// the event loop runs goes through here, so that no exception unwinds through Qt's own frames.
template <class Handler>
void RunHandler(Handler&& handler) noexcept
{
    try {
        handler();
    } catch (...) {
        ShowException(std::current_exception());
    }
}

// The application: a QApplication whose event delivery shows, rather than ends the program on, an
// exception thrown by an event handler that did not go through RunHandler. While it exists, the
// serial port component's application exception handler shows its exceptions in the error box too,
// and Qt's event loop serves the component's main-thread queue. It registers the window's bundled
// font (RegisterWindowFonts).
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

private:
    cport::TApplicationExceptionHandler m_previousHandler;
};

} // namespace varmio
