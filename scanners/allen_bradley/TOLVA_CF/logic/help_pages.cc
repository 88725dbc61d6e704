#include "TOLVA_CF/logic/help_pages.h"

#include <string>

#include "platform/dynamic_library.h"

namespace tolva::cf {

std::filesystem::path help_page_path(const std::filesystem::path& module_path, std::string_view topic) {
    std::filesystem::path stem = module_path;
    if (stem.extension() == ".so") stem.replace_extension();
    std::filesystem::path page = stem;
    page += "-help";
    return page / "html" / (std::string(topic) + ".htm");
}

std::filesystem::path this_module_path() {
    const std::string file = platform::library_path_of(reinterpret_cast<const void*>(&this_module_path));
    if (file.empty()) return {};
    std::error_code ec;
    auto path = std::filesystem::weakly_canonical(file, ec);
    return ec ? std::filesystem::path(file) : path;
}

}  // namespace tolva::cf
