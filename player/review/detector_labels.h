// The labels the pathology detector writes into its findings lines, and the
// families (blood, ulcer) the timeline and the report group them by.
#pragma once

#include <string>
#include <vector>

namespace vireo {

enum class LabelFamily { kBlood, kUlcer, kOther };

// Number of detector labels, in the detector's label order.
int DetectorLabelCount();
// The label's name without its leading space ("Blood1").
std::string DetectorLabelName(int label);
LabelFamily DetectorLabelFamily(int label);

// The labels a finding's text names when the text is a detector line (every
// word a label); empty for the reviewer's own notes.
std::vector<int> DetectorLabels(const std::string& text);

}  // namespace vireo
