// The channels the web dashboards show: the menu beside the logged data (or in the product's
// web folder) lists the dashboards, and each dashboard names its channels.
#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/local_server/dashboard_scan.h"
#include "log_stores/local_server/local_data_server.h"
#include "platform/ascii_text.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"

namespace log_stores::local {
namespace {

// Menus and dashboards are small; anything larger is not one.
constexpr std::size_t kMaxWebHmiFile = 8u << 20;

bool is_separator(char c) { return c == '/' || c == '\\'; }

// The folder that holds the nearest "LOGGED_DATA" at or above the data folder, if any.
std::optional<std::string> beside_logged_data(std::string_view folder) {
    while (!folder.empty() && is_separator(folder.back())) folder.remove_suffix(1);
    while (!folder.empty()) {
        std::size_t cut = folder.size();
        while (cut > 0 && !is_separator(folder[cut - 1])) --cut;
        const std::string_view last = folder.substr(cut);
        std::string_view parent = folder.substr(0, cut);
        while (!parent.empty() && is_separator(parent.back())) parent.remove_suffix(1);
        if (platform::equal_ignoring_case(last, "LOGGED_DATA")) {
            // "/LOGGED_DATA" stands beside "/WEBHMI".
            if (parent.empty() && cut > 0) return std::string("/");
            return std::string(parent);
        }
        folder = parent;
    }
    return std::nullopt;
}

std::string joined(std::string folder, std::string_view name) {
    if (folder.empty() || !is_separator(folder.back())) folder += '/';
    folder += name;
    return folder;
}

bool is_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// `relative` beside the logged data when it is there, else `in_web_folder` in QVR_WEBHMI.
std::string web_file(const std::optional<std::string>& beside, std::string_view relative,
                     std::string_view in_web_folder) {
    if (beside) {
        std::string candidate = joined(*beside, "WEBHMI/" + std::string(relative));
        if (is_file(candidate)) return candidate;
    }
    const char* web = env_GetVariable("QVR_WEBHMI");
    return joined(web != nullptr ? web : "", in_web_folder);
}

void say(const std::string& text) { platform::debug_output(text); }

}  // namespace

std::optional<std::vector<ChannelKey>> LoadWebHmiChannels(const std::string& data_folder) {
    const auto beside = beside_logged_data(data_folder);
    const std::string menu_path = web_file(beside, "menu.xml", "menu.xml");
    std::string menu;
    if (platform::read_file(menu_path, menu, kMaxWebHmiFile) != 0) {
        say("Can't read menu file " + menu_path + " to determine number of WebHMIChannels\r\n");
        return std::nullopt;
    }
    const bool with_xchannels = !platform::equal_ignoring_case(reg_GetProductName(), "Rimvale");
    std::vector<ChannelKey> keys;
    for (const std::string& item : MenuItems(menu)) {
        const std::string path = web_file(beside, "DASHBOARDS/" + item, "DASHBOARDS/" + item);
        std::string dashboard;
        if (platform::read_file(path, dashboard, kMaxWebHmiFile) != 0) {
            say("Can't read dashboard " + path + " to determine number of WebHMIChannels\r\n");
            continue;
        }
        AddDashboardChannels(dashboard, with_xchannels, keys);
    }
    SortUniqueKeys(keys);
    if (keys.empty())
        say("No WebHMIChannels for " + data_folder + "\r\n");
    else
        say(std::to_string(keys.size()) + " WebHMIChannels for " + data_folder + "\r\n");
    return keys;
}

}  // namespace log_stores::local
