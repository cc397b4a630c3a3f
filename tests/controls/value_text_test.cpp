#include "controls/value_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

namespace controls {
namespace {

struct DoubleCase {
  double value;
  const char* unit;
  const char* text;
};

const DoubleCase kDoubleCases[] = {
    {12.5, "%", "12.50 %"},    {-1.0, "%", "-"},
    {0.0, "%", "0.00 %"},      {-3.25, "ms", "-3.25 ms"},
    {-1.5, "%", "-1.50 %"},    {-0.001, "%", "0.00 %"},  // no "-0.00"
    {0.125, "%", "0.12 %"},                              // exact binary tie: to even
    {0.375, "%", "0.38 %"},    {0.005, "%", "0.01 %"},   // the binary value lies just above .005
    {1.005, "%", "1.00 %"},                              // ... and here just below
    {99.999, "%", "100.00 %"}, {1234567.891, "s", "1234567.89 s"},
    {7.0, "", "7.00"},
};

struct IntCase {
  std::int64_t value;
  const char* unit;
  const char* text;
};

const IntCase kIntCases[] = {
    {250, "ms", "250 ms"},
    {-1, "ms", "-"},
    {0, "ms", "0 ms"},
    {-2, "ms", "-2 ms"},
    {1234567, "ms", "1234567 ms"},
    {std::numeric_limits<std::int64_t>::max(), "ms", "9223372036854775807 ms"},
    {std::numeric_limits<std::int64_t>::min(), "ms", "-9223372036854775808 ms"},
    {5, "", "5"},
};

void ExpectValueTexts() {
  for (const auto& c : kDoubleCases) {
    EXPECT_EQ(FormatValueText(c.value, c.unit), c.text) << c.value;
  }
  for (const auto& c : kIntCases) {
    EXPECT_EQ(FormatIntValueText(c.value, c.unit), c.text) << c.value;
  }
}

TEST(ValueText, FormatsInTheCLocale) { ExpectValueTexts(); }

TEST(ValueText, IgnoresACommaDecimalLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  bool found = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      found = true;
      break;
    }
  }
  if (!found) GTEST_SKIP() << "no German locale installed";
  ExpectValueTexts();
  std::setlocale(LC_ALL, previous.c_str());
}

TEST(FitColumnWidth, DividesWhatTheScrollBarLeaves) {
  struct Case {
    int client, vscroll, columns;
    bool apply;
    int width;
  } const cases[] = {
      {415, 15, 4, true, 98},                           // 400 / 4 - 2
      {415, 15, 3, true, 131},                          // integer division: 133 - 2
      {415, 15, 1, true, 398}, {415, 15, 0, false, 0},  // no columns: nothing to fit
      {10, 15, 2, true, 0},                             // narrower than the scroll bar
      {15, 15, 2, true, 0},
  };
  for (const auto& c : cases) {
    const FitWidth fit = FitColumnWidth(c.client, c.vscroll, c.columns);
    EXPECT_EQ(fit.apply, c.apply) << c.client << "/" << c.columns;
    if (c.apply) {
      EXPECT_EQ(fit.width, c.width) << c.client << "/" << c.columns;
    }
  }
}

TEST(AttributeListColumnWidths, NameColumnTakesTheRest) {
  struct Case {
    int client, vscroll, attribute;
  } const cases[] = {
      {400, 15, 225},
      {175, 15, 0},
      {100, 15, 0},
  };
  for (const auto& c : cases) {
    const auto widths = AttributeListColumnWidths(c.client, c.vscroll);
    EXPECT_EQ(widths.attribute, c.attribute) << c.client;
    EXPECT_EQ(widths.value, 80);
    EXPECT_EQ(widths.threshold, 80);
  }
}

TEST(FitFontPixelSize, LargestSizeWhoseTextFitsTheCell) {
  // Text metrics of a typical sans font: the line is about 1.2 times the pixel size.
  const auto sans = [](int px) { return px + (px + 2) / 5; };
  const auto exact = [](int px) { return px; };
  const auto tall = [](int px) { return px * 3; };
  struct Case {
    const char* metric;
    std::function<int(int)> height;
    int cell;
    int pixelSize;
  } const cases[] = {
      {"sans", sans, 20, 17},   {"sans", sans, 12, 10}, {"sans", sans, 16, 13},
      {"exact", exact, 20, 20}, {"exact", exact, 1, 1}, {"tall", tall, 2, 1},
      {"tall", tall, 30, 10},   {"exact", exact, 0, 1}, {"exact", exact, -5, 1},
  };
  for (const auto& c : cases) {
    const int size = FitFontPixelSize(c.cell, c.height);
    EXPECT_EQ(size, c.pixelSize) << c.metric << " cell " << c.cell;
  }
}

}  // namespace
}  // namespace controls
