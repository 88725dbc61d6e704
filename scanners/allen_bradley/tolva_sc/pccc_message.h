#pragma once
// The command messages the scanner sends to controllers and the check of a reply against its
// request. Header of requests and replies: DST, SRC, CMD, STS, TNS (little-endian); a reply
// carries CMD OR 0x40, its status in STS, EXT STS at position 6 when STS is 0xF0 or more,
// and read data from position 6.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tolva::pccc {

inline constexpr uint8_t kCmdUnprotectedRead = 0x01;
inline constexpr uint8_t kCmdDiagnostic = 0x06;
inline constexpr uint8_t kCmdUnprotectedWrite = 0x08;
inline constexpr uint8_t kCmdExtended = 0x0F;
inline constexpr uint8_t kReplyBit = 0x40;

inline constexpr uint8_t kFncWordRangeWrite = 0x00;
inline constexpr uint8_t kFncWordRangeRead = 0x01;
inline constexpr uint8_t kFncDiagnosticStatus = 0x03;
inline constexpr uint8_t kFncDirectoryRead = 0xA1;
inline constexpr uint8_t kFncTypedRead = 0xA2;
inline constexpr uint8_t kFncTypedWrite = 0xAA;
inline constexpr uint8_t kFncTypedMaskedWrite = 0xAB;

inline constexpr uint8_t kDirectoryFileType = 0x60;
inline constexpr uint8_t kTypedFileTypeBase = 0x82;  // + file type index (O 0x82 ... W 0x8B)
inline constexpr uint8_t kAddressMask = 0x07;        // word-range commands: levels 1 to 3 follow
inline constexpr uint8_t kAddressEscape = 0xFF;
inline constexpr uint16_t kUnprotectedFile = 9;

inline constexpr size_t kDataPos = 6;
inline constexpr size_t kExtStsPos = 6;
inline constexpr uint8_t kExtendedStatus = 0xF0;

inline constexpr size_t kReadReplyExtra = 7;  // reply capacity of a read: byte count + 7
inline constexpr size_t kDiagnosticReplyCapacity = 251;
inline constexpr size_t kWriteReplyCapacity = 18;
// One byte carries the byte count, and a read reply must fit the capacity rule.
inline constexpr int kMaxTransferBytes = 244;

// Which form a data-table command takes for a station.
enum class Variant : uint8_t {
    unprotected,  // file 9, whatever the processor: commands 0x01 and 0x08
    typed,        // processors with a file directory: 0x0F/0xA2 and 0x0F/0xAA
    word_range,   // other processors: 0x0F/0x01 and 0x0F/0x00
};

// A processor type byte whose low nibble is 0xE belongs to a processor with a directory.
constexpr bool is_directory_based(uint8_t processor_type) {
    return (processor_type & 0x0F) == 0x0E;
}

constexpr Variant variant_for(uint16_t file_number, uint8_t processor_type) {
    if (file_number == kUnprotectedFile) return Variant::unprotected;
    return is_directory_based(processor_type) ? Variant::typed : Variant::word_range;
}

// One address field: 0-254 as one byte, 255 and more as 0xFF and the value little-endian.
void append_address(std::vector<uint8_t>& message, uint16_t value);

// Transaction numbers, one counter per process: the first request carries 0x55.
class TransactionCounter {
  public:
    uint16_t next() { return ++last_; }
    uint16_t last() const { return last_; }

  private:
    uint16_t last_ = 0x54;
};

struct BlockAddress {
    uint8_t station = 0;
    uint8_t file_type = 0;  // 0 O ... 9 W
    uint16_t file_number = 0;
    uint16_t element = 0;
    uint8_t byte_count = 0;
    uint16_t sub_element = 0;  // typed commands: the word of the element they start at
};

std::vector<uint8_t> directory_read_request(uint8_t station, uint16_t tns, uint8_t byte_count,
                                            uint16_t element);
std::vector<uint8_t> diagnostic_status_request(uint8_t station, uint16_t tns);
std::vector<uint8_t> block_read_request(const BlockAddress& address, Variant variant, uint16_t tns);
// `data` holds address.byte_count bytes.
std::vector<uint8_t> block_write_request(const BlockAddress& address, Variant variant, uint16_t tns,
                                         std::span<const uint8_t> data);

// The protected typed logical write with mask (0x0F/0xAB): the typed write's address fields,
// the mask word, then the data words (address.byte_count bytes). Only the bits set in the mask
// take the data's bits, in every word written; the controller keeps the others.
std::vector<uint8_t> masked_write_request(const BlockAddress& address, uint16_t tns, uint16_t mask,
                                          std::span<const uint8_t> data);

// 0 when `reply` answers `request` with status 0, else the code of pccc_codes.h, checked in
// this order: source (module address or another station), command, TNS, local status,
// extended status, remote status. Both are whole messages of at least 6 bytes (the link
// delivers no shorter one); a missing EXT STS counts as 0.
int check_reply(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                std::optional<uint8_t> module_address);

// True when the reply carries the request's command and TNS: an answer to this very
// request, whoever sent it.
bool same_transaction(std::span<const uint8_t> request, std::span<const uint8_t> reply);

// True when the reply carries the request's TNS; any other reply belongs to an earlier
// transaction.
bool same_tns(std::span<const uint8_t> request, std::span<const uint8_t> reply);

}  // namespace tolva::pccc
