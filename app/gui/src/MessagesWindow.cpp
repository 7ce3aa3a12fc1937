// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/MessagesWindow.h"

#include "MessageModels.h"
#include "varmio/WindowLayout.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace varmio {

MessagesWindow::MessagesWindow(MessageOverview& overview, const MessageLog& log, const Regional& regional,
                               QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("MessagesWindow"));
    setWindowTitle(QStringLiteral("Varmio – zprávy"));
    setFont(WindowFont());
    QPalette background = palette();
    background.setColor(QPalette::Window, WindowBackground());
    setPalette(background);
    setAutoFillBackground(true);
    resize(1180, 640);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("Tabs"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_tabs);

    // The overview, sortable by any column; the selected row's flags bit by bit below it.
    auto* overviewPage = new QSplitter(Qt::Vertical, m_tabs);
    overviewPage->setChildrenCollapsible(false);
    m_overviewModel = new OverviewModel(overview, regional, this);
    m_overviewSorted = new QSortFilterProxyModel(this);
    m_overviewSorted->setSourceModel(m_overviewModel);
    m_overviewSorted->setSortRole(kSortRole);
    m_overviewSorted->setDynamicSortFilter(true);
    m_overviewView = NewTable(overviewPage);
    m_overviewView->setObjectName(QStringLiteral("OverviewView"));
    m_overviewView->setModel(m_overviewSorted);
    m_overviewView->setSortingEnabled(true);
    m_overviewView->sortByColumn(OverviewModel::cId, Qt::AscendingOrder);
    m_overviewView->horizontalHeader()->setSectionResizeMode(OverviewModel::cAnswerValue, QHeaderView::Stretch);
    m_details = new QPlainTextEdit(overviewPage);
    m_details->setObjectName(QStringLiteral("Details"));
    m_details->setReadOnly(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_details->setPlaceholderText(QStringLiteral("Vyberte řádek přehledu: zde se zobrazí jeho hodnoty bit po bitu."));
    overviewPage->addWidget(m_overviewView);
    overviewPage->addWidget(m_details);
    overviewPage->setSizes({360, 160});
    m_tabs->addTab(overviewPage, QStringLiteral("&Přehled"));
    connect(m_overviewView->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { ShowDetails(); });

    // The decoded message log, oldest first.
    m_logModel = new MessageLogModel(log, regional, this);
    m_logView = NewTable(m_tabs);
    m_logView->setObjectName(QStringLiteral("LogView"));
    m_logView->setModel(m_logModel);
    m_logView->horizontalHeader()->setSectionResizeMode(MessageLogModel::cValue, QHeaderView::Stretch);
    m_tabs->addTab(m_logView, QStringLiteral("&Záznam zpráv"));

    auto* closeWindow = new QAction(this);
    closeWindow->setShortcut(Qt::Key_Escape);
    connect(closeWindow, &QAction::triggered, this, &QWidget::close);
    addAction(closeWindow);

    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshIntervalMs);
    connect(m_refresh, &QTimer::timeout, this, [this] { Refresh(); });

    setTabOrder(m_overviewView, m_details);
    m_overviewView->setFocus(); // the keyboard starts in the overview
}

QTableView* MessagesWindow::NewTable(QWidget* parent)
{
    auto* view = new QTableView(parent);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setTabKeyNavigation(false); // Tab leaves the table; the arrows move inside it
    view->setWordWrap(false);
    view->setAlternatingRowColors(true);
    view->verticalHeader()->hide();
    // Every row one line high, so a long log scrolls without measuring its rows.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);

    auto* copy = new QAction(QStringLiteral("Kopírovat"), view);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, view, [view] { QApplication::clipboard()->setText(SelectedRowsText(view)); });
    view->addAction(copy);
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    return view;
}

QString MessagesWindow::SelectedRowsText(const QTableView* view)
{
    QModelIndexList rows = view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    const QAbstractItemModel* model = view->model();
    QString text;
    for (const QModelIndex& row : rows) {
        for (int column = 0; column < model->columnCount(); ++column) {
            if (column > 0) text += QLatin1Char('\t');
            text += model->index(row.row(), column).data(Qt::DisplayRole).toString();
        }
        text += QLatin1Char('\n');
    }
    return text;
}

void MessagesWindow::Refresh()
{
    m_overviewModel->Refresh();
    // The log view follows new messages while it is scrolled to the end.
    const QScrollBar* bar = m_logView->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_logModel->Refresh();
    if (atEnd) m_logView->scrollToBottom();
    ShowDetails();
}

void MessagesWindow::ShowDetails()
{
    const QModelIndex current = m_overviewView->currentIndex();
    const QString text =
        current.isValid() ? m_overviewModel->Details(m_overviewSorted->mapToSource(current).row()) : QString();
    if (text != m_details->toPlainText()) m_details->setPlainText(text);
}

void MessagesWindow::FitColumns()
{
    // To what the first rows hold, none wider than a quarter of the window; the value columns take
    // what is left.
    for (QTableView* view : {m_overviewView, m_logView}) {
        view->resizeColumnsToContents();
        QHeaderView* header = view->horizontalHeader();
        for (int column = 0; column < header->count(); ++column)
            header->resizeSection(column, std::min(header->sectionSize(column), width() / 4));
    }
}

void MessagesWindow::showEvent(QShowEvent* event)
{
    Refresh();
    if (!m_columnsFitted) {
        FitColumns();
        m_columnsFitted = true;
        // The log opens at its newest message, once the view has its size, and follows from there.
        QMetaObject::invokeMethod(
            m_logView, [view = m_logView] { view->scrollToBottom(); }, Qt::QueuedConnection);
    }
    m_refresh->start();
    QWidget::showEvent(event);
}

void MessagesWindow::hideEvent(QHideEvent* event)
{
    m_refresh->stop();
    QWidget::hideEvent(event);
}

} // namespace varmio
