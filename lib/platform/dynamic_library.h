#pragma once
// Loading shared libraries by path (dlopen) and finding symbols and the files that hold
// them: the one place of the project that does.
#include <string>

namespace platform {

// Loads the library at `path` (RTLD_NOW | RTLD_LOCAL). Null with errno ENOENT when it cannot
// be loaded; `error` (when given) receives the loader's text.
void* library_open(const std::string& path, std::string* error = nullptr);
// Unloads it. 0, or -1 with errno EINVAL.
int library_close(void* handle);
// Address of `name` in the library, or null.
void* library_symbol(void* handle, const char* name);
// Address of `name` in the program or any library it has loaded (the global scope), or null.
void* global_symbol(const char* name);
// Absolute path of the file (program or library) whose code or data holds `address`; the
// program's own file for the program. Empty when no loaded file holds it.
std::string library_path_of(const void* address);

}  // namespace platform
