// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/TrendWindow.h"

#include "varmio/Application.h"
#include "varmio/RecordLogReader.h"
#include "varmio/TrendChart.h"
#include "varmio/TrendLegend.h"
#include "varmio/WindowLayout.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <stdexcept>

namespace varmio {
namespace {

struct RangeButton {
    const char* Caption;
    std::chrono::milliseconds Span; // 0: everything
};

const std::array<RangeButton, 5> kRanges{{
    {"10 min", std::chrono::minutes(10)},
    {"1 h", std::chrono::hours(1)},
    {"6 h", std::chrono::hours(6)},
    {"24 h", std::chrono::hours(24)},
    {"Vše", std::chrono::milliseconds(0)},
}};

QString WindowTitle() { return QStringLiteral("Varmio – graf"); }

} // namespace

TrendWindow::TrendWindow(const TrendStore& live, Regional regional, QWidget* parent)
    : QWidget(parent, Qt::Window), m_store(&live), m_regional(std::move(regional))
{
    setWindowTitle(WindowTitle());
    Build();
    ShowLast(std::chrono::hours(1));
}

TrendWindow::TrendWindow(const QString& logPath, Regional regional, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_ownStore(std::make_unique<TrendStore>(TrendStore::Options{.GapAfter = std::chrono::milliseconds(0)})),
      m_store(m_ownStore.get()), m_regional(std::move(regional))
{
    const RecordLogReport report = ReadRecordLog(QFile::encodeName(logPath).toStdString(), *m_ownStore, m_regional);
    setWindowTitle(WindowTitle() + QStringLiteral(" – ") + QFileInfo(logPath).fileName());
    Build();
    ShowLast(std::chrono::milliseconds(0));
    QString status = QStringLiteral("Záznamů: %1").arg(report.Records);
    if (report.Skipped > 0) {
        status += QStringLiteral(", vynecháno řádků, které nejsou záznamem: %1 (první je řádek %2: „%3“)")
                      .arg(report.Skipped)
                      .arg(report.FirstSkipped)
                      .arg(QString::fromStdString(report.FirstSkippedText));
    }
    m_status->setText(status);
}

TrendWindow::~TrendWindow() = default;

void TrendWindow::Build()
{
    setObjectName(QStringLiteral("TrendWindow"));
    setFont(WindowFont()); // a window of its own inherits no font from the main window
    resize(1100, 620);
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    layout->addLayout(bar);
    for (const RangeButton& range : kRanges) {
        auto* button = new QPushButton(QString::fromUtf8(range.Caption), this);
        button->setObjectName(QStringLiteral("Range ") + QString::fromUtf8(range.Caption));
        connect(button, &QPushButton::clicked, this,
                [this, span = range.Span] { RunHandler([&] { ShowLast(span); }); });
        bar->addWidget(button);
    }
    m_follow = new QCheckBox(QStringLiteral("Sledovat živě"), this);
    m_follow->setObjectName(QStringLiteral("FollowLive"));
    m_follow->setChecked(true);
    bar->addWidget(m_follow);
    bar->addStretch(1);
    auto* open = new QPushButton(QStringLiteral("Otevřít záznam…"), this);
    open->setObjectName(QStringLiteral("OpenLog"));
    connect(open, &QPushButton::clicked, this, [this] {
        RunHandler([this] {
            const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Otevřít záznam"), QString(),
                                                              QStringLiteral("Záznam (*.csv);;Všechny soubory (*)"));
            if (!path.isEmpty()) OpenLog(path);
        });
    });
    bar->addWidget(open);
    auto* save = new QPushButton(QStringLiteral("Uložit obrázek…"), this);
    save->setObjectName(QStringLiteral("SaveImage"));
    connect(save, &QPushButton::clicked, this, [this] { RunHandler([this] { SaveImage(); }); });
    bar->addWidget(save);

    // The legend is a panel beside the chart, with room for every caption and every series.
    auto* plot = new QHBoxLayout;
    layout->addLayout(plot, 1);
    m_chart = new TrendChart(*m_store, m_regional, this);
    m_chart->SetOwnLegendShown(false);
    plot->addWidget(m_chart, 1);
    m_legend = new TrendLegend(*m_chart, this);
    plot->addWidget(m_legend);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Status"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_status);

    connect(m_follow, &QCheckBox::toggled, this, [this](bool on) { m_chart->SetFollowLive(on); });
    connect(m_chart, &TrendChart::followLiveChanged, m_follow, &QCheckBox::setChecked);
    connect(m_chart, &TrendChart::hoverTextChanged, m_status, &QLabel::setText);
    // A live store grows: the chart catches up once a second while the window is open.
    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshIntervalMs);
    connect(m_refresh, &QTimer::timeout, this, [this] {
        if (isVisible()) m_chart->Refresh();
    });
    if (!m_ownStore) m_refresh->start();
}

void TrendWindow::ShowLast(std::chrono::milliseconds span)
{
    if (span.count() == 0) {
        // Everything: the whole store, fixed (the end moves on only while following live).
        if (m_store->HasData()) m_chart->ShowRange(m_store->FirstTime(), m_store->LastTime());
        m_chart->SetFollowLive(m_ownStore == nullptr);
        return;
    }
    const TrendTime end =
        m_store->HasData() ? m_store->LastTime()
                           : std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
    m_chart->ShowRange(end - span, end);
    m_chart->SetFollowLive(true);
}

TrendWindow* TrendWindow::OpenLog(const QString& path)
{
    // Its own window, so that the live chart goes on beside it; it goes with this one.
    auto* window = new TrendWindow(path, m_regional, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

void TrendWindow::SaveImage()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Uložit obrázek"), QStringLiteral("graf.png"),
                                                QStringLiteral("Obrázek PNG (*.png)"));
    if (path.isEmpty()) return;
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) path += QStringLiteral(".png");
    if (!m_chart->SaveImage(path)) throw std::runtime_error("Obrázek nelze uložit do „" + path.toStdString() + "“.");
}

} // namespace varmio
