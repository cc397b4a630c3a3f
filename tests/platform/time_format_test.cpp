#include "platform/time_format.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <time.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

std::int64_t Local(int year, int month, int day, int hour, int min, int sec = 0) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_sec = sec;
  t.tm_isdst = -1;
  return mktime(&t);
}

class TimeFormatTest : public ::testing::Test {
 protected:
  void TearDown() override {
    tzset();  // the ScopedEnv of a test has restored TZ by now
    setlocale(LC_ALL, "C");
  }

  static void ExpectDisplayTexts() {
    const std::int64_t t = Local(2023, 11, 14, 22, 13, 5);
    EXPECT_EQ(FormatTimeForDisplay(t, 3), "14 Nov 2023 10:13 PM");
    EXPECT_EQ(FormatTimeForDisplay(t, 0), "14 Nov 2023 10:00 PM");
    EXPECT_EQ(FormatTimeForDisplay(t, 1), "14 Nov 2023");
    EXPECT_EQ(FormatTimeForDisplay(t, 2), "Nov 2023");
    EXPECT_EQ(FormatTimeForDisplay(Local(2023, 3, 1, 0, 7), 3), "01 Mar 2023 12:07 AM");
    EXPECT_EQ(FormatTimeForDisplay(Local(2023, 3, 1, 12, 0), 0), "01 Mar 2023 12:00 PM");
  }
};

TEST_F(TimeFormatTest, DisplayTextsByGranularity) {
  ExpectDisplayTexts();
  for (int g = 0; g <= 3; ++g) EXPECT_EQ(FormatTimeForDisplay(0, g), "-");
  EXPECT_EQ(FormatTimeForDisplay(0, 7), "");
  EXPECT_EQ(FormatTimeForDisplay(0, -1), "");
  EXPECT_EQ(FormatTimeForDisplay(Local(2023, 11, 14, 22, 13), 4), "");
}

// Uses an installed French or German locale, or builds one into a temporary folder.
TEST_F(TimeFormatTest, DisplayTextsStayEnglishUnderAnotherLocale) {
  TempDir dir;
  std::optional<ScopedEnv> locpath;
  const char* name = nullptr;
  for (const char* candidate : {"fr_FR.UTF-8", "de_DE.UTF-8"}) {
    if (locale_t l = newlocale(LC_ALL_MASK, candidate, locale_t{})) {
      freelocale(l);
      name = candidate;
      break;
    }
  }
  if (name == nullptr) {
    const std::string command =
        "localedef -i fr_FR -f UTF-8 " + dir.File("fr_FR.UTF-8") + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) {
      locpath.emplace("LOCPATH", dir.Path());
      name = "fr_FR.UTF-8";
    }
  }
  ScopedEnv lcAll("LC_ALL", name != nullptr ? name : "C");
  if (name == nullptr || setlocale(LC_ALL, "") == nullptr)
    GTEST_SKIP() << "no French or German locale available";
  char probe[32];
  struct tm nov {};
  nov.tm_mon = 10;
  strftime(probe, sizeof probe, "%b%p", &nov);
  ASSERT_STRNE(probe, "NovAM") << "the locale did not change the month or AM/PM texts";
  ExpectDisplayTexts();
}

TEST_F(TimeFormatTest, StoredFormRoundTripsOverAYearInTwoTimeZones) {
  for (const char* zone : {"Europe/London", "America/New_York"}) {
    ScopedEnv tz("TZ", zone);
    tzset();
    EXPECT_EQ(TimeToString(Local(2023, 11, 4, 8, 9, 5)), "05 09 08 04 11 2023");
    int skipped = 0;
    const std::int64_t start = Local(2023, 1, 1, 0, 0);
    for (int i = 0; i < 366 * 24; ++i) {
      const std::int64_t t = start + i * 3600 + (i * 37) % 3600;
      const std::string text = TimeToString(t);
      // The hour repeated when the clocks go back has no unique stored form.
      if (text == TimeToString(t - 3600) || text == TimeToString(t + 3600)) {
        ++skipped;
        continue;
      }
      ASSERT_EQ(StringToTime(text), t) << zone << " " << text;
    }
    EXPECT_EQ(skipped, 2) << zone;
  }
}

TEST_F(TimeFormatTest, MalformedOrImpossibleStoredFormsGiveZero) {
  ScopedEnv tz("TZ", "Europe/London");
  tzset();
  EXPECT_EQ(StringToTime("00 00 00 01 01 2024"), Local(2024, 1, 1, 0, 0));
  EXPECT_EQ(StringToTime("09 08 09 09 08 2024"), Local(2024, 8, 9, 9, 8, 9));  // not octal
  EXPECT_EQ(StringToTime("60 59 23 31 12 2023"), Local(2024, 1, 1, 0, 0));     // leap second
  for (const char* bad : {"", "00 00 00 01 01", "00 00 00 01 01 2024 7", "aa 00 00 01 01 2024",
                          "00 00 00 01 13 2024", "00 00 00 31 02 2023", "00 00 00 29 02 2023",
                          "00 30 01 26 03 2023",  // skipped by the clocks going forward
                          "00 60 00 01 01 2024", "00 00 24 01 01 2024", "00 00 00 00 01 2024",
                          "00 00 00 01 01 1969", "00  00 00 01 01 2024", " 00 00 00 01 01 2024",
                          "00 00 00 01 01 2024 ", "-1 00 00 01 01 2024", "+1 00 00 01 01 2024",
                          "0x1 00 00 01 01 2024", "00 00 00 01 01 99999999999"}) {
    EXPECT_EQ(StringToTime(bad), 0) << '"' << bad << '"';
  }
}

}  // namespace
}  // namespace platform
