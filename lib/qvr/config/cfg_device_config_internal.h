#pragma once
// Inside the device configuration store: the parts of one load or save.
#include <cstdint>
#include <string>

#include "qvr/ext/ext.h"
#include "qvr/xml/xml.h"

namespace qvr::cfg {

inline constexpr std::size_t kDeviceRecordMin = 704;
inline constexpr const char* kConfigFile = "config";
inline constexpr const char* kSaveConfigFile = "saveconfig";
inline constexpr const char* kConfigXmlFile = "config.xml";
inline constexpr std::size_t kSaveConfigSize = 6;

// What a load fills: null pointers are not wanted.
struct DeviceSettingsOut {
    void* record = nullptr;
    std::int32_t size = 0;
    void* extra = nullptr;
    std::int32_t extra_size = 0;
    const char* extra_file = nullptr;
    std::uint8_t* auto_enable = nullptr;
    std::uint8_t* save_outputs = nullptr;
    std::uint8_t* save_by_tag = nullptr;
    std::int32_t* save_rate = nullptr;
    bool autosave_wanted() const {
        return save_outputs != nullptr || save_by_tag != nullptr || save_rate != nullptr;
    }
};

// What a save writes: null pointers are not saved.
struct DeviceSettingsIn {
    const void* record = nullptr;
    std::int32_t size = 0;
    const void* extra = nullptr;
    std::int32_t extra_size = 0;
    const char* extra_file = nullptr;
    const std::uint8_t* auto_enable = nullptr;
    const std::uint8_t* save_outputs = nullptr;
    const std::uint8_t* save_by_tag = nullptr;
    const std::int32_t* save_rate = nullptr;
};

enum class LoadOutcome {
    loaded,
    failed,              // errno set (1465: reported to the message sink)
    unreadable_document  // the XML file is not well-formed or cannot be read
};

// A configuration document loaded from `path`; null with the outcome to return when it
// could not be (reported when `strict`; a file that does not parse sets error 1465).
XmlDocumentRef load_document(const std::string& path, bool strict, LoadOutcome& outcome);

// `strict` false reads the old state for the audit trail: missing elements and values that
// do not convert are left zero, validators are not asked, nothing is reported.
LoadOutcome load_device_config(const Extension& extension, const std::string& dir,
                               const DeviceSettingsOut& out, bool strict);
// The binary files only, whatever the switches say; missing files read as zero.
LoadOutcome load_device_config_binary(const Extension& extension, const std::string& dir,
                                      const DeviceSettingsOut& out);
// Saves the settings given into `dir` under its save lock; with `audited` false no audit
// entry is written (the settings are put back as they were read). 0 / -1.
int save_device_config(const char* user, const std::string& dir, const DeviceSettingsIn& in, bool audited);
// The XML form of the settings given. 0 / -1 (reported).
int write_config_xml(const Extension& extension, const std::string& dir, const DeviceSettingsIn& in);
// Valid sizes and names of a request; false with errno 0 (invalid argument).
bool valid_request(const char* dir, std::int32_t size, std::int32_t extra_size, const char* extra_file);

}  // namespace qvr::cfg
