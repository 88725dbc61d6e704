// The XML switches of the configuration files, and the warning when they contradict each
// other.

#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ascii_text.h"
#include "platform/registry_key.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_switches.h"
#include "qvr/settings/reg.h"
#include "qvr/diag/trace.h"
#include "qvr/testing/config_testing.h"

namespace {

constexpr std::size_t kSwitchTextMax = 9;

bool rimvale_edition() {
    return platform::equal_ignoring_case(reg_GetProductName(), "Rimvale");
}

// A path "\\machine\..." (or "//machine/...") names the machine it lies on.
bool on_this_machine(const char* path) {
    if (path == nullptr) return true;
    std::string_view p(path);
    if (p.size() < 2 || (p[0] != '\\' && p[0] != '/') || (p[1] != '\\' && p[1] != '/')) return true;
    p.remove_prefix(2);
    std::string_view machine = p.substr(0, p.find_first_of("\\/"));
    return platform::registry_connect(machine) == 0;
}

std::optional<std::string> read_text(const char* path, const char* name) {
    if (!on_this_machine(path)) return std::nullopt;
    char value[kSwitchTextMax + 1] = {};
    uint32_t type = kRegSz;
    uint32_t size = sizeof value;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue, name,
                               &type, value, &size) != 0 ||
        type != kRegSz)
        return std::nullopt;
    value[kSwitchTextMax] = '\0';
    return std::string(value, strnlen(value, std::min<std::size_t>(size, kSwitchTextMax)));
}

std::atomic<bool> g_warned_xml_only_unread{false};
std::atomic<bool> g_warned_stale_xml{false};

}  // namespace

int cfg_GetWriteXmlMode(const char* path) {
    const auto text = read_text(path, "WriteXML");
    if (!text) return rimvale_edition() ? 2 : 0;
    if (platform::equal_ignoring_case(text->c_str(), "BOTH")) return 1;
    if (platform::equal_ignoring_case(text->c_str(), "XML")) return 2;
    return 0;
}

int cfg_IsReadXmlOn(const char* path) {
    const auto text = read_text(path, "ReadXML");
    if (text && platform::equal_ignoring_case(text->c_str(), "ON")) return 1;
    if (text && platform::equal_ignoring_case(text->c_str(), "OFF")) return 0;
    return rimvale_edition() ? 1 : 0;
}

int cfg_GetExcelCompatibleXsd(const char* path) {
    if (!on_this_machine(path)) return 1;
    uint32_t value = 0;
    uint32_t type = kRegDword;
    uint32_t size = sizeof value;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue,
                               "ExcelCompatibleXSD", &type, &value, &size) != 0 ||
        type != kRegDword || size != sizeof value)
        return 1;
    return static_cast<int>(value);
}

int cfg_IsNotCurrentConfigDir(const char* path) {
    if (path == nullptr) return 0;
    // "." names the current folder, whose own name counts.
    std::string folder = qvr::cfg::resolved_folder(path);
    if (folder.empty()) folder = path;
    return platform::equal_ignoring_case(qvr::cfg::last_component(folder).c_str(), "CURRENT_CONFIG") ? 0 : 1;
}

namespace qvr::cfg {

void warn_if_xml_only_unread(const char* dir) {
    if (cfg_IsReadXmlOn(dir) != 0 || g_warned_xml_only_unread.exchange(true)) return;
    trace_Write(
        "configuration switches: WriteXML is XML but ReadXML is OFF: saves write only the XML files, "
        "loads read only the binary files\n");
}

void warn_if_stale_xml(const char* dir, const std::string& xml_path) {
    if (g_warned_stale_xml.load() || cfg_GetWriteXmlMode(dir) != 0 || cfg_IsReadXmlOn(dir) == 0 ||
        !file_exists(xml_path) || g_warned_stale_xml.exchange(true))
        return;
    const std::string text = "configuration switches: WriteXML is BIN but ReadXML is ON and " + xml_path +
                             " exists: loads read it, saves no longer update it\n";
    trace_Write(text.c_str());
}

void reset_switch_warnings_for_test() {
    g_warned_xml_only_unread = false;
    g_warned_stale_xml = false;
}

}  // namespace qvr::cfg
