// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trends window "Varmio – graf": the chart of the live trend store (from the "Graf" menu item)
// or of a saved record log (opened from the window or with varmio --chart FILE) with its legend
// panel beside it, the range buttons, "Sledovat živě", "Otevřít záznam…" and "Uložit obrázek…". Non-modal.
//
// Thread safety: a QWidget; main thread only. A live store must outlive the window.

#include "varmio/Regional.h"
#include "varmio/TrendStore.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QTimer;

namespace varmio {

class TrendChart;
class TrendLegend;

class TrendWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 1000;

    // The window over the live store.
    TrendWindow(const TrendStore& live, Regional regional, QWidget* parent = nullptr);
    // The window over a saved record log; throws RecordLogError when it cannot be read.
    TrendWindow(const QString& logPath, Regional regional, QWidget* parent = nullptr);
    ~TrendWindow() override;

    // Shows the last `span` (following live) or, with a zero span, everything.
    void ShowLast(std::chrono::milliseconds span);
    // Reads a record log into a window of its own, shown. Throws RecordLogError.
    TrendWindow* OpenLog(const QString& path);
    // Asks for a file name and saves the chart there as PNG. Throws std::runtime_error when the
    // file cannot be written.
    void SaveImage();

    TrendChart* Chart() const { return m_chart; }
    TrendLegend* Legend() const { return m_legend; }
    const TrendStore& Store() const { return *m_store; }
    QCheckBox* FollowLive() const { return m_follow; }
    QLabel* StatusLabel() const { return m_status; }

private:
    void Build();

    std::unique_ptr<TrendStore> m_ownStore; // a saved log's
    const TrendStore* m_store;
    Regional m_regional;
    TrendChart* m_chart = nullptr;
    TrendLegend* m_legend = nullptr;
    QCheckBox* m_follow = nullptr;
    QLabel* m_status = nullptr;
    QTimer* m_refresh = nullptr;
};

} // namespace varmio
