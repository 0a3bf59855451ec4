#include "state_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "fd.h"
#include "state_file.h"

namespace gw {
namespace {

std::string why(const std::string& what) { return what + ": " + std::strerror(errno); }

bool make_folder(const std::string& dir, std::string& error) {
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            error = dir + ": not a directory";
            return false;
        }
        return true;  // parents may be shared; the state folder itself is checked by prepare()
    }
    std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_folder(dir.substr(0, slash), error)) {
        return false;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = why("cannot create " + dir);
        return false;
    }
    return true;
}

// The file's content, at most one byte past the size limit (so an oversized file is told).
bool read_bounded(const std::string& path, std::string& out, bool& exists) {
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    exists = fd.get() >= 0 || errno != ENOENT;
    if (fd.get() < 0) {
        return false;
    }
    out.clear();
    // Room for the whole file at once: grown as it is read, a large state was copied and
    // faulted in anew at every doubling.
    struct stat info {};
    if (fstat(fd.get(), &info) == 0 && info.st_size > 0) {
        out.reserve(std::min(static_cast<std::size_t>(info.st_size), kMaxStateFileSize) + 1);
    }
    char buffer[65536];
    while (out.size() <= kMaxStateFileSize) {
        ssize_t got = read(fd.get(), buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

std::string utc_stamp() {
    std::time_t now = std::time(nullptr);
    std::tm parts {};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof(text), "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// `path`.<tag>-<UTC time>, with a number added when that name is taken.
std::string unused_name(const std::string& path, const std::string& tag) {
    std::string base = path + "." + tag + "-" + utc_stamp();
    std::string name = base;
    for (int n = 1; access(name.c_str(), F_OK) == 0 && n < 1000; ++n) {
        name = base + "-" + std::to_string(n);
    }
    return name;
}


bool write_synced(const std::string& path, std::string_view bytes, std::string& error) {
    Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.get() < 0 || !write_all(fd.get(), bytes) || fsync(fd.get()) != 0 || close(fd.release()) != 0) {
        error = why("cannot write " + path);
        unlink(path.c_str());
        return false;
    }
    return true;
}

}  // namespace

StateStore::StateStore(std::string dir, std::string name) : dir_(std::move(dir)), name_(std::move(name)) {}

bool StateStore::prepare(std::string& error) const {
    if (!make_folder(dir_, error)) {
        return false;
    }
    // Whoever may write here may replace the configuration the runtime restores.
    struct stat st {};
    if (stat(dir_.c_str(), &st) != 0) {
        error = why(dir_);
        return false;
    }
    if (st.st_uid != geteuid() && st.st_uid != 0) {
        error = dir_ + ": belongs to another user";
        return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = dir_ + ": writable by other users";
        return false;
    }
    return true;
}

bool StateStore::save(std::string_view bytes, std::string& error) const {
    const std::string current = current_path();
    const std::string temporary = current + ".tmp";
    if (!write_synced(temporary, bytes, error)) {
        return false;
    }
    // The current copy becomes the previous one without ever leaving the folder without one.
    const std::string previous = previous_path();
    const std::string previous_temporary = previous + ".tmp";
    unlink(previous_temporary.c_str());
    if (link(current.c_str(), previous_temporary.c_str()) == 0) {
        if (rename(previous_temporary.c_str(), previous.c_str()) != 0) {
            unlink(previous_temporary.c_str());
        }
    } else if (errno != ENOENT) {
        error = why("cannot keep " + current + " as " + previous);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), current.c_str()) != 0) {
        error = why("cannot replace " + current);
        unlink(temporary.c_str());
        return false;
    }
    Fd folder(open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || fsync(folder.get()) != 0) {
        error = why("cannot sync the folder " + dir_);
        return false;
    }
    return true;
}

std::string StateStore::keep_copy(std::string_view bytes, const std::string& tag, std::string& error) const {
    std::string path = unused_name(current_path(), tag);
    return write_synced(path, bytes, error) ? path : "";
}

std::string StateStore::set_aside(const std::string& path, const std::string& tag) const {
    std::string target = unused_name(path, tag);
    return rename(path.c_str(), target.c_str()) == 0 ? target : "";
}

StateStore::Loaded StateStore::load(const std::string& path, amxc_var_t* state) const {
    Loaded loaded;
    loaded.path = path;
    bool exists = false;
    // Not kept in `loaded`: gone before the import, which is the restore's peak of memory.
    std::string bytes;
    if (!read_bounded(path, bytes, exists)) {
        if (exists) {
            loaded.notes.push_back(why("cannot read " + path));
        }
        return loaded;
    }
    std::string error;
    if (decode_state_file(bytes, state, error, &loaded.digest)) {
        loaded.found = true;
        return loaded;
    }
    std::string kept = set_aside(path, "corrupt");
    loaded.notes.push_back(path + " is damaged (" + error + "); " +
                           (kept.empty() ? why("could not move it aside") : "kept as " + kept));
    return loaded;
}

}  // namespace gw
