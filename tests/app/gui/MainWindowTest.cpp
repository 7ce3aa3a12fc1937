// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: its controls as designed, the clock, Init, clearing the logs, the raw log's cap and the menu.
#include "FormFixture.h"
#include "ModalDriver.h"

#include "LogMemo.h"

#include "varmio/Monitor.h"
#include "varmio/WindowLayout.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitterHandle>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

namespace {

using varmio::ControlSpec;

const std::initializer_list<std::uint8_t> kFlowFrame{0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80}; // 45.5

// The last logged line: the log ends in an empty line for the user to type into.
QString LastLine(const QPlainTextEdit* memo) { return memo->document()->lastBlock().previous().text(); }

QString Lines(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())) + '\n';
}

// A control's rectangle in the client area below the menu bar; for a splitter handle the part that is
// drawn (a thin handle has a wider grab area around it).
QRect InClient(const varmio::TForm1& form, const QWidget* widget)
{
    const QRect drawn = qobject_cast<const QSplitterHandle*>(widget) ? widget->contentsRect() : widget->rect();
    return QRect(widget->mapTo(form.centralWidget(), drawn.topLeft()), drawn.size());
}

TEST_F(FormTest, StartsWithTheDesignedTextsAndMarks)
{
    EXPECT_EQ(m_form->windowTitle(), "Varmio ver.1.0 [QZ7XYV]");
    for (const char* box : {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit12", "Edit13"})
        EXPECT_EQ(Control<QLineEdit>(box)->text(), "0") << box;
    for (const char* box : {"Edit8", "Edit9", "Edit10", "Edit11"})
        EXPECT_TRUE(Control<QLineEdit>(box)->text().isEmpty()) << box;
    EXPECT_EQ(Control<QLabel>("Label3")->text(), QStringLiteral("Start ohřev TUV (56)"));
    EXPECT_EQ(Control<QLabel>("Label14")->text(), QStringLiteral("Počet záznamů"));
    EXPECT_EQ(Control<QCheckBox>("CheckBox2")->text(), QStringLiteral("Ukládat pouze změny"));
    EXPECT_TRUE(Control<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_EQ(Control<QGroupBox>("GroupBox3")->title(), "GroupBox3");
    EXPECT_EQ(m_form->GroupBox4()->title(), "Serial Port");
    EXPECT_TRUE(m_form->Memo1()->document()->isEmpty());
    EXPECT_EQ(m_form->Memo2()->toPlainText(), Lines(varmio::CsvHeader));

    const QStringList slave{"Chyba ",
                            QStringLiteral("Topení aktivní"),
                            QStringLiteral("TUV aktivní"),
                            QStringLiteral("Plamen aktivní"),
                            QStringLiteral("Chlazení aktivní"),
                            QStringLiteral("Topení 2.Ch akt"),
                            "Diagnostika akt",
                            "REZERVA"};
    for (const char* name : {"CheckListBox1", "CheckListBox2"}) {
        const auto* list = Control<QListWidget>(name);
        ASSERT_EQ(list->count(), 8) << name;
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(list->item(i)->checkState(), Qt::Unchecked) << name << i;
            EXPECT_EQ(list->visualItemRect(list->item(i)).height(), varmio::kCheckListItemHeight);
        }
    }
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Control<QListWidget>("CheckListBox2")->item(i)->text(), slave[i]);
    EXPECT_EQ(Control<QListWidget>("CheckListBox1")->item(4)->text(), QStringLiteral("Topení 2.CH povol."));
}

TEST_F(FormTest, EveryFixedControlSitsAtItsDesignedPlaceInItsDesignedFont)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    for (const ControlSpec& row : varmio::WindowLayout()) {
        if (row.Flags & (varmio::cfAlignLeft | varmio::cfAlignRight | varmio::cfAlignClient | varmio::cfAlignBottom))
            continue;
        const auto* control = m_form->findChild<QWidget*>(QString::fromUtf8(row.Name.data(), row.Name.size()));
        ASSERT_NE(control, nullptr) << row.Name;
        const QWidget* parent = control->parentWidget();
        if (!row.Parent.empty()) {
            EXPECT_EQ(parent->objectName().toStdString(), row.Parent);
        }
        const QRect place(control->mapTo(m_form.get(), QPoint()) - parent->mapTo(m_form.get(), QPoint()),
                          control->size());
        EXPECT_EQ(place.topLeft(), QPoint(row.Left, row.Top)) << row.Name;
        EXPECT_EQ(place.height(), row.Height) << row.Name;
        // A label is as wide as its caption: at least the designed width, never cut.
        EXPECT_TRUE(row.Kind == varmio::ckLabel ? place.width() >= row.Width : place.width() == row.Width) << row.Name;
        EXPECT_TRUE(control->isVisible()) << row.Name;
        EXPECT_EQ(control->font().pixelSize(), 11) << row.Name;
        const bool boldGroup = row.Parent == "GroupBox1";
        EXPECT_EQ(control->font().bold(), boldGroup || (row.Flags & varmio::cfBold) != 0) << row.Name;
    }
}

TEST_F(FormTest, ClientAreaIsDividedAsDesignedAndResizesAtTheRightEdge)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    const QWidget* client = m_form->centralWidget();
    EXPECT_EQ(client->y(), m_form->menuBar()->height());
    EXPECT_EQ(m_form->height() - client->y(), 546);
    EXPECT_EQ(client->size(), QSize(1242, 527));
    EXPECT_EQ(InClient(*m_form, Control<QWidget>("Splitter2")), QRect(405, 0, 3, 527));
    EXPECT_EQ(InClient(*m_form, Control<QWidget>("Panel1")), QRect(408, 0, 834, 527));
    EXPECT_EQ(InClient(*m_form, m_form->Memo1()), QRect(409, 1, 296, 525));
    EXPECT_EQ(InClient(*m_form, Control<QWidget>("Splitter1")), QRect(705, 1, 3, 525));
    EXPECT_EQ(InClient(*m_form, m_form->Memo2()), QRect(708, 1, 533, 525));
    EXPECT_EQ(m_form->statusBar()->objectName(), "StatusBar1");
    EXPECT_EQ(m_form->statusBar()->geometry(), QRect(0, client->y() + 527, 1242, 19));

    const QPoint label = InClient(*m_form, Control<QWidget>("Label5")).topLeft();
    m_form->resize(m_form->width() + 200, m_form->height() + 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return client->width() == 1442; }, 5000));
    EXPECT_EQ(InClient(*m_form, Control<QWidget>("Panel1")), QRect(608, 0, 834, 627));
    EXPECT_EQ(m_form->Memo1()->width(), 296);
    EXPECT_EQ(m_form->statusBar()->geometry().bottom(), m_form->height() - 1);
    EXPECT_EQ(InClient(*m_form, Control<QWidget>("Label5")).topLeft(), label);
}

TEST_F(FormTest, ClockShowsDateAndTimeOfOneReading)
{
    m_form->Timer1()->stop();
    // A tick at midnight: the day changes between two readings taken one right after the other.
    m_clock = {LocalTime(2026, 12, 7, 23, 59, 59), LocalTime(2026, 12, 8, 0, 0, 0)};
    m_form->Timer1Timer(m_form->Timer1());
    EXPECT_EQ(m_form->Edit8()->text(), "07.12.2026; 23:59:59");
    m_form->Timer1Timer(m_form->Timer1());
    EXPECT_EQ(m_form->Edit8()->text(), "08.12.2026; 00:00:00");
}

TEST_F(FormTest, ClockTicksEverySecondFromTheStart)
{
    EXPECT_TRUE(m_form->Edit8()->text().isEmpty());
    EXPECT_EQ(m_form->Timer1()->interval(), 1000);
    m_clock = {LocalTime(2026, 1, 2, 3, 4, 5)};
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_form->Edit8()->text().isEmpty(); }, 5000));
    EXPECT_EQ(m_form->Edit8()->text(), "02.01.2026; 03:04:05");
}

TEST_F(FormTest, LogLinesAreStampedWithWhatTheDateTimeBoxShows)
{
    m_form->Timer1()->stop();
    Feed(kFlowFrame);
    EXPECT_EQ(LastLine(m_form->Memo1()), "  [Type: 4]  [25] :11648") << "empty before the first tick";
    m_form->Timer1Timer(m_form->Timer1());
    Feed(kFlowFrame);
    EXPECT_EQ(LastLine(m_form->Memo1()), "07.12.2026; 13:05:20  [Type: 4]  [25] :11648");

    // Text the user types into the box stamps the next lines.
    m_form->Edit8()->clear();
    Type(m_form->Edit8(), QStringLiteral("ručně"));
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2E, 0x00});
    EXPECT_EQ(LastLine(m_form->Memo1()), QStringLiteral("ručně  [Type: 4]  [25] :11776"));
    EXPECT_TRUE(LastLine(m_form->Memo2()).startsWith(QStringLiteral("ručně; 0; 0; 0; 46; ")));
}

TEST_F(FormTest, InitEmptiesTheValueBoxesAndLeavesEverythingElse)
{
    Feed({0x35, 0x35, 0x35, 0x01, 0x18, 0x15, 0x80,   // room temperature 21.5
          0x35, 0x35, 0x35, 0x04, 0x1B, 0xFF, 0x00,   // outside -1
          0x35, 0x35, 0x35, 0x04, 0x00, 0x00, 0x0A}); // slave status: items 1 and 3
    ASSERT_EQ(Control<QLineEdit>("Edit5")->text(), "21,5");
    ASSERT_EQ(Control<QLineEdit>("Edit7")->text(), "-1");
    const QString raw = m_form->Memo1()->toPlainText();
    const QString records = m_form->Memo2()->toPlainText();

    QTest::mouseClick(Control<QPushButton>("Button1"), Qt::LeftButton);

    for (const char* box : {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit12"})
        EXPECT_TRUE(Control<QLineEdit>(box)->text().isEmpty()) << box;
    EXPECT_EQ(Control<QLineEdit>("Edit13")->text(), "3");
    EXPECT_EQ(Control<QLineEdit>("Edit11")->text(), "10");
    EXPECT_TRUE(m_form->IsChecked(varmio::StatusList::Slave, 1));
    EXPECT_TRUE(m_form->IsChecked(varmio::StatusList::Slave, 3));
    EXPECT_EQ(m_form->Memo1()->toPlainText(), raw);
    EXPECT_EQ(m_form->Memo2()->toPlainText(), records);
    for (double value : m_form->Core().StoredValues()) EXPECT_EQ(value, 0.0);
}

TEST_F(FormTest, CheckMarksTheUserSetsGoIntoTheNextRecord)
{
    Control<QListWidget>("CheckListBox1")->item(1)->setCheckState(Qt::Checked);
    Feed({0x35, 0x35, 0x35, 0x00, 0x03, 0x00, 0x00});
    EXPECT_TRUE(LastLine(m_form->Memo2()).endsWith("; 0; 1; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0"));
}

TEST_F(FormTest, DoubleClickEmptiesTheRawLogAndLeavesTheRecordLogItsHeader)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    Feed(kFlowFrame);
    QTest::keyClick(m_form->Memo2(), Qt::Key_End, Qt::ControlModifier);
    Type(m_form->Memo2(), QStringLiteral("poznámka"));
    ASSERT_EQ(m_form->Memo2()->document()->blockCount(), 3);
    const QString records = m_form->Memo2()->toPlainText();

    QTest::mouseDClick(m_form->Memo1()->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    EXPECT_TRUE(m_form->Memo1()->document()->isEmpty());
    EXPECT_EQ(m_form->Memo2()->toPlainText(), records);

    QTest::mouseDClick(m_form->Memo2()->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    EXPECT_EQ(m_form->Memo2()->toPlainText(), Lines(varmio::CsvHeader));

    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2E, 0x80});
    EXPECT_EQ(m_form->Memo1()->document()->blockCount(), 2) << "the next line starts the log again";
    EXPECT_EQ(m_form->Memo2()->document()->blockCount(), 3);
}

TEST_F(FormTest, LoggedLinesAreNotUndoneButTypedTextIs)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    Feed(kFlowFrame);
    EXPECT_FALSE(m_form->Memo2()->document()->isUndoAvailable());
    Type(m_form->Memo2(), QStringLiteral("x"));
    EXPECT_TRUE(m_form->Memo2()->document()->isUndoAvailable());
}

TEST_F(FormTest, RawLogKeepsItsNewestLinesUpToItsCapWithTheUsersViewAndSelection)
{
    auto* raw = static_cast<varmio::LogMemo*>(m_form->Memo1());
    EXPECT_EQ(raw->LineCap(), 100'000);
    EXPECT_EQ(static_cast<varmio::LogMemo*>(m_form->Memo2())->LineCap(), 0) << "the record log keeps every line";
    raw->SetLineCap(200); // lines leave 20 at a time
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    const auto lines = [raw] { return raw->document()->blockCount() - 1; };
    const auto topLine = [raw] { return raw->cursorForPosition(QPoint(1, 1)).block().text(); };
    int next = 0;
    const auto log = [raw, &next](int count) {
        for (int end = next + count; next < end; ++next) raw->AppendLine(QStringLiteral("line %1").arg(next));
    };

    log(200);
    ASSERT_EQ(lines(), 200);
    raw->verticalScrollBar()->setValue(100);
    QTextCursor selection(raw->document()->findBlockByNumber(150));
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    raw->setTextCursor(selection);
    const QString top = topLine();
    log(1);
    EXPECT_EQ(lines(), 180);
    EXPECT_EQ(raw->document()->firstBlock().text(), "line 21");
    EXPECT_EQ(LastLine(raw), "line 200");
    EXPECT_EQ(raw->textCursor().selectedText(), "line 150");
    EXPECT_EQ(topLine(), top) << "the view stays on the lines it showed";

    // Following the end: every line past the cap drops the oldest, the newest stays last and in view.
    raw->verticalScrollBar()->setValue(raw->verticalScrollBar()->maximum());
    for (int round = 0; round < 20; ++round) {
        log(37);
        QCoreApplication::processEvents();
        ASSERT_LE(lines(), 200);
        ASSERT_GE(lines(), 180);
        ASSERT_EQ(LastLine(raw), QStringLiteral("line %1").arg(next - 1));
        ASSERT_EQ(raw->verticalScrollBar()->value(), raw->verticalScrollBar()->maximum());
    }
    EXPECT_EQ(raw->document()->firstBlock().text(), QStringLiteral("line %1").arg(next - lines()));
}

TEST_F(FormTest, MenuHasFileWithSaveAndALoadThatDoesNothingAndATopLevelExit)
{
    QList<QAction*> top = m_form->menuBar()->actions();
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(top[1]->text(), QStringLiteral("Zprávy")); // the message and trends windows, between File and Exit
    EXPECT_EQ(top[2]->text(), QStringLiteral("Graf"));
    top.removeAt(1);
    top.removeAt(1);
    EXPECT_EQ(top[0]->text(), "File");
    ASSERT_NE(top[0]->menu(), nullptr);
    const QList<QAction*> file = top[0]->menu()->actions();
    ASSERT_EQ(file.size(), 3);
    EXPECT_EQ(file[0]->text(), "Save");
    EXPECT_EQ(file[1]->text(), "Load");
    EXPECT_EQ(file[2]->text(), QStringLiteral("Síťový převodník…")); // adds a network relay
    EXPECT_EQ(top[1]->text(), "Exit");
    EXPECT_EQ(top[1]->menu(), nullptr);

    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    Feed(kFlowFrame);
    const QString records = m_form->Memo2()->toPlainText();
    ModalDriver driver({ModalDriver::Cancel()}); // a dialog opened with exec would be answered here
    file[1]->trigger();
    EXPECT_EQ(driver.Answered(), 0);
    EXPECT_EQ(m_form->Memo2()->toPlainText(), records);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    top[1]->trigger();
    EXPECT_FALSE(m_form->isVisible());
}

} // namespace
