// SPDX-License-Identifier: GPL-3.0-or-later
// The message window: opened from the menu, filled from a real capture, live, sortable, copyable.
#include "FormFixture.h"

#include "varmio/MessagesWindow.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "support/TempDir.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kPatienceMs = 10000;
constexpr int kOverviewIdColumn = 0;
constexpr int kOverviewAnswerValueColumn = 6;
constexpr int kOverviewCountColumn = 7;

std::vector<std::uint8_t> Capture(const char* name)
{
    const std::string bytes =
        varmio::test::ReadFile(std::filesystem::path(VARMIO_SOURCE_DIR) / "data/captures/relay7" / name);
    return {bytes.begin(), bytes.end()};
}

class MessagesWindowTest : public FormTest {
protected:
    // Feeds the bytes in receive batches, as the connection panel does.
    void Replay(const std::vector<std::uint8_t>& bytes)
    {
        for (std::size_t at = 0; at < bytes.size(); at += varmio::TForm1::kReceiveBufferSize)
            m_form->ReceiveBytes(bytes.data() + at, std::min(varmio::TForm1::kReceiveBufferSize, bytes.size() - at));
    }

    varmio::MessagesWindow* Open()
    {
        m_form->findChild<QAction*>(QStringLiteral("Zpravy1"))->trigger();
        varmio::MessagesWindow* window = m_form->MessagesWindow1();
        EXPECT_NE(window, nullptr);
        return window;
    }

    // The overview row showing `id`, in the view's (sorted) order; -1 when there is none.
    static int RowOf(const QAbstractItemModel* model, int id)
    {
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->index(row, kOverviewIdColumn).data().toInt() == id) return row;
        return -1;
    }
};

TEST_F(MessagesWindowTest, MenuOpensANonModalWindowThatFillsFromAReplayAndFollowsLive)
{
    const QList<QAction*> top = m_form->menuBar()->actions();
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(top[1]->text(), QStringLiteral("Zprávy"));
    EXPECT_EQ(top[1]->menu(), nullptr);

    const std::vector<std::uint8_t> capture = Capture("otgwfw_logfile.bin");
    ASSERT_FALSE(capture.empty());
    Replay(capture); // before the window exists: it shows what came before it, too
    m_form->show();
    varmio::MessagesWindow* window = Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Varmio – zprávy"));
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(m_form->isEnabled());

    const QAbstractItemModel* overview = window->OverviewView()->model();
    EXPECT_EQ(overview->rowCount(), static_cast<int>(m_form->Overview().RowCount()));
    const int burnerStarts = RowOf(overview, 116);
    ASSERT_GE(burnerStarts, 0);
    EXPECT_EQ(overview->index(burnerStarts, kOverviewAnswerValueColumn).data().toString(), "7661");
    const QAbstractItemModel* log = window->LogView()->model();
    EXPECT_EQ(log->rowCount(), 1884);
    EXPECT_EQ(log->index(0, 1).data().toString(), QStringLiteral("termostat→kotel"));

    // A new ID and more frames appear while the window is open, without anyone asking.
    ASSERT_EQ(RowOf(overview, 84), -1);
    const std::initializer_list<std::uint8_t> fan{0x35, 0x35, 0x35, 0x04, 84, 0x0B, 0xB8};
    m_form->ReceiveBytes(std::data(fan), fan.size());
    ASSERT_TRUE(QTest::qWaitFor([&] { return RowOf(overview, 84) >= 0 && log->rowCount() == 1885; }, kPatienceMs));
    EXPECT_EQ(overview->index(RowOf(overview, 84), kOverviewAnswerValueColumn).data().toString(),
              QStringLiteral("3000 rpm"));
    EXPECT_EQ(log->index(1884, 1).data().toString(), QStringLiteral("kotel→termostat"));

    // Status flags spelled out bit by bit for the selected row; the decimal separator is the user's.
    window->OverviewView()->setCurrentIndex(overview->index(RowOf(overview, 0), 0));
    const QString details = window->Details()->toPlainText();
    EXPECT_TRUE(details.contains(QStringLiteral("Termostat – Topení povoleno: "))) << details.toStdString();
    EXPECT_TRUE(details.contains(QStringLiteral("Kotel – Plamen aktivní: "))) << details.toStdString();
    window->OverviewView()->setCurrentIndex(overview->index(RowOf(overview, 25), 0));
    EXPECT_TRUE(window->Details()->toPlainText().contains(QRegularExpression(QStringLiteral("\\d+,\\d\\d °C"))));
}

TEST_F(MessagesWindowTest, OverviewSortsByAnyColumnAndCopiesSelectedRowsAsTabSeparatedText)
{
    Replay(Capture("tadox-viessmann_first_log.bin"));
    m_form->show();
    varmio::MessagesWindow* window = Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTableView* view = window->OverviewView();
    const QAbstractItemModel* model = view->model();
    ASSERT_GE(model->rowCount(), 3);

    // Counts sort as numbers, largest first when the header is clicked twice.
    view->horizontalHeader()->setSortIndicator(kOverviewCountColumn, Qt::DescendingOrder);
    for (int row = 1; row < model->rowCount(); ++row)
        EXPECT_GE(model->index(row - 1, kOverviewCountColumn).data().toString().toULongLong(),
                  model->index(row, kOverviewCountColumn).data().toString().toULongLong());

    // Keyboard only: focus the table, first row, extend the selection down by one, copy.
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    QApplication::clipboard()->clear();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    for (int row = 0; row < 2; ++row) {
        const QStringList cells = lines[row].split(QLatin1Char('\t'));
        ASSERT_EQ(cells.size(), model->columnCount());
        EXPECT_EQ(cells[kOverviewIdColumn], model->index(row, kOverviewIdColumn).data().toString());
    }

    // Escape closes the window; the main window goes on.
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(m_form->isVisible());
}

} // namespace
