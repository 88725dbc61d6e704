// Saving a device's settings: binary files and XML by the switches, then the audit trail.
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/last_error.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config/cfg_device_config_internal.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_switches.h"
#include "qvr/config/cfg_unfinished.h"
#include "qvr/config/cfg_xml_fields.h"

namespace qvr::cfg {
namespace {

std::span<const std::uint8_t> bytes(const void* data, std::int32_t size) {
    return {static_cast<const std::uint8_t*>(data),
            data != nullptr && size > 0 ? static_cast<std::size_t>(size) : 0};
}

// The present state of exactly the parts being saved.
struct OldState {
    std::vector<std::uint8_t> record;
    std::vector<std::uint8_t> extra;
    std::uint8_t auto_enable = 0;
    std::uint8_t save_outputs = 0;
    std::uint8_t save_by_tag = 0;
    std::int32_t save_rate = 0;
};

int write_binary(const Extension& e, const std::string& dir, const DeviceSettingsIn& in) {
    const auto record = bytes(in.record, in.size);
    std::vector<FilePatch> config;
    if (in.auto_enable != nullptr) config.push_back({0, {in.auto_enable, 1}});
    if (in.record != nullptr) config.push_back({1, record});
    if (!config.empty() && patch_file(existing_file(dir, kConfigFile), config) != 0) return -1;

    std::uint8_t save[kSaveConfigSize];
    std::vector<FilePatch> autosave;
    if (in.save_outputs != nullptr) {
        save[0] = *in.save_outputs;
        autosave.push_back({0, {save, 1}});
    }
    if (in.save_by_tag != nullptr) {
        save[1] = *in.save_by_tag;
        autosave.push_back({1, {save + 1, 1}});
    }
    if (in.save_rate != nullptr) {
        const auto rate = static_cast<std::uint32_t>(*in.save_rate);
        for (int i = 0; i < 4; ++i) save[2 + i] = static_cast<std::uint8_t>(rate >> (8 * i));
        autosave.push_back({2, {save + 2, 4}});
    }
    if (!autosave.empty() && patch_file(existing_file(dir, kSaveConfigFile), autosave) != 0) return -1;

    if (in.extra != nullptr && in.extra_file != nullptr) {
        const auto extra = bytes(in.extra, in.extra_size);
        const std::optional<std::uint32_t> offset = e.config_extra_file_offset(extra);
        if (!offset) return platform::fail(platform::kErrorInvalidData);
        const FilePatch patch{*offset, extra};
        if (patch_file(existing_file(dir, in.extra_file), {&patch, 1}) != 0) return -1;
    }
    return 0;
}

const char* on_off(std::uint8_t value) {
    return value != 0 ? "ON" : "OFF";
}

void audit_changes(const Extension& e, AuditTrail& trail, const char* user, const DeviceSettingsIn& in,
                   const OldState& old) {
    if (in.auto_enable != nullptr && *in.auto_enable != old.auto_enable)
        trail.write(user, 0, "AutoEnable", on_off(old.auto_enable), on_off(*in.auto_enable));
    if (in.save_outputs != nullptr && *in.save_outputs != old.save_outputs)
        trail.write(user, 0, "SaveOutputs", on_off(old.save_outputs), on_off(*in.save_outputs));
    if (in.save_by_tag != nullptr && *in.save_by_tag != old.save_by_tag)
        trail.write(user, 0, "SaveByTag", on_off(old.save_by_tag), on_off(*in.save_by_tag));
    if (in.save_rate != nullptr && *in.save_rate != old.save_rate)
        trail.write(user, 0, "SaveRate", std::to_string(old.save_rate), std::to_string(*in.save_rate));

    const auto record = bytes(in.record, in.size);
    if (in.record != nullptr && !std::equal(record.begin(), record.end(), old.record.begin())) {
        if (const ExtType type = e.config_type(record)) {
            std::vector<std::uint8_t> was = e.undecorate_config(old.record);
            std::vector<std::uint8_t> now = e.undecorate_config(record);
            const std::size_t limit = std::max(was.size(), now.size());
            was = padded(std::move(was), type->size);
            now = padded(std::move(now), type->size);
            audit_changed_leaves(trail, user, 0, type.get(), was.data(), now.data(), limit);
        }
    }
    const auto extra = bytes(in.extra, in.extra_size);
    if (in.extra != nullptr && !std::equal(extra.begin(), extra.end(), old.extra.begin())) {
        if (const ExtType type = e.config_extra_type(record, extra)) {
            std::vector<std::uint8_t> was = e.undecorate_config_extra(old.record, old.extra);
            std::vector<std::uint8_t> now = e.undecorate_config_extra(record, extra);
            const std::size_t limit = std::max(was.size(), now.size());
            was = padded(std::move(was), type->size);
            now = padded(std::move(now), type->size);
            audit_changed_leaves(trail, user, 0, type.get(), was.data(), now.data(), limit);
        }
    }
}

// Which settings a save wrote, for its note: bits of the header settings given, the record's
// size and the extra record's size (-1: not given), and the extra file's name.
constexpr std::int64_t kNoteAutoEnable = 1;
constexpr std::int64_t kNoteSaveOutputs = 2;
constexpr std::int64_t kNoteSaveByTag = 4;
constexpr std::int64_t kNoteSaveRate = 8;

UnfinishedSave note_of(const DeviceSettingsIn& in) {
    const std::int64_t given = (in.auto_enable != nullptr ? kNoteAutoEnable : 0) |
                               (in.save_outputs != nullptr ? kNoteSaveOutputs : 0) |
                               (in.save_by_tag != nullptr ? kNoteSaveByTag : 0) |
                               (in.save_rate != nullptr ? kNoteSaveRate : 0);
    return {{given, in.record != nullptr ? in.size : -1, in.extra != nullptr ? in.extra_size : -1},
            in.extra != nullptr && in.extra_file != nullptr ? in.extra_file : ""};
}

// The settings a save that did not finish wrote to the binary files go to "config.xml" as
// those files hold them. 0, or -1 with the failure reported.
int finish_unfinished_save(const Extension& e, const std::string& dir) {
    const std::optional<UnfinishedSave> note = unfinished_save(dir, kConfigFile);
    if (!note) return 0;
    const std::vector<std::int64_t>& n = note->numbers;
    constexpr auto kLargest = static_cast<std::int64_t>(kMaxRewrittenFile);
    if (n.size() != 3 || n[0] < 0 || n[0] > 15 || n[1] < -1 || n[1] > kLargest || n[2] < -1 || n[2] > kLargest) {
        forget_unfinished_save(dir, kConfigFile);
        return 0;
    }
    OldState held;
    held.record.assign(n[1] > 0 ? static_cast<std::size_t>(n[1]) : 0, 0);
    held.extra.assign(n[2] > 0 ? static_cast<std::size_t>(n[2]) : 0, 0);
    const bool with_extra = n[2] > 0 && plain_file_name(note->file_name);
    DeviceSettingsOut out;
    if ((n[0] & kNoteAutoEnable) != 0) out.auto_enable = &held.auto_enable;
    if ((n[0] & kNoteSaveOutputs) != 0) out.save_outputs = &held.save_outputs;
    if ((n[0] & kNoteSaveByTag) != 0) out.save_by_tag = &held.save_by_tag;
    if ((n[0] & kNoteSaveRate) != 0) out.save_rate = &held.save_rate;
    if (!held.record.empty()) {
        out.record = held.record.data();
        out.size = static_cast<std::int32_t>(held.record.size());
    }
    if (with_extra) {
        out.extra = held.extra.data();
        out.extra_size = static_cast<std::int32_t>(held.extra.size());
        out.extra_file = note->file_name.c_str();
    }
    // What was read is written back: the same parts, from the same buffers.
    const DeviceSettingsIn in{out.record,      out.size,     out.extra,       out.extra_size, out.extra_file,
                              out.auto_enable, out.save_outputs, out.save_by_tag, out.save_rate};
    if (load_device_config_binary(e, dir, out) != LoadOutcome::loaded) return -1;
    xml_ResetStatus();
    if (write_config_xml(e, dir, in) != 0) return -1;
    forget_unfinished_save(dir, kConfigFile);
    return 0;
}

}  // namespace

int save_device_config(const char* user, const std::string& dir, const DeviceSettingsIn& in, bool audited) {
    const auto lock = FolderLock::acquire(dir);
    if (!lock) return -1;
    const Extension e = Extension::load(dir);
    const bool xml_files = e.has_xml() && cfg_IsNotCurrentConfigDir(dir.c_str()) == 1;
    const int mode = xml_files ? cfg_GetWriteXmlMode(dir.c_str()) : 0;
    // Before the old state is read: the audit compares with the forms as they agree again.
    if ((mode == 1 || mode == 2) && finish_unfinished_save(e, dir) != 0) return -1;

    std::optional<OldState> old;
    if (audited && audit_enabled_for(dir)) {
        old.emplace();
        old->record.assign(in.record != nullptr ? static_cast<std::size_t>(in.size) : 0, 0);
        old->extra.assign(in.extra != nullptr ? static_cast<std::size_t>(in.extra_size) : 0, 0);
        DeviceSettingsOut out;
        if (in.record != nullptr) out.record = old->record.data(), out.size = in.size;
        if (in.extra != nullptr) out.extra = old->extra.data(), out.extra_size = in.extra_size;
        out.extra_file = in.extra_file;
        if (in.auto_enable != nullptr) out.auto_enable = &old->auto_enable;
        if (in.save_outputs != nullptr) out.save_outputs = &old->save_outputs;
        if (in.save_by_tag != nullptr) out.save_by_tag = &old->save_by_tag;
        if (in.save_rate != nullptr) out.save_rate = &old->save_rate;
        switch (load_device_config(e, dir, out, false)) {
            case LoadOutcome::loaded:
                break;
            // A file that cannot be read is not overwritten.
            case LoadOutcome::unreadable_document:
                return report_xml_failure();
            case LoadOutcome::failed:
                old.reset();
                break;
        }
    }

    if (mode == 1 && note_unfinished_save(dir, kConfigFile, note_of(in)) != 0) return -1;
    int result = 0;
    bool written = false;
    if (mode == 2) {
        warn_if_xml_only_unread(dir.c_str());
    } else {
        if (xml_files) warn_if_stale_xml(dir.c_str(), existing_file(dir, kConfigXmlFile));
        result = write_binary(e, dir, in);
        written = result == 0;
    }
    if (result == 0 && (mode == 1 || mode == 2)) {
        xml_ResetStatus();
        result = write_config_xml(e, dir, in);
        written = written || result == 0;
        if (mode == 1 && result == 0) forget_unfinished_save(dir, kConfigFile);
    }
    const int error = errno;
    // Readers watch the time of the configuration folder's "config".
    if (written) touch_file(existing_file(parent_folder(dir), kConfigFile));
    // What was written is recorded even when a later step failed.
    if (written && old) {
        AuditTrail trail(dir);
        audit_changes(e, trail, user, in, *old);
    }
    if (result != 0) return platform::fail(error);
    return 0;
}

}  // namespace qvr::cfg

int cfg_SaveDeviceConfig(const char* user, const char* dir, const void* record, int32_t size,
                         const void* extra, int32_t extra_size, const char* extra_file,
                         const uint8_t* auto_enable, const uint8_t* save_outputs, const uint8_t* save_by_tag,
                         const int32_t* save_rate) {
    using namespace qvr::cfg;
    if (!valid_request(dir, size, extra_size, extra_file)) return -1;
    DeviceSettingsIn in{record,      size,         extra,       extra_size, extra_file,
                        auto_enable, save_outputs, save_by_tag, save_rate};
    const std::string folder = resolved_folder(dir);
    if (folder.empty()) return -1;
    return save_device_config(user, folder, in, true);
}

int cfg_SaveDeviceConfigAndExtra(const char* user, const char* dir, const void* record, int32_t size,
                                 const void* extra, int32_t extra_size, const char* extra_file) {
    return cfg_SaveDeviceConfig(user, dir, record, size, extra, extra_size, extra_file, nullptr, nullptr,
                                nullptr, nullptr);
}

int cfg_SaveDeviceConfigFromCwd(const void* record, int32_t size) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_SaveDeviceConfig(nullptr, here.c_str(), record, size, nullptr, 0, nullptr, nullptr, nullptr,
                                nullptr, nullptr);
}

int cfg_SaveAutosaveSettingsInCwd(uint8_t save_outputs, uint8_t save_by_tag, int32_t save_rate) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_SaveDeviceConfig(nullptr, here.c_str(), nullptr, 0, nullptr, 0, nullptr, nullptr,
                                &save_outputs, &save_by_tag, &save_rate);
}

int cfg_SaveAutoEnableInCwd(uint8_t auto_enable) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_SaveDeviceConfig(nullptr, here.c_str(), nullptr, 0, nullptr, 0, nullptr, &auto_enable, nullptr,
                                nullptr, nullptr);
}
