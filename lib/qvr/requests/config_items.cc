// The combined list of configurable items of a server: each device's channel kinds and each
// processor, filtered by QVR_DEVICES / QVR_PROCESSORS and by what the files allow.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/file_probe.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/link/link.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/requests/request_text.h"
#include "qvr/settings/reg.h"
#include "qvr/util/bounded_copy.h"

using namespace qvr::requests;

namespace {

constexpr std::size_t kFilterNameMax = 24;
constexpr int kLastKind = kChannelKinds - 1;  // its file is not checked

enum class Access { none, read, write };

// The check a path passes: it opens with the access asked, or its folder is missing. A
// path of another machine passes.
bool passes(const std::string& path, bool write, bool remote_server) {
    if (platform::is_remote_path(path)) {
        if (remote_server) return true;
        std::string local;
        if (platform::map_remote_path(path, local) != 0)
            return platform::last_error() == platform::kErrorBadNetPath;
        const int error = platform::probe_open(local, write);
        return error == 0 || error == platform::kErrorPathNotFound;
    }
    std::string local = path;
    for (char& c : local)
        if (c == '\\') c = '/';
    const int error = platform::probe_open(local, write);
    return error == 0 || error == platform::kErrorPathNotFound || error == platform::kErrorBadNetPath;
}

Access access_of(const std::string& path, bool remote_server) {
    if (passes(path, true, remote_server)) return Access::write;
    if (passes(path, false, remote_server)) return Access::read;
    return Access::none;
}

// The names the variable allows; nullopt when it is not set (all are allowed).
std::optional<std::vector<std::string>> allowed_names(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr) return std::nullopt;
    std::vector<std::string> names;
    for (std::string_view name : split(value, ';')) names.push_back(cut(name, kFilterNameMax));
    return names;
}

bool allowed(const std::optional<std::vector<std::string>>& names, std::string_view print_name) {
    if (!names) return true;
    for (const std::string& name : *names)
        if (platform::equal_ignoring_case(name, print_name)) return true;
    return false;
}

std::string kind_word_upper(int kind) {
    return platform::ascii_upper_copy(cfg_ChannelKindName(kind));
}

std::string two(const char* prefix) {
    std::string out;
    for (int i = 0; i < 2 && prefix[i] != '\0'; ++i) out += prefix[i];
    return out;
}

class ItemList {
  public:
    explicit ItemList(bool rimvale) : rimvale_(rimvale) {}

    void add(std::string name, const std::string& prefix, int count, bool writable) {
        const std::string tag = "(" + prefix + ")";
        if (!(rimvale_ && name.ends_with(tag))) name += " " + tag;
        entries_ += name + "," + prefix + "," + std::to_string(count) + "," + (writable ? "1" : "0") + ";";
        ++count_;
    }
    int count() const { return count_; }
    std::string text() const { return std::to_string(count_) + "," + entries_; }

  private:
    bool rimvale_;
    int count_ = 0;
    std::string entries_;
};

}  // namespace

int ListConfigItems(const char* server, char* out, uint32_t size) {
    const char* resolved = link_ResolveFolder(server, "QVR_CURRENT_CONFIG");
    if (resolved == nullptr) return -1;
    const std::string folder = resolved;
    const bool remote = link_IsRemoteServer(server) != 0;
    const bool xml = cfg_IsReadXmlOn(folder.c_str()) != 0;
    const char* product = reg_GetProductName();
    ItemList items(product != nullptr && platform::equal_ignoring_case(product, "Rimvale"));
    auto config_file = [&](const std::string& item) {
        return folder + "\\" + item + (xml ? "\\config.xml" : "\\config");
    };
    auto channel_file = [&](const std::string& item, int kind) {
        return folder + "\\" + item + "\\" + cfg_ChannelKindName(kind) + (xml ? ".xml" : "");
    };

    const int devices = CountDevices(server);
    if (devices > 0) {
        std::vector<DeviceInfoRecord> records(static_cast<std::size_t>(devices));
        const int got =
            GetDeviceInfo(server, ("*," + std::to_string(devices)).c_str(), records.data(), devices);
        if (got < 0) return -1;
        const auto names = allowed_names("QVR_DEVICES");
        for (int d = 0; d < got; ++d) {
            const DeviceInfoRecord& device = records[static_cast<std::size_t>(d)];
            if (!passes(config_file(device.key), false, remote) || !allowed(names, device.print_name))
                continue;
            int kinds = 0;
            for (const ChannelRange& range : device.ranges)
                if (range.prefix[0] != '\0') ++kinds;
            for (int kind = 0; kind < kChannelKinds; ++kind) {
                const ChannelRange& range = device.ranges[kind];
                if (range.prefix[0] == '\0') continue;
                Access access = Access::write;
                if (!remote && kind != kLastKind) access = access_of(channel_file(device.key, kind), remote);
                if (access == Access::none) continue;
                std::string name = device.print_name;
                if (kinds > 1 || kind == kLastKind) name += " " + kind_word_upper(kind);
                items.add(name, two(range.prefix), range.count, access == Access::write);
            }
        }
    }

    const int processors = CountProcessors(server);
    if (processors > 0) {
        std::vector<ProcessorRecord> records(static_cast<std::size_t>(processors));
        const int got =
            GetProcessorInfo(server, ("*," + std::to_string(processors)).c_str(), records.data(), processors);
        if (got < 0) return -1;
        const auto names = allowed_names("QVR_PROCESSORS");
        for (int p = 0; p < got; ++p) {
            const ProcessorRecord& processor = records[static_cast<std::size_t>(p)];
            if (processor.prefix[0] == '\0' || !passes(config_file(processor.name), false, remote) ||
                !allowed(names, processor.print_name))
                continue;
            Access access = Access::write;
            if (!remote && processor.type != 6)
                access = access_of(channel_file(processor.name, processor.type == 2 ? 0 : 1), remote);
            if (access == Access::none) continue;
            items.add(processor.print_name, two(processor.prefix), processor.channel_count,
                      access == Access::write);
        }
    }

    const std::string text = items.text();
    if (out == nullptr || text.size() >= size) return platform::fail(platform::kErrorMoreData);
    qvr::copy_cut(text, out, size);
    platform::set_last_error(0);
    return items.count();
}
