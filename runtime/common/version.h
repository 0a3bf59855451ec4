// The project's version, one for every program (set by project() in the top CMakeLists.txt).
#pragma once

#include <span>

namespace gw {

const char* project_version();

// Whether the command line (without the program name) is exactly "--version": answered before
// anything else is read or opened, so it works on any machine the program is copied to.
bool asks_version(std::span<char* const> args);

}  // namespace gw
