// One request to a server and what its reply says.
#include <climits>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "platform/secret_mask.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"
#include "qvr/xml/xml.h"

namespace {

constexpr size_t kXmlMessageMax = 255;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The decimal number at `pos` (leading blanks and a sign allowed, as atoi reads it), within
// `length`; saturated to the int range. `pos` ends after it; false when there are no digits.
bool read_number(const char* text, uint32_t length, uint32_t& pos, int& value) {
    while (pos < length && is_space(text[pos])) ++pos;
    bool negative = false;
    if (pos < length && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
    const uint32_t first = pos;
    long long n = 0;
    while (pos < length && text[pos] >= '0' && text[pos] <= '9') {
        if (n <= static_cast<long long>(INT_MAX) + 1) n = n * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos == first) {
        value = 0;
        return false;
    }
    if (negative) n = -n;
    value = n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
    return true;
}

// The request code for trace lines: its first two characters, fewer when it is shorter.
std::string code_of(const void* request, uint32_t length) {
    const char* text = static_cast<const char*>(request);
    std::string code;
    for (uint32_t i = 0; text != nullptr && i < length && i < 2 && text[i] != '\0'; ++i) code += text[i];
    return code;
}

}  // namespace

LinkReply link_ParseReply(const char* reply, uint32_t length) {
    LinkReply out;
    if (reply == nullptr) length = 0;
    uint32_t pos = 0;
    read_number(reply, length, pos, out.result);
    if (out.result != -1) return out;
    out.error = platform::kErrorInvalidData;
    if (pos < length && reply[pos] == ',') {
        ++pos;
        int code = 0;
        if (read_number(reply, length, pos, code)) out.error = code;
        if (pos < length && reply[pos] == ',') {
            ++pos;
            out.text = reply + pos;
            const void* nul = std::memchr(reply + pos, '\0', length - pos);
            out.text_length = nul != nullptr ? static_cast<uint32_t>(static_cast<const char*>(nul) - out.text)
                                             : length - pos;
        }
    }
    return out;
}

int link_SendRequest(const char* server, const void* request, uint32_t length, void* reply,
                     uint32_t* reply_length) {
    if (request == nullptr || length == 0 || reply_length == nullptr || (reply == nullptr && *reply_length != 0))
        return platform::fail(platform::kErrorInvalidParameter);
    // All names of this machine share the entry "." and its one link.
    const char* name = server == nullptr || *server == '\0' || link_IsLocalServer(server) ? "." : server;
    if (std::strlen(name) >= static_cast<size_t>(kLinkServerMax)) return platform::fail(platform::kErrorInvalidParameter);
    const std::string code = code_of(request, length);
    // The server as trace lines show it: a password masked here keeps the rest of the line.
    const auto shown = [name] { return platform::mask_secrets(name); };

    ServerConnection* entry = link_GetConnection(name);
    if (entry == nullptr) return platform::fail(platform::last_error());
    const int ok = link_Dispatch(entry, request, length, reply, reply_length);
    const int transfer_error = platform::last_error();
    entry->lock.unlock();
    if (ok == 0) {
        qvr::link_internal::trace_line("<<%s Error %d to %s\r\n", shown().c_str(), transfer_error, code.c_str());
        return platform::fail(transfer_error);
    }
    if (*reply_length == 0) {
        qvr::link_internal::trace_line("<<%s No Result to %s\r\n", shown().c_str(), code.c_str());
        return platform::fail(kErrorNoResult);
    }
    const LinkReply parsed = link_ParseReply(static_cast<const char*>(reply), *reply_length);
    if (parsed.result == -1) {
        if (parsed.error == platform::kErrorXmlParse) {
            std::string message(parsed.text != nullptr ? parsed.text : "",
                                parsed.text_length < kXmlMessageMax ? parsed.text_length : kXmlMessageMax);
            xml_SetSubject("");
            xml_SetOperation("");
            xml_SetStatus(platform::kErrorXmlParse, message.c_str());
        }
        qvr::link_internal::trace_line("<<%s Call Error %d to %s\r\n", shown().c_str(), parsed.error, code.c_str());
        return platform::fail(parsed.error);
    }
    qvr::link_internal::trace_line("<<%s Result %d to %s\r\n", shown().c_str(), parsed.result, code.c_str());
    platform::set_last_error(0);
    return parsed.result;
}

int link_SendText(const char* server, const char* request, void* reply, uint32_t* reply_length) {
    if (request == nullptr) return platform::fail(platform::kErrorInvalidParameter);
    return link_SendRequest(server, request, static_cast<uint32_t>(std::strlen(request) + 1), reply, reply_length);
}
