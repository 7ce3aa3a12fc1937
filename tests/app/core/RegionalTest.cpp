// SPDX-License-Identifier: GPL-3.0-or-later
// Regional settings from the POSIX locale: decimal separator, short date and long time.

#include "varmio/Regional.h"
#include "support/DateTime.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <locale.h>
#include <optional>
#include <string>
#include <unistd.h>

// The C library's newlocale does not free its copy of LOCPATH, which these tests set; that is not
// ours to mend, so the leak checker is told to pass over it.
extern "C" const char* __lsan_default_suppressions() // NOLINT(bugprone-reserved-identifier): the sanitizer's hook
{
    return "leak:__argz_create_sep\nleak:__argz_add_sep\n";
}

namespace varmio {
namespace {

constexpr std::array<const char*, 5> kLocaleVariables = {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG", "LOCPATH"};

bool LocaleAvailable(const char* name)
{
    locale_t l = newlocale(LC_ALL_MASK, name, locale_t{});
    if (l == locale_t{}) return false;
    freelocale(l);
    return true;
}

using test::LocalTime;

// Gives the tests a locale, compiled once into the build folder from the system's locale sources
// (atomically, as test processes may run side by side). The system's own compiled locales are not
// used: with LOCPATH set the C library does not look at them. It must not be looked up before it
// is built, as the C library remembers a failed lookup. False when it cannot be built; the test
// then skips.
bool Have(const char* name)
{
    const std::filesystem::path folder = VARMIO_TEST_LOCALE_DIR;
    const std::string locale(name);
    std::error_code ec;
    if (!std::filesystem::exists(folder / locale)) {
        std::filesystem::create_directories(folder, ec);
        const std::filesystem::path building = folder / (locale + ".building." + std::to_string(getpid()));
        const std::string command = "localedef -c -i " + locale.substr(0, locale.find('.')) + " -f " +
                                    locale.substr(locale.find('.') + 1) + " '" + building.string() +
                                    "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) std::filesystem::rename(building, folder / locale, ec);
        std::filesystem::remove_all(building, ec);
    }
    return LocaleAvailable(name);
}

// Keeps the locale variables of the process as they were; locales are looked for in the tests'
// own folder as well as the system's.
class RegionalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (std::size_t i = 0; i < kLocaleVariables.size(); ++i) {
            const char* value = std::getenv(kLocaleVariables[i]);
            m_saved[i] = value ? std::optional<std::string>(value) : std::nullopt;
            unsetenv(kLocaleVariables[i]);
        }
        setenv("LOCPATH", VARMIO_TEST_LOCALE_DIR, 1);
    }
    void TearDown() override
    {
        for (std::size_t i = 0; i < kLocaleVariables.size(); ++i) {
            if (m_saved[i]) setenv(kLocaleVariables[i], m_saved[i]->c_str(), 1);
            else unsetenv(kLocaleVariables[i]);
        }
    }

    std::array<std::optional<std::string>, kLocaleVariables.size()> m_saved;
};

const std::tm kReading = LocalTime(2026, 12, 7, 13, 5, 20);

TEST_F(RegionalTest, CLocaleGivesPointMonthFirstDateAndTwentyFourHourTime)
{
    setenv("LC_ALL", "C", 1);
    const Regional regional = Regional::FromEnvironment();
    EXPECT_EQ(regional.DecimalSeparator, ".");
    EXPECT_EQ(regional.ShortDateFormat, "%m/%d/%y");
    EXPECT_EQ(regional.LongTimeFormat, "%H:%M:%S");
    EXPECT_EQ(regional.DateTimeText(kReading), "12/07/26; 13:05:20");
}

TEST_F(RegionalTest, NoLocaleVariablesMeanTheCLocale)
{
    const Regional regional = Regional::FromEnvironment();
    EXPECT_EQ(regional.DecimalSeparator, ".");
    EXPECT_EQ(regional.DateTimeText(LocalTime(2027, 1, 2, 3, 4, 5)), "01/02/27; 03:04:05");
}

TEST_F(RegionalTest, LocaleThatIsNotInstalledCountsAsTheCLocale)
{
    setenv("LANG", "xx_NOWHERE.UTF-8", 1);
    const Regional regional = Regional::FromEnvironment();
    EXPECT_EQ(regional.DecimalSeparator, ".");
    EXPECT_EQ(regional.DateTimeText(kReading), "12/07/26; 13:05:20");
}

TEST_F(RegionalTest, CzechLocaleGivesCommaAndDayFirstDate)
{
    if (!Have("cs_CZ.UTF-8")) GTEST_SKIP() << "cs_CZ.UTF-8 cannot be had here";
    setenv("LANG", "cs_CZ.UTF-8", 1);
    const Regional regional = Regional::FromEnvironment();
    EXPECT_EQ(regional.DecimalSeparator, ",");
    EXPECT_EQ(regional.FormatShortDate(kReading), "7.12.2026");
    EXPECT_EQ(regional.DateTimeText(kReading), "7.12.2026; 13:05:20");
    EXPECT_EQ(regional.FormatTenths(455), "45,5");
}

TEST_F(RegionalTest, CategoryVariablesOverrideLangAndLcAllOverridesThemAll)
{
    if (!Have("cs_CZ.UTF-8")) GTEST_SKIP() << "cs_CZ.UTF-8 cannot be had here";
    setenv("LANG", "cs_CZ.UTF-8", 1);
    setenv("LC_NUMERIC", "C", 1);
    Regional regional = Regional::FromEnvironment();
    EXPECT_EQ(regional.DecimalSeparator, ".");
    EXPECT_EQ(regional.FormatShortDate(kReading), "7.12.2026");

    setenv("LC_TIME", "C", 1);
    setenv("LC_NUMERIC", "cs_CZ.UTF-8", 1);
    regional = Regional::FromEnvironment();
    EXPECT_EQ(regional.DecimalSeparator, ",");
    EXPECT_EQ(regional.FormatShortDate(kReading), "12/07/26");

    setenv("LC_ALL", "C", 1);
    regional = Regional::FromEnvironment();
    EXPECT_EQ(regional.DecimalSeparator, ".");
    EXPECT_EQ(regional.FormatShortDate(kReading), "12/07/26");
}

TEST_F(RegionalTest, TextsOfAnEightBitLocaleComeOutAsUtf8)
{
    if (!Have("cs_CZ.ISO-8859-2")) GTEST_SKIP() << "cs_CZ.ISO-8859-2 cannot be had here";
    setenv("LC_ALL", "cs_CZ.ISO-8859-2", 1);
    // A copy keeps the locale alive after the Regional it came from is gone.
    auto original = std::make_unique<Regional>(Regional::FromEnvironment());
    Regional regional = *original;
    original.reset();
    EXPECT_EQ(regional.DecimalSeparator, ",");
    regional.ShortDateFormat = "%d. %b %Y";
    EXPECT_EQ(regional.FormatShortDate(LocalTime(2026, 2, 3, 0, 0, 0)), "03. úno 2026");
    EXPECT_EQ(regional.FormatShortDate(LocalTime(2026, 7, 3, 0, 0, 0)), "03. čec 2026");
}

TEST_F(RegionalTest, TwelveHourLocaleKeepsItsMarkers)
{
    if (!Have("en_US.UTF-8")) GTEST_SKIP() << "en_US.UTF-8 cannot be had here";
    setenv("LC_TIME", "en_US.UTF-8", 1);
    const Regional regional = Regional::FromEnvironment();
    EXPECT_EQ(regional.FormatShortDate(kReading), "12/07/2026");
    EXPECT_EQ(regional.FormatLongTime(kReading), "01:05:20 PM");
}

TEST(RegionalFormatsTest, HandSetFormatsKeepTheirTextAndIgnoreTheGlobalLocale)
{
    Regional regional;
    regional.ShortDateFormat = "%Y年%m月%d日";
    regional.LongTimeFormat = "%H.%M.%S h";
    EXPECT_EQ(regional.DateTimeText(LocalTime(2026, 12, 7, 9, 5, 0)), "2026年12月07日; 09.05.00 h");
    regional.ShortDateFormat = "";
    EXPECT_EQ(regional.FormatShortDate(kReading), "");
    regional.ShortDateFormat = "%b";
    EXPECT_EQ(regional.FormatShortDate(kReading), "Dec") << "the C locale's names";
}

} // namespace
} // namespace varmio
