// Loading and saving logger configuration files: binary and XML by the switches, the audit
// trail, the touch of the configuration folder and the read-back of the folder's AutoEnable.
#include "qvr/logger_config/logger_config.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config/cfg_device_config_internal.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_xml_fields.h"
#include "qvr/diag/trace.h"
#include "qvr/host/host_tables.h"
#include "qvr/logger_config/logger_binary.h"
#include "qvr/logger_config/logger_layout.h"
#include "qvr/logger_config/logger_mirror.h"
#include "qvr/logger_config/logger_types.h"
#include "qvr/logger_config/logger_xml.h"

namespace qvr::logger {
namespace {

using cfg::LoadOutcome;

// Setting name and both texts of an audit entry stay under this many characters.
constexpr std::size_t kAuditTextLimit = 992;

bool valid_request(const char* dir, const char* kind_name, int number, const void* record, std::int32_t size) {
    if (dir == nullptr || kind_name == nullptr || !cfg::plain_file_name(kind_name) || number < 0 || size < 0 ||
        (record == nullptr && size > 0)) {
        platform::fail(platform::kErrorInvalidArgument);
        return false;
    }
    return true;
}

template <typename Byte>
std::span<Byte> bytes(Byte* data, std::int32_t size) {
    return {data, data != nullptr && size > 0 ? static_cast<std::size_t>(size) : 0};
}

// The record into `out`. `strict` false reads the old state for the audit: a missing file
// or element is empty there.
LoadOutcome load_logger(const std::string& dir, const std::string& kind_name, int number,
                        std::span<std::uint8_t> out, bool strict) {
    const LoggerKind kind = kind_of(kind_name);
    const std::string xml_path = cfg::existing_file(dir, xml_file_name(kind_name, number));
    if (kind != LoggerKind::other && cfg_IsReadXmlOn(dir.c_str()) == 1 && cfg::file_exists(xml_path)) {
        std::vector<std::uint8_t> scratch(record_size(kind), 0);
        const LoadOutcome outcome = load_xml(xml_path, kind_name, number, kind, scratch, strict);
        // What the scratch holds goes to the caller also after a failure; bytes beyond the
        // kind's record are zero.
        const std::size_t n = std::min(out.size(), scratch.size());
        std::copy_n(scratch.begin(), n, out.begin());
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), std::uint8_t{0});
        return outcome;
    }
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    if (read_binary(dir, kind_name, number, out) == 0) return LoadOutcome::loaded;
    return !strict && errno == ENOENT ? LoadOutcome::loaded : LoadOutcome::failed;
}

// Both copies as the typed fields hold them, compared leaf by leaf.
void audit_changes(const std::string& dir, const char* user, LoggerKind kind, int number,
                   std::span<const std::uint8_t> record, std::vector<std::uint8_t> old) {
    const StructsType* type = logger_type(kind);
    if (type == nullptr) return;
    const std::size_t full = record_size(kind);
    const bool changed = old.size() < record.size() || !std::equal(record.begin(), record.end(), old.begin());
    if (!changed) return;
    std::vector<std::uint8_t> now(full, 0);
    std::copy_n(record.begin(), std::min(record.size(), full), now.begin());
    old.resize(full, 0);
    std::size_t limit = std::min(record.size(), full);
    if (kind == LoggerKind::stand) {
        fill_typed_fields(old);
        fill_typed_fields(now);
        // The standard description's own size stands for the whole record.
        if (record.size() >= kStandDescriptionSize) limit = full;
    }
    AuditTrail trail(dir);
    audit_changed_leaves(trail, user, number, type, old.data(), now.data(), limit, kAuditTextLimit);
}

// Readers of the folder's device settings watch their change marks: its AutoEnable is
// saved back as it is, without an audit entry. A folder without "config" gets none.
void refresh_auto_enable(const std::string& dir) {
    if (!cfg::file_exists(cfg::existing_file(dir, cfg::kConfigFile))) return;
    std::uint8_t auto_enable = 0;
    cfg::DeviceSettingsOut out;
    out.auto_enable = &auto_enable;
    const Extension extension = Extension::load(dir);
    cfg::DeviceSettingsIn in;
    in.auto_enable = &auto_enable;
    if (cfg::load_device_config(extension, dir, out, true) != LoadOutcome::loaded ||
        cfg::save_device_config(nullptr, dir, in, false) != 0) {
        const std::string text = "logger save: AutoEnable of " + dir + " not refreshed (error " +
                                 std::to_string(errno) + ")\n";
        trace_Write(text.c_str());
    }
}

int save_logger(const std::string& dir, const char* user, const std::string& kind_name, int number,
                std::span<const std::uint8_t> record) {
    const LoggerKind kind = kind_of(kind_name);
    int result = 0;
    int error = 0;
    {
        const auto lock = cfg::FolderLock::acquire(dir);
        if (!lock) return -1;
        std::optional<std::vector<std::uint8_t>> old;
        if (audit_enabled_for(dir)) {
            old.emplace(kind == LoggerKind::stand ? kStandRecordSize : record.size(), 0);
            switch (load_logger(dir, kind_name, number, *old, false)) {
                case LoadOutcome::loaded:
                    break;
                // A file that cannot be read is not overwritten.
                case LoadOutcome::unreadable_document:
                    return cfg::report_xml_failure();
                case LoadOutcome::failed:
                    old.reset();
                    break;
            }
        }
        // Loggers of a kind without a description have nothing but the binary file. Each save
        // writes the whole record to both forms, so one killed between them leaves nothing
        // the next save of the logger does not rewrite.
        const int mode = cfg_GetWriteXmlMode(dir.c_str());
        const bool binary = kind == LoggerKind::other || mode < 2;
        const bool xml = kind != LoggerKind::other && (mode == 1 || mode == 2);
        bool written = false;
        if (binary && !record.empty()) {
            result = write_binary(dir, kind_name, number, record);
            written = result == 0;
        }
        if (result == 0 && xml) {
            xml_ResetStatus();
            result = write_xml(dir, kind_name, number, kind, record);
            written = written || result == 0;
        }
        error = errno;
        // Readers watch the time of the configuration folder's "config".
        if (written) cfg::touch_file(cfg::existing_file(cfg::parent_folder(dir), cfg::kConfigFile));
        // What was written is recorded even when a later step failed.
        if (written && old) audit_changes(dir, user, kind, number, record, std::move(*old));
    }
    if (result != 0) return platform::fail(error);
    refresh_auto_enable(dir);
    return 0;
}

// The kind named by logger `number` of the shared logger table; empty with errno when the
// table does not hold it.
std::string kind_of_logger(int number) {
    if (shm_OpenLoggerTable() != 0) {
        if (errno == 0) platform::fail(platform::kErrorFileNotFound);
        return {};
    }
    const LoggerRecord* r = shm_LoggerByIndex(number);
    if (r == nullptr) {
        platform::fail(platform::kErrorBadNetName);
        return {};
    }
    char kind[sizeof r->LoggerType + 1] = {};
    std::memcpy(kind, r->LoggerType, sizeof r->LoggerType);
    if (kind[0] == '\0') platform::fail(platform::kErrorBadNetName);
    return kind;
}

}  // namespace
}  // namespace qvr::logger

using namespace qvr::logger;

int cfg_LoadLoggerConfig(const char* dir, const char* kind_name, int number, void* record, int32_t size) {
    if (!valid_request(dir, kind_name, number, record, size)) return -1;
    const auto out = bytes(static_cast<std::uint8_t*>(record), size);
    const std::string folder = qvr::cfg::resolved_folder(dir);
    if (folder.empty()) return -1;
    return load_logger(folder, kind_name, number, out, true) == qvr::cfg::LoadOutcome::loaded ? 0 : -1;
}

int cfg_LoadLoggerConfigFromCwd(const char* kind_name, int number, void* record, int32_t size) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_LoadLoggerConfig(here.c_str(), kind_name, number, record, size);
}

int cfg_LoadLoggerConfigByIndex(int number, void* record, int32_t size) {
    const std::string kind = kind_of_logger(number);
    if (kind.empty()) return -1;
    return cfg_LoadLoggerConfigFromCwd(kind.c_str(), number, record, size);
}

int cfg_SaveLoggerConfig(const char* dir, const char* user, const char* kind_name, int number, const void* record,
                         int32_t size) {
    if (!valid_request(dir, kind_name, number, record, size)) return -1;
    const auto in = bytes(static_cast<const std::uint8_t*>(record), size);
    const std::string folder = qvr::cfg::resolved_folder(dir);
    if (folder.empty()) return -1;
    return save_logger(folder, user, kind_name, number, in);
}

int cfg_SaveLoggerConfigFromCwd(const char* kind_name, int number, const void* record, int32_t size,
                                const char* user) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_SaveLoggerConfig(here.c_str(), user, kind_name, number, record, size);
}

int cfg_SaveLoggerConfigByIndex(int number, const void* record, int32_t size) {
    const std::string kind = kind_of_logger(number);
    if (kind.empty()) return -1;
    return cfg_SaveLoggerConfigFromCwd(kind.c_str(), number, record, size, nullptr);
}

int cfg_WriteLoggerXml(const char* dir, const char* user, const char* kind_name, int number, const void* record,
                       int32_t size) {
    (void)user;  // the XML form records no author
    if (!valid_request(dir, kind_name, number, record, size)) return -1;
    const LoggerKind kind = kind_of(kind_name);
    // A kind without a description has no XML form.
    if (kind == LoggerKind::other) return platform::fail(platform::kErrorInvalidArgument);
    const std::string folder = qvr::cfg::resolved_folder(dir);
    if (folder.empty()) return -1;
    const auto lock = qvr::cfg::FolderLock::acquire(folder);
    if (!lock) return -1;
    xml_ResetStatus();
    return write_xml(folder, kind_name, number, kind, bytes(static_cast<const std::uint8_t*>(record), size));
}
