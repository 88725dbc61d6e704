#pragma once
// Where the dialogs' help lies: HTML pages beside the library, in "<library>-help/html",
// one page per dialog topic.
#include <filesystem>
#include <string_view>

namespace tolva::cf {

inline constexpr std::string_view kChannelHelpTopic = "chanaddr";
inline constexpr std::string_view kCommHelpTopic = "commport";

// "<folder>/<name without .so>-help/html/<topic>.htm" of a library at `module_path`.
std::filesystem::path help_page_path(const std::filesystem::path& module_path, std::string_view topic);

// The file this code was loaded from (the library, or a program that links it); empty when
// it cannot be told.
std::filesystem::path this_module_path();

}  // namespace tolva::cf
