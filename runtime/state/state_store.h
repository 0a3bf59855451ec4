// The state file on disk: saved crash-safely, loaded with a fallback to the last good copy.
//
// Files in the state folder: NAME (current), NAME.prev (the one it replaced), NAME.tmp (a save
// in progress), NAME.corrupt-<UTC time> (a copy that failed its checks, kept for inspection), and copies
// kept by keep_copy() and set_aside().
#pragma once

#include <amxc/amxc_variant.h>

#include <string>
#include <string_view>
#include <vector>

namespace gw {

class StateStore {
public:
    StateStore(std::string dir, std::string name);

    // Creates the folder (mode 0700, parents too) when missing. False with a reason otherwise.
    bool prepare(std::string& error) const;

    // Writes `bytes` as the current file: NAME.tmp written and fsynced, the current file kept
    // as NAME.prev (hard link, so a current file exists at every moment), NAME.tmp renamed
    // over NAME, the folder fsynced. False with a reason when any step fails; the current
    // file is then the previous one.
    bool save(std::string_view bytes, std::string& error) const;

    struct Loaded {
        bool found = false;              // a good copy was read into `state`
        std::string path;                // which file
        std::string digest;              // its checksum when laid out as written, "" otherwise
        std::vector<std::string> notes;  // what went wrong, one line each
    };
    // Reads one copy (current_path() or previous_path()). A copy that exists but fails its
    // checks is renamed to PATH.corrupt-<time> and noted; a missing one is not an error.
    Loaded load(const std::string& path, amxc_var_t* state) const;

    // Renames `path` to `path`.<tag>-<UTC time>; that name, or "" when it cannot.
    std::string set_aside(const std::string& path, const std::string& tag) const;

    // Writes `bytes` to NAME.<tag>-<UTC time> (fsynced) and returns that path; "" with a
    // reason in `error` when it cannot.
    std::string keep_copy(std::string_view bytes, const std::string& tag, std::string& error) const;

    const std::string& name() const { return name_; }
    std::string current_path() const { return dir_ + "/" + name_; }
    std::string previous_path() const { return current_path() + ".prev"; }

private:
    std::string dir_;
    std::string name_;
};

}  // namespace gw
