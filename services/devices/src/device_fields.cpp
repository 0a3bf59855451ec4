#include "device_fields.h"

#include <algorithm>

namespace devices {

void DeviceFields::set(std::string_view name, std::string_view text) {
    auto it = std::find_if(params_.begin(), params_.end(), [&](const auto& param) { return param.first == name; });
    if(it != params_.end()) {
        it->second = text;
    } else {
        params_.emplace_back(name, text);
    }
}

void DeviceFields::set_tags(std::string_view tags) {
    tags_.clear();
    constexpr std::string_view blanks = " \t\r\n";
    std::size_t at = tags.find_first_not_of(blanks);
    while(at != std::string_view::npos) {
        const std::size_t end = std::min(tags.find_first_of(blanks, at), tags.size());
        tags_.emplace_back(tags.substr(at, end - at));
        at = tags.find_first_not_of(blanks, end);
    }
}

const std::string* DeviceFields::text(std::string_view name) const {
    auto it = std::find_if(params_.begin(), params_.end(), [&](const auto& param) { return param.first == name; });
    return it == params_.end() ? nullptr : &it->second;
}

bool DeviceFields::has_tag(std::string_view tag) const { return std::find(tags_.begin(), tags_.end(), tag) != tags_.end(); }

}  // namespace devices
