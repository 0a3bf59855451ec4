// Prints a large reply that gwrt sends in parts as the parts arrive, so that gwctl neither
// waits for nor holds the whole of it.
#pragma once

#include <amxb/amxb.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gwctl {

class PartPrinter {
public:
    // objects: the parts of a get reply, as "Path.Param=value" lines; text: parts of a text;
    // json: any reply, as the compact JSON of the whole (finish() ends it).
    enum class Kind { objects, text, json };

    // Installed on `ctx` (when not NULL) for as long as this object lives.
    PartPrinter(amxb_bus_ctx_t* ctx, Kind kind);
    ~PartPrinter();
    PartPrinter(const PartPrinter&) = delete;
    PartPrinter& operator=(const PartPrinter&) = delete;

    // Whether every part could be printed.
    bool ok() const { return ok_; }

    // Whether any part arrived.
    bool received() const { return received_; }

    // json: closes what the parts left open and ends the line.
    void finish();

private:
    // A table, list or text of the JSON reply still open for parts: where it is, what it is,
    // how many members it has printed.
    struct Open {
        std::vector<std::string> at;
        uint32_t type;
        std::size_t members;
    };

    static void on_part(const amxc_var_t* at, const amxc_var_t* piece, void* priv);
    void print_json_part(const amxc_var_t* at, const amxc_var_t* piece);
    void open(std::vector<std::string> at, uint32_t type);
    void close_top();

    amxb_bus_ctx_t* ctx_;
    Kind kind_;
    bool ok_ = true;
    bool received_ = false;
    std::vector<Open> open_;
};

}  // namespace gwctl
