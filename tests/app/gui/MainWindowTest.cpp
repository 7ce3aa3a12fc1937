// The main window: its controls as designed, the clock, Init, clearing the logs and the menu.
#include "FormFixture.h"
#include "ModalDriver.h"

#include "varmio/Monitor.h"
#include "varmio/WindowLayout.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

namespace {

using varmio::TForm1;

QString LastLine(const QPlainTextEdit* memo) { return memo->document()->lastBlock().text(); }

// The position of `widget` in the client area below the menu bar.
QRect InClient(const TForm1& form, const QWidget* widget)
{
    return QRect(widget->mapTo(form.centralWidget(), QPoint(0, 0)), widget->size());
}

// The part of a splitter handle that is drawn; a thin handle has a wider grab area around it.
QRect DrawnInClient(const TForm1& form, const QSplitterHandle* handle)
{
    const QRect drawn = handle->contentsRect();
    return QRect(handle->mapTo(form.centralWidget(), drawn.topLeft()), drawn.size());
}

TEST_F(FormTest, StartsWithTheDesignedTexts)
{
    EXPECT_EQ(m_form->windowTitle(), "Varmio ver.1.0 [QZ7XYV]");
    for (const char* box : {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit12", "Edit13"})
        EXPECT_EQ(Control<QLineEdit>(box)->text(), "0") << box;
    for (const char* box : {"Edit8", "Edit9", "Edit10", "Edit11"})
        EXPECT_TRUE(Control<QLineEdit>(box)->text().isEmpty()) << box;

    EXPECT_EQ(Control<QLabel>("Label5")->text(), QStringLiteral("LCD Aktuální (24)"));
    EXPECT_EQ(Control<QLabel>("Label3")->text(), QStringLiteral("Start ohřev TUV (56)"));
    EXPECT_EQ(Control<QLabel>("Label14")->text(), QStringLiteral("Počet záznamů"));
    EXPECT_EQ(Control<QLabel>("Label8")->text(), "Termostat");
    EXPECT_EQ(Control<QLabel>("Label13")->text(), "Value");
    EXPECT_EQ(Control<QPushButton>("Button1")->text(), "Init");
    EXPECT_EQ(Control<QCheckBox>("CheckBox2")->text(), QStringLiteral("Ukládat pouze změny"));
    EXPECT_TRUE(Control<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_EQ(Control<QGroupBox>("GroupBox1")->title(), "Status");
    EXPECT_EQ(Control<QGroupBox>("GroupBox2")->title(), "Data");
    EXPECT_EQ(Control<QGroupBox>("GroupBox3")->title(), "GroupBox3");
    EXPECT_EQ(Control<QGroupBox>("GroupBox4")->title(), "Serial Port");
    EXPECT_EQ(m_form->GroupBox4(), Control<QGroupBox>("GroupBox4"));

    EXPECT_TRUE(m_form->Memo1()->document()->isEmpty());
    EXPECT_EQ(m_form->Memo2()->toPlainText(), QString::fromUtf8(varmio::CsvHeader));
    EXPECT_EQ(m_form->Memo2()->document()->blockCount(), 1);
}

TEST_F(FormTest, StatusListsHoldTheirEightUncheckedItems)
{
    const QStringList master{QStringLiteral("Topení povoleno"), "TUV povoleno", QStringLiteral("Chlazení povoleno"),
                             "Venek kompenzace", QStringLiteral("Topení 2.CH povol."), "REZERVA", "REZERVA", "REZERVA"};
    const QStringList slave{"Chyba ", QStringLiteral("Topení aktivní"), QStringLiteral("TUV aktivní"),
                            QStringLiteral("Plamen aktivní"), QStringLiteral("Chlazení aktivní"),
                            "Topení 2.Ch akt", "Diagnostika akt", "REZERVA"};
    const std::pair<const char*, const QStringList*> lists[] = {{"CheckListBox1", &master}, {"CheckListBox2", &slave}};
    for (const auto& [name, captions] : lists) {
        auto* list = Control<QListWidget>(name);
        ASSERT_EQ(list->count(), 8) << name;
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(list->item(i)->text(), captions->at(i)) << name << " item " << i;
            EXPECT_EQ(list->item(i)->checkState(), Qt::Unchecked);
            EXPECT_EQ(list->visualItemRect(list->item(i)).height(), varmio::kCheckListItemHeight);
        }
        EXPECT_TRUE(list->font().bold()) << "the group's bold font";
    }
}

TEST_F(FormTest, BoldIsWhereTheDesignSaysAndTheFontIsElevenPixelsHigh)
{
    EXPECT_EQ(m_form->font().pixelSize(), 11);
    EXPECT_TRUE(Control<QLabel>("Label5")->font().bold());
    EXPECT_TRUE(Control<QLabel>("Label7")->font().bold());
    EXPECT_TRUE(Control<QGroupBox>("GroupBox1")->font().bold());
    EXPECT_FALSE(Control<QGroupBox>("GroupBox2")->font().bold());
    EXPECT_FALSE(Control<QLabel>("Label11")->font().bold());
    EXPECT_FALSE(Control<QLineEdit>("Edit5")->font().bold());
    EXPECT_FALSE(Control<QLineEdit>("Edit8")->font().bold());
}

TEST_F(FormTest, EveryFixedControlSitsAtItsDesignedPlace)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    for (const varmio::ControlSpec& spec : varmio::WindowLayout()) {
        if (spec.Flags & (varmio::cfAlignLeft | varmio::cfAlignRight | varmio::cfAlignClient | varmio::cfAlignBottom))
            continue;
        const QString name = QString::fromUtf8(spec.Name.data(), static_cast<qsizetype>(spec.Name.size()));
        const QWidget* control = m_form->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << spec.Name;
        const QWidget* parent = spec.Parent.empty() ? m_form->centralWidget() : control->parentWidget();
        if (!spec.Parent.empty()) {
            EXPECT_EQ(parent->objectName().toStdString(), spec.Parent);
        }
        EXPECT_EQ(control->mapTo(m_form.get(), QPoint(0, 0)) - parent->mapTo(m_form.get(), QPoint(0, 0)),
                  QPoint(spec.Left, spec.Top))
            << spec.Name;
        EXPECT_EQ(control->height(), spec.Height) << spec.Name;
        if (spec.Kind == varmio::ckLabel) {
            EXPECT_GE(control->width(), spec.Width) << spec.Name;
        } else {
            EXPECT_EQ(control->width(), spec.Width) << spec.Name;
        }
        EXPECT_TRUE(control->isVisible()) << spec.Name;
    }
}

TEST_F(FormTest, ClientAreaIsDividedAsDesigned)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    const QWidget* client = m_form->centralWidget();
    EXPECT_EQ(client->y(), m_form->menuBar()->height());
    EXPECT_EQ(m_form->height() - client->y(), 546);
    EXPECT_EQ(client->size(), QSize(1242, 527));

    EXPECT_EQ(InClient(*m_form, Control<QWidget>("Panel1")), QRect(408, 0, 834, 527));
    EXPECT_EQ(DrawnInClient(*m_form, Control<QSplitterHandle>("Splitter2")), QRect(405, 0, 3, 527));
    EXPECT_EQ(InClient(*m_form, m_form->Memo1()), QRect(409, 1, 296, 525));
    EXPECT_EQ(DrawnInClient(*m_form, Control<QSplitterHandle>("Splitter1")), QRect(705, 1, 3, 525));
    EXPECT_EQ(InClient(*m_form, m_form->Memo2()), QRect(708, 1, 533, 525));
    const QStatusBar* status = m_form->statusBar();
    EXPECT_EQ(status->objectName(), "StatusBar1");
    EXPECT_EQ(QRect(status->x(), status->y() - client->y(), status->width(), status->height()),
              QRect(0, 527, 1242, 19));
}

TEST_F(FormTest, ResizingKeepsTheLogsAtTheRightEdgeAndTheControlsAtTheTopLeft)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    const QPoint label = InClient(*m_form, Control<QWidget>("Label5")).topLeft();
    m_form->resize(m_form->width() + 200, m_form->height() + 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_form->centralWidget()->width() == 1442; }, 5000));

    const QRect panel = InClient(*m_form, Control<QWidget>("Panel1"));
    EXPECT_EQ(panel, QRect(608, 0, 834, 627));
    EXPECT_EQ(m_form->Memo1()->width(), 296);
    EXPECT_EQ(m_form->statusBar()->geometry().bottom(), m_form->height() - 1);
    EXPECT_EQ(InClient(*m_form, Control<QWidget>("Label5")).topLeft(), label);
}

TEST_F(FormTest, DraggingTheSplittersResizesPanelAndRawLog)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    auto* handle = Control<QSplitterHandle>("Splitter2");
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(1, 100));
    QTest::mouseMove(handle, QPoint(-49, 100));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(-49, 100));
    EXPECT_NEAR(Control<QWidget>("Panel1")->width(), 884, 1); // the grab area may shift it by its margin

    auto* inner = Control<QSplitterHandle>("Splitter1");
    QTest::mousePress(inner, Qt::LeftButton, {}, QPoint(1, 100));
    QTest::mouseMove(inner, QPoint(41, 100));
    QTest::mouseRelease(inner, Qt::LeftButton, {}, QPoint(41, 100));
    EXPECT_NEAR(m_form->Memo1()->width(), 336, 1);
}

TEST_F(FormTest, ClockShowsDateAndTimeOfOneReading)
{
    m_form->Timer1()->stop();
    // A tick at midnight: the day changes between two readings taken one right after the other.
    m_clock = {At(2026, 12, 7, 23, 59, 59), At(2026, 12, 8, 0, 0, 0)};
    m_form->Timer1Timer(m_form->Timer1());
    EXPECT_EQ(m_form->Edit8()->text(), "07.12.2026; 23:59:59");
    m_form->Timer1Timer(m_form->Timer1());
    EXPECT_EQ(m_form->Edit8()->text(), "08.12.2026; 00:00:00");
}

TEST_F(FormTest, ClockTicksEverySecondFromTheStart)
{
    EXPECT_TRUE(m_form->Edit8()->text().isEmpty());
    EXPECT_TRUE(m_form->Timer1()->isActive());
    EXPECT_EQ(m_form->Timer1()->interval(), 1000);
    m_clock = {At(2026, 1, 2, 3, 4, 5)};
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_form->Edit8()->text().isEmpty(); }, 5000));
    EXPECT_EQ(m_form->Edit8()->text(), "02.01.2026; 03:04:05");
}

TEST_F(FormTest, LogLinesAreStampedWithWhatTheDateTimeBoxShows)
{
    m_form->Timer1()->stop();
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    EXPECT_EQ(LastLine(m_form->Memo1()), "  [Type: 4]  [25] :11648") << "empty before the first tick";

    m_form->Timer1Timer(m_form->Timer1());
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    EXPECT_EQ(LastLine(m_form->Memo1()), "07.12.2026; 13:05:20  [Type: 4]  [25] :11648");
    EXPECT_EQ(Control<QLineEdit>("Edit1")->text(), "45,5");

    // Text the user types into the box stamps the next lines.
    m_form->Edit8()->clear();
    Type(m_form->Edit8(), QStringLiteral("ručně"));
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2E, 0x00});
    EXPECT_EQ(LastLine(m_form->Memo1()), QStringLiteral("ručně  [Type: 4]  [25] :11776"));
    EXPECT_TRUE(LastLine(m_form->Memo2()).startsWith(QStringLiteral("ručně; 0; 0; 0; 46; ")));
}

TEST_F(FormTest, InitEmptiesTheValueBoxesAndLeavesEverythingElse)
{
    m_form->Timer1Timer(m_form->Timer1());
    Feed({0x35, 0x35, 0x35, 0x01, 0x18, 0x15, 0x80,   // room temperature 21.5
          0x35, 0x35, 0x35, 0x04, 0x1B, 0xFF, 0x00,   // outside -1
          0x35, 0x35, 0x35, 0x04, 0x00, 0x00, 0x0A}); // slave status: items 1 and 3
    ASSERT_EQ(Control<QLineEdit>("Edit5")->text(), "21,5");
    ASSERT_EQ(Control<QLineEdit>("Edit7")->text(), "-1");
    const QString memo1 = m_form->Memo1()->toPlainText();
    const QString memo2 = m_form->Memo2()->toPlainText();

    QTest::mouseClick(Control<QPushButton>("Button1"), Qt::LeftButton);

    for (const char* box : {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit12"})
        EXPECT_TRUE(Control<QLineEdit>(box)->text().isEmpty()) << box;
    EXPECT_EQ(Control<QLineEdit>("Edit13")->text(), "3");
    EXPECT_EQ(Control<QLineEdit>("Edit9")->text(), "4");
    EXPECT_EQ(Control<QLineEdit>("Edit11")->text(), "10");
    auto* slave = Control<QListWidget>("CheckListBox2");
    EXPECT_EQ(slave->item(1)->checkState(), Qt::Checked);
    EXPECT_EQ(slave->item(3)->checkState(), Qt::Checked);
    EXPECT_EQ(slave->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(m_form->Memo1()->toPlainText(), memo1);
    EXPECT_EQ(m_form->Memo2()->toPlainText(), memo2);
    for (double value : m_form->Core().StoredValues())
        EXPECT_EQ(value, 0.0);
}

TEST_F(FormTest, CheckMarksTheUserSetsGoIntoTheNextRecord)
{
    auto* master = Control<QListWidget>("CheckListBox1");
    master->item(1)->setCheckState(Qt::Checked);
    EXPECT_TRUE(m_form->IsChecked(varmio::StatusList::CheckListBox1, 1));
    Feed({0x35, 0x35, 0x35, 0x00, 0x03, 0x00, 0x00});
    EXPECT_TRUE(LastLine(m_form->Memo2()).endsWith(QStringLiteral("; 0; 1; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0")))
        << LastLine(m_form->Memo2()).toStdString();
}

TEST_F(FormTest, DoubleClickOnTheRawLogEmptiesIt)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80, 0x35, 0x35, 0x35, 0x04, 0x19, 0x2E, 0x80});
    ASSERT_EQ(m_form->Memo1()->document()->blockCount(), 2);
    const QString records = m_form->Memo2()->toPlainText();

    QTest::mouseDClick(m_form->Memo1()->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    EXPECT_TRUE(m_form->Memo1()->toPlainText().isEmpty());
    EXPECT_EQ(m_form->Memo2()->toPlainText(), records);

    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    EXPECT_EQ(m_form->Memo1()->document()->blockCount(), 1) << "the next line starts the log again";
}

TEST_F(FormTest, DoubleClickOnTheRecordLogLeavesTheHeaderOnly)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    QTest::keyClick(m_form->Memo2(), Qt::Key_End, Qt::ControlModifier);
    Type(m_form->Memo2(), QStringLiteral("\npoznámka"));
    ASSERT_EQ(m_form->Memo2()->document()->blockCount(), 3);
    const QString raw = m_form->Memo1()->toPlainText();

    QTest::mouseDClick(m_form->Memo2()->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    EXPECT_EQ(m_form->Memo2()->toPlainText(), QString::fromUtf8(varmio::CsvHeader));
    EXPECT_EQ(m_form->Memo1()->toPlainText(), raw);

    // The same record as before the clearing is not logged again; a changed one is.
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    EXPECT_EQ(m_form->Memo2()->document()->blockCount(), 1);
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2E, 0x80});
    EXPECT_EQ(m_form->Memo2()->document()->blockCount(), 2);
}

TEST_F(FormTest, UserEditsStayUndoableWhileLinesAreLogged)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    EXPECT_FALSE(m_form->Memo2()->document()->isUndoAvailable()) << "logged lines are not an edit";
    QTest::keyClick(m_form->Memo2(), Qt::Key_End, Qt::ControlModifier);
    Type(m_form->Memo2(), QStringLiteral("x"));
    EXPECT_TRUE(m_form->Memo2()->document()->isUndoAvailable());
}

TEST_F(FormTest, MenuHasFileWithSaveAndLoadAndATopLevelExit)
{
    const QList<QAction*> top = m_form->menuBar()->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->text(), "File");
    ASSERT_NE(top[0]->menu(), nullptr);
    const QList<QAction*> file = top[0]->menu()->actions();
    ASSERT_EQ(file.size(), 2);
    EXPECT_EQ(file[0]->text(), "Save");
    EXPECT_EQ(file[1]->text(), "Load");
    EXPECT_EQ(top[1]->text(), "Exit");
    EXPECT_EQ(top[1]->menu(), nullptr);
}

TEST_F(FormTest, LoadDoesNothing)
{
    m_form->Timer1()->stop();
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    const QString raw = m_form->Memo1()->toPlainText();
    const QString records = m_form->Memo2()->toPlainText();
    const auto visibleWindows = [] {
        int count = 0;
        for (const QWidget* w : QApplication::topLevelWidgets())
            count += w->isVisible() ? 1 : 0;
        return count;
    };
    const int before = visibleWindows();
    ModalDriver driver({ModalDriver::Cancel()}); // a dialog opened with exec would be answered here
    Control<QAction>("Load1")->trigger();
    EXPECT_EQ(driver.Answered(), 0);
    EXPECT_EQ(visibleWindows(), before);
    EXPECT_EQ(m_form->Memo1()->toPlainText(), raw);
    EXPECT_EQ(m_form->Memo2()->toPlainText(), records);
    EXPECT_EQ(Control<QLineEdit>("Edit1")->text(), "45,5");
}

TEST_F(FormTest, ExitClosesTheWindow)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    Control<QAction>("exit1")->trigger();
    EXPECT_FALSE(m_form->isVisible());
}

} // namespace
