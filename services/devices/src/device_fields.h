// What a query expression looks at: one device's parameters as text, and its tags.
#ifndef DEVICES_DEVICE_FIELDS_H
#define DEVICES_DEVICE_FIELDS_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devices {

// A snapshot, built once per device event and read by every open query. Devices have about
// ten parameters and a few tags: linear lookups beat hashing at that size.
class DeviceFields {
public:
    // Sets (or replaces) the text of parameter `name`.
    void set(std::string_view name, std::string_view text);

    // Replaces the tags by the words of `tags` (separated by blanks).
    void set_tags(std::string_view tags);

    // The parameter's text (borrowed until the next change), nullptr when the device has none.
    const std::string* text(std::string_view name) const;

    // Whether the device carries `tag` (exact, case-sensitive).
    bool has_tag(std::string_view tag) const;

private:
    std::vector<std::pair<std::string, std::string>> params_;
    std::vector<std::string> tags_;
};

}  // namespace devices

#endif  // DEVICES_DEVICE_FIELDS_H
