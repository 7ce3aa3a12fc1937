// SPDX-License-Identifier: GPL-3.0-or-later
// Renders every LED glyph, on and off, enlarged, into one PNG sheet for checking the pictures by eye:
// one row per kind (the six built-in ones, then the monitor's own pair given as custom pictures). The
// first two columns are the lit and the dark LED as it draws itself on a window's face colour (the
// transparent background gone); the last two are the bitmaps as stored, background included.
//
//     QT_QPA_PLATFORM=offscreen cportctl_glyph_sheet [output.png]     (default docs/glyphs.png)

#include "cportctl/ComLed.h"

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdio>

using namespace cportctl;

namespace {

constexpr int kScale = 8;                // each pixel drawn as an 8 x 8 block
constexpr int kLedSize = 25;             // the LED's default size
constexpr int kCell = kLedSize * kScale; // one enlarged LED
constexpr int kMargin = 16;
constexpr int kLabelWidth = 200;
constexpr int kLabelHeight = 28;
const QColor kFace(212, 208, 200); // a window's face colour
const QColor kPaper(255, 255, 255);
constexpr int kColumns = 4;

QImage Enlarged(const QImage& image)
{
    return image.scaled(image.size() * kScale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

// The LED in `state`, as its parent window would show it, enlarged.
QImage RenderLed(TComLed& led, TLedState state)
{
    led.SetState(state);
    QImage image(led.size(), QImage::Format_ARGB32);
    image.fill(kFace);
    led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren); // no background: the face shows
    return Enlarged(image);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/glyphs.png");

    struct Row {
        QString Title;
        TLedKind Kind;
        const char* CustomOn; // resource names of the pictures given to an lkCustom LED
        const char* CustomOff;
    };
    const Row rows[] = {
        {QStringLiteral("lkRedLight"), lkRedLight, nullptr, nullptr},
        {QStringLiteral("lkGreenLight"), lkGreenLight, nullptr, nullptr},
        {QStringLiteral("lkBlueLight"), lkBlueLight, nullptr, nullptr},
        {QStringLiteral("lkYellowLight"), lkYellowLight, nullptr, nullptr},
        {QStringLiteral("lkPurpleLight"), lkPurpleLight, nullptr, nullptr},
        {QStringLiteral("lkBulb"), lkBulb, nullptr, nullptr},
        {QStringLiteral("lkCustom (window)"), lkCustom, "OKON", "OKOFF"},
    };
    constexpr int kRows = static_cast<int>(std::size(rows));

    const int width = kMargin + kLabelWidth + kColumns * (kCell + kMargin);
    const int height = kMargin + kLabelHeight + kRows * (kCell + kLabelHeight + kMargin);
    QImage sheet(width, height, QImage::Format_ARGB32);
    sheet.fill(kPaper);
    QPainter painter(&sheet);
    QFont font = painter.font();
    font.setPixelSize(16);
    painter.setFont(font);
    painter.setPen(Qt::black);

    const auto columnLeft = [](int column) { return kMargin + kLabelWidth + column * (kCell + kMargin); };
    const QString headings[kColumns] = {QStringLiteral("on"), QStringLiteral("off"), QStringLiteral("on, as stored"),
                                        QStringLiteral("off, as stored")};
    for (int column = 0; column < kColumns; ++column)
        painter.drawText(QRect(columnLeft(column), kMargin, kCell, kLabelHeight), Qt::AlignCenter, headings[column]);

    int top = kMargin + kLabelHeight;
    for (const Row& row : rows) {
        TComLed led;
        led.SetKind(row.Kind);
        QString onName, offName;
        if (row.Kind == lkCustom) {
            led.SetGlyphOn(LoadGlyphResource(row.CustomOn));
            led.SetGlyphOff(LoadGlyphResource(row.CustomOff));
            onName = QString::fromLatin1(row.CustomOn);
            offName = QString::fromLatin1(row.CustomOff);
        } else {
            onName = QString::fromLatin1(LedGlyphName(row.Kind, lsOn));
            offName = QString::fromLatin1(LedGlyphName(row.Kind, lsOff));
        }
        painter.drawText(QRect(kMargin, top, kLabelWidth - kMargin, kCell), Qt::AlignVCenter | Qt::AlignLeft,
                         row.Title);
        const QImage on = RenderLed(led, lsOn);
        const QImage off = RenderLed(led, lsOff);
        if (on.isNull() || off.isNull()) {
            std::fprintf(stderr, "cannot render %s\n", qPrintable(row.Title));
            return 1;
        }
        const QImage stored[2] = {led.GlyphOn(), led.GlyphOff()};
        const QImage cells[kColumns] = {on, off, Enlarged(stored[0]), Enlarged(stored[1])};
        const QString names[kColumns] = {onName, offName, onName, offName};
        for (int column = 0; column < kColumns; ++column) {
            const QImage& cell = cells[column];
            // Smaller pictures sit in the middle of their cell.
            painter.drawImage(columnLeft(column) + (kCell - cell.width()) / 2, top + (kCell - cell.height()) / 2, cell);
            painter.drawText(QRect(columnLeft(column), top + kCell, kCell, kLabelHeight), Qt::AlignCenter,
                             names[column]);
        }
        top += kCell + kLabelHeight + kMargin;
    }
    painter.end();
    if (!sheet.save(output)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s\n", qPrintable(output));
    return 0;
}
