#pragma once
// Loading shared libraries by path (dlopen), the one place of the project that does.
#include <string>

namespace platform {

// Loads the library at `path` (RTLD_NOW | RTLD_LOCAL). Null with errno ENOENT when it cannot
// be loaded; `error` (when given) receives the loader's text.
void* library_open(const std::string& path, std::string* error = nullptr);
// Unloads it. 0, or -1 with errno EINVAL.
int library_close(void* handle);
// Address of `name` in the library, or null.
void* library_symbol(void* handle, const char* name);

}  // namespace platform
