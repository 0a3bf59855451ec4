#include "socket_path.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace gw {
namespace {

constexpr const char* kSocketName = "gwrt.sock";

std::string folder_of(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string errno_text(int err) { return std::strerror(err); }

// Creates `folder` and its missing parents with mode 0700.
bool make_folders(const std::string& folder, std::string& error) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        return true;
    }
    if (errno != ENOENT) {
        error = folder + ": " + errno_text(errno);
        return false;
    }
    std::string parent = folder_of(folder);
    if (parent != folder && !make_folders(parent, error)) {
        return false;
    }
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + folder + ": " + errno_text(errno);
        return false;
    }
    return true;
}

}  // namespace

std::string default_socket_path_for(uid_t uid, const char* xdg_runtime_dir) {
    if (uid == 0) {
        return std::string("/run/gwrt/") + kSocketName;
    }
    if (xdg_runtime_dir != nullptr && xdg_runtime_dir[0] == '/') {
        return std::string(xdg_runtime_dir) + "/gwrt/" + kSocketName;
    }
    return "/tmp/gwrt-" + std::to_string(uid) + "/" + kSocketName;
}

std::string default_socket_path() {
    return default_socket_path_for(geteuid(), std::getenv("XDG_RUNTIME_DIR"));
}

std::size_t max_socket_path_length() { return sizeof(sockaddr_un::sun_path) - 1; }

SocketProbe probe_socket(const std::string& path, std::string& error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return SocketProbe::absent;
        }
        const int err = errno;
        error = errno_text(err);
        return err == EACCES ? SocketProbe::forbidden : SocketProbe::unreachable;
    }
    if (!S_ISSOCK(st.st_mode)) {
        return SocketProbe::not_a_socket;
    }
    if (path.size() > max_socket_path_length()) {
        error = "path too long for a socket";
        return SocketProbe::unreachable;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = errno_text(errno);
        return SocketProbe::unreachable;
    }
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    int err = errno;
    close(fd);
    if (rc == 0 || err == EAGAIN || err == EINPROGRESS) {
        return SocketProbe::live;  // EAGAIN: a full backlog, but someone is listening
    }
    if (err == ECONNREFUSED) {
        return SocketProbe::stale;
    }
    error = errno_text(err);
    return err == EACCES || err == EPERM ? SocketProbe::forbidden : SocketProbe::unreachable;
}

bool prepare_socket_folder(const std::string& socket_path, std::string& error) {
    std::string folder = folder_of(socket_path);
    if (!make_folders(folder, error)) {
        return false;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) {
        error = folder + ": " + errno_text(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = folder + ": not a directory";
        return false;
    }
    if (st.st_uid != geteuid() && st.st_uid != 0) {
        error = folder + ": belongs to another user";
        return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
        error = folder + ": writable by other users";
        return false;
    }
    return true;
}

}  // namespace gw
