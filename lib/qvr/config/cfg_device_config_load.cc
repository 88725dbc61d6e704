// Loading a device's settings from "config.xml" or from its binary files.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/last_error.h"
#include "qvr/records/config_header.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config/cfg_device_config_internal.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_switches.h"
#include "qvr/config/cfg_xml_fields.h"

namespace qvr::cfg {
namespace {

constexpr LeafReading kStrictLeaves{"<%s> %s", true};
constexpr LeafReading kLenientLeaves{"<%s> %s", false};

std::span<std::uint8_t> bytes(void* data, std::int32_t size) {
    return {static_cast<std::uint8_t*>(data),
            data != nullptr && size > 0 ? static_cast<std::size_t>(size) : 0};
}

// Reads the header elements asked for. False when a strict read failed (status set).
bool read_header(XmlNode* config, const DeviceSettingsOut& out, bool strict) {
    std::vector<std::string> wanted;
    if (out.auto_enable != nullptr) wanted.emplace_back("AutoEnable");
    if (out.autosave_wanted()) wanted.insert(wanted.end(), {"SaveOutputs", "SaveByTag", "SaveRate"});
    if (strict) {
        for (const std::string& name : wanted) {
            if (XmlNodeRef element(xml_FindByName(config, name.c_str())); !element) {
                char message[128];
                std::snprintf(message, sizeof message, "<%s> tag not found", name.c_str());
                xml_SetStatus(kXmlStatusFailed, message);
                return false;
            }
        }
    }
    ConfigHeader header{};
    FoundFieldList found;
    if (!read_leaves(config, &ConfigHeaderType, wanted, &header, found,
                     strict ? kStrictLeaves : kLenientLeaves))
        return false;
    if (out.auto_enable != nullptr) *out.auto_enable = static_cast<std::uint8_t>(header.AutoEnable & 0xFF);
    if (out.save_outputs != nullptr) *out.save_outputs = static_cast<std::uint8_t>(header.SaveOutputs & 0xFF);
    if (out.save_by_tag != nullptr) *out.save_by_tag = static_cast<std::uint8_t>(header.SaveByTag & 0xFF);
    if (out.save_rate != nullptr) *out.save_rate = static_cast<std::int32_t>(header.SaveRate);
    return true;
}

bool read_record(const Extension& e, XmlNode* config, const DeviceSettingsOut& out, bool strict) {
    const std::size_t size = static_cast<std::size_t>(out.size);
    std::vector<std::uint8_t> scratch(std::max(size, kDeviceRecordMin), 0);
    const ExtType type = e.config_type(scratch);
    if (type) {
        // The plug-in's description may be larger than the record the caller gave.
        if (type->size > scratch.size()) scratch.resize(type->size, 0);
        const std::optional<std::size_t> decorated = e.decorated_config_size(size);
        std::vector<std::uint8_t> own_side;
        if (decorated) own_side.assign(std::max<std::size_t>(*decorated, type->size), 0);
        std::span<std::uint8_t> xml_side = decorated ? std::span<std::uint8_t>(own_side) : std::span(scratch);
        FoundFieldList found;
        if (!read_leaves(config, type.get(), leaf_names(type.get(), xml_side.data()), xml_side.data(), found,
                         strict ? kStrictLeaves : kLenientLeaves))
            return false;
        e.decorate_config(decorated ? xml_side.first(*decorated) : xml_side, scratch);
        std::string message;
        if (strict && e.validate_device(found, std::span(scratch).first(size), message) == -1) {
            xml_SetStatus(kXmlStatusFailed, message.c_str());
            return false;
        }
    }
    std::memcpy(out.record, scratch.data(), size);
    return true;
}

bool read_extra(const Extension& e, XmlNode* config, const DeviceSettingsOut& out, bool strict) {
    const auto record = bytes(out.record, out.size);
    const auto extra = bytes(out.extra, out.extra_size);
    std::fill(extra.begin(), extra.end(), std::uint8_t{0});
    ExtType type = e.config_extra_type(record, extra);
    if (!type) return true;
    std::vector<std::uint8_t> scratch(std::max<std::size_t>(extra.size(), type->size), 0);
    FoundFieldList found;
    if (!read_leaves(config, type.get(), leaf_names(type.get(), scratch.data()), scratch.data(), found,
                     strict ? kStrictLeaves : kLenientLeaves))
        return false;
    e.decorate_config_extra(record, scratch);
    std::memcpy(extra.data(), scratch.data(), extra.size());
    if (strict) {
        std::string message;
        if (e.validate_device_extra(found, record, extra, message) == -1) {
            xml_SetStatus(kXmlStatusFailed, message.c_str());
            return false;
        }
    }
    return true;
}

LoadOutcome load_xml(const Extension& e, const std::string& path, const DeviceSettingsOut& out, bool strict) {
    LoadOutcome outcome = LoadOutcome::loaded;
    const XmlDocumentRef doc = load_document(path, strict, outcome);
    if (!doc) return outcome;
    bool good = true;
    XmlNodeRef root(xml_GetRootElement(doc.get()));
    XmlNodeRef config;
    if (!root) {
        xml_SetStatus(kXmlStatusFailed, "Root Element <Configs> not found");
        good = false;
    } else if (config.reset(xml_FindByName(root.get(), "Config")); !config) {
        xml_SetStatus(kXmlStatusFailed, "<Config> tag not found");
        good = false;
    }
    // Each element is read where it is: taking it out of the document would change nothing
    // that is kept.
    good = good && read_header(config.get(), out, strict);
    if (good && out.record != nullptr) good = read_record(e, config.get(), out, strict);
    if (good && out.extra != nullptr) good = read_extra(e, config.get(), out, strict);
    // The old state of a document that lacks parts or holds values that do not convert
    // counts as empty there.
    if ((good && xml_GetStatus() >= 0) || !strict) return LoadOutcome::loaded;
    report_xml_failure();
    return LoadOutcome::failed;
}

// errno of a missing file, for the audit's old state: empty is the old value there.
bool tolerated(bool strict) {
    return !strict && errno == ENOENT;
}

LoadOutcome load_binary(const Extension& e, const std::string& dir, const DeviceSettingsOut& out,
                        bool strict) {
    const std::string config = existing_file(dir, kConfigFile);
    if (out.auto_enable != nullptr) {
        std::uint8_t byte = 0;
        if (read_at(config, 0, {&byte, 1}) < 0 && !tolerated(strict)) return LoadOutcome::failed;
        *out.auto_enable = byte;
    }
    if (out.autosave_wanted()) {
        std::uint8_t b[kSaveConfigSize];
        if (read_at(existing_file(dir, kSaveConfigFile), 0, b) < 0 && !tolerated(strict))
            return LoadOutcome::failed;
        if (out.save_outputs != nullptr) *out.save_outputs = b[0];
        if (out.save_by_tag != nullptr) *out.save_by_tag = b[1];
        const std::uint32_t rate = static_cast<std::uint32_t>(b[2]) | static_cast<std::uint32_t>(b[3]) << 8 |
                                   static_cast<std::uint32_t>(b[4]) << 16 |
                                   static_cast<std::uint32_t>(b[5]) << 24;
        if (out.save_rate != nullptr) *out.save_rate = static_cast<std::int32_t>(rate);
    }
    // A record shorter than asked (an older, smaller layout) reads as zero-extended.
    if (out.record != nullptr && read_at(config, 1, bytes(out.record, out.size)) < 0 && !tolerated(strict))
        return LoadOutcome::failed;
    if (out.extra != nullptr && out.extra_file != nullptr) {
        const auto extra = bytes(out.extra, out.extra_size);
        std::fill(extra.begin(), extra.end(), std::uint8_t{0});
        const std::optional<std::uint32_t> offset = e.config_extra_file_offset(extra);
        if (!offset) {
            platform::fail(platform::kErrorInvalidData);
            return LoadOutcome::failed;
        }
        // An extra file that is not there holds zeros.
        if (read_at(existing_file(dir, out.extra_file), *offset, extra) < 0 && errno != ENOENT)
            return LoadOutcome::failed;
    }
    return LoadOutcome::loaded;
}

}  // namespace

bool valid_request(const char* dir, std::int32_t size, std::int32_t extra_size, const char* extra_file) {
    if (dir == nullptr || size < 0 || extra_size < 0 ||
        (extra_file != nullptr && !plain_file_name(extra_file))) {
        platform::fail(platform::kErrorInvalidArgument);
        return false;
    }
    return true;
}

XmlDocumentRef load_document(const std::string& path, bool strict, LoadOutcome& outcome) {
    remove_dead_temporaries(path);
    XmlDocumentRef doc(xml_NewDocument());
    if (!doc) {
        if (strict) report_xml_failure();
        outcome = LoadOutcome::failed;
        return nullptr;
    }
    if (xml_LoadFile(doc.get(), path.c_str()) != 0) {
        if (strict) report_xml_failure();
        platform::fail(platform::kErrorXmlParse);
        outcome = LoadOutcome::unreadable_document;
        return nullptr;
    }
    return doc;
}

LoadOutcome load_device_config_binary(const Extension& e, const std::string& dir, const DeviceSettingsOut& out) {
    return load_binary(e, dir, out, false);
}

LoadOutcome load_device_config(const Extension& e, const std::string& dir, const DeviceSettingsOut& out,
                               bool strict) {
    xml_ResetStatus();
    xml_SetSubject(last_component(dir).c_str());
    xml_SetOperation("Dev/Proc Config");
    const std::string xml_path = existing_file(dir, kConfigXmlFile);
    const bool xml_form = e.has_xml() && cfg_IsNotCurrentConfigDir(dir.c_str()) == 1 &&
                          cfg_IsReadXmlOn(dir.c_str()) == 1 && file_exists(xml_path);
    if (xml_form) {
        warn_if_stale_xml(dir.c_str(), xml_path);
        return load_xml(e, xml_path, out, strict);
    }
    return load_binary(e, dir, out, strict);
}

}  // namespace qvr::cfg

int cfg_LoadDeviceConfig(const char* dir, void* record, int32_t size, void* extra, int32_t extra_size,
                         const char* extra_file, uint8_t* auto_enable, uint8_t* save_outputs,
                         uint8_t* save_by_tag, int32_t* save_rate) {
    using namespace qvr::cfg;
    if (!valid_request(dir, size, extra_size, extra_file)) return -1;
    const std::string folder = resolved_folder(dir);
    if (folder.empty()) return -1;
    const qvr::Extension extension = qvr::Extension::load(folder);
    DeviceSettingsOut out{record,      size,         extra,       extra_size, extra_file,
                          auto_enable, save_outputs, save_by_tag, save_rate};
    return load_device_config(extension, folder, out, true) == LoadOutcome::loaded ? 0 : -1;
}

int cfg_LoadDeviceConfigAndExtra(const char* dir, void* record, int32_t size, void* extra, int32_t extra_size,
                                 const char* extra_file) {
    return cfg_LoadDeviceConfig(dir, record, size, extra, extra_size, extra_file, nullptr, nullptr, nullptr,
                                nullptr);
}

int cfg_LoadDeviceConfigFromCwd(void* record, int32_t size) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_LoadDeviceConfig(here.c_str(), record, size, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                nullptr);
}

int cfg_LoadAutosaveSettingsFromCwd(uint8_t* save_outputs, uint8_t* save_by_tag, int32_t* save_rate) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_LoadDeviceConfig(here.c_str(), nullptr, 0, nullptr, 0, nullptr, nullptr, save_outputs,
                                save_by_tag, save_rate);
}

int cfg_LoadAutoEnableFromCwd(uint8_t* auto_enable) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_LoadDeviceConfig(here.c_str(), nullptr, 0, nullptr, 0, nullptr, auto_enable, nullptr, nullptr,
                                nullptr);
}
