#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <cerrno>

#include "platform/last_error.h"

namespace platform {

void* library_open(const std::string& path, std::string* error) {
    if (path.empty()) {
        set_last_error(ENOENT);
        return nullptr;
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = ::dlerror();
        if (error != nullptr) *error = text != nullptr ? text : "";
        set_last_error(ENOENT);
    }
    return handle;
}

int library_close(void* handle) {
    if (handle == nullptr || ::dlclose(handle) != 0) return fail(EINVAL);
    return 0;
}

void* library_symbol(void* handle, const char* name) {
    if (handle == nullptr || name == nullptr) return nullptr;
    return ::dlsym(handle, name);
}

}  // namespace platform
