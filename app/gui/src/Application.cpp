// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/Application.h"

#include "cportctl/QtMainThread.h"
#include "varmio/MonitorPort.h"
#include "varmio/WindowLayout.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include <QFileInfo>
#include <QMessageBox>

namespace varmio {

QString ApplicationTitle()
{
    const QString path = QCoreApplication::applicationFilePath();
    if (!path.isEmpty()) return QFileInfo(path).completeBaseName();
    return QCoreApplication::applicationName();
}

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
    return message;
}

QString ExceptionMessage(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}

QString ExceptionText(const std::exception& error)
{
    const auto* port = dynamic_cast<const PortError*>(&error);
    if (port == nullptr) return ErrorBoxText(QString::fromUtf8(error.what()));
    const QString name = QString::fromStdString(port->PortName());
    if (port->Lost()) {
        const QString reason =
            port->Reason().empty() ? QString() : QStringLiteral(" (%1)").arg(QString::fromStdString(port->Reason()));
        return QStringLiteral("Port %1 zmizel%2.\nPort je zavřený; kliknutím na kontrolku ho znovu otevřete.")
            .arg(name, reason);
    }
    const QString where =
        name.isEmpty() ? QStringLiteral("Není vybrán žádný port.") : QString::fromStdString(port->Details());
    QString text = ErrorBoxText(QString::fromUtf8(error.what())) + QLatin1Char('\n') + where;
    // A serial device the user may not open: on Debian the ports belong to the group dialout, which a
    // new user is not in; the usual first start with a relay.
    if (port->WinErrorCode() == EACCES && !name.contains(QLatin1String("://"))) {
        text += QStringLiteral("\nK sériovým portům mají přístup členové skupiny dialout. Přidejte se do ní "
                               "(sudo usermod -aG dialout $USER), odhlaste se a znovu přihlaste.");
    }
    return text;
}

namespace {

void ShowErrorBox(const QString& text) noexcept
{
    try {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            return;
        }
        // Parented to the active window, so that it stays on top of it and is modal to it.
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
        box.setObjectName(QStringLiteral("ErrorBox"));
        box.exec();
    } catch (...) {
        // Showing failed as well (out of memory); the program goes on without the box.
        std::fputs("Error while showing an error\n", stderr);
    }
}

} // namespace

void ShowException(const std::exception_ptr& error) noexcept
{
    QString text;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        try {
            text = ExceptionText(e);
        } catch (...) {
        }
    } catch (...) {
        text = QStringLiteral("Unknown exception.");
    }
    ShowErrorBox(text);
}

void ShowException(const std::exception& error) noexcept
{
    QString text;
    try {
        text = ExceptionText(error);
    } catch (...) {
    }
    ShowErrorBox(text);
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv),
      m_previousHandler(cport::SetApplicationExceptionHandler([](cport::TObject* sender, const std::exception& e) {
          CloseLostPort(sender, e); // closed before the box, so the LED is red behind it
          ShowException(e);
      }))
{
    // Port events handed over to the main thread run from Qt's event loop.
    cportctl::InstallQtMainThreadQueue();
    if (!RegisterWindowFonts() && qEnvironmentVariableIsEmpty("VARMIO_SYSTEM_FONTS"))
        std::fputs("varmio: the bundled font could not be registered; the system's is used\n", stderr);
}

TApplication::~TApplication() { cport::SetApplicationExceptionHandler(std::move(m_previousHandler)); }

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

} // namespace varmio
