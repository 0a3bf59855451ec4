#include "expression.h"

#include <algorithm>

namespace devices {
namespace {

using Node = Expression::Node;

bool evaluate(const Node& node, const DeviceFields& device) {
    switch(node.kind) {
    case Node::Kind::tag: return device.has_tag(node.name);
    case Node::Kind::matches: {
        const std::string* text = device.text(node.name);
        return text != nullptr && node.pattern->search(*text);
    }
    case Node::Kind::equals: {
        const std::string* text = device.text(node.name);
        return text != nullptr && *text == node.text;
    }
    case Node::Kind::differs: {
        const std::string* text = device.text(node.name);
        return text == nullptr || *text != node.text;
    }
    case Node::Kind::negation: return !evaluate(node.children.front(), device);
    case Node::Kind::all:
        return std::all_of(node.children.begin(), node.children.end(),
                           [&](const Node& child) { return evaluate(child, device); });
    case Node::Kind::any:
        return std::any_of(node.children.begin(), node.children.end(),
                           [&](const Node& child) { return evaluate(child, device); });
    }
    return false;
}

void visit_fields(const Node& node, const std::function<void(const std::string&, std::size_t)>& fn) {
    if(node.kind == Node::Kind::matches || node.kind == Node::Kind::equals || node.kind == Node::Kind::differs) {
        fn(node.name, node.position);
    }
    for(const Node& child : node.children) {
        visit_fields(child, fn);
    }
}

}  // namespace

bool Expression::matches(const DeviceFields& device) const { return evaluate(root_, device); }

void Expression::for_each_field(const std::function<void(const std::string&, std::size_t)>& fn) const {
    visit_fields(root_, fn);
}

}  // namespace devices
