// Remote-file requests, and the same calls on a descriptor of this machine.
#include "qvr/requests/remote_file_requests.h"

#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_probe.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"
#include "qvr/requests/directory_pages.h"
#include "qvr/requests/reply_parsers.h"
#include "qvr/requests/request_text.h"
#include "qvr/util/bounded_copy.h"

using namespace qvr::requests;

namespace {

constexpr uint32_t kModifyReplySize = 40;
constexpr uint32_t kOpenReplySize = 9;
constexpr uint32_t kTimesReplySize = 100;
constexpr uint32_t kReadReplySize = 65536;
constexpr uint32_t kWriteReplySize = 24;

bool path_ok(const char* path) {
    return path != nullptr && field_ok(path, '\t');
}

int path_request(const char* server, const char* code, const char* path) {
    if (!path_ok(path)) return refuse();
    Reply reply;
    return send_text(server, std::string(code) + path, kResultReplySize, reply);
}

std::string open_fields(uint32_t access, uint32_t share, int security, uint32_t disposition,
                        uint32_t attributes) {
    // The fields are printed as "%d": a desired access of 0x80000000 reads as a negative number.
    return std::to_string(static_cast<int32_t>(access)) + "\t" + std::to_string(static_cast<int32_t>(share)) +
           "\t" + std::to_string(security) + "\t" + std::to_string(static_cast<int32_t>(disposition)) + "\t" +
           std::to_string(static_cast<int32_t>(attributes));
}

FileTime file_time_of(uint64_t ticks) {
    return FileTime{static_cast<uint32_t>(ticks & 0xFFFFFFFFu), static_cast<uint32_t>(ticks >> 32)};
}

// Fails with 0 and the last error (as the read and write calls report).
int zero(int error) {
    platform::set_last_error(error);
    return 0;
}

struct ListTarget {
    char* names;
    int count;
    int copied;
};

}  // namespace

int link_RequestUF(const char* server, const char* path) {
    return path_request(server, "UF,", path);
}

int link_RequestNF(const char* server, const char* path) {
    return path_request(server, "NF,", path);
}

int link_RequestOF(const char* server, const char* path) {
    return path_request(server, "OF,", path);
}

int link_RequestBF(const char* server, const char* path) {
    return path_request(server, "BF,", path);
}

int link_RequestEF(const char* server, const char* path1, const char* path2) {
    if (!path_ok(path1) || !path_ok(path2)) return refuse();
    Reply reply;
    return send_text(server, std::string("EF,") + path1 + "\t" + path2, kResultReplySize, reply);
}

int link_RequestMF(const char* server, const char* path, const char* text, char* out, uint32_t size) {
    errno = 0;
    if (!path_ok(path) || (text != nullptr && !field_ok(text, '\t'))) return refuse();
    Reply reply;
    const int result = send_text(server, std::string("MF,") + path + "\t" + (text != nullptr ? text : ""),
                                 kModifyReplySize, reply);
    if (result == 1 && out != nullptr) {
        const std::string_view answer = reply.text();
        qvr::copy_cut(answer.size() > 2 ? answer.substr(2) : std::string_view(), out, size);
    }
    return result;
}

namespace {

// Asks for the listing page by page; `take` gets every name. The number of names, or -1.
int list_pages(const char* server, const char* folder, const char* pattern, DirectoryPages::Take take,
               void* context) {
    if (!path_ok(folder) || pattern == nullptr || !field_ok(pattern, '\t')) return refuse();
    DirectoryPages pages;
    for (;;) {
        Reply reply;
        const std::string request =
            std::string("DF,") + folder + "\t" + pattern + "\t" + std::to_string(pages.index());
        if (send_text(server, request, kDirectoryPageSize, reply) == -1) return -1;
        switch (pages.take_page(reply.text(), take, context)) {
            case DirectoryPages::Next::ask_again:
                continue;
            case DirectoryPages::Next::done:
                return pages.index();
            case DirectoryPages::Next::failed:
                qvr::link_internal::trace_line("Listing of %s ended after %d names: %s\r\n", folder, pages.index(),
                                               pages.reason());
                return platform::fail(pages.error());
        }
    }
}

}  // namespace

int link_ListDirectory(const char* server, const char* folder, const char* pattern, int count, char* names) {
    if (count < 0) return refuse();
    ListTarget target{names, count, 0};
    auto take = [](void* context, std::string_view name) {
        auto& t = *static_cast<ListTarget*>(context);
        if (t.names != nullptr && t.copied < t.count) {
            char* slot = t.names + static_cast<std::size_t>(t.copied) * kRemoteNameSlot;
            std::memcpy(slot, name.data(), name.size());
            slot[name.size()] = '\0';
            ++t.copied;
        }
        return true;
    };
    return list_pages(server, folder, pattern, take, &target);
}

namespace qvr::requests {

int list_directory(const char* server, const char* folder, const char* pattern, std::vector<std::string>& names) {
    names.clear();
    auto take = [](void* context, std::string_view name) {
        static_cast<std::vector<std::string>*>(context)->emplace_back(name);
        return true;
    };
    const int count = list_pages(server, folder, pattern, take, &names);
    if (count < 0) names.clear();
    return count;
}

}  // namespace qvr::requests

int link_OpenRemoteFile(const char* server, const char* path, uint32_t access, uint32_t share, int security,
                        uint32_t disposition, uint32_t attributes, char* reply_out) {
    errno = 0;
    if (!path_ok(path)) return refuse();
    Reply reply;
    const int result = send_text(
        server,
        std::string("SF,") + path + "\t" + open_fields(access, share, security, disposition, attributes),
        kOpenReplySize, reply);
    if (reply_out != nullptr) {
        std::memset(reply_out, 0, kOpenReplySize);
        std::memcpy(reply_out, reply.bytes.data(), reply.received);
    }
    return result;
}

int link_GetFileTime(const char* server, int handle, const char* path, FileTime* creation,
                     FileTime* last_access, FileTime* last_write) {
    if (handle != kInvalidFileHandle) {
        platform::FileTimes times;
        if (platform::file_times(handle, times) != 0) return 0;
        if (creation != nullptr) *creation = file_time_of(times.creation);
        if (last_access != nullptr) *last_access = file_time_of(times.last_access);
        if (last_write != nullptr) *last_write = file_time_of(times.last_write);
        return 1;
    }
    if (!path_ok(path)) return zero(platform::kErrorInvalidParameter);
    Reply reply;
    if (send_text(server, std::string("TF,") + path, kTimesReplySize, reply) == -1) return 0;
    uint32_t parts[6];
    if (!parse_file_times(reply.text(), parts)) return zero(platform::kErrorInvalidData);
    FileTime* outs[3] = {creation, last_access, last_write};
    for (int i = 0; i < 3; ++i)
        if (outs[i] != nullptr) *outs[i] = FileTime{parts[2 * i + 1], parts[2 * i]};
    return 1;
}

int link_ReadFile(const char* server, int handle, const char* path, uint32_t count, int32_t offset,
                  int method, uint32_t access, uint32_t share, int security, uint32_t disposition,
                  uint32_t attributes, void* buffer, uint32_t* bytes_read) {
    if (bytes_read != nullptr) *bytes_read = 0;
    if (buffer == nullptr && count != 0) return zero(platform::kErrorInvalidParameter);
    if (handle != kInvalidFileHandle) {
        if (offset != -1 && platform::seek_file(handle, offset, method) != 0) return 0;
        const ssize_t got = platform::read_all(handle, std::span(static_cast<uint8_t*>(buffer), count));
        if (got < 0) return 0;
        if (bytes_read != nullptr) *bytes_read = static_cast<uint32_t>(got);
        return 1;
    }
    if (count > kRemoteReadMax || !path_ok(path)) return zero(platform::kErrorInvalidParameter);
    const std::string request = std::string("RF,") + path + "\t" + std::to_string(count) + "\t" +
                                std::to_string(offset) + "\t" + std::to_string(method) + "\t" +
                                open_fields(access, share, security, disposition, attributes);
    Reply reply;
    if (send_text(server, request, kReadReplySize, reply) == -1) return 0;
    const long long got = parse_read_reply(reply.all(), count);
    if (got < 0) return zero(platform::kErrorInvalidData);
    std::memcpy(buffer, reply.bytes.data() + 2, static_cast<std::size_t>(got));
    if (bytes_read != nullptr) *bytes_read = static_cast<uint32_t>(got);
    return 1;
}

int link_WriteFile(const char* server, int handle, const char* path, uint32_t count, int32_t offset,
                   int method, uint32_t access, uint32_t share, int security, uint32_t disposition,
                   uint32_t attributes, const void* data, uint32_t* bytes_written) {
    if (bytes_written != nullptr) *bytes_written = 0;
    if (data == nullptr && count != 0) return zero(platform::kErrorInvalidParameter);
    if (handle != kInvalidFileHandle) {
        if (offset != -1 && platform::seek_file(handle, offset, method) != 0) return 0;
        if (platform::write_all(handle, std::span(static_cast<const uint8_t*>(data), count)) != 0) return 0;
        if (bytes_written != nullptr) *bytes_written = count;
        return 1;
    }
    if (!path_ok(path)) return zero(platform::kErrorInvalidParameter);
    std::string request = std::string("WF,") + path + "\t" + std::to_string(count) + "\t" +
                          std::to_string(offset) + "\t" + std::to_string(method) + "\t" +
                          open_fields(access, share, security, disposition, attributes) + "\t";
    // The data ends the request: no NUL follows it, since its byte count is all a server reads.
    if (request.size() + count > kRemoteWriteRequestMax) return zero(platform::kErrorInvalidParameter);
    request.append(static_cast<const char*>(data), count);
    Reply reply;
    if (send_bytes(server, request, kWriteReplySize, reply) == -1) return 0;
    if (bytes_written != nullptr) *bytes_written = count;
    return 1;
}
