// The device prefix of a configuration folder: a device folder is named by its type, an
// underscore and its number.

#include <string>
#include <string_view>

#include "platform/ascii_text.h"
#include "qvr/ext/ext.h"

namespace {

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// "calc12" reads as "calc": numbered instances share one type.
bool numbered(std::string_view prefix, std::string_view type) {
    return prefix.size() > type.size() && platform::starts_with_ignoring_case(prefix, type) &&
           all_digits(prefix.substr(type.size()));
}

}  // namespace

namespace qvr {

std::string device_prefix(std::string_view config_dir) {
    while (!config_dir.empty() && (config_dir.back() == '/' || config_dir.back() == '\\'))
        config_dir.remove_suffix(1);
    size_t slash = config_dir.find_last_of("/\\");
    std::string_view last = slash == std::string_view::npos ? config_dir : config_dir.substr(slash + 1);
    size_t underscore = last.rfind('_');
    std::string_view prefix = underscore == std::string_view::npos ? last : last.substr(0, underscore);
    if (numbered(prefix, "calc")) return "calc";
    if (numbered(prefix, "opddx")) return "opddx";
    return std::string(prefix);
}

std::string device_prefix5(std::string_view config_dir) {
    return device_prefix(config_dir).substr(0, 5);
}

}  // namespace qvr
