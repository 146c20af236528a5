#include <climits>
#include <cstdint>
#include <set>
#include <thread>

#include <gsl/narrow>
#include <gtest/gtest.h>

#include "core/text.h"

namespace {

TEST(Text, PluralSuffix) {
  EXPECT_EQ(pluralSuffix(0), "s");
  EXPECT_EQ(pluralSuffix(1), "");
  EXPECT_EQ(pluralSuffix(2), "s");
  EXPECT_EQ(pluralSuffix(-1), "");
  EXPECT_EQ(pluralSuffix(-5), "");
  EXPECT_EQ(pluralSuffix(std::size_t{1}), "");
  EXPECT_EQ(pluralSuffix(std::size_t{0}), "s");
  EXPECT_EQ(pluralSuffix(std::uint32_t{UINT32_MAX}), "s");
  EXPECT_EQ(pluralSuffix(std::int64_t{1}), "");
}

TEST(Text, FormatNumber) {
  const std::pair<double, const char*> cases[] = {
      {3.0, "3"}, {0.0, "0"}, {-2.0, "-2"}, {2.5, "2.5"}, {1.04, "1.0"}, {23.5, "23.5"}, {1e6, "1000000"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(formatNumber(value), text) << value;
}

TEST(Text, PercentOf) {
  struct Case {
    int a, b, expected;
  };
  const Case cases[] = {{1, 3, 33}, {2, 3, 67}, {1, 2, 50}, {5, 0, 0}, {5, -4, 0}, {0, 7, 0},
                        {-1, 3, -33}, {3, 3, 100}, {7, 2, 350}, {INT_MAX / 100, 1, INT_MAX / 100 * 100}};
  for (const auto& c : cases) EXPECT_EQ(percentOf(c.a, c.b), c.expected) << c.a << "/" << c.b;
  EXPECT_THROW(percentOf(INT_MAX, 1), gsl::narrowing_error);
  EXPECT_THROW(percentOf(INT_MIN, 1), gsl::narrowing_error);
}

TEST(Text, RandomisePercentGoesBothWaysByTheGivenAmount) {
  EXPECT_EQ(randomisePercent(100.0, 0.0), 100.0);
  EXPECT_EQ(randomisePercent(100.0, -5.0), 100.0);
  std::set<double> seen;
  for (int i = 0; i < 200; ++i) {
    const double v = randomisePercent(100.0, 10.0);
    EXPECT_TRUE(v == 90.0 || v == 110.0) << v;
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 2u);
}

TEST(Text, EachThreadHasItsOwnEngine) {
  std::mt19937* mine = &threadRandomEngine();
  EXPECT_EQ(mine, &threadRandomEngine());
  std::mt19937* other = nullptr;
  std::thread([&] { other = &threadRandomEngine(); }).join();
  EXPECT_NE(mine, other);
}

TEST(Text, SplitString) {
  using V = std::vector<std::string>;
  struct Case {
    const char* text;
    char delimiter;
    V parts;
  };
  const Case cases[] = {
      {"", ';', {}},
      {"a", ';', {"a"}},
      {" a ; b ;c ", ';', {"a", "b", "c"}},
      {"a;;b", ';', {"a", "", "b"}},
      {"a;", ';', {"a", ""}},
      {";", ';', {"", ""}},
      {"  ", ';', {""}},
      {"EGLL, 512\t,x\r", ',', {"EGLL", "512", "x"}},
      {"a;b", ',', {"a;b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitString(c.text, c.delimiter), c.parts) << "'" << c.text << "'";
}

TEST(Text, ExtractQuoted) {
  const std::pair<const char*, const char*> cases[] = {
      {R"(title="Boeing 737-800 KLM")", "Boeing 737-800 KLM"},
      {R"("a" "b")", "a"},
      {R"("")", ""},
      {"no quotes", ""},
      {R"(only "one)", ""},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(extractQuoted(text), expected) << text;
}

}  // namespace
