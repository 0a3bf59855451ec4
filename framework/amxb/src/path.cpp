#include "path.h"

namespace amxb {

namespace {

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

}  // namespace

bool path_is_valid(std::string_view path) {
    if(path.empty()) {
        return false;
    }
    bool component_empty = true;
    for(const char c : path) {
        if(c == '.') {
            if(component_empty) {
                return false;
            }
            component_empty = true;
        } else if(is_name_char(c)) {
            component_empty = false;
        } else {
            return false;
        }
    }
    return true;
}

std::string path_terminated(std::string_view path) {
    std::string result(path);
    if(result.empty() || result.back() != '.') {
        result += '.';
    }
    return result;
}

std::string path_top(std::string_view path) {
    return path_terminated(path.substr(0, path.find('.')));
}

bool path_is_within(std::string_view path, std::string_view base) {
    return !base.empty() && path.substr(0, base.size()) == base;
}

}  // namespace amxb
