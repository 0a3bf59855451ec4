#include "vocabulary.h"

#include <array>
#include <utility>

namespace amxo {
namespace {

template <typename T, std::size_t N>
std::optional<T> lookup(const std::array<std::pair<std::string_view, T>, N>& table, std::string_view word) {
    for (const auto& [name, value] : table) {
        if (name == word) {
            return value;
        }
    }
    return std::nullopt;
}

constexpr std::array<std::pair<std::string_view, uint32_t>, 7> kParameterTypes{{
    {"string", AMXC_VAR_ID_CSTRING},
    {"csv_string", AMXC_VAR_ID_CSV_STRING},
    {"bool", AMXC_VAR_ID_BOOL},
    {"int32", AMXC_VAR_ID_INT32},
    {"uint32", AMXC_VAR_ID_UINT32},
    {"int64", AMXC_VAR_ID_INT64},
    {"uint64", AMXC_VAR_ID_UINT64},
}};

constexpr std::array<std::pair<std::string_view, uint32_t>, 3> kContainerTypes{{
    {"htable", AMXC_VAR_ID_HTABLE},
    {"list", AMXC_VAR_ID_LIST},
    {"variant", AMXC_VAR_ID_ANY},
}};

constexpr std::array<std::pair<std::string_view, amxd_action_t>, 6> kObjectActions{{
    {"validate", action_object_validate},
    {"destroy", action_object_destroy},
    {"add-inst", action_object_add_inst},
    {"del-inst", action_object_del_inst},
    {"read", action_object_read},
    {"write", action_object_write},
}};

constexpr std::array<std::pair<std::string_view, amxd_action_t>, 1> kParameterActions{{
    {"validate", action_param_validate},
}};

}  // namespace

std::optional<uint32_t> parameter_type(std::string_view word) {
    return lookup(kParameterTypes, word);
}

std::optional<uint32_t> argument_type(std::string_view word) {
    if (auto t = lookup(kParameterTypes, word)) {
        return t;
    }
    return lookup(kContainerTypes, word);
}

std::optional<uint32_t> return_type(std::string_view word) {
    if (word == "void") {
        return AMXC_VAR_ID_NULL;
    }
    return argument_type(word);
}

std::optional<amxd_action_t> object_action(std::string_view word) {
    return lookup(kObjectActions, word);
}

std::optional<amxd_action_t> parameter_action(std::string_view word) {
    return lookup(kParameterActions, word);
}

namespace {

constexpr std::size_t kMaxNameLength = 255;

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool has_only_name_chars(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength) {
        return false;
    }
    for (char c : name) {
        if (!is_letter(c) && !is_digit(c) && c != '-') {
            return false;
        }
    }
    return true;
}

}  // namespace

bool is_valid_name(std::string_view name) {
    return has_only_name_chars(name) && is_letter(name.front());
}

bool is_valid_instance_name(std::string_view name) {
    return has_only_name_chars(name) && name.find_first_not_of("0123456789") != std::string_view::npos;
}

}  // namespace amxo
