// Channel values and the server as a whole.
#include "qvr/requests/value_requests.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "platform/time_zone.h"
#include "qvr/link/link.h"
#include "qvr/requests/reply_parsers.h"
#include "qvr/requests/request_text.h"
#include "qvr/time/timestamp.h"
#include "qvr/util/bounded_copy.h"

using namespace qvr::requests;

namespace {

constexpr std::size_t kSetTextMax = 512;
constexpr std::size_t kComputerMax = 15;
constexpr std::size_t kValueUserMax = 32;
constexpr std::size_t kStateUserMax = 28;
constexpr uint32_t kTimeReplySize = 272;
constexpr uint32_t kSetupTextMax = 32765;

int list_request(const char* code, const char* server, const char* list, char* reply) {
    if (list == nullptr || reply == nullptr || !list_ok(list)) return refuse();
    errno = 0;
    uint32_t length = kValueReplySize;
    const std::string text = std::string(code) + "," + list;
    return link_SendText(server, text.c_str(), reply, &length);
}

int simple(const char* server, const std::string& text) {
    Reply reply;
    return send_text(server, text, kResultReplySize, reply);
}

std::string value_text(double value) {
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

}  // namespace

int RequestCurrentValue(const char* server, const char* list, char* reply) {
    return list_request("CV", server, list, reply);
}

int RequestRV(const char* server, const char* list, char* reply) {
    return list_request("RV", server, list, reply);
}

int SetChannelText(const char* server, const char* channel, const char16_t* text) {
    errno = 0;
    if (channel == nullptr || text == nullptr) return refuse();
    if (std::strlen(channel) > static_cast<std::size_t>(kChannelNameMax)) return 0;
    if (!field_ok(channel, ',')) return refuse();
    std::string request = "SV," + std::string(channel) + "," + computer_name_cut(kComputerMax) + "," +
                          user_name_cut(kValueUserMax) + ",";
    for (const char16_t* c = text;; ++c) {
        request.push_back(static_cast<char>(*c & 0xFF));
        request.push_back(static_cast<char>(*c >> 8));
        if (*c == 0 || request.size() > kSetTextMax) break;
    }
    if (request.size() > kSetTextMax) return refuse();
    Reply reply;
    return send_bytes(server, request, kResultReplySize, reply);
}

int SetChannelValue(const char* server, const char* channel, double value) {
    errno = 0;
    if (channel == nullptr) return refuse();
    if (std::strlen(channel) > static_cast<std::size_t>(kChannelNameMax)) return 0;
    if (!field_ok(channel, ',')) return refuse();
    return simple(server, "FV," + std::string(channel) + "," + value_text(value) + "," +
                              computer_name_cut(kComputerMax) + "," + user_name_cut(kValueUserMax));
}

int RequestTagChannels(const char* server, const char* const* tags, int count, uint8_t* out) {
    if (count < 0 || (count > 0 && (tags == nullptr || out == nullptr))) return refuse();
    std::string request = "TC,";
    for (int i = 0; i < count; ++i) {
        if (tags[i] == nullptr || !field_ok(tags[i], ',')) return refuse();
        if (i > 0) request += ',';
        request += tags[i];
        if (request.size() + 1 > kValueReplySize) return refuse();
    }
    Reply reply;
    const int result = send_text(server, request, kValueReplySize, reply);
    if (result != -1 && count > 0) parse_tag_channels(reply.all(), count, out);
    return result;
}

int RequestDS(const char* server) {
    return simple(server, "DS," + user_name_cut(kStateUserMax));
}

int RequestRS(const char* server) {
    return simple(server, "RS");
}

int RequestAS(const char* server, const char* text) {
    if (text == nullptr || !field_ok(text, ',')) return refuse();
    return simple(server, std::string("AS,") + text);
}

int RequestOS(const char* server) {
    return simple(server, "OS");
}

int RequestBS(const char* server, int* number, char* text1, uint32_t size1, char* text2, uint32_t size2) {
    Reply reply;
    const int result = send_text(server, "BS", kValueReplySize, reply);
    int n = 0;
    parse_server_state(result == -1 ? std::string_view() : reply.text(), n, text1, size1, text2, size2);
    if (number != nullptr) *number = n;
    return result;
}

int RequestSE(const char* server, const char* device, char* text, uint32_t size) {
    if (device == nullptr || !field_ok(device, ',')) return refuse();
    const uint32_t asked = size > kSetupTextMax ? kSetupTextMax : size;
    Reply reply;
    const int result =
        send_text(server, "SE," + std::string(device) + "," + std::to_string(asked), asked + 3, reply);
    const std::string_view answer = reply.text();
    const std::size_t comma = answer.find(',');
    qvr::copy_cut(
        result == -1 || comma == std::string_view::npos ? std::string_view() : answer.substr(comma + 1), text,
        size);
    return result;
}

int GetServerTimeZone(const char* server, TimeStamp* stamp, uint8_t* zone) {
    if (link_IsLocalServer(server) && link_GetServerKind(server) != kServerLocalData) {
        if (stamp != nullptr) rt_GetLocalStamp(stamp);
        if (zone != nullptr) {
            const platform::TimeZoneInformation info = platform::local_time_zone_information();
            std::memcpy(zone, info.data(), info.size());
        }
        return 0;
    }
    Reply reply;
    const int result = send_text(server, "TS", kTimeReplySize, reply);
    parse_server_time(result == -1 ? std::string_view() : reply.all(), stamp, zone);
    return result == -1 ? -1 : 0;
}

int GetServerTime(const char* server, TimeStamp* stamp) {
    return GetServerTimeZone(server, stamp, nullptr);
}
