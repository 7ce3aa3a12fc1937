// SPDX-License-Identifier: GPL-3.0-or-later
// The glyph bitmaps compiled into the controls: names, sizes, colour depth, backgrounds and looks.
#include "cportctl/ComLed.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QString>

#include <cmath>
#include <cstdint>
#include <string>

namespace cportctl::test {
namespace {

const QRgb kOlive = qRgb(128, 128, 0);
const QRgb kPurple = qRgb(128, 0, 128);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);

QString ResourcePath(const std::string& name)
{
    return QStringLiteral(":/glyphs/%1.bmp").arg(QString::fromStdString(name));
}

// The bits per pixel written in a BMP file's header.
int BitsPerPixel(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray header = file.read(30);
    if (header.size() < 30 || !header.startsWith("BM")) return -1;
    return static_cast<std::uint8_t>(header[28]) | static_cast<std::uint8_t>(header[29]) << 8;
}

QImage Load(const std::string& name) { return LoadGlyphResource(name.c_str()); }

struct LampLook {
    const char* name;
    TLedKind kind;
    QRgb on;
    QRgb off;
    QRgb background;
};

class LampGlyphTest : public ::testing::TestWithParam<LampLook> {};

TEST_P(LampGlyphTest, IsAFifteenPixelSixteenColourLampOnItsBackground)
{
    const LampLook look = GetParam();
    for (TLedState state : {lsOn, lsOff}) {
        const std::string name = LedGlyphName(look.kind, state);
        const QImage image = Load(name);
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_EQ(image.size(), QSize(15, 15)) << name;
        EXPECT_EQ(BitsPerPixel(ResourcePath(name)), 4) << name;
        EXPECT_LE(image.colorCount(), 16) << name;
        EXPECT_EQ(image.pixel(0, 14), look.background) << name; // the transparent colour
        EXPECT_EQ(image.pixel(0, 0), look.background) << name;
        EXPECT_EQ(image.pixel(7, 7), state == lsOn ? look.on : look.off) << name;
        EXPECT_EQ(qRed(image.pixel(7, 0)), qGreen(image.pixel(7, 0))) << name << ": a grey bezel";
    }
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, LampGlyphTest,
                         ::testing::Values(LampLook{"Red", lkRedLight, qRgb(255, 0, 0), qRgb(128, 0, 0), kOlive},
                                           LampLook{"Green", lkGreenLight, qRgb(0, 255, 0), qRgb(0, 128, 0), kOlive},
                                           LampLook{"Blue", lkBlueLight, qRgb(0, 0, 255), qRgb(0, 0, 128), kOlive},
                                           // olive is the yellow lamp's dark part, so its background is purple
                                           LampLook{"Yellow", lkYellowLight, qRgb(255, 255, 0), kOlive, kPurple},
                                           LampLook{"Purple", lkPurpleLight, qRgb(255, 0, 255), kPurple, kOlive}),
                         [](const ::testing::TestParamInfo<LampLook>& param) { return std::string(param.param.name); });

TEST(GlyphResourcesTest, TheBulbIsYellowWithRaysWhenOnAndWhiteWithoutWhenOff)
{
    const QImage on = Load("LEDBULBON");
    const QImage off = Load("LEDBULBOFF");
    ASSERT_EQ(on.size(), QSize(15, 15));
    ASSERT_EQ(off.size(), QSize(15, 15));
    EXPECT_EQ(BitsPerPixel(ResourcePath("LEDBULBON")), 4);
    EXPECT_EQ(on.pixel(0, 14), kOlive);
    EXPECT_EQ(off.pixel(0, 14), kOlive);
    EXPECT_EQ(on.pixel(7, 6), qRgb(255, 255, 0));
    EXPECT_EQ(off.pixel(7, 6), kWhite);
    // The rays lie outside the glass, where the dark bulb shows only background.
    int rays = 0;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x)
            if (off.pixel(x, y) == kOlive && on.pixel(x, y) == qRgb(255, 255, 0)) ++rays;
    EXPECT_GE(rays, 4);
}

TEST(GlyphResourcesTest, KindsHaveTheirNamedResourcesAndCustomHasNone)
{
    EXPECT_STREQ(LedGlyphName(lkRedLight, lsOn), "LEDREDON");
    EXPECT_STREQ(LedGlyphName(lkPurpleLight, lsOff), "LEDPURPLEOFF");
    EXPECT_STREQ(LedGlyphName(lkBulb, lsOn), "LEDBULBON");
    EXPECT_EQ(LedGlyphName(lkCustom, lsOn), nullptr);
    EXPECT_EQ(LedGlyphName(static_cast<TLedKind>(7), lsOn), nullptr);
    EXPECT_TRUE(LoadGlyphResource(nullptr).isNull());
    EXPECT_TRUE(LoadGlyphResource("LEDMISSING").isNull());
}

TEST(GlyphResourcesTest, TheWindowsPairIsAGreenOkDiscAndAPlainRedDisc)
{
    const QImage on = Load("OKON");
    const QImage off = Load("OKOFF");
    for (const char* name : {"OKON", "OKOFF"}) {
        const QImage image = Load(name);
        ASSERT_EQ(image.size(), QSize(20, 20)) << name;
        EXPECT_EQ(BitsPerPixel(ResourcePath(name)), 4) << name;
        for (QPoint corner : {QPoint(0, 0), QPoint(19, 0), QPoint(0, 19), QPoint(19, 19)})
            EXPECT_EQ(image.pixel(corner), kWhite) << name;
        EXPECT_EQ(image.pixel(10, 0), kBlack) << name << ": outline";
        EXPECT_EQ(image.pixel(0, 10), kBlack) << name << ": outline";
    }
    int text = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            if (std::hypot(x - 9.5, y - 9.5) > 8) continue;               // inside the outline only
            EXPECT_EQ(off.pixel(x, y), qRgb(255, 0, 0)) << x << "," << y; // plain
            const QRgb pixel = on.pixel(x, y);
            EXPECT_TRUE(pixel == qRgb(0, 255, 0) || pixel == kBlack) << x << "," << y;
            text += pixel == kBlack;
        }
    EXPECT_GE(text, 20); // the black "OK"
}

} // namespace
} // namespace cportctl::test
