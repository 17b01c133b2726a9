#include "truth.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <filesystem>

#include "csv.h"

namespace vireo::detect {

namespace {

using ostrel::CAnalizaDetektor;

enum Column { kClip, kFrame, kClass, kX0, kY0, kX1, kY1, kColumnCount };
constexpr const char* kColumnNames[kColumnCount] = {"clip", "frame", "class", "x0", "y0", "x1", "y1"};

std::optional<std::int64_t> Integer(const std::string& text) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<Label::Kind> KindOf(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "bleeding") return Label::Kind::kBleeding;
  if (n == "ulcer") return Label::Kind::kUlcer;
  if (n == "nonbleeding" || n == "normal") return Label::Kind::kNoFinding;
  return std::nullopt;
}

// The rows of the table and which labels (flag bits) and positive kinds each
// one measures.
struct Row {
  const char* name;
  unsigned flags;
  bool bleeding, ulcer;
};
constexpr unsigned Bit(CAnalizaDetektor::Flag f) { return 1u << f; }
constexpr Row kRows[] = {
    {"Blood1", Bit(CAnalizaDetektor::kBlood1), true, false},
    {"Ulcer1", Bit(CAnalizaDetektor::kUlcer1), false, true},
    {"Ulcer2", Bit(CAnalizaDetektor::kUlcer2), false, true},
    {"Blood2", Bit(CAnalizaDetektor::kBlood2), true, false},
    {"Blood1|Blood2", Bit(CAnalizaDetektor::kBlood1) | Bit(CAnalizaDetektor::kBlood2), true, false},
    {"any label",
     Bit(CAnalizaDetektor::kBlood1) | Bit(CAnalizaDetektor::kUlcer1) | Bit(CAnalizaDetektor::kUlcer2) |
         Bit(CAnalizaDetektor::kBlood2),
     true, true},
};

std::string Share(std::int64_t part, std::int64_t whole) {
  if (whole == 0) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%lld of %lld (%.1f %%)", static_cast<long long>(part),
                static_cast<long long>(whole), 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text;
}

}  // namespace

bool LabelTable::Load(const std::string& path, std::string* error) {
  path_ = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the labels " + path;
    return false;
  }
  std::string text;
  int number = 0;
  columns_.clear();
  while (std::getline(in, text)) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) continue;
    const auto fields = SplitCsvLine(text);
    if (!fields) {
      Refuse(number, "a quote is not closed");
      continue;
    }
    if (columns_.empty()) {
      columns_.assign(kColumnCount, -1);
      if (Lower((*fields)[0]) == "clip") {  // a header names the columns
        for (int c = 0; c < kColumnCount; ++c) {
          const auto at = std::find_if(fields->begin(), fields->end(),
                                       [&](const std::string& f) { return Lower(f) == kColumnNames[c]; });
          if (at != fields->end()) columns_[c] = static_cast<int>(at - fields->begin());
        }
        if (columns_[kClip] < 0 || columns_[kFrame] < 0 || columns_[kClass] < 0) {
          *error = path + ": the header names no clip, frame or class column";
          return false;
        }
        continue;
      }
      for (int c = 0; c < kColumnCount; ++c) columns_[c] = c;
    }
    if (auto label = ParseLine(*fields, number)) labels_.push_back(std::move(*label));
  }
  if (in.bad()) {
    *error = "cannot read the labels " + path;
    return false;
  }
  return true;
}

void LabelTable::Refuse(int line, const std::string& why) {
  problems_.push_back(path_ + ":" + std::to_string(line) + ": " + why + "; line left out");
}

std::optional<Label> LabelTable::ParseLine(const std::vector<std::string>& fields, int line) {
  auto field = [&](Column c) -> const std::string* {
    const int at = columns_[c];
    return at >= 0 && at < static_cast<int>(fields.size()) ? &fields[at] : nullptr;
  };
  for (Column c : {kClip, kFrame, kClass})
    if (!field(c) || field(c)->empty()) {
      Refuse(line, std::string("no ") + kColumnNames[c]);
      return std::nullopt;
    }
  Label label;
  label.line = line;
  label.clip = *field(kClip);
  const auto frame = Integer(*field(kFrame));
  if (!frame || *frame < 0) {
    Refuse(line, "frame \"" + *field(kFrame) + "\" is not a frame number");
    return std::nullopt;
  }
  label.frame = *frame;
  const auto kind = KindOf(*field(kClass));
  if (!kind) {
    Refuse(line, "unknown class \"" + *field(kClass) + "\" (bleeding, ulcer, nonbleeding or normal)");
    return std::nullopt;
  }
  label.kind = *kind;
  int present = 0;
  std::int64_t corner[4] = {};
  for (int c = kX0; c <= kY1; ++c) {
    const std::string* text = field(static_cast<Column>(c));
    if (!text || text->empty()) continue;
    ++present;
    const auto value = Integer(*text);
    if (!value) {
      Refuse(line, std::string(kColumnNames[c]) + " \"" + *text + "\" is not a pixel number");
      return std::nullopt;
    }
    corner[c - kX0] = *value;
  }
  if (present != 0 && present != 4) {
    Refuse(line, "a box needs all of x0, y0, x1, y1");
    return std::nullopt;
  }
  if (present == 4) {
    if (label.kind == Label::Kind::kNoFinding) {
      Refuse(line, "a frame without finding has a box");
      return std::nullopt;
    }
    if (corner[0] >= corner[2] || corner[1] >= corner[3]) {
      Refuse(line, "the box is empty (x0 < x1 and y0 < y1 needed)");
      return std::nullopt;
    }
    if (corner[0] < 0 || corner[1] < 0 || corner[2] > 1 << 20 || corner[3] > 1 << 20) {
      Refuse(line, "the box lies outside the frame");
      return std::nullopt;
    }
    label.box = Label::Box{static_cast<int>(corner[0]), static_cast<int>(corner[1]), static_cast<int>(corner[2]),
                           static_cast<int>(corner[3])};
  }
  return label;
}

std::string Evaluate(const LabelTable& labels, const std::vector<RecordedClip>& clips,
                     std::vector<std::string>* problems) {
  auto refuse = [&](const Label& label, const std::string& why) {
    problems->push_back(labels.Path() + ":" + std::to_string(label.line) + ": " + why + "; line left out");
  };
  auto find = [&](const std::string& name) -> const RecordedClip* {
    for (const RecordedClip& clip : clips)
      if (clip.path == name) return &clip;
    for (const RecordedClip& clip : clips)
      if (std::filesystem::path(clip.path).filename() == name) return &clip;
    return nullptr;
  };

  constexpr int kRowCount = static_cast<int>(std::size(kRows));
  std::int64_t positives[kRowCount] = {}, found[kRowCount] = {}, negatives = 0, falseAlarms[kRowCount] = {},
               boxed[kRowCount] = {}, inBox[kRowCount] = {};
  std::int64_t count[3] = {};
  std::set<std::pair<const RecordedClip*, std::int64_t>> seen;
  for (const Label& label : labels.Labels()) {
    const RecordedClip* clip = find(label.clip);
    if (!clip) {
      refuse(label, "clip \"" + label.clip + "\" is not one of the clips run");
      continue;
    }
    if (!clip->record) {
      refuse(label, "the run of " + clip->path + " failed");
      continue;
    }
    const BlockRecorder& record = *clip->record;
    const auto frames = static_cast<std::int64_t>(record.Frames().size());
    if (label.frame >= frames) {
      refuse(label, "frame " + std::to_string(label.frame) + " is past the end of " + clip->path + " (" +
                        std::to_string(frames) + " frames)");
      continue;
    }
    if (label.box && (label.box->x1 > record.Width() || label.box->y1 > record.Height())) {
      refuse(label, "the box lies outside the " + std::to_string(record.Width()) + " x " +
                        std::to_string(record.Height()) + " frame");
      continue;
    }
    if (!seen.insert({clip, label.frame}).second) {
      refuse(label, "frame " + std::to_string(label.frame) + " of " + clip->path + " is labelled twice");
      continue;
    }
    ++count[static_cast<int>(label.kind)];
    const BlockFlags& flags = record.Frames()[static_cast<size_t>(label.frame)];
    for (int r = 0; r < kRowCount; ++r) {
      const Row& row = kRows[r];
      unsigned frameFlags = 0, boxFlags = 0;
      for (int block = 0; block < CAnalizaDetektor::kBlocks; ++block) {
        const unsigned f = flags[block] & row.flags;
        frameFlags |= f;
        if (label.box) {
          const PictureCentre c = PictureCentreOf(block, record.Height());
          if (c.x >= label.box->x0 && c.x < label.box->x1 && c.y >= label.box->y0 && c.y < label.box->y1) boxFlags |= f;
        }
      }
      const bool flagged = frameFlags != 0;
      if (label.kind == Label::Kind::kNoFinding) {
        falseAlarms[r] += flagged;
      } else if ((label.kind == Label::Kind::kBleeding && row.bleeding) ||
                 (label.kind == Label::Kind::kUlcer && row.ulcer)) {
        ++positives[r];
        found[r] += flagged;
        if (flagged && label.box) {
          ++boxed[r];
          inBox[r] += boxFlags != 0;
        }
      }
    }
    negatives += label.kind == Label::Kind::kNoFinding;
  }

  std::string table = "evaluation against " + labels.Path() + ": " + std::to_string(count[0] + count[1] + count[2]) +
                      " labelled frames (" + std::to_string(count[0]) + " bleeding, " + std::to_string(count[1]) +
                      " ulcer, " + std::to_string(count[2]) + " without finding)\n";
  char line[256];
  std::snprintf(line, sizeof line, "%-14s %-26s %-26s %s\n", "label", "labelled frames flagged",
                "frames without finding", "flagged with a block in the box");
  table += line;
  for (int r = 0; r < kRowCount; ++r) {
    std::snprintf(line, sizeof line, "%-14s %-26s %-26s %s\n", kRows[r].name, Share(found[r], positives[r]).c_str(),
                  Share(falseAlarms[r], negatives).c_str(), Share(inBox[r], boxed[r]).c_str());
    table += line;
  }
  return table;
}

}  // namespace vireo::detect
