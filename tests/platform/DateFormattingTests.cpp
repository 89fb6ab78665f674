// Panel dates: local time zone, and the user's time locale from the environment.
#include "Platform/ui/DateFormatting.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <locale.h>
#include <map>
#include <optional>
#include <string>

using namespace scrivlet;
using namespace std::chrono_literals;

namespace {

bool isInstalled(const char* locale) {
    const locale_t handle = newlocale(LC_TIME_MASK, locale, static_cast<locale_t>(nullptr));
    if (handle == static_cast<locale_t>(nullptr)) {
        return false;
    }
    freelocale(handle);
    return true;
}

// Runs every case in UTC with only the variables a case sets; the process's own values are
// put back afterwards.
class DateFormatting : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"TZ", "LC_ALL", "LC_TIME", "LANG"}) {
            const char* value = std::getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
            unsetenv(name);
        }
        useZone("UTC");
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        tzset();
    }
    static void useZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    static std::string abbreviated(Date date) {
        return ui::formatted(date, ui::DateStyle::abbreviated, ui::TimeStyle::shortened);
    }

    // Noon, 7 December 2026 UTC.
    const Date noon = Date(1'796'644'800s);

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(DateFormatting, EnglishUsesTwelveHourClockInLocalTime) {
    EXPECT_EQ(abbreviated(noon), "Dec 7, 2026 at 12:00 PM");
    EXPECT_EQ(abbreviated(noon - 12h), "Dec 7, 2026 at 12:00 AM");
    EXPECT_EQ(abbreviated(noon + 1h + 5min + 59s), "Dec 7, 2026 at 1:05 PM");
    EXPECT_EQ(abbreviated(Date(-1s)), "Dec 31, 1969 at 11:59 PM") << "rounds down, not to zero";
    useZone("EST5");
    EXPECT_EQ(abbreviated(noon), "Dec 7, 2026 at 7:00 AM");
}

TEST_F(DateFormatting, EnglishOtherStyles) {
    EXPECT_EQ(ui::formatted(noon, ui::DateStyle::numeric, ui::TimeStyle::standard),
              "12/7/2026, 12:00:00 PM");
    EXPECT_EQ(ui::formatted(noon, ui::DateStyle::abbreviated, ui::TimeStyle::omitted),
              "Dec 7, 2026");
    EXPECT_EQ(ui::formatted(noon, ui::DateStyle::omitted, ui::TimeStyle::shortened), "12:00 PM");
}

TEST_F(DateFormatting, ALocaleThatIsNotInstalledReadsAsEnglish) {
    setenv("LANG", "xx_XX.UTF-8", 1);
    EXPECT_EQ(abbreviated(noon), "Dec 7, 2026 at 12:00 PM");
}

TEST_F(DateFormatting, AnEnglishLocaleKeepsTheEnglishPattern) {
    if (!isInstalled("en_US.UTF-8")) {
        GTEST_SKIP() << "en_US.UTF-8 is not installed (locale-gen en_US.UTF-8)";
    }
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(abbreviated(noon + 13h), "Dec 8, 2026 at 1:00 AM");
}

class GermanDates : public DateFormatting {
protected:
    void SetUp() override {
        DateFormatting::SetUp();
        if (!isInstalled("de_DE.UTF-8")) {
            GTEST_SKIP() << "de_DE.UTF-8 is not installed (locale-gen de_DE.UTF-8)";
        }
    }
};

TEST_F(GermanDates, FollowTheLocalesOwnDateAndTwentyFourHourTime) {
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(abbreviated(noon + 1h + 5min + 59s), "07.12.2026, 13:05");
    EXPECT_EQ(ui::formatted(noon, ui::DateStyle::numeric, ui::TimeStyle::standard),
              "07.12.2026, 12:00:00");
    EXPECT_EQ(ui::formatted(noon, ui::DateStyle::omitted, ui::TimeStyle::shortened), "12:00");
}

TEST_F(GermanDates, LcAllBeatsLcTimeWhichBeatsLang) {
    setenv("LANG", "C", 1);
    setenv("LC_TIME", "de_DE.UTF-8", 1);
    EXPECT_EQ(abbreviated(noon), "07.12.2026, 12:00");

    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("LC_TIME", "C", 1);
    EXPECT_EQ(abbreviated(noon), "Dec 7, 2026 at 12:00 PM");

    setenv("LC_TIME", "de_DE.UTF-8", 1);
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(abbreviated(noon), "Dec 7, 2026 at 12:00 PM");
}

} // namespace
