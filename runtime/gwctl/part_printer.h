// Prints a large reply that gwrt sends in parts as the parts arrive, so that gwctl neither
// waits for nor holds the whole of it.
#pragma once

#include <amxb/amxb.h>

namespace gwctl {

class PartPrinter {
public:
    // objects: the parts of a get reply, as "Path.Param=value" lines; text: parts of a text.
    enum class Kind { objects, text };

    // Installed on `ctx` (when not NULL) for as long as this object lives.
    PartPrinter(amxb_bus_ctx_t* ctx, Kind kind);
    ~PartPrinter();
    PartPrinter(const PartPrinter&) = delete;
    PartPrinter& operator=(const PartPrinter&) = delete;

    // Whether every part could be printed.
    bool ok() const { return ok_; }

private:
    static void on_part(const amxc_var_t* at, const amxc_var_t* piece, void* priv);

    amxb_bus_ctx_t* ctx_;
    Kind kind_;
    bool ok_ = true;
};

}  // namespace gwctl
