#include "version.h"

#include <string_view>

namespace gw {

const char* project_version() {
    return GW_PROJECT_VERSION;
}

bool asks_version(std::span<char* const> args) {
    return args.size() == 1 && std::string_view(args[0]) == "--version";
}

}  // namespace gw
