#include "qvr/config/cfg_audit.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "platform/ascii_text.h"
#include "platform/file_io.h"
#include "platform/remote_path.h"
#include "platform/secret_mask.h"
#include "platform/host_identity.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_xml_fields.h"
#include "qvr/ext/ext.h"
#include "qvr/schema/schema.h"
#include "qvr/testing/config_testing.h"
#include "qvr/time/timestamp.h"
#include "qvr/diag/trace.h"
#include "tslib/typed_mem.h"

namespace qvr {
namespace {

constexpr const char* kTextMemory = "audit text";
constexpr std::size_t kContextMax = 260;

// The switch of each configuration folder, read once per process; a preset stands for
// every folder.
struct SwitchState {
    std::mutex mutex;
    std::optional<std::uint8_t> preset;
    std::map<std::string, std::uint8_t> by_folder;
};
SwitchState& switch_state() {
    static SwitchState s;
    return s;
}

// The configuration folder a save into `folder` belongs to: the folder itself when it is
// the installation's, else the one above it.
std::string switch_folder(std::string_view folder) {
    const std::string config_folder = cfg::current_config_folder();
    return cfg::same_folder(folder, config_folder) ? std::string(folder) : cfg::parent_folder(folder);
}

// Byte 1 of "config": the first byte of the configuration folder's own record.
std::uint8_t read_switch(const std::string& where) {
    std::uint8_t byte = 0;
    if (cfg::read_at(cfg::existing_file(where, "config"), 1, {&byte, 1}) != 1) return 0;
    return byte;
}

void escape_into(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out.push_back(c);
        }
    }
}

bool is_password_leaf(const StructsType* type, const std::string& name, const void* data) {
    void* at = const_cast<void*>(data);
    const StructsType* leaf = structs_find_field(type, name.c_str(), &at, 0);
    if (leaf != nullptr && leaf->name != nullptr && platform::equal_ignoring_case(leaf->name, "password"))
        return true;
    const std::size_t dot = name.rfind('.');
    const std::string last = dot == std::string::npos ? name : name.substr(dot + 1);
    return strcasestr(last.c_str(), "password") != nullptr;
}

bool is_server_leaf(const StructsType* type, const std::string& name, const void* data) {
    void* at = const_cast<void*>(data);
    const StructsType* leaf = structs_find_field(type, name.c_str(), &at, 0);
    return leaf != nullptr && leaf->name != nullptr && platform::equal_ignoring_case(leaf->name, "server");
}

// Where the leaf's bytes end inside the record, or 0 when it cannot be found.
std::size_t leaf_end(const StructsType* type, const std::string& name, const void* data) {
    void* at = const_cast<void*>(data);
    const StructsType* leaf = structs_find_field(type, name.c_str(), &at, 0);
    if (leaf == nullptr) return 0;
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) -
                                    static_cast<const std::uint8_t*>(data)) +
           leaf->size;
}

struct Text {
    char* text;
    ~Text() {
        if (text != nullptr) typed_mem_release(kTextMemory, text);
    }
};

// The process-wide trail of audit_Open/Write/Close.
struct GlobalTrail {
    std::mutex mutex;
    std::optional<AuditTrail> trail;
};
GlobalTrail& global_trail() {
    static GlobalTrail g;
    return g;
}

}  // namespace

bool audit_enabled_for(std::string_view folder) {
    SwitchState& s = switch_state();
    std::lock_guard lock(s.mutex);
    if (s.preset) return *s.preset != 0;
    // One program saves this machine's folders and a server's: each has its own switch.
    const std::string where = cfg::normalized_path(switch_folder(folder));
    auto known = s.by_folder.find(where);
    if (known == s.by_folder.end()) known = s.by_folder.emplace(where, read_switch(where)).first;
    return known->second != 0;
}

std::string audit_line(const std::string& context, const char* user, int channel, std::string_view setting,
                       std::string_view old_text, std::string_view new_text) {
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    const std::tm t = time_GmTime(now.seconds);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d\t%02d:%02d:%02d\t", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::string line = stamp;
    escape_into(line, user != nullptr && user[0] != '\0' ? std::string_view(user) : platform::user_name());
    line.push_back('\t');
    escape_into(line, context);
    if (!context.empty()) line.push_back('.');
    if (channel != 0) line += std::to_string(channel) + ".";
    escape_into(line, setting);
    line.push_back(' ');
    escape_into(line, old_text);
    line += " -> ";
    escape_into(line, new_text);
    line += "\r\n";
    if (line.size() > kAuditLineMax) return {};
    return line;
}

bool AuditTrail::open(int kind_plus_one) {
    if (fd_) return true;
    const std::string config_folder = cfg::current_config_folder();
    std::string file;
    if (cfg::same_folder(folder_, config_folder)) {
        context_.clear();
        file = cfg::existing_file(folder_, kAuditFileName);
    } else {
        context_ = cfg::last_component(folder_);
        const int kind = kind_plus_one - 1;
        if (kind >= 0 && context_.find('_') != std::string::npos) {
            const bool xml = cfg_IsReadXmlOn(folder_.c_str()) != 0 && ext_HasXmlSupport(folder_.c_str()) != 0;
            const std::string saved = channel_kind_word(kind);
            bool other_table = false;
            for (const char* word : {"ai", "di", "ao", "do", "ci", "dc"}) {
                if (saved == word) continue;
                const std::string name = xml ? std::string(word) + ".xml" : std::string(word);
                if (cfg::file_exists(cfg::existing_file(folder_, name))) other_table = true;
            }
            if (other_table) {
                context_ += "." + platform::ascii_upper_copy(saved) + ".Channels";
            } else {
                context_ += ".Channels";
            }
        }
        file = cfg::existing_file(cfg::parent_folder(folder_), kAuditFileName);
    }
    if (context_.size() > kContextMax) context_.resize(kContextMax);
    std::string local;
    if (platform::path_to_open(file, local) == 0) fd_ = platform::open_file(local, O_RDWR | O_CREAT | O_APPEND, 0666);
    if (!fd_) {
        const std::string text = "audit trail " + file + " cannot be opened: " + std::strerror(errno) + "\n";
        trace_Write(text.c_str());
        return false;
    }
    return true;
}

void AuditTrail::write(const char* user, int channel, std::string_view setting, std::string_view old_text,
                       std::string_view new_text) {
    if (!fd_ && !open(0)) return;
    const std::string line = audit_line(context_, user, channel, setting, old_text, new_text);
    if (line.empty()) {
        const std::string text =
            "audit entry of " + std::string(setting) + " dropped: longer than 5000 characters\n";
        trace_Write(text.c_str());
        return;
    }
    // One write per line: appends of other processes never fall inside it.
    if (platform::append_whole(fd_.get(), line) != 0) trace_Write("audit entry not written whole\n");
}

void AuditTrail::close() {
    fd_.reset();
}

void audit_changed_leaves(AuditTrail& trail, const char* user, int channel, const StructsType* type,
                          const void* old_data, const void* new_data, std::size_t limit,
                          std::size_t text_limit) {
    if (type == nullptr) return;
    for (const std::string& name : cfg::leaf_names(type, new_data)) {
        if (leaf_end(type, name, new_data) > limit) continue;
        Text old_text{structs_get_field_text(type, name.c_str(), old_data, kTextMemory)};
        Text new_text{structs_get_field_text(type, name.c_str(), new_data, kTextMemory)};
        if (old_text.text == nullptr || new_text.text == nullptr) continue;
        if (platform::equal_ignoring_case(old_text.text, new_text.text)) continue;
        std::string was = old_text.text;
        std::string now = new_text.text;
        if (is_password_leaf(type, name, new_data)) {
            was = now = kAuditHidden;
        } else if (is_server_leaf(type, name, new_data)) {
            was = platform::mask_secrets(was);
            now = platform::mask_secrets(now);
        }
        if (text_limit != 0 && name.size() + was.size() + now.size() >= text_limit) continue;
        trail.write(user, channel, name, was, now);
    }
}

void reset_audit_for_test() {
    SwitchState& s = switch_state();
    std::lock_guard lock(s.mutex);
    s.preset.reset();
    s.by_folder.clear();
}

}  // namespace qvr

int audit_IsEnabled() {
    const std::string here = qvr::cfg::current_folder();
    return qvr::audit_enabled_for(here) ? 1 : 0;
}

void audit_SetEnabled(int value) {
    qvr::SwitchState& s = qvr::switch_state();
    std::lock_guard lock(s.mutex);
    s.preset = static_cast<std::uint8_t>(value & 0xFF);
}

int audit_Open(int kind_plus_one) {
    qvr::GlobalTrail& g = qvr::global_trail();
    std::lock_guard lock(g.mutex);
    if (g.trail && g.trail->is_open()) return 1;
    g.trail.emplace(qvr::cfg::current_folder());
    return g.trail->open(kind_plus_one) ? 1 : 0;
}

void audit_Write(const char* user, int channel, const char* setting, const char* old_text,
                 const char* new_text) {
    qvr::GlobalTrail& g = qvr::global_trail();
    std::lock_guard lock(g.mutex);
    if (!g.trail || !g.trail->is_open()) g.trail.emplace(qvr::cfg::current_folder());
    g.trail->write(user, channel, setting != nullptr ? setting : "", old_text != nullptr ? old_text : "",
                   new_text != nullptr ? new_text : "");
}

void audit_Close() {
    qvr::GlobalTrail& g = qvr::global_trail();
    std::lock_guard lock(g.mutex);
    g.trail.reset();
}
