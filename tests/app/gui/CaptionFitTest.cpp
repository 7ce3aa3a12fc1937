// SPDX-License-Identifier: GPL-3.0-or-later
// Every caption of the window, and of the trends window's legend, fits the room its control gives it,
// in the font actually in use. Run
// with VARMIO_SYSTEM_FONTS=1 on a machine without Liberation Sans to see it catch the substitute.
#include "FormFixture.h"

#include "varmio/TrendChart.h"
#include "varmio/TrendLegend.h"
#include "varmio/TrendWindow.h"
#include "varmio/WindowLayout.h"

#include <QAction>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionViewItem>
#include <QTest>

#include <algorithm>

namespace {

using varmio::ControlSpec;

QString Name(const ControlSpec& row)
{
    return QString::fromUtf8(row.Name.data(), static_cast<qsizetype>(row.Name.size()));
}

// A label's room: its designed width, or for a label without one, up to the next control to its
// right on the same row of the same parent (or the parent's edge).
int LabelRoom(const ControlSpec& label, const QWidget& parent)
{
    if (label.Width > 0) return label.Width;
    int right = parent.width();
    for (const ControlSpec& row : varmio::WindowLayout()) {
        if (row.Parent == label.Parent && row.Top == label.Top && row.Left > label.Left)
            right = std::min(right, row.Left);
    }
    return right - label.Left;
}

int CheckBoxRoom(const QCheckBox& box)
{
    QStyleOptionButton option;
    option.initFrom(&box);
    option.text = box.text();
    return box.style()->subElementRect(QStyle::SE_CheckBoxContents, &option, &box).width();
}

// Where a check list draws an item's text (after its check box and icon), less the margins the item delegate keeps on
// either side.
int CheckItemRoom(const QListWidget& list, const QListWidgetItem& item)
{
    QStyleOptionViewItem option;
    option.initFrom(list.viewport());
    // An item may be wider than the list; what lies past the viewport's right edge is cut off.
    option.rect = list.visualItemRect(&item);
    option.rect.setRight(std::min(option.rect.right(), list.viewport()->width() - 1));
    option.font = list.font();
    option.fontMetrics = list.fontMetrics();
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    if (!item.icon().isNull()) {
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.icon = item.icon();
        option.decorationSize = list.iconSize();
    }
    option.text = item.text();
    option.checkState = item.checkState();
    const int margin = list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1;
    return list.style()->subElementRect(QStyle::SE_ItemViewItemText, &option, &list).width() - 2 * margin;
}

TEST_F(FormTest, EveryCaptionFitsTheRoomItsControlGivesIt)
{
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    if (qEnvironmentVariableIsEmpty("VARMIO_SYSTEM_FONTS")) {
        EXPECT_EQ(QFontInfo(m_form->font()).family(), "Liberation Sans") << "the bundled font is in use";
    }

    int walked = 0;
    auto fits = [&](const QWidget& widget, const QString& text, int room) {
        ++walked;
        const int advance = widget.fontMetrics().horizontalAdvance(text);
        EXPECT_LE(advance, room) << widget.objectName().toStdString() << " \"" << text.toStdString() << "\" in "
                                 << QFontInfo(widget.font()).family().toStdString();
    };
    for (const ControlSpec& row : varmio::WindowLayout()) {
        const QWidget* widget = m_form->findChild<QWidget*>(Name(row));
        ASSERT_NE(widget, nullptr) << row.Name;
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            fits(*label, label->text(), LabelRoom(row, *label->parentWidget()));
        } else if (const auto* box = qobject_cast<const QCheckBox*>(widget)) {
            fits(*box, box->text(), CheckBoxRoom(*box));
        } else if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
            fits(*group, group->title(), group->width() - 2 * 8); // the caption starts 8 px in
        } else if (const auto* list = qobject_cast<const QListWidget*>(widget)) {
            for (int i = 0; i < list->count(); ++i)
                fits(*list, list->item(i)->text(), CheckItemRoom(*list, *list->item(i)));
        }
    }
    EXPECT_EQ(walked, 14 + 2 + 4 + 16) << "labels, check boxes, groups, check-list items";
}

// The trends window's legend panel with the most series a store takes: every data ID seen once.
TEST_F(FormTest, EveryTrendLegendCaptionFitsTheRoomThePanelGivesIt)
{
    for (int id = 0; id < 128; ++id) Feed({0x35, 0x35, 0x35, 0x04, static_cast<std::uint8_t>(id), 0x01, 0x00});
    m_form->findChild<QAction*>(QStringLiteral("Graf1"))->trigger();
    varmio::TrendWindow* window = m_form->TrendWindow1();
    ASSERT_NE(window, nullptr);
    window->Chart()->Refresh(); // takes the decoded series
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    const QListWidget& legend = *window->Legend();
    ASSERT_EQ(static_cast<std::size_t>(legend.count()), m_form->Trends().SeriesCount());
    ASSERT_GT(legend.count(), static_cast<int>(varmio::kStandardSeriesCount));
    for (int i = 0; i < legend.count(); ++i) {
        const QListWidgetItem& item = *legend.item(i);
        EXPECT_LE(legend.fontMetrics().horizontalAdvance(item.text()), CheckItemRoom(legend, item))
            << "\"" << item.text().toStdString() << "\"";
    }
}

} // namespace
