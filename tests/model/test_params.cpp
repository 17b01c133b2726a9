#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quorlin/model/params.h"

namespace quorlin {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return lines;
}

std::string Defaults() {
  const auto phases = DefaultPhases();
  return FormatParams(DefaultGeometry(), phases);
}

TEST(ParamText, DefaultsAreWrittenLineByLine) {
  const std::string text = Defaults();
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 62u);
  EXPECT_LT(text.size(), 2048u);
  EXPECT_EQ(lines[0], "Xo\t127.000000");
  EXPECT_EQ(lines[2], "Rings\t8");
  EXPECT_EQ(lines[4], "Ratio\t1.040000");
  EXPECT_EQ(lines[5], "Rmin\t77.000000");
  EXPECT_EQ(lines[6], "");
  EXPECT_EQ(lines[7], "TensionMode\t2");
  EXPECT_EQ(lines[8], "Neighborhood\t2000");
  EXPECT_EQ(lines[9], "TensionTranslation\t0.960000");
  EXPECT_EQ(lines[20], "");
  EXPECT_EQ(lines[22], "Neighborhood\t2");
  EXPECT_EQ(lines[59], "Dumping\t4.000000");
  EXPECT_EQ(lines[61], "MaxIterations\t1");
  EXPECT_EQ(text.substr(text.size() - 17), "MaxIterations\t1\r\n");
}

TEST(ParamText, RoundTripsUpToSinglePrecision) {
  GRID_GEOMETRY g{};
  std::array<GRID_PHASE, 4> phases{};
  ASSERT_EQ(ParseParams(Defaults(), g, phases), 0);
  const GRID_GEOMETRY d = DefaultGeometry();
  EXPECT_EQ(g.Ratio, static_cast<double>(1.04f));
  EXPECT_NE(g.Ratio, 1.04);
  EXPECT_EQ(g.Rings, d.Rings);
  EXPECT_EQ(g.Perimeter, d.Perimeter);
  EXPECT_EQ(g.Xo, d.Xo);
  const auto defaults = DefaultPhases();
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(phases[p].Neighborhood, defaults[p].Neighborhood);
    EXPECT_EQ(phases[p].MaxIterations, defaults[p].MaxIterations);
    EXPECT_EQ(phases[p].TensionTranslation, static_cast<double>(static_cast<float>(defaults[p].TensionTranslation)));
    EXPECT_EQ(phases[p].Dumping, defaults[p].Dumping);
  }
  // Written back, the single-precision values show the same six decimals.
  EXPECT_EQ(FormatParams(g, phases), Defaults());
}

TEST(ParamText, BlankLinesDoNotCountAndWhiteSpaceIsFree) {
  std::string text = Defaults();
  GRID_GEOMETRY a{}, b{}, c{};
  std::array<GRID_PHASE, 4> pa{}, pb{}, pc{};
  ASSERT_EQ(ParseParams(text, a, pa), 0);
  std::string packed;
  for (const auto& line : Lines(text))
    if (!line.empty()) packed += line + "\n";
  ASSERT_EQ(ParseParams(packed, b, pb), 0);
  std::string spaced = "\r\n\n" + text;
  spaced.insert(spaced.find("Rmin"), "\r\n\r\n\n");
  std::size_t tab = spaced.find("Rings\t");
  spaced.replace(tab, 6, "Rings   ");
  tab = spaced.find("Perimeter\t");
  spaced.replace(tab, 10, "Perimeter");
  ASSERT_EQ(ParseParams(spaced + "\r\n\r\nextra lines are ignored\r\n", c, pc), 0);
  EXPECT_EQ(b.Ratio, a.Ratio);
  EXPECT_EQ(c.Perimeter, a.Perimeter);
  EXPECT_EQ(c.Rmin, a.Rmin);
  EXPECT_EQ(pc[3].MaxIterations, pa[3].MaxIterations);
  EXPECT_EQ(pb[2].Dumping, pa[2].Dumping);
}

TEST(ParamText, ReportsTheFirstMissingOrWrongEntry) {
  GRID_GEOMETRY g{};
  std::array<GRID_PHASE, 4> phases{};
  const std::string text = Defaults();
  EXPECT_EQ(ParseParams("", g, phases), 1);
  EXPECT_EQ(SyntaxErrorText(ParseParams("", g, phases)), "Syntax error, line 1");
  // 57 non-empty lines: the last MaxIterations is missing.
  const std::string without = text.substr(0, text.rfind("MaxIterations"));
  EXPECT_EQ(ParseParams(without, g, phases), 58);
  EXPECT_EQ(SyntaxErrorText(58), "Syntax error, line 58");
  // Keys are case-sensitive; a number must follow.
  std::string wrong = text;
  wrong.replace(wrong.find("Ratio"), 5, "ratio");
  EXPECT_EQ(ParseParams(wrong, g, phases), 5);
  wrong = text;
  wrong.replace(wrong.find("Rings\t8"), 7, "Rings\tx");
  EXPECT_EQ(ParseParams(wrong, g, phases), 3);
  wrong = text;
  wrong.replace(wrong.find("Rings\t8"), 7, "Rings\t99999999999");  // beyond int32
  EXPECT_EQ(ParseParams(wrong, g, phases), 3);
  wrong = text;
  wrong.replace(wrong.find("Xo\t127.000000"), 13, "Xo\t1e60");  // beyond single precision
  EXPECT_EQ(ParseParams(wrong, g, phases), 1);
  // Lines swapped: the entry whose key is not in its place.
  wrong = text;
  wrong.replace(wrong.find("Xo"), 2, "Yo");
  EXPECT_EQ(ParseParams(wrong, g, phases), 1);
  // Signs and exponents are read like the formatted text's numbers.
  wrong = text;
  wrong.replace(wrong.find("Xo\t127.000000"), 13, "Xo\t+1.5e1");
  EXPECT_EQ(ParseParams(wrong, g, phases), 0);
  EXPECT_EQ(g.Xo, 15);
}

TEST(ParamText, OnlyTheFirst2047CharactersAreRead) {
  GRID_GEOMETRY g{};
  std::array<GRID_PHASE, 4> phases{};
  const std::string text = std::string(2047 - 5, '\n') + Defaults();
  EXPECT_EQ(ParseParams(text, g, phases), 2);  // "Xo\t12" fits, nothing more
  EXPECT_EQ(g.Xo, 12);
}

TEST(ParamText, MalformedTextNeverCrashes) {
  std::mt19937 random(7);
  const std::string text = Defaults();
  const std::string alphabet = "XoYRingsPerimt\t \r\n0123456789.-+eE";
  GRID_GEOMETRY g{};
  std::array<GRID_PHASE, 4> phases{};
  for (int round = 0; round < 3000; ++round) {
    std::string sample;
    switch (round % 3) {
      case 0:  // truncated
        sample = text.substr(0, random() % (text.size() + 1));
        break;
      case 1: {  // mutated bytes
        sample = text;
        for (int i = 0; i < 5; ++i) sample[random() % sample.size()] = static_cast<char>(random() % 256);
        break;
      }
      default:  // random
        for (std::size_t i = 0, n = random() % 3000; i < n; ++i) sample += alphabet[random() % alphabet.size()];
    }
    const int result = ParseParams(sample, g, phases);
    EXPECT_GE(result, 0);
    EXPECT_LE(result, kParamEntries);
    if (round % 3 == 0 && sample.size() < text.size() - 3) {
      EXPECT_GT(result, 0);
    }
  }
}

}  // namespace
}  // namespace quorlin
