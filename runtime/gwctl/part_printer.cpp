#include "part_printer.h"

#include <cstdio>

#include "printer.h"

namespace gwctl {

PartPrinter::PartPrinter(amxb_bus_ctx_t* ctx, Kind kind) : ctx_(ctx), kind_(kind) {
    if (ctx_ != nullptr) {
        amxb_set_reply_part_handler(ctx_, on_part, this);
    }
}

PartPrinter::~PartPrinter() {
    if (ctx_ != nullptr) {
        amxb_set_reply_part_handler(ctx_, nullptr, nullptr);
    }
}

void PartPrinter::on_part(const amxc_var_t* at, const amxc_var_t* piece, void* priv) {
    auto* self = static_cast<PartPrinter*>(priv);
    const size_t depth = amxc_var_size(at);
    if (self->kind_ == Kind::text) {
        const char* text = amxc_var_get_const_cstring_t(piece);
        self->ok_ = self->ok_ && depth == 0 && text != nullptr && std::fputs(text, stdout) >= 0;
        return;
    }
    // A get reply is a list holding one table of objects: its parts are that list, groups of
    // objects, or groups of one object's parameters.
    std::string lines;
    if (depth == 0) {
        amxc_var_for_each(objects, piece) {
            lines += parameter_lines(objects);
        }
    } else if (depth == 1) {
        lines = parameter_lines(piece);
    } else if (depth == 2) {
        amxc_var_t object;
        amxc_var_init(&object);
        amxc_var_set_type(&object, AMXC_VAR_ID_HTABLE);
        amxc_var_set_key(&object, amxc_var_get_const_cstring_t(amxc_var_get_last(at)), const_cast<amxc_var_t*>(piece),
                         AMXC_VAR_FLAG_COPY);
        lines = parameter_lines(&object);
        amxc_var_clean(&object);
    } else {
        self->ok_ = false;  // a single value larger than a part
    }
    self->ok_ = self->ok_ && std::fputs(lines.c_str(), stdout) >= 0;
}

}  // namespace gwctl
