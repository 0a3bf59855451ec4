// One imported shared object.
#pragma once

#include <memory>
#include <string>

#include "load_error.h"

namespace amxo {

class Module {
public:
    // dlopens `path` (RTLD_NOW | RTLD_LOCAL: a module binds its own symbols, not another
    // module's). Throws LoadError at `where` with the loader's reason when that fails.
    static std::unique_ptr<Module> open(const std::string& path, std::string alias, const Location& where);

    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // The address of `symbol` when this module itself defines it; NULL otherwise. A name that
    // only a dependency defines (free, amxd_object_new, ...) does not count: binding it would
    // hand library internals to the data model.
    void* find(const char* symbol) const;

    const std::string& alias() const { return alias_; }
    const std::string& path() const { return path_; }

private:
    Module(void* handle, std::string path, std::string alias);

    void* handle_;
    std::string path_;
    std::string alias_;
};

}  // namespace amxo
