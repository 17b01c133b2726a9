// QuickTime muxers stamp the wall-clock time into the movie, track and media
// headers; clearing those stamps makes a generated file a function of its
// content alone.
#pragma once

#include <string>

namespace vireo::synth {

// Sets the creation and modification times of every mvhd, tkhd and mdhd atom
// of `path` to zero. Returns the number of headers changed, or -1 with
// `error` set when the file's atoms cannot be walked.
int ClearQuickTimeTimes(const std::string& path, std::string& error);

}  // namespace vireo::synth
