#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace gwtest {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    // Socket paths must stay short, so the folder name is kept short too.
    std::string templ = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/gwt.XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + templ);
    }
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
    std::string full = file(name);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + full);
    }
    return full;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace gwtest
