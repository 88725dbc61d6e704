#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

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

void* global_symbol(const char* name) {
    if (name == nullptr) return nullptr;
    return ::dlsym(RTLD_DEFAULT, name);
}

std::string library_path_of(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    if (address == nullptr || ::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0)
        return {};
    // The program's own entry has no name of its own (the loader reports argv[0] for it,
    // which may be relative or made up).
    if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
        char self[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        return n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    }
    std::string path = map->l_name;
    if (path.front() != '/') {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) path = resolved;
    }
    return path;
}

}  // namespace platform
