// SPDX-License-Identifier: GPL-3.0-or-later
// File > Save: the dialog, the bytes of the saved record log, and failures shown in the error box.
#include "FormFixture.h"
#include "ModalDriver.h"

#include "varmio/Application.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The header line as the file holds it: Windows-1250, "í" is 0xED, the mark in "T2Ch¨On" 0xA8.
const std::string kHeader = "Date;Time;Lcd;Pt;Tuv;Ntc;Modul;STuv;PtPozadavek;Venku;Topen\xED Ena;TUV Ena;Chl Ena;"
                            "Ven Komp;T2Ch Ena;Chyba;Topen\xED On;TUV On;Plamen On;Chla On;T2Ch\xA8On;Diag On";

class SaveTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        m_form->Timer1()->stop();
    }

    // Runs File > Save as the menu does, answering its dialogs with `steps`; returns how many appeared.
    int Save(std::vector<ModalDriver::Step> steps)
    {
        ModalDriver driver(std::move(steps));
        m_form->findChild<QAction*>(QStringLiteral("Save1"))->trigger();
        return driver.Answered();
    }

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    // The file's bytes (as a std::string, which a failing check prints readably).
    std::string Saved(const QString& name) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
    }

    QTemporaryDir m_dir;
};

TEST_F(SaveTest, SavingRightAfterStartWritesTheHeaderAndCrLf)
{
    ASSERT_EQ(Save({ModalDriver::ChooseFile(Path("log.csv"))}), 1);
    EXPECT_EQ(Saved("log.csv"), kHeader + "\r\n");
    EXPECT_EQ(kHeader.size(), 155u);
}

TEST_F(SaveTest, DialogOffersTheShortDateAndZelbFiltersCsvAndCancelsCleanly)
{
    QString offered;
    QStringList filters;
    ASSERT_EQ(Save({[&](QWidget* modal) {
                  auto* dialog = qobject_cast<QFileDialog*>(modal);
                  offered = QFileInfo(dialog->selectedFiles().value(0)).fileName();
                  filters = dialog->nameFilters();
                  dialog->reject();
              }}),
              1);
    EXPECT_EQ(offered, "07.12.2026 Zelb.csv");
    EXPECT_EQ(filters, QStringList{"*.csv"});
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty());
}

TEST_F(SaveTest, TheOfferedNameIsSavedAsACsvFileInTheDialogsFolderInEveryLocale)
{
    // The short date formats of the C, en_US.UTF-8 and cs_CZ.UTF-8 locales, for 8 December 2026.
    const std::pair<const char*, const char*> formats[] = {
        {"%m/%d/%y", "12-08-26 Zelb.csv"}, {"%m/%d/%Y", "12-08-2026 Zelb.csv"}, {"%-d.%-m.%Y", "8.12.2026 Zelb.csv"}};
    for (const auto& [format, expected] : formats) {
        varmio::Regional regional;
        regional.ShortDateFormat = format;
        m_form = std::make_unique<varmio::TForm1>(regional, [] { return LocalTime(2026, 12, 8, 9, 0, 0); });
        m_form->SaveDialog1()->setDirectory(m_dir.path());
        ASSERT_EQ(Save({[](QWidget* modal) { qobject_cast<QDialog*>(modal)->accept(); }}), 1) << format;
        EXPECT_EQ(Saved(expected), kHeader + "\r\n") << format;
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 3);
}

TEST_F(SaveTest, TextTypedAfterTheLastLoggedLineIsALineOfItsOwnAndSavedSo)
{
    m_form->Timer1Timer(m_form->Timer1());
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    QTest::keyClick(m_form->Memo2(), Qt::Key_End, Qt::ControlModifier);
    Type(m_form->Memo2(), QStringLiteral("ručně\u00A0přidáno"));

    const std::string record = "07.12.2026; 13:05:20; 0; 0; 0; 45,5; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0";
    ASSERT_EQ(Save({ModalDriver::ChooseFile(Path("log.csv"))}), 1);
    EXPECT_EQ(Saved("log.csv"), kHeader + "\r\n" + record + "\r\nru\xE8n\xEC\xA0p\xF8id\xE1no\r\n");
    EXPECT_EQ(m_form->Memo2()->document()->blockCount(), 3) << "saving leaves the log as it was";

    // A line logged after the typing starts a line of its own, and the next typing another.
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2E, 0x80});
    Type(m_form->Memo2(), QStringLiteral("note"));
    ASSERT_EQ(Save({ModalDriver::ChooseFile(Path("log.csv"))}), 1);
    const std::string saved = Saved("log.csv");
    EXPECT_NE(saved.find("p\xF8id\xE1no\r\n07.12.2026; 13:05:20; 0; 0; 0; 46,5;"), std::string::npos) << saved;
    EXPECT_TRUE(saved.ends_with("; 0\r\nnote\r\n")) << saved;
}

TEST_F(SaveTest, ANameWithoutExtensionGetsCsvAndAnExistingFileIsReplacedWithoutAQuestion)
{
    QFile old(Path("report.csv"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(1000, 'x'));
    old.close();
    ASSERT_EQ(Save({ModalDriver::ChooseFile(Path("report")), ModalDriver::Cancel()}), 1);
    EXPECT_EQ(Saved("report.csv"), kHeader + "\r\n");
}

TEST_F(SaveTest, AFileThatCannotBeCreatedIsReportedAndTheLogKept)
{
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    const QString before = m_form->Memo2()->toPlainText();
    QString caption;
    QString text;
    const QString missing = Path("missing/log.csv");
    ASSERT_EQ(Save({ModalDriver::ChooseFile(missing), ModalDriver::ReadMessageBox(&caption, &text)}), 2);
    EXPECT_EQ(caption, varmio::ApplicationTitle());
    EXPECT_EQ(text.toStdString(),
              QStringLiteral("Cannot create file \"%1\". No such file or directory.").arg(missing).toStdString());

    // A file where a folder should be: refused even to the superuser.
    ASSERT_EQ(Save({ModalDriver::ChooseFile("/dev/null/log.csv"), ModalDriver::ReadMessageBox(&caption, &text)}), 2);
    EXPECT_TRUE(text.startsWith("Cannot create file \"/dev/null/log.csv\". ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith('.'));

    EXPECT_EQ(m_form->Memo2()->toPlainText(), before);
    ASSERT_EQ(Save({ModalDriver::ChooseFile(Path("log.csv"))}), 1) << "the window goes on";
    EXPECT_EQ(Saved("log.csv").substr(0, kHeader.size() + 2), kHeader + "\r\n");
}

TEST_F(SaveTest, CharactersWithoutAWindows1250FormAreSavedAsQuestionMarksAndReported)
{
    m_form->AppendRecordLog("ok \u2713");
    QString caption;
    QString text;
    ASSERT_EQ(Save({ModalDriver::ChooseFile(Path("log.csv")), ModalDriver::ReadMessageBox(&caption, &text)}), 2);
    EXPECT_EQ(Saved("log.csv"), kHeader + "\r\nok ?\r\n");
    EXPECT_TRUE(text.startsWith("1 character")) << text.toStdString();
}

} // namespace
