#include "assignments.h"

#include <algorithm>

namespace gwctl {

std::string with_trailing_dot(std::string path) {
    if (!path.empty() && path.back() != '.') {
        path.push_back('.');
    }
    return path;
}

bool group_assignments(const std::string& base, std::span<const std::string> words,
                       std::vector<ObjectWrite>& out, std::string& error) {
    const std::string prefix = with_trailing_dot(base);
    for (const std::string& word : words) {
        std::size_t eq = word.find('=');
        if (eq == std::string::npos) {
            error = "expected Param=value, got '" + word + "'";
            return false;
        }
        std::string key = prefix + word.substr(0, eq);
        std::size_t dot = key.rfind('.');
        if (dot == std::string::npos || dot == 0) {
            error = "'" + word + "' names no object (write Path.Param=value)";
            return false;
        }
        if (dot + 1 == key.size()) {
            error = "'" + word + "' names no parameter";
            return false;
        }
        std::string path = key.substr(0, dot + 1);
        std::string name = key.substr(dot + 1);
        auto object = std::find_if(out.begin(), out.end(), [&](const ObjectWrite& w) { return w.path == path; });
        if (object == out.end()) {
            object = out.insert(out.end(), ObjectWrite {path, {}});
        }
        for (const auto& param : object->params) {
            if (param.first == name) {
                error = path + name + " is given twice";
                return false;
            }
        }
        object->params.emplace_back(std::move(name), word.substr(eq + 1));
    }
    return true;
}

}  // namespace gwctl
