#include "part_printer.h"

#include <cstdio>
#include <cstdlib>

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

namespace {

bool is_text(uint32_t type) {
    return type == AMXC_VAR_ID_CSTRING || type == AMXC_VAR_ID_CSV_STRING;
}

bool empty_of_kind(const amxc_var_t* value) {
    const uint32_t type = amxc_var_type_of(value);
    if (is_text(type)) {
        const char* text = amxc_var_get_const_cstring_t(value);
        return text == nullptr || *text == '\0';
    }
    return (type == AMXC_VAR_ID_LIST || type == AMXC_VAR_ID_HTABLE) && amxc_var_size(value) == 0;
}

std::string step_text(const amxc_var_t* step) {
    char* text = amxc_var_dyncast(cstring_t, step);
    std::string out = text != nullptr ? text : "";
    free(text);
    return out;
}

}  // namespace

void PartPrinter::open(std::vector<std::string> at, uint32_t type) {
    ok_ = ok_ && std::fputs(type == AMXC_VAR_ID_HTABLE ? "{" : type == AMXC_VAR_ID_LIST ? "[" : "\"", stdout) >= 0;
    open_.push_back({std::move(at), type, 0});
}

void PartPrinter::close_top() {
    const uint32_t type = open_.back().type;
    ok_ = ok_ && std::fputs(type == AMXC_VAR_ID_HTABLE ? "}" : type == AMXC_VAR_ID_LIST ? "]" : "\"", stdout) >= 0;
    open_.pop_back();
}

void PartPrinter::finish() {
    while (!open_.empty()) {
        close_top();
    }
    ok_ = ok_ && std::fputs("\n", stdout) >= 0;
}

// Each part lands in a value still open: the result, or the last member of a part that came
// empty (a member too large for one part is filled at its own place by the parts after it).
// What is open below that place is complete and is closed first.
void PartPrinter::print_json_part(const amxc_var_t* at, const amxc_var_t* piece) {
    std::vector<std::string> place;
    amxc_var_for_each(step, at) {
        place.push_back(step_text(step));
    }
    while (!open_.empty() && open_.back().at != place) {
        close_top();
    }
    const uint32_t type = amxc_var_type_of(piece);
    if (open_.empty() && place.empty()) {
        open({}, is_text(type) ? AMXC_VAR_ID_CSTRING : type);
    }
    if (open_.empty() || (is_text(open_.back().type) != is_text(type)) || (!is_text(type) && open_.back().type != type)) {
        ok_ = false;  // a part for no place gwctl has open
        return;
    }
    std::string json;
    Open& target = open_.back();
    if (is_text(type)) {
        ok_ = ok_ && to_json(piece, false, json) && json.size() >= 2 &&
              std::fwrite(json.data() + 1, 1, json.size() - 2, stdout) == json.size() - 2;
        return;
    }
    const std::vector<std::string> base = target.at;
    amxc_var_for_each(member, piece) {
        std::string text = open_.back().members++ > 0 ? "," : "";
        std::vector<std::string> member_at = base;
        if (type == AMXC_VAR_ID_HTABLE) {
            amxc_var_t key;
            amxc_var_init(&key);
            amxc_var_set_cstring_t(&key, amxc_var_key(member));
            ok_ = ok_ && to_json(&key, false, json);
            amxc_var_clean(&key);
            text += json + ":";
            member_at.push_back(amxc_var_key(member));
        } else {
            member_at.push_back(std::to_string(open_.back().members - 1));
        }
        ok_ = ok_ && std::fputs(text.c_str(), stdout) >= 0;
        if (amxc_var_get_next(member) == nullptr && empty_of_kind(member)) {
            open(std::move(member_at), amxc_var_type_of(member));  // it may be filled by the parts to come
        } else {
            ok_ = ok_ && to_json(member, false, json) && std::fputs(json.c_str(), stdout) >= 0;
        }
    }
}

void PartPrinter::on_part(const amxc_var_t* at, const amxc_var_t* piece, void* priv) {
    auto* self = static_cast<PartPrinter*>(priv);
    self->received_ = true;
    if (self->kind_ == Kind::json) {
        self->print_json_part(at, piece);
        return;
    }
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
