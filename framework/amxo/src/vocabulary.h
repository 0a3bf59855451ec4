// The words of the language that name framework things: types, actions, attributes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <amxd/amxd_types.h>

namespace amxo {

// Parameter types: string, csv_string, bool, int32, uint32, int64, uint64.
std::optional<uint32_t> parameter_type(std::string_view word);

// Types of method arguments and results: the parameter types, htable, list and variant (any
// value), and for results also void.
std::optional<uint32_t> argument_type(std::string_view word);
std::optional<uint32_t> return_type(std::string_view word);

// Object actions: validate, destroy, add-inst, del-inst, read, write.
std::optional<amxd_action_t> object_action(std::string_view word);

// Parameter actions: validate.
std::optional<amxd_action_t> parameter_action(std::string_view word);

// Names of objects and parameters: a letter or '_', then letters, digits, '_' or '-'; at most
// 255 bytes.
bool is_valid_name(std::string_view name);

// Names of instances: letters, digits, '_' or '-', not all digits (that would read as an
// index); at most 255 bytes.
bool is_valid_instance_name(std::string_view name);

}  // namespace amxo
