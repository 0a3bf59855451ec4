// Device-map query expressions (openQuery's argument, from any bus client) on arbitrary bytes:
// parsed, then evaluated against two fixed devices: a laptop and the gateway itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expression.h"
#include "fuzz_require.h"

namespace {

devices::DeviceFields device(const char* tags, const std::vector<std::pair<std::string, std::string>>& params) {
    devices::DeviceFields fields;
    fields.set_tags(tags);
    for(const auto& [name, value] : params) {
        fields.set(name, value);
    }
    return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const devices::DeviceFields first =
        device("physical lan wifi-5g", {{"Key", "ID-1"}, {"PhysAddress", "01:23:45:67:89:AB"}, {"IPAddress", "192.168.1.20"},
                                        {"Name", "Laptop \"office\" \\ one"}, {"VendorClassID", "MSFT 5.0"}, {"Active", "1"}});
    static const devices::DeviceFields second =
        device("self", {{"Key", "gateway"}, {"Name", ""}, {"ClientID", std::string(300, 'a')}});
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    devices::ParseError error;
    const std::unique_ptr<devices::Expression> expression = devices::Expression::parse(text, error);
    if(expression == nullptr) {
        require(!error.message.empty() && error.position <= size);  // a refusal must say why and where
        return 0;
    }
    expression->matches(first);
    expression->matches(second);
    expression->for_each_field([size](const std::string& name, std::size_t position) {
        require(!name.empty() && position < size);
    });
    return 0;
}
