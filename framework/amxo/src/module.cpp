#include "module.h"

#include <dlfcn.h>
#include <link.h>

namespace amxo {

Module::Module(void* handle, std::string path, std::string alias)
    : handle_(handle), path_(std::move(path)), alias_(std::move(alias)) {}

Module::~Module() {
    dlclose(handle_);
}

std::unique_ptr<Module> Module::open(const std::string& path, std::string alias, const Location& where) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        fail(where, "cannot load module '" + path + "': " + (why != nullptr ? why : "unknown error"));
    }
    try {
        return std::unique_ptr<Module>(new Module(handle, path, std::move(alias)));
    } catch (...) {
        dlclose(handle);
        throw;
    }
}

void* Module::find(const char* symbol) const {
    dlerror();
    void* address = dlsym(handle_, symbol);
    if (address == nullptr) {
        return nullptr;
    }
    link_map* own = nullptr;
    if (dlinfo(handle_, RTLD_DI_LINKMAP, &own) != 0 || own == nullptr) {
        return nullptr;
    }
    Dl_info info{};
    void* extra = nullptr;
    if (dladdr1(address, &info, &extra, RTLD_DL_LINKMAP) == 0) {
        return nullptr;
    }
    return static_cast<link_map*>(extra) == own ? address : nullptr;
}

}  // namespace amxo
