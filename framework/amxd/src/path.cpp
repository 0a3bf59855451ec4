#include "path.h"

#include <cstdio>

#include "names.h"
#include "object_tree.h"

namespace amxd {

const std::string& component_name(const amxd_object_t* object, uint32_t flags) {
    if(object->type != amxd_object_instance) {
        return object->name;
    }
    if(((flags & AMXD_OBJECT_NAMED) != 0) && ((flags & AMXD_OBJECT_INDEXED) == 0) && !object->name.empty()) {
        return object->name;
    }
    return object->index_text;
}

std::string object_path(const amxd_object_t* object, uint32_t flags) {
    // Measured first, then written from its end: one allocation however deep the object lies.
    std::size_t length = 0;
    for(const amxd_object_t* it = object; (it != nullptr) && (it->type != amxd_object_root); it = it->parent) {
        length += component_name(it, flags).size() + 1;   // with the dot before it, or the last one
    }
    if(length == 0) {
        return std::string();
    }
    std::string path(((flags & AMXD_OBJECT_TERMINATE) != 0) ? length : length - 1, '.');
    std::size_t end = length - 1;   // just past the component written next
    for(const amxd_object_t* it = object; (it != nullptr) && (it->type != amxd_object_root); it = it->parent) {
        const std::string& name = component_name(it, flags);
        end -= name.size();
        name.copy(path.data() + end, name.size());
        end -= end == 0 ? 0 : 1;
    }
    return path;
}

amxd_object_t* lookup_component(const amxd_object_t* object, std::string_view component) {
    if(object->type != amxd_object_template) {
        return find_child(object, component);
    }
    if(is_all_digits(component)) {
        std::optional<uint32_t> index = parse_index(component);
        return index ? find_instance(object, *index) : nullptr;
    }
    amxd_object_t* instance = find_instance(object, component);
    return instance != nullptr ? instance : find_child(object, component);
}

amxd_object_t* resolve_path(const amxd_object_t* base, std::string_view path) {
    if(!path.empty() && (path.front() == '.')) {
        return nullptr;
    }
    const amxd_object_t* current = base;
    std::size_t pos = 0;
    while(pos < path.size()) {
        std::size_t end = path.find('.', pos);
        if(end == std::string_view::npos) {
            end = path.size();
        }
        current = lookup_component(current, path.substr(pos, end - pos));
        if(current == nullptr) {
            return nullptr;
        }
        pos = end;
        std::size_t dots = 0;
        while((pos < path.size()) && (path[pos] == '.')) {
            ++pos;
            ++dots;
        }
        if(dots > 2) {
            return nullptr;
        }
    }
    return const_cast<amxd_object_t*>(current);
}

std::optional<std::string> format_path(const char* fmt, va_list args) {
    if(fmt == nullptr) {
        return std::nullopt;
    }
    va_list sizing;
    va_copy(sizing, args);
    int length = std::vsnprintf(nullptr, 0, fmt, sizing);
    va_end(sizing);
    if((length < 0) || (static_cast<std::size_t>(length) > max_path_length)) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

} // namespace amxd
