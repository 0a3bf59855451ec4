// "Path.Param=value" words of gwctl set/add, grouped per object so that each object is written
// by one transaction.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace gwctl {

struct ObjectWrite {
    std::string path;  // object path with a trailing "."
    std::vector<std::pair<std::string, std::string>> params;  // name, value as typed
};

// Groups assignment words per object, objects in order of first appearance. With a non-empty
// `base` (e.g. "Device.X."), each word is relative to it ("Param=value" or "Sub.Param=value");
// without, each word names its full path. The value is everything after the first "=" and may
// be empty. False, with a one-line reason in `error`, for a word without "=", without an object
// path or parameter name, or a parameter given twice for one object.
bool group_assignments(const std::string& base, std::span<const std::string> words,
                       std::vector<ObjectWrite>& out, std::string& error);

// Adds a trailing "." when missing.
std::string with_trailing_dot(std::string path);

}  // namespace gwctl
