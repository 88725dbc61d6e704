#include "qvr/config_remote/remote_way.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <string_view>

#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "platform/secret_mask.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/diag/trace.h"
#include "qvr/link/link.h"
#include "qvr/requests/remote_file_requests.h"
#include "qvr/requests/request_text.h"
#include "qvr/testing/config_remote_testing.h"

namespace qvr::config_remote {

namespace {

constexpr std::string_view kConfigKey = "QVR_CURRENT_CONFIG";
std::atomic<bool> requests_for_every_server{false};

// A request field holds neither of the separators of the requests that carry it.
bool fits_fields(std::string_view text) {
    return requests::field_ok(text, ',') && text.find('\t') == std::string_view::npos;
}

}  // namespace

std::optional<Way> way_to(const char* server) {
    Way way;
    if (requests_for_every_server.load()) return way;
    if (link_IsLocalServer(server) == 0 && link_GetServerKind(server) != kServerPipe) return way;
    const char* folder = link_ResolveFolder(server, std::string(kConfigKey).c_str());
    if (folder == nullptr || *folder == '\0') {
        if (platform::last_error() == 0) platform::set_last_error(platform::kErrorPathNotFound);
        errno = platform::last_error();
        return std::nullopt;
    }
    way.by_folder = true;
    way.folder = folder;
    return way;
}

bool has_text(const char* text) {
    return text != nullptr && *text != '\0';
}

bool device_ok(const char* device) {
    return !has_text(device) || (cfg::plain_file_name(device) && fits_fields(device));
}

bool file_name_ok(const char* name) {
    return has_text(name) && cfg::plain_file_name(name) && fits_fields(name);
}

bool text_field(const char* text, std::string& out) {
    if (!has_text(text)) {
        out = " ";
        return true;
    }
    if (!fits_fields(text)) return false;
    out = text;
    return true;
}

bool user_field(const char* user, std::string& out) {
    const std::string name = has_text(user) ? std::string(user) : requests::user_name_cut(kUserNameMax);
    return text_field(requests::cut(name, kUserNameMax).c_str(), out);
}

std::string device_folder(const std::string& config_folder, const char* device) {
    if (!has_text(device)) return config_folder;
    return config_folder + "/" + device;
}

std::string remote_path(const char* device, std::string_view name) {
    std::string path(kConfigKey);
    if (has_text(device)) path.append("\\").append(device);
    path.append("\\").append(name);
    return path;
}

uint32_t chunk_limit(const std::string& path) {
    return path.size() < kChunkBase ? kChunkBase - static_cast<uint32_t>(path.size()) : 0;
}

bool failed_finally() {
    return platform::last_error() == platform::kErrorXmlParse;
}

int read_remote(const char* server, const std::string& path, uint64_t offset, std::span<uint8_t> out,
                uint32_t chunk) {
    if (chunk == 0) return platform::fail(platform::kErrorInvalidParameter);
    for (std::size_t done = 0; done < out.size();) {
        const uint64_t at = offset + done;
        if (at > INT32_MAX) return platform::fail(platform::kErrorInvalidParameter);
        const uint32_t want = static_cast<uint32_t>(out.size() - done < chunk ? out.size() - done : chunk);
        uint32_t got = 0;
        if (link_ReadFile(server, kInvalidFileHandle, path.c_str(), want, static_cast<int32_t>(at), 0,
                          kAccessRead, kShareReadWrite, kOpenSecurity, kOpenExisting, kNormalFile,
                          out.data() + done, &got) == 0)
            return platform::fail(platform::last_error());
        if (got != want) return platform::fail(platform::kErrorHandleEof);
        done += got;
    }
    return 0;
}

int write_remote(const char* server, const std::string& path, uint64_t offset, std::span<const uint8_t> data,
                 uint32_t chunk, uint32_t disposition) {
    if (chunk == 0) return platform::fail(platform::kErrorInvalidParameter);
    for (std::size_t done = 0; done < data.size();) {
        const uint64_t at = offset + done;
        if (at > INT32_MAX) return platform::fail(platform::kErrorInvalidParameter);
        const uint32_t n = static_cast<uint32_t>(data.size() - done < chunk ? data.size() - done : chunk);
        uint32_t written = 0;
        if (link_WriteFile(server, kInvalidFileHandle, path.c_str(), n, static_cast<int32_t>(at), 0,
                           kAccessReadWrite, kShareReadWrite, kOpenSecurity, disposition, kNormalFile,
                           data.data() + done, &written) == 0)
            return platform::fail(platform::last_error());
        done += n;
    }
    return 0;
}

void touch_configuration(const char* server) {
    const std::string path = remote_path(nullptr, "config");
    uint8_t auto_enable = 0;
    uint32_t got = 0;
    if (link_ReadFile(server, kInvalidFileHandle, path.c_str(), 1, 0, 0, kAccessRead, kShareReadWrite,
                      kOpenSecurity, kOpenExisting, kNormalFile, &auto_enable, &got) == 0 ||
        got != 1) {
        trace_line("configuration of " + server_name(server) + " not marked changed: " + path +
                   " unreadable (error " + std::to_string(platform::last_error()) + ")");
        return;
    }
    uint32_t written = 0;
    if (link_WriteFile(server, kInvalidFileHandle, path.c_str(), 1, 0, 0, kAccessReadWrite, kShareReadWrite,
                       kOpenSecurity, kOpenExisting, kNormalFile, &auto_enable, &written) == 0)
        trace_line("configuration of " + server_name(server) + " not marked changed: " + path +
                   " unwritable (error " + std::to_string(platform::last_error()) + ")");
    // The write it follows succeeded; its caller reports that.
    platform::set_last_error(0);
}

std::string server_name(const char* server) {
    return server != nullptr ? platform::mask_secrets(server) : "";
}

void trace_line(const std::string& text) {
    trace_Write((text + "\r\n").c_str());
}

}  // namespace qvr::config_remote

void qvr::config_remote_testing::set_requests_for_every_server(bool on) {
    qvr::config_remote::requests_for_every_server.store(on);
}
