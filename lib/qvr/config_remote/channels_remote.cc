// A device's channel tables on a server: through its folder, or by "IF"/"HF" with the
// "RF"/"WF" fallbacks.
#include <cstring>
#include <span>
#include <string>

#include "platform/last_error.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config_remote/config_remote.h"
#include "qvr/config_remote/config_replies.h"
#include "qvr/config_remote/remote_way.h"
#include "qvr/requests/request_text.h"
#include "qvr/time/timestamp.h"

using namespace qvr::config_remote;

namespace {

struct Table {
    const char* server;
    const char* device;
    const char* kind_name;
    int first;
    int count;
};

bool arguments_ok(const char* device, int kind, const void* records, int first, int count, const void* extra,
                  int32_t extra_size) {
    return device_ok(device) && *cfg_ChannelKindName(kind) != '\0' && first >= 0 && count >= 0 &&
           (count == 0 || records != nullptr) && (extra == nullptr || extra_size >= 0);
}

uint64_t table_bytes(int count) {
    return static_cast<uint64_t>(count) * kRecordSize;
}

// Records per chunk: all that are left while they fit the chunk, else as many as fit.
int chunk_records(int left, uint32_t limit) {
    return table_bytes(left) > limit ? static_cast<int>(limit / kRecordSize) : left;
}

// Hands the table's records at `path` to `move` in pieces the server's file transfers take,
// each with the file offset of its first record.
template <typename Byte, typename Move>
int for_each_chunk(const Table& t, const std::string& path, std::span<Byte> records, Move move) {
    const uint32_t limit = chunk_limit(path);
    if (limit < kRecordSize && t.count > 0) return platform::fail(platform::kErrorInvalidParameter);
    for (int done = 0; done < t.count;) {
        const int n = chunk_records(t.count - done, limit);
        if (move(kTableHeader + table_bytes(t.first + done), records.subspan(table_bytes(done), table_bytes(n))) != 0)
            return -1;
        done += n;
    }
    return 0;
}

int read_table(const Table& t, std::span<uint8_t> records) {
    const std::string path = remote_path(t.device, t.kind_name);
    return for_each_chunk(t, path, records, [&](uint64_t offset, std::span<uint8_t> part) {
        return read_remote(t.server, path, offset, part, static_cast<uint32_t>(part.size()));
    });
}

int write_table(const Table& t, std::span<const uint8_t> records) {
    const std::string path = remote_path(t.device, t.kind_name);
    const int moved = for_each_chunk(t, path, records, [&](uint64_t offset, std::span<const uint8_t> part) {
        return write_remote(t.server, path, offset, part, static_cast<uint32_t>(part.size()), kOpenExisting);
    });
    if (moved != 0) return -1;
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    uint8_t stamp[kTableHeader];
    const auto seconds = static_cast<uint32_t>(now.seconds);
    const auto ms = static_cast<uint16_t>(now.milliseconds);
    const auto us = static_cast<uint16_t>(now.microseconds);
    for (int i = 0; i < 4; ++i) stamp[i] = static_cast<uint8_t>(seconds >> (8 * i));
    stamp[4] = static_cast<uint8_t>(ms);
    stamp[5] = static_cast<uint8_t>(ms >> 8);
    stamp[6] = static_cast<uint8_t>(us);
    stamp[7] = static_cast<uint8_t>(us >> 8);
    return write_remote(t.server, path, 0, stamp, kTableHeader, kOpenExisting);
}

}  // namespace

int cfg_ReadChannelsAndExtra(const char* server, const char* device, int kind, qvr::ChannelRecord* records,
                             int first, int count, void* extra, int32_t extra_size, const char* extra_name) {
    if (!arguments_ok(device, kind, records, first, count, extra, extra_size))
        return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_LoadChannels(device_folder(way->folder, device).c_str(), kind, records, first, count,
                                extra, extra_size, extra_name);

    const uint64_t extra_bytes = extra != nullptr ? static_cast<uint64_t>(extra_size) : 0;
    const uint64_t reply_size = table_bytes(count) + extra_bytes + kChannelsReplyHead;
    std::string device_text, extra_text;
    if (reply_size > INT32_MAX || !text_field(device, device_text) || !text_field(extra_name, extra_text))
        return platform::fail(platform::kErrorInvalidParameter);
    const std::span<uint8_t> record_bytes(reinterpret_cast<uint8_t*>(records), table_bytes(count));
    const std::span<uint8_t> extra_out(static_cast<uint8_t*>(extra), extra_bytes);

    const std::string request = "IF," + std::to_string(reply_size) + "," + device_text + "," +
                                std::to_string(first) + "," + std::to_string(count) + "," +
                                std::to_string(extra_bytes) + "," + extra_text + "," + std::to_string(kind);
    qvr::requests::Reply reply;
    const uint32_t capacity =
        reply_size > kMinReplyCapacity ? static_cast<uint32_t>(reply_size) : kMinReplyCapacity;
    const int result = qvr::requests::send_text(server, request, capacity, reply);
    if (take_channels_reply(result, reply.all(), record_bytes, extra_out)) return 0;
    if (result == -1 && failed_finally()) return -1;
    trace_line("IF to " + server_name(server) + " not answered in full (result " + std::to_string(result) +
               ", " + std::to_string(reply.received) + " of " + std::to_string(reply_size) +
               " bytes): reading the files");

    const Table table{server, device, cfg_ChannelKindName(kind), first, count};
    if (read_table(table, record_bytes) != 0) return -1;
    if (extra_bytes == 0) return 0;
    if (!file_name_ok(extra_name)) return platform::fail(platform::kErrorInvalidParameter);
    const std::string extra_path = remote_path(device, extra_name);
    return read_remote(server, extra_path, 0, extra_out, chunk_limit(extra_path));
}

int cfg_ReadChannels(const char* server, const char* device, int kind, qvr::ChannelRecord* records, int first,
                     int count) {
    return cfg_ReadChannelsAndExtra(server, device, kind, records, first, count, nullptr, 0, nullptr);
}

int cfg_WriteChannelsAndExtra(const char* server, const char* user, const char* device, int kind,
                              const qvr::ChannelRecord* records, int first, int count, const void* extra,
                              int32_t extra_size, const char* extra_name, int mode) {
    if (!arguments_ok(device, kind, records, first, count, extra, extra_size))
        return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    mode = mode != 0 ? 1 : 0;
    if (way->by_folder)
        return cfg_SaveChannels(user, device_folder(way->folder, device).c_str(), kind, records, first, count,
                                extra, extra_size, extra_name, mode);

    const uint64_t extra_bytes = extra != nullptr ? static_cast<uint64_t>(extra_size) : 0;
    const uint64_t data_size = table_bytes(count) + extra_bytes;
    std::string user_text, device_text, extra_text;
    if (data_size > INT32_MAX || !user_field(user, user_text) || !text_field(device, device_text) ||
        !text_field(extra_name, extra_text))
        return platform::fail(platform::kErrorInvalidParameter);
    const std::span<const uint8_t> record_bytes(reinterpret_cast<const uint8_t*>(records),
                                                table_bytes(count));
    const std::span<const uint8_t> extra_in(static_cast<const uint8_t*>(extra), extra_bytes);

    std::string request = "HF," + std::to_string(data_size) + "," + user_text + "," + device_text + "," +
                          std::to_string(first) + "," + std::to_string(count) + "," +
                          std::to_string(extra_bytes) + "," + extra_text + "," + std::to_string(kind) + "," +
                          std::to_string(mode);
    request.push_back('\0');
    request.append(reinterpret_cast<const char*>(record_bytes.data()), record_bytes.size());
    request.append(reinterpret_cast<const char*>(extra_in.data()), extra_in.size());
    qvr::requests::Reply reply;
    const int result = qvr::requests::send_bytes(server, request, kWriteReplyCapacity, reply);
    if (result == -1) {
        if (failed_finally()) return -1;
        trace_line("HF to " + server_name(server) + " failed (error " +
                   std::to_string(platform::last_error()) + "): writing the files");
        const Table table{server, device, cfg_ChannelKindName(kind), first, count};
        if (write_table(table, record_bytes) != 0) return -1;
        if (extra_bytes != 0) {
            if (!file_name_ok(extra_name)) return platform::fail(platform::kErrorInvalidParameter);
            const std::string extra_path = remote_path(device, extra_name);
            if (write_remote(server, extra_path, 0, extra_in, chunk_limit(extra_path), kOpenAlways) != 0)
                return -1;
        }
    }
    if (has_text(device)) touch_configuration(server);
    platform::set_last_error(0);
    return 0;
}

int cfg_WriteChannels(const char* server, const char* user, const char* device, int kind,
                      const qvr::ChannelRecord* records, int first, int count) {
    return cfg_WriteChannelsAndExtra(server, user, device, kind, records, first, count, nullptr, 0, nullptr,
                                     1);
}

int cfg_WriteChannelsRewrite(const char* server, const char* user, const char* device, int kind,
                             const qvr::ChannelRecord* records, int first, int count, const void* extra,
                             int32_t extra_size, const char* extra_name) {
    return cfg_WriteChannelsAndExtra(server, user, device, kind, records, first, count, extra, extra_size,
                                     extra_name, 0);
}
