// A fresh folder under $TMPDIR (or /tmp) that is removed with everything in it at scope exit,
// also when a test fails half-way.
#pragma once

#include <string>

namespace gwtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Writes `text` to `name` inside the folder and returns the full path.
    std::string write(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

// Whole content of a file; "" when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace gwtest
