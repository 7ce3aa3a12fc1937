// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The message window "Varmio – zprávy", opened from the main window's "Zprávy" menu item: the
// message overview (one row per data ID, sortable) with every flag of the selected row spelled out
// below it, and the decoded message log. Non-modal; it follows the core's stores while it is shown.
// Ctrl+C copies the selected rows of either table as tab-separated text.
//
// Thread safety: a QWidget; main thread only. The stores and the regional settings belong to the
// main window, which owns this window and outlives it.

#include "varmio/MessageOverview.h"
#include "varmio/Regional.h"

#include <QWidget>

class QPlainTextEdit;
class QSortFilterProxyModel;
class QTabWidget;
class QTableView;
class QTimer;

namespace varmio {

class OverviewModel;
class MessageLogModel;

class MessagesWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 250;

    MessagesWindow(MessageOverview& overview, const MessageLog& log, const Regional& regional, QWidget* parent);

    // Brings the tables up to date with the stores (the refresh timer does this while shown).
    void Refresh();
    // The selected rows of `view` in the view's order, cells separated by tabs, rows ended by LF.
    static QString SelectedRowsText(const QTableView* view);

    QTabWidget* Tabs() const { return m_tabs; }
    QTableView* OverviewView() const { return m_overviewView; }
    QTableView* LogView() const { return m_logView; }
    QPlainTextEdit* Details() const { return m_details; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTableView* NewTable(QWidget* parent);
    void ShowDetails();
    void FitColumns();

    OverviewModel* m_overviewModel = nullptr;
    QSortFilterProxyModel* m_overviewSorted = nullptr;
    MessageLogModel* m_logModel = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTableView* m_overviewView = nullptr;
    QTableView* m_logView = nullptr;
    QPlainTextEdit* m_details = nullptr;
    QTimer* m_refresh = nullptr;
    bool m_columnsFitted = false;
};

} // namespace varmio
