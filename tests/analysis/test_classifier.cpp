// The four convex-region classifiers on the points that pin them down.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ostrel/analysis/classifier.h"

namespace {

using namespace ostrel;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(AnalysisClassifier, ExamplePointsFallOnTheirSides) {
  EXPECT_TRUE(Blood1(0.147, 40.4, 4.26));
  EXPECT_FALSE(Blood1(0.147, 60, 4.26));
  EXPECT_FALSE(Blood1(0, 0, 0));
  EXPECT_TRUE(Ulcer1(0.373, 195, 190));
  EXPECT_FALSE(Ulcer1(0.373, 100, 190));
  EXPECT_TRUE(Ulcer2(0.95, 0.111, 0.0845, 0.494));
  EXPECT_FALSE(Ulcer2(0.5, 0.111, 0.0845, 0.494));
  EXPECT_TRUE(Blood2(207, 0.124, 153));
  EXPECT_FALSE(Blood2(150, 0.124, 153));
}

TEST(AnalysisClassifier, FixedFacetsSitAtTheirNumbers) {
  EXPECT_EQ(kBlood1Facets[0].normal[0], -0.999235818696);
  EXPECT_EQ(kBlood1Facets[1].offset, -7.632678109965);
  EXPECT_EQ(kBlood1Facets[51].offset, 0.686209802226);
  EXPECT_EQ(kUlcer1Facets[0].offset, 0.697152843581);
  EXPECT_EQ(kUlcer1Facets[45].normal[2], -0.013010149681);
  EXPECT_EQ(kUlcer2Facets[0].normal[3], 0.170535567116);
  EXPECT_EQ(kUlcer2Facets[81].normal[2], -1.0);
  EXPECT_EQ(kUlcer2Facets[81].offset, -0.000582972468);
  EXPECT_EQ(kUlcer2Facets[181].normal[3], -0.2412097658);
  EXPECT_EQ(kBlood2Facets[0].offset, -0.286879249883);
  EXPECT_EQ(kBlood2Facets[7].normal[1], -1.0);
  EXPECT_EQ(kBlood2Facets[41].offset, 0.226180649483);
}

template <std::size_t N>
double FacetValue(const Facet<N>& facet, const std::array<double, N>& point) {
  double value = facet.offset;
  for (std::size_t i = 0; i < N; ++i) value += facet.normal[i] * point[i];
  return value;
}

TEST(AnalysisClassifier, PointExactlyOnAFacetIsInside) {
  // The inside test itself, on facets that give exact values: a
  // point on a facet is inside, a point just beyond it is not.
  const std::array<Facet<3>, 4> corner = {{
      {{{-1, 0, 0}}, 0.002451966766},
      {{{0, -1, 0}}, 0.25},
      {{{0, 0, -1}}, 0.5},
      {{{0.6, 0.8, 0}}, -30},
  }};
  const std::array<double, 3> onFirst{0.002451966766, 1, 2};
  ASSERT_EQ(FacetValue(corner[0], onFirst), 0.0);
  EXPECT_TRUE(InsideRegion<3>(corner, onFirst));
  EXPECT_FALSE(InsideRegion<3>(corner, {std::nextafter(onFirst[0], -1.0), onFirst[1], onFirst[2]}));
  const std::array<double, 3> onSlanted{10, 30, 7};
  ASSERT_EQ(FacetValue(corner[3], onSlanted), 0.0);
  EXPECT_TRUE(InsideRegion<3>(corner, onSlanted));
  EXPECT_FALSE(InsideRegion<3>(corner, {onSlanted[0], std::nextafter(onSlanted[1], 100.0), onSlanted[2]}));
}

TEST(AnalysisClassifier, NotANumberIsOutside) {
  EXPECT_FALSE(Blood1(kNaN, 40.4, 4.26));
  EXPECT_FALSE(Blood1(0.147, 40.4, kNaN));
  EXPECT_FALSE(Ulcer1(0.373, kNaN, 190));
  EXPECT_FALSE(Ulcer2(0.95, 0.111, 0.0845, kNaN));
  EXPECT_FALSE(Blood2(207, kNaN, 153));
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(Blood2(inf, 0.124, 153));
}

TEST(AnalysisClassifier, RegionsAreBoundedByTheirRanges) {
  // Just beyond either end of any input, with the others at an inside point.
  struct Range {
    int input;
    double lo, hi;
  };
  const std::array<double, 3> b1{0.147, 40.4, 4.26};
  for (const Range& r : {Range{0, 0.00337, 0.590}, Range{1, 32.97, 55.75}, Range{2, 0.508, 10.85}}) {
    std::array<double, 3> p = b1;
    p[r.input] = r.lo - 1e-3 * (r.hi - r.lo);
    EXPECT_FALSE(InsideRegion<3>(kBlood1Facets, p)) << r.input;
    p[r.input] = r.hi + 1e-3 * (r.hi - r.lo);
    EXPECT_FALSE(InsideRegion<3>(kBlood1Facets, p)) << r.input;
  }
  const std::array<double, 4> u2{0.95, 0.111, 0.0845, 0.494};
  for (const Range& r :
       {Range{0, 0.8530, 1.0003}, Range{1, 0.05366, 0.1909}, Range{2, -0.000583, 0.2540}, Range{3, 0.3366, 0.7768}}) {
    std::array<double, 4> p = u2;
    p[r.input] = r.lo - 1e-3 * (r.hi - r.lo);
    EXPECT_FALSE(InsideRegion<4>(kUlcer2Facets, p)) << r.input;
    p[r.input] = r.hi + 1e-3 * (r.hi - r.lo);
    EXPECT_FALSE(InsideRegion<4>(kUlcer2Facets, p)) << r.input;
  }
}

}  // namespace
