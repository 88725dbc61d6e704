#include "tolva_sc/pccc_message.h"

#include "tolva_sc/df1_frame.h"
#include "tolva_sc/pccc_codes.h"

namespace tolva::pccc {

namespace {

std::vector<uint8_t> header(uint8_t station, uint8_t cmd, uint16_t tns) {
    std::vector<uint8_t> m;
    m.reserve(24);
    m.push_back(station);
    m.push_back(0);  // SRC
    m.push_back(cmd);
    m.push_back(0);  // STS
    m.push_back(static_cast<uint8_t>(tns & 0xFF));
    m.push_back(static_cast<uint8_t>(tns >> 8));
    return m;
}

void append_word(std::vector<uint8_t>& m, uint16_t value) {
    m.push_back(static_cast<uint8_t>(value & 0xFF));
    m.push_back(static_cast<uint8_t>(value >> 8));
}

uint16_t tns_of(std::span<const uint8_t> m) {
    return static_cast<uint16_t>(m[df1::kTnsLowPos] | m[df1::kTnsHighPos] << 8);
}

// Level fields of the word-range commands: packet offset 0, the word count, the mask, level
// 1 (the data table), the file and the element.
void append_word_range_address(std::vector<uint8_t>& m, const BlockAddress& a) {
    m.push_back(0);
    m.push_back(0);
    append_word(m, static_cast<uint16_t>(a.byte_count / 2));
    m.push_back(kAddressMask);
    m.push_back(0);
    append_address(m, a.file_number);
    append_address(m, a.element);
}

void append_typed_address(std::vector<uint8_t>& m, const BlockAddress& a) {
    m.push_back(a.byte_count);
    append_address(m, a.file_number);
    m.push_back(static_cast<uint8_t>(kTypedFileTypeBase + a.file_type));
    append_address(m, a.element);
    append_address(m, a.sub_element);
}

}  // namespace

void append_address(std::vector<uint8_t>& message, uint16_t value) {
    if (value < kAddressEscape) {
        message.push_back(static_cast<uint8_t>(value));
        return;
    }
    message.push_back(kAddressEscape);
    append_word(message, value);
}

std::vector<uint8_t> directory_read_request(uint8_t station, uint16_t tns, uint8_t byte_count,
                                            uint16_t element) {
    auto m = header(station, kCmdExtended, tns);
    m.push_back(kFncDirectoryRead);
    m.push_back(byte_count);
    append_address(m, 0);  // file number
    m.push_back(kDirectoryFileType);
    append_address(m, element);
    return m;
}

std::vector<uint8_t> diagnostic_status_request(uint8_t station, uint16_t tns) {
    auto m = header(station, kCmdDiagnostic, tns);
    m.push_back(kFncDiagnosticStatus);
    return m;
}

std::vector<uint8_t> block_read_request(const BlockAddress& a, Variant variant, uint16_t tns) {
    switch (variant) {
        case Variant::unprotected: {
            auto m = header(a.station, kCmdUnprotectedRead, tns);
            append_word(m, a.element);
            m.push_back(a.byte_count);
            return m;
        }
        case Variant::typed: {
            auto m = header(a.station, kCmdExtended, tns);
            m.push_back(kFncTypedRead);
            append_typed_address(m, a);
            return m;
        }
        case Variant::word_range:
            break;
    }
    auto m = header(a.station, kCmdExtended, tns);
    m.push_back(kFncWordRangeRead);
    append_word_range_address(m, a);
    m.push_back(a.byte_count);
    return m;
}

std::vector<uint8_t> masked_write_request(const BlockAddress& a, uint16_t tns, uint16_t mask,
                                          std::span<const uint8_t> data) {
    auto m = header(a.station, kCmdExtended, tns);
    m.push_back(kFncTypedMaskedWrite);
    append_typed_address(m, a);
    append_word(m, mask);
    m.insert(m.end(), data.begin(), data.end());
    return m;
}

std::vector<uint8_t> block_write_request(const BlockAddress& a, Variant variant, uint16_t tns,
                                         std::span<const uint8_t> data) {
    std::vector<uint8_t> m;
    switch (variant) {
        case Variant::unprotected:
            m = header(a.station, kCmdUnprotectedWrite, tns);
            append_word(m, a.element);
            break;
        case Variant::typed:
            m = header(a.station, kCmdExtended, tns);
            m.push_back(kFncTypedWrite);
            append_typed_address(m, a);
            break;
        case Variant::word_range:
            m = header(a.station, kCmdExtended, tns);
            m.push_back(kFncWordRangeWrite);
            append_word_range_address(m, a);
            break;
    }
    m.insert(m.end(), data.begin(), data.end());
    return m;
}

int check_reply(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                std::optional<uint8_t> module_address) {
    if (request.size() < df1::kHeaderSize || reply.size() < df1::kHeaderSize)
        return pccc_error::kOtherTransaction;
    const uint8_t src = reply[df1::kSrcPos];
    if (src != request[df1::kDstPos]) {
        return module_address && *module_address == src ? pccc_error::kFromModule
                                                        : pccc_error::kOtherTransaction;
    }
    if (reply[df1::kCmdPos] != (request[df1::kCmdPos] | kReplyBit)) return pccc_error::kWrongCommand;
    if (tns_of(reply) != tns_of(request)) return pccc_error::kOtherTransaction;
    const uint8_t sts = reply[df1::kStsPos];
    if ((sts & 0x0F) != 0) return pccc_error::kLocalFamily | (sts & 0x0F);
    if (sts == 0) return 0;
    if (sts >= kExtendedStatus) {
        const uint8_t ext = reply.size() > kExtStsPos ? reply[kExtStsPos] : 0;
        return pccc_error::kExtendedFamily | ext;
    }
    return pccc_error::kRemoteFamily + (sts >> 4);
}

bool same_transaction(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
    return same_tns(request, reply) && reply[df1::kCmdPos] == (request[df1::kCmdPos] | kReplyBit);
}

bool same_tns(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
    if (request.size() < df1::kHeaderSize || reply.size() < df1::kHeaderSize) return false;
    return tns_of(reply) == tns_of(request);
}

}  // namespace tolva::pccc
