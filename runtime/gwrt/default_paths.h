// Where gwrt finds its shipped configuration and modules without being told. The installed
// program looks relative to its own folder, so an installed tree works wherever it is unpacked
// (a firmware image, a scratch root); the build tree's program uses the source and build trees.
#pragma once

#include <string>

namespace gwrt {

// The configuration read without --config.
std::string default_config_file();

// The folder of gwrt's own modules, searched by `import` after the configured import-dirs.
std::string builtin_module_dir();

}  // namespace gwrt
