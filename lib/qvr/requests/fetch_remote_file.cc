// A configuration file of a server copied here through "SF" and "RF", whole or not at all.
#include <cerrno>
#include <span>
#include <string>
#include <vector>

#include "platform/file_save.h"
#include "platform/last_error.h"
#include "qvr/requests/remote_file_requests.h"

namespace {

constexpr uint32_t kChunk = 32744;
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kShareReadWrite = 3;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kNormal = 128;

}  // namespace

int cfg_FetchRemoteFile(const char* server, const char* folder, const char* name, const char* target) {
    if (name == nullptr || target == nullptr || *target == '\0')
        return platform::fail(platform::kErrorInvalidParameter);
    std::string path = "QVR_CURRENT_CONFIG";
    if (folder != nullptr && *folder != '\0') path += std::string("\\") + folder;
    path += std::string("\\") + name;
    std::string local_target = target;
    for (char& c : local_target)
        if (c == '\\') c = '/';

    // The file layer's whole-file save: the old target stays until the copy is complete.
    platform::StreamedSave save;
    if (save.begin(local_target) != 0) return -1;
    const int size = link_OpenRemoteFile(server, path.c_str(), kGenericRead, kShareReadWrite, 1,
                                         kOpenExisting, kNormal, nullptr);
    if (size < 0) return platform::fail(platform::last_error());
    std::vector<uint8_t> chunk(kChunk);
    for (int64_t offset = 0; offset < size;) {
        const uint32_t want = static_cast<uint32_t>(size - offset < kChunk ? size - offset : kChunk);
        uint32_t got = 0;
        if (link_ReadFile(server, kInvalidFileHandle, path.c_str(), want, static_cast<int32_t>(offset), 0,
                          kGenericRead, kShareReadWrite, 1, kOpenExisting, kNormal, chunk.data(), &got) == 0)
            return platform::fail(platform::last_error());
        if (got != want) return platform::fail(platform::kErrorHandleEof);
        if (save.write(std::span<const uint8_t>(chunk.data(), got)) != 0) return -1;
        offset += got;
    }
    return save.commit();
}
