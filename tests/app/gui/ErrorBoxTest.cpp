// SPDX-License-Identifier: GPL-3.0-or-later
// The central exception handler: the error box's caption and text, and that the program goes on.
#include "ModalDriver.h"

#include "varmio/Application.h"

#include "cport/Framework.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QTest>

namespace {

TEST(ErrorBoxText, GetsAPointOnlyWhenTheLastCharacterSortsAfterThePoint)
{
    const std::pair<QString, QString> cases[] = {
        {"Port not open", "Port not open."},
        {"Why?", "Why?."},
        {"path/", "path/."}, // '/' is the character right after '.'
        {"code 0", "code 0."},
        {QStringLiteral("Chyba ř"), QStringLiteral("Chyba ř.")},
        {"Stopped.", "Stopped."},
        {"Done!", "Done!"},
        {"Open failed (Error: 2)", "Open failed (Error: 2)"},
        {"blank ", "blank "},
        {"dash-", "dash-"},
        {"", ""},
    };
    for (const auto& [message, shown] : cases) EXPECT_EQ(varmio::ErrorBoxText(message), shown) << message.toStdString();
}

TEST(ErrorBox, CaptionIsTheProgramFileNameWithoutItsExtension)
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString title = varmio::ApplicationTitle();
    ASSERT_FALSE(title.isEmpty());
    EXPECT_TRUE(program == title || program.startsWith(title + QLatin1Char('.'))) << title.toStdString();
}

TEST(ErrorBox, AnExceptionLeavingAHandlerIsShownAndTheProgramGoesOn)
{
    QString caption;
    QString text;
    QString other;
    ModalDriver driver({ModalDriver::ReadMessageBox(&caption, &text), ModalDriver::ReadMessageBox(&caption, &other)});
    bool after = false;
    varmio::RunHandler([] { throw std::runtime_error("Port busy"); });
    varmio::RunHandler([] { throw 42; });
    varmio::RunHandler([&after] { after = true; });

    EXPECT_EQ(driver.Answered(), 2);
    EXPECT_EQ(caption, varmio::ApplicationTitle());
    EXPECT_EQ(text, "Port busy.");
    EXPECT_EQ(other, "Unknown exception.");
    EXPECT_TRUE(after);
}

TEST(ErrorBox, ThePortComponentsExceptionsAreShownInTheSameBox)
{
    QString caption;
    QString text;
    ModalDriver driver({ModalDriver::ReadMessageBox(&caption, &text)});
    cport::HandleApplicationException(nullptr, std::runtime_error("Unable to open com port"));
    EXPECT_EQ(driver.Answered(), 1);
    EXPECT_EQ(caption, varmio::ApplicationTitle());
    EXPECT_EQ(text, "Unable to open com port.");
}

// An object whose event handler throws, as a control's handler may.
class Thrower : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) throw std::runtime_error("Stream write error");
        return QObject::event(e);
    }
};

TEST(ErrorBox, AnExceptionFromAnEventHandlerIsCaughtWhereTheEventIsDelivered)
{
    QString caption;
    QString text;
    ModalDriver driver({ModalDriver::ReadMessageBox(&caption, &text), ModalDriver::ReadMessageBox(&caption, &text)});
    Thrower thrower;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));
    EXPECT_EQ(driver.Answered(), 1);
    EXPECT_EQ(text, "Stream write error.");

    // Delivered from the event loop: shown again, and the loop goes on.
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    EXPECT_TRUE(QTest::qWaitFor([&] { return driver.Answered() == 2; }, 5000));
}

} // namespace
