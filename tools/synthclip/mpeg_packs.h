// mpegpsmux writes a pack header (with its clock reference) only every 0.7 s,
// and puts the stream map between the first pack header and the first
// picture. GStreamer's program-stream demuxer takes a clip's first and last
// time stamps only from a video packet that directly follows a pack header,
// so it started such clips at the second pack (frames before it were cut
// off) and ended them at the last pack's picture.
#pragma once

#include <cstdint>
#include <string>

namespace vireo::synth {

// Rewrites the program stream `path` so that every video packet carrying a
// time stamp directly follows a pack header whose clock reference is the
// packet's decoding time, and so that the stream ends with a pack holding a
// video packet stamped `lengthNs` after the first picture (carrying the
// sequence end code when the last packet ends with one). The clip then
// starts at its first picture and lasts `lengthNs`. Returns the number of
// pack headers added, or -1 with `error` set when the file is not an MPEG-2
// program stream with video.
int PackEveryPicture(const std::string& path, std::uint64_t lengthNs, std::string& error);

}  // namespace vireo::synth
