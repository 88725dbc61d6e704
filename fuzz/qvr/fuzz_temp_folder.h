#pragma once
// A temporary folder made for the life of a fuzz process: removed, with what it holds, when
// the process ends.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fuzz_support {

// `pattern` ends in "XXXXXX", as mkdtemp wants.
inline std::filesystem::path process_folder(std::string pattern) {
    if (mkdtemp(pattern.data()) == nullptr) __builtin_trap();
    static struct Remover {
        std::vector<std::filesystem::path> roots;
        ~Remover() {
            std::error_code ignored;
            for (const auto& root : roots) std::filesystem::remove_all(root, ignored);
        }
    } remover;
    remover.roots.emplace_back(pattern);
    return pattern;
}

}  // namespace fuzz_support
