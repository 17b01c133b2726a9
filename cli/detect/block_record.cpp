#include "block_record.h"

#include <gst/video/video.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "csv.h"
#include "filterhost/mediatype.h"

GST_DEBUG_CATEGORY_STATIC(block_record_debug);
#define GST_CAT_DEFAULT block_record_debug

namespace vireo::detect {

using ostrel::CAnalizaDetektor;

PictureCentre PictureCentreOf(int block, int height) {
  const CAnalizaDetektor::Point p = CAnalizaDetektor::BlockCentre(block);
  // The detector sees frames bottom-up: buffer row y is picture row height-1-y.
  return {p.x, height - 1 - p.y};
}

std::string FeatureHeader() {
  std::string header = "clip,frame,block,centre_x,centre_y";
  for (int slot : kFeatureSlots) header += ",slot" + std::to_string(slot);
  for (CAnalizaDetektor::Flag flag : kClassifierFlags) {
    std::string label = CAnalizaDetektor::kFlagLabels[flag] + 1;  // without the leading space
    for (char& c : label) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    header += "," + label;
  }
  return header;
}

BlockRecorder::BlockRecorder(std::string clipName, bool keepFeatures)
    : clipField_(CsvField(clipName)), keepFeatures_(keepFeatures) {
  static const bool once = [] {
    GST_DEBUG_CATEGORY_INIT(block_record_debug, "vireoblocks", 0, "vireo-detect per-block record");
    return true;
  }();
  (void)once;
}

BlockRecorder::~BlockRecorder() {
  if (rows_) std::fclose(rows_);
}

void BlockRecorder::Attach(GstElement* detector) {
  frames_.clear();
  failure_.clear();
  if (rows_) std::fclose(rows_);
  rows_ = nullptr;
  if (keepFeatures_ && !(rows_ = std::tmpfile())) failure_ = std::string("no temporary file: ") + std::strerror(errno);
  GstPad* pad = gst_element_get_static_pad(detector, "sink");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &BlockRecorder::OnBuffer, this, nullptr);
  gst_object_unref(pad);
}

GstPadProbeReturn BlockRecorder::OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
  static_cast<BlockRecorder*>(self)->Record(pad, GST_PAD_PROBE_INFO_BUFFER(info));
  return GST_PAD_PROBE_OK;
}

// Runs on the streaming thread, before the detector sees the same buffer.
void BlockRecorder::Record(GstPad* pad, GstBuffer* buffer) {
  const std::int64_t frame = static_cast<std::int64_t>(frames_.size());
  frames_.push_back({});
  GstCaps* caps = gst_pad_get_current_caps(pad);
  GstVideoInfo info;
  const bool known = caps && gst_video_info_from_caps(&info, caps);
  if (caps) gst_caps_unref(caps);
  GstVideoFrame video;
  if (!known || GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR ||
      !gst_video_frame_map(&video, &info, buffer, GST_MAP_READ)) {
    GST_WARNING("frame %" G_GINT64_FORMAT " not recorded: no readable BGR frame", frame);
    return;
  }
  width_ = GST_VIDEO_FRAME_WIDTH(&video);
  height_ = GST_VIDEO_FRAME_HEIGHT(&video);
  if (!engine_ || engine_->Width() != width_ || engine_->Height() != height_)
    engine_ = std::make_unique<CAnalizaDetektor>(width_, height_);
  // The detector reads DIB rows: bottom-up, padded to 4 bytes.
  const int stride = fh::DibStride(width_, 24);
  const int sourceStride = GST_VIDEO_FRAME_PLANE_STRIDE(&video, 0);
  const auto* source = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&video, 0));
  bottomUp_.resize(static_cast<size_t>(stride) * height_);
  channel_.resize(static_cast<size_t>(width_) * height_);
  for (int row = 0; row < height_; ++row)
    std::memcpy(bottomUp_.data() + static_cast<size_t>(row) * stride,
                source + static_cast<size_t>(height_ - 1 - row) * sourceStride, static_cast<size_t>(3 * width_));
  gst_video_frame_unmap(&video);
  if (width_ < CAnalizaDetektor::kMinSize || height_ < CAnalizaDetektor::kMinSize) return;

  engine_->AnalyzeFrame(stride, bottomUp_.data(), channel_.data());
  BlockFlags& flags = frames_.back();
  for (int block = 0; block < CAnalizaDetektor::kBlocks; ++block)
    for (int f = 0; f < CAnalizaDetektor::kFlagCount; ++f)
      if (engine_->Flags(block)[f]) flags[block] |= static_cast<std::uint8_t>(1u << f);
  if (rows_ && failure_.empty()) WriteRows(frame);
}

void BlockRecorder::WriteRows(std::int64_t frame) {
  char number[32];
  auto append = [&](auto value) {
    const auto result = std::to_chars(number, number + sizeof number, value);
    line_.push_back(',');
    line_.append(number, result.ptr);
  };
  line_.clear();
  for (int block = 0; block < CAnalizaDetektor::kBlocks; ++block) {
    line_ += clipField_;
    append(frame);
    append(block);
    const PictureCentre centre = PictureCentreOf(block, height_);
    append(centre.x);
    append(centre.y);
    // Shortest text that reads back as the same double: the learner sees
    // exactly what the classifiers saw.
    for (int slot : kFeatureSlots) append(engine_->Features(block)[slot]);
    for (CAnalizaDetektor::Flag flag : kClassifierFlags) append(static_cast<int>(engine_->Flags(block)[flag]));
    line_.push_back('\n');
  }
  if (std::fwrite(line_.data(), 1, line_.size(), rows_) != line_.size())
    failure_ = std::string("cannot keep the feature rows: ") + std::strerror(errno);
}

bool BlockRecorder::CopyFeatures(const std::function<bool(const char*, size_t)>& write, std::string* error) const {
  if (!failure_.empty()) {
    *error = failure_;
    return false;
  }
  if (!rows_) return true;
  std::rewind(rows_);
  char chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, rows_)) > 0)
    if (!write(chunk, n)) return false;
  if (std::ferror(rows_)) {
    *error = "cannot read the kept feature rows back";
    return false;
  }
  return true;
}

}  // namespace vireo::detect
