#include "default_paths.h"

#include <filesystem>
#include <system_error>

namespace gwrt {
namespace {

namespace fs = std::filesystem;

// GWRT_DEFAULT_CONFIG and GWRT_MODULE_DIR are relative to the program's folder once installed
// and absolute in the build tree; an absolute path replaces the folder when joined.
std::string beside_program(const char* path) {
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    // Without /proc the relative path stays relative and the load that follows names it.
    return (ec ? fs::path(path) : program.parent_path() / path).lexically_normal().string();
}

}  // namespace

std::string default_config_file() {
    return beside_program(GWRT_DEFAULT_CONFIG);
}

std::string builtin_module_dir() {
    return beside_program(GWRT_MODULE_DIR);
}

}  // namespace gwrt
