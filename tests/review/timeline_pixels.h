// Reads the marks of a painted timeline back from its pixels.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QRect>
#include <set>

#include "timeline.h"

namespace vtest {

// Columns of `lane` (counted from `area`'s left edge) painted in the lane's
// colour over the whole height of its band.
inline std::set<int> PaintedColumns(const QImage& image, const QRect& area, vireo::TimelinePainter::Lane lane) {
  const QRect band = vireo::TimelinePainter::LaneRect(area, lane);
  const QRgb colour = vireo::TimelinePainter::Colour(lane).rgb();
  std::set<int> columns;
  for (int x = area.left(); x <= area.right(); ++x) {
    const bool top = image.pixel(x, band.top()) == colour, bottom = image.pixel(x, band.bottom()) == colour;
    EXPECT_EQ(top, bottom) << "column " << x << " is only partly painted";
    if (top) columns.insert(x - area.left());
  }
  return columns;
}

}  // namespace vtest
