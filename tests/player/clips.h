// Synthetic clips for the player tests, generated once per test program by
// vireo-synthclip into the program's scratch folder.
#pragma once

#include <string>

namespace ptest {

// Path of a clip of `frames` frames at 25 fps in the container of `ext`
// (".avi", ".mov" or ".mpg"), `size` x `size` pixels, with further generator
// `options` (e.g. "--fps 150"); empty when the generator failed.
std::string Clip(const std::string& ext, int frames, int size = 64, const std::string& options = "");

// A file in the scratch folder holding `bytes`.
std::string WriteFile(const std::string& name, const std::string& bytes);

// A fresh folder for scratch files of this test program.
std::string ScratchDir();

}  // namespace ptest
