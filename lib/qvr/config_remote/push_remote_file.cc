// A local file copied to a configuration file of a server by "WF" chunks.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <span>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "qvr/config_remote/config_remote.h"
#include "qvr/config_remote/remote_way.h"
#include "qvr/requests/remote_file_requests.h"

using namespace qvr::config_remote;

int cfg_PushRemoteFile(const char* server, const char* folder, const char* name, const char* source) {
    if (!file_name_ok(name) || !has_text(source) || !device_ok(folder))
        return platform::fail(platform::kErrorInvalidParameter);
    std::string local(source);
    std::replace(local.begin(), local.end(), '\\', '/');
    const platform::UniqueFd fd = platform::open_file(local, O_RDONLY);
    if (!fd) return platform::fail_from_errno();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return platform::fail_from_errno();
    if (st.st_size > INT32_MAX) return platform::fail(platform::kErrorInvalidParameter);
    const auto size = static_cast<uint32_t>(st.st_size);

    const std::string path = remote_path(folder, name);
    const uint32_t limit = chunk_limit(path);
    if (limit == 0) return platform::fail(platform::kErrorInvalidParameter);
    std::vector<uint8_t> chunk(std::min(limit, std::max<uint32_t>(size, 1)));
    // The first chunk creates the file anew, so that an empty or shorter file leaves none of
    // the old content behind.
    uint32_t done = 0;
    do {
        const uint32_t n = std::min(limit, size - done);
        const auto part = std::span<uint8_t>(chunk.data(), n);
        const ssize_t got = platform::pread_all(fd.get(), part, done);
        if (got < 0) return -1;
        if (static_cast<uint32_t>(got) != n) return platform::fail(platform::kErrorHandleEof);
        uint32_t written = 0;
        if (link_WriteFile(server, kInvalidFileHandle, path.c_str(), n, static_cast<int32_t>(done), 0,
                           kAccessWrite, kShareReadWrite, kOpenSecurity,
                           done == 0 ? kCreateAlways : kOpenExisting, kNormalFile, part.data(),
                           &written) == 0)
            return platform::fail(platform::last_error());
        done += n;
    } while (done < size);
    platform::set_last_error(0);
    return 0;
}
