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

TEST(ErrorBoxText, AppendsAPointWhenTheLastCharacterSortsAfterThePoint)
{
    EXPECT_EQ(varmio::ErrorBoxText("Port not open"), "Port not open.");
    EXPECT_EQ(varmio::ErrorBoxText("Why?"), "Why?.");
    EXPECT_EQ(varmio::ErrorBoxText("Cannot create file \"/x/a.csv\". No such file or directory"),
              "Cannot create file \"/x/a.csv\". No such file or directory.");
    EXPECT_EQ(varmio::ErrorBoxText("path/"), "path/.");  // '/' is the character right after '.'
    EXPECT_EQ(varmio::ErrorBoxText("code 0"), "code 0.");
    EXPECT_EQ(varmio::ErrorBoxText(QStringLiteral("Chyba ř")), QStringLiteral("Chyba ř."));
}

TEST(ErrorBoxText, KeepsMessagesEndingInThePointOrACharacterBeforeIt)
{
    EXPECT_EQ(varmio::ErrorBoxText("Stopped."), "Stopped.");
    EXPECT_EQ(varmio::ErrorBoxText("Done!"), "Done!");
    EXPECT_EQ(varmio::ErrorBoxText("Open failed (Error: 2)"), "Open failed (Error: 2)");
    EXPECT_EQ(varmio::ErrorBoxText("trailing blank "), "trailing blank ");
    EXPECT_EQ(varmio::ErrorBoxText("dash-"), "dash-");
    EXPECT_EQ(varmio::ErrorBoxText("comma,"), "comma,");
    EXPECT_EQ(varmio::ErrorBoxText(""), "");
}

TEST(ErrorBox, CaptionIsTheProgramFileNameWithoutItsExtension)
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    ASSERT_FALSE(program.isEmpty());
    const QString title = varmio::ApplicationTitle();
    EXPECT_TRUE(program == title || program.startsWith(title + QLatin1Char('.'))) << title.toStdString();
    EXPECT_FALSE(title.contains(QLatin1Char('/')));
}

TEST(ErrorBox, AnExceptionLeavingAHandlerIsShownAndTheProgramGoesOn)
{
    QString caption;
    QString text;
    ModalDriver driver({ModalDriver::ReadMessageBox(&caption, &text)});
    bool after = false;
    varmio::RunHandler([] { throw std::runtime_error("Port busy"); });
    varmio::RunHandler([&after] { after = true; });

    EXPECT_EQ(driver.Answered(), 1);
    EXPECT_EQ(caption, varmio::ApplicationTitle());
    EXPECT_EQ(text, "Port busy.");
    EXPECT_TRUE(after);
}

TEST(ErrorBox, AnExceptionOfAnotherTypeIsShownToo)
{
    QString caption;
    QString text;
    ModalDriver driver({ModalDriver::ReadMessageBox(&caption, &text)});
    varmio::RunHandler([] { throw 42; });
    EXPECT_EQ(driver.Answered(), 1);
    EXPECT_FALSE(text.isEmpty());
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
        if (e->type() == QEvent::User)
            throw std::runtime_error("Stream write error");
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

    // Delivered again from the event loop: shown again, and the loop goes on.
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    EXPECT_TRUE(QTest::qWaitFor([&] { return driver.Answered() == 2; }, 5000));
}

} // namespace
