// Device-map query expressions (openQuery's argument, from any bus client) on arbitrary bytes:
// parsed, then evaluated against two fixed devices.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "expression.h"

namespace {

devices::DeviceFields laptop() {
    devices::DeviceFields device;
    device.set_tags("physical lan wifi-5g");
    device.set("Key", "ID-1");
    device.set("PhysAddress", "01:23:45:67:89:AB");
    device.set("IPAddress", "192.168.1.20");
    device.set("Name", "Laptop \"office\" \\ one");
    device.set("VendorClassID", "MSFT 5.0");
    device.set("Active", "1");
    return device;
}

devices::DeviceFields gateway() {
    devices::DeviceFields device;
    device.set_tags("self");
    device.set("Key", "gateway");
    device.set("Name", "");
    device.set("ClientID", std::string(300, 'a'));
    return device;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const devices::DeviceFields first = laptop();
    static const devices::DeviceFields second = gateway();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    devices::ParseError error;
    const std::unique_ptr<devices::Expression> expression = devices::Expression::parse(text, error);
    if(expression == nullptr) {
        if(error.message.empty() || error.position > size) {
            __builtin_trap();  // a refusal must say why and where
        }
        return 0;
    }
    expression->matches(first);
    expression->matches(second);
    expression->for_each_field([size](const std::string& name, std::size_t position) {
        if(name.empty() || position >= size) {
            __builtin_trap();
        }
    });
    return 0;
}
