// The command identifiers of the menu, the player's program-wide state and
// the clips it keeps map and findings files beside.
#pragma once

#include <QString>

#include "player/graph.h"

namespace vireo {

// Menu and command identifiers.
enum Command : int {
  kCmdOpenClip = 40001,
  kCmdExit = 40002,
  kCmdPausePlay = 40003,
  kCmdStop = 40004,
  kCmdCloseClip = 40005,
  kCmdMute = 40006,
  kCmdFullScreen = 40007,
  kCmdNormalSize = 40008,
  kCmdHalfSize = 40009,
  kCmdDoubleSize = 40010,
  kCmdThreeQuarterSize = 40012,
  kCmdSaveFrame = 40013,
  kCmdDetect = 40014,
  kCmdAbout = 40015,
  kCmdFaster = 40020,
  kCmdSlower = 40021,
  kCmdRateNormal = 40022,
  kCmdRateDouble = 40023,
  kCmdRateHalf = 40024,
  kCmdFrameStep = 40025,
  kCmdPreprocess = 40026,
  kCmdOpenMap = 40050,
  kCmdControls = 40052,
  kCmdBatchPreprocess = 110,
  kCmdFindings = 113,
  kCmdLayoutFirst = 115,
  kCmdLayoutLast = 124,
  kCmdManual = 126,
  kCmdRateOff = 133,
  kCmdRateVelocity = 134,
  kCmdRateDrift = 135,
  kCmdRateRoll = 136,
  kCmdRateDeformation = 137,
  kCmdRateCombination = 138,
  kCmdRateImage = 139,
  // Not a command of the original menu: the property pages of the graph's plug-ins.
  kCmdFilterProperties = 40060,
  // The MDR page on the parameters the next preprocessing run uses.
  kCmdMdrParameters = 40061,
  // Not a command of the original menu: the report of the clip for the patient's record.
  kCmdExportReport = 40062,
};

// Program-wide state of the player (the graph keeps play state, rates,
// volume and frame rate).
struct PlayerState {
  QString clipPath;
  QString mapPath;
  QString findingsPath;
  // The pathology run's findings of the clip: the detector's flags on the
  // timeline and in the report.
  QString detectorFindingsPath;
  QString captureBase;
  QString exportVideoPath;
  // The graph a clip opens in unless a run asks for its own: plain playback,
  // or the mosaic of the chosen multi-image layout.
  int viewMode = kModePlain;
  int mosaicCols = 1;
  int mosaicRows = 1;
  int rateControl = kCmdRateCombination;
  bool rateControlOn = false;
  bool fullScreen = false;
  QString lastOpenFolder = QStringLiteral("/");
};

// Whether `path` ends in an extension of the clips that have associated map
// and findings files (".avi", ".mov", ".m1v", ".mpg", ".mpeg", in any case).
bool HasClipExtension(const QString& path);

}  // namespace vireo
