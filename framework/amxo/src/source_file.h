// Reading definition files from disk.
#pragma once

#include <string>

#include "load_error.h"

namespace amxo {

// The content of a regular file of at most kMaxFileSize bytes. Throws LoadError at `where`
// when it cannot be opened or read, is not a regular file, or is too large.
std::string read_source(const std::string& path, const Location& where);

// The canonical absolute path of an existing file; throws LoadError at `where` otherwise.
std::string canonical_path(const std::string& path, const Location& where);

}  // namespace amxo
