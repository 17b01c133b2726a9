// Raw parameter records of the deformable rings model. They cross the MDR
// filter's control interface as byte blocks, so their layouts are fixed.
// Standard library only: the model library includes this without linking
// anything of the filter host.
#pragma once

#include <cstddef>
#include <cstdint>

struct GRID_PHASE {
  std::int32_t TensionMode;
  std::int32_t Neighborhood;
  double TensionTranslation;
  std::int32_t ImageMode;
  std::int32_t reserved0;  // padding, keeps the record's layout explicit
  double Vicinity;
  double InfluenceR;
  double InfluenceG;
  double InfluenceB;
  double ImageTranslation;
  double Momentum;
  double Dumping;
  double MinMotion;
  std::int32_t MaxIterations;
  std::int32_t reserved1;
};

struct GRID_GEOMETRY {
  double Xo;
  double Yo;
  std::int32_t Rings;
  std::int32_t Perimeter;
  double Ratio;
  double Rmin;
};

// Look of the grid drawn into frames: one of the modes below. Colours are
// 0x00BBGGRR.
constexpr std::int32_t kLookNone = 0;  // the grid is not drawn
constexpr std::int32_t kLookPoints = 1;
constexpr std::int32_t kLookCrosses = 2;
constexpr std::int32_t kLookLines = 3;

struct GRID_LOOK {
  std::int32_t Mode;
  std::uint32_t Color1;
  std::uint32_t Color2;
};

static_assert(sizeof(GRID_PHASE) == 96);
static_assert(offsetof(GRID_PHASE, Neighborhood) == 4);
static_assert(offsetof(GRID_PHASE, TensionTranslation) == 8);
static_assert(offsetof(GRID_PHASE, ImageMode) == 16);
static_assert(offsetof(GRID_PHASE, Vicinity) == 24);
static_assert(offsetof(GRID_PHASE, InfluenceR) == 32);
static_assert(offsetof(GRID_PHASE, InfluenceG) == 40);
static_assert(offsetof(GRID_PHASE, InfluenceB) == 48);
static_assert(offsetof(GRID_PHASE, ImageTranslation) == 56);
static_assert(offsetof(GRID_PHASE, Momentum) == 64);
static_assert(offsetof(GRID_PHASE, Dumping) == 72);
static_assert(offsetof(GRID_PHASE, MinMotion) == 80);
static_assert(offsetof(GRID_PHASE, MaxIterations) == 88);

static_assert(sizeof(GRID_GEOMETRY) == 40);
static_assert(offsetof(GRID_GEOMETRY, Yo) == 8);
static_assert(offsetof(GRID_GEOMETRY, Rings) == 16);
static_assert(offsetof(GRID_GEOMETRY, Perimeter) == 20);
static_assert(offsetof(GRID_GEOMETRY, Ratio) == 24);
static_assert(offsetof(GRID_GEOMETRY, Rmin) == 32);

static_assert(sizeof(GRID_LOOK) == 12);
static_assert(offsetof(GRID_LOOK, Color1) == 4);
static_assert(offsetof(GRID_LOOK, Color2) == 8);
