#include "TOLVA_CF/logic/help_pages.h"

#include <dlfcn.h>

#include <string>

namespace tolva::cf {

std::filesystem::path help_page_path(const std::filesystem::path& module_path, std::string_view topic) {
    std::filesystem::path stem = module_path;
    if (stem.extension() == ".so") stem.replace_extension();
    std::filesystem::path page = stem;
    page += "-help";
    return page / "html" / (std::string(topic) + ".htm");
}

std::filesystem::path this_module_path() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&this_module_path), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code ec;
    auto path = std::filesystem::weakly_canonical(info.dli_fname, ec);
    return ec ? std::filesystem::path(info.dli_fname) : path;
}

}  // namespace tolva::cf
