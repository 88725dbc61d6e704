#include "log_stores/db_access/com_error_report.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/ado/connection_string.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "qvr/diag/trace.h"

namespace log_stores {
namespace {

void trace_com_line(const std::string& source, const std::string& description) {
    // The spelling of this line is the one service engineers search their traces for.
    const std::string line = "\nCOM Exeption: " + source + " \t : " + description + "\r\n";
    trace_Write(line.c_str());
}

}  // namespace

int last_error_of(ado::HRESULT code) {
    if (code >= ado::hr(0x80040200) && code <= ado::hr(0x8004FFFF))
        return static_cast<int>((static_cast<uint32_t>(code) - 0x200) & 0xFFFF);
    return 0;
}

void capture_com_error(const ado::ComError& error, char (&text)[kErrorTextSize]) {
    const std::string source = ado::cp1252_from_utf8(error.source());
    const std::string description = ado::cp1252_from_utf8(ado::mask_secrets(error.description()));
    const size_t n = std::min(description.size(), kErrorTextSize - 1);
    std::memcpy(text, description.data(), n);
    text[n] = '\0';
    platform::set_last_error(last_error_of(error.code()));
    trace_com_line(source, description);
}

}  // namespace log_stores

void ReportComError(const ado::ComError& error) {
    const std::string source = ado::cp1252_from_utf8(error.source());
    const std::string description = ado::cp1252_from_utf8(ado::mask_secrets(error.description()));
    platform::set_last_error(log_stores::last_error_of(error.code()));
    log_stores::trace_com_line(source, description.empty() ? "NONE" : description);
}
