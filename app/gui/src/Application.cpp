#include "varmio/Application.h"

#include <cstdio>

#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>

namespace varmio {

QString ApplicationTitle()
{
    const QString path = QCoreApplication::applicationFilePath();
    if (!path.isEmpty())
        return QFileInfo(path).completeBaseName();
    return QCoreApplication::applicationName();
}

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
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

void ShowException(const std::exception_ptr& error) noexcept
{
    try {
        const QString text = ErrorBoxText(ExceptionMessage(error));
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            return;
        }
        // The box is parented to the active window, so it stays on top of it and is modal to it.
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.setObjectName(QStringLiteral("ErrorBox"));
        box.exec();
    } catch (...) {
        // Showing failed as well (out of memory); the program goes on without the box.
        std::fputs("Error while showing an error\n", stderr);
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

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
