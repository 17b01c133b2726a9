#include "detector_labels.h"

#include <sstream>

#include "ostrel/analysis/analiza_detektor.h"

namespace vireo {

namespace {

const auto& Labels() { return ostrel::CAnalizaDetektor::kFlagLabels; }

}  // namespace

int DetectorLabelCount() { return static_cast<int>(Labels().size()); }

std::string DetectorLabelName(int label) { return std::string(Labels()[label]).substr(1); }

LabelFamily DetectorLabelFamily(int label) {
  const std::string name = DetectorLabelName(label);
  if (name.rfind("Blood", 0) == 0) return LabelFamily::kBlood;
  if (name.rfind("Ulcer", 0) == 0) return LabelFamily::kUlcer;
  return LabelFamily::kOther;
}

std::vector<int> DetectorLabels(const std::string& text) {
  std::vector<int> labels;
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    int found = -1;
    for (int label = 0; label < DetectorLabelCount() && found < 0; ++label)
      if (word == DetectorLabelName(label)) found = label;
    if (found < 0) return {};
    labels.push_back(found);
  }
  return labels;
}

}  // namespace vireo
