// Relabels the video streams of an AVI file with another FOURCC, as capsule
// vendors do with their Motion JPEG ("MIL " instead of "MJPG").
#pragma once

#include <cstdint>
#include <string>

namespace vireo::synth {

constexpr std::uint32_t MakeFourcc(char a, char b, char c, char d) {
  return static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b) << 8 | static_cast<std::uint8_t>(c) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

// Walks the RIFF chunks of `path` and writes `fourcc` into the stream header
// (fccHandler) and bitmap header (biCompression) of every video stream.
// Returns the number of streams changed, or -1 with `error` set when the file
// is not an AVI file that can be patched.
int PatchAviVideoFourcc(const std::string& path, std::uint32_t fourcc, std::string& error);

}  // namespace vireo::synth
