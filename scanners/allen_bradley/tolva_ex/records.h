#pragma once
// The device type's own records: the device configuration with its serial settings, and the
// controller address of a channel, which lives inside every 216-byte channel record. The
// runtime host, the configuration files, the scanner and the configuration library all share
// these bytes, so every width and offset is fixed.
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

namespace tolva {

// Bytes 4-31 of the device configuration, edited as one block by the communication dialog.
struct CommSettings {
    std::uint32_t BaudRate;      // 0 = kDefaultBaudRate
    char CommPort[6];            // NUL-padded; empty = "COM" and the device number
    std::uint8_t ReadFirst;      // boolean: read outputs on the first scan instead of writing them
    std::uint8_t ReadBack;       // boolean: read outputs back when nothing is to be written
    std::uint32_t MaxRetries;    // transmissions of one message; 0 = kDefaultMaxRetries
    std::uint32_t MaxEnquires;   // enquiries per message; 0 = kDefaultMaxEnquires
    std::uint32_t ReplyTimeout;  // seconds; 0 = kDefaultReplyTimeout
    std::uint32_t ReplyAck;      // character times; 0 = kDefaultReplyAck
};

struct DeviceConfigRecord {
    std::uint32_t ScanRate;  // milliseconds
    CommSettings Comm;
    std::uint8_t Reserved32[672];  // carried unchanged
};

struct ChannelHwRecord {
    std::uint8_t StationNumber;  // node address of the controller, 0-31
    std::int8_t FileType;        // see file_type; 10-17 and 20-29 only in undecorated copies
    std::int16_t FileNumber;
    std::int16_t ElementNumber;     // 0 for output and input addresses, which use SlotNumber
    std::int16_t SubElementNumber;  // bit (digital) or word (output, input analog); -1 none
    std::int16_t MnemonicNumber;    // timer, counter or control sub-element; -1 none
    std::int16_t SlotNumber;        // I/O slot for output and input; else equal to the element
    std::uint32_t Buffer;           // the scanner's run-time link, never stored: stays 0 outside it
};

namespace file_type {
inline constexpr std::int8_t kOutput = 0;
inline constexpr std::int8_t kInput = 1;
inline constexpr std::int8_t kStatus = 2;
inline constexpr std::int8_t kBinary = 3;
inline constexpr std::int8_t kTimer = 4;
inline constexpr std::int8_t kCounter = 5;
inline constexpr std::int8_t kControl = 6;
inline constexpr std::int8_t kInteger = 7;
inline constexpr std::int8_t kFloat = 8;
inline constexpr std::int8_t kWord = 9;
inline constexpr std::int8_t kUser = -1;
// Combined codes of undecorated copies: the base plus the sub-element mnemonic.
inline constexpr std::int8_t kCounterCodeBase = 10;
inline constexpr std::int8_t kControlCodeBase = 20;
}  // namespace file_type

// Sub-element mnemonics of counters (PRE ... CU) and controls (LEN ... EN).
inline constexpr int kCounterMnemonicCount = 8;
inline constexpr int kControlMnemonicCount = 10;

struct FileTypeName {
    std::string_view name;
    std::int8_t value;
};
inline constexpr std::array<FileTypeName, 11> kFileTypeNames{{
    {"Output (O)", file_type::kOutput},
    {"Input (I)", file_type::kInput},
    {"Status (S)", file_type::kStatus},
    {"Binary (B)", file_type::kBinary},
    {"Timer (T)", file_type::kTimer},
    {"Counter (C)", file_type::kCounter},
    {"Control (R)", file_type::kControl},
    {"Integer (N)", file_type::kInteger},
    {"Float (F)", file_type::kFloat},
    {"Word(W)", file_type::kWord},
    {"USER", file_type::kUser},
}};

constexpr std::optional<std::string_view> file_type_name(std::int8_t value) {
    for (const auto& entry : kFileTypeNames) {
        if (entry.value == value) return entry.name;
    }
    return std::nullopt;
}

// Names compare exactly.
constexpr std::optional<std::int8_t> file_type_from_name(std::string_view name) {
    for (const auto& entry : kFileTypeNames) {
        if (entry.name == name) return entry.value;
    }
    return std::nullopt;
}

inline constexpr std::uint32_t kDefaultBaudRate = 19200;
inline constexpr std::uint32_t kDefaultMaxRetries = 2;
inline constexpr std::uint32_t kDefaultMaxEnquires = 3;
inline constexpr std::uint32_t kDefaultReplyTimeout = 5;
inline constexpr std::uint32_t kDefaultReplyAck = 20;
// The most transmissions of one message the scanner uses. The dialog accepts any number, but
// each one may hold a command for a whole reply time-out, so a file's larger value is held
// to this when the configuration is read.
inline constexpr std::uint32_t kMaxRetriesLimit = 10;

using CommPortName = std::array<char, sizeof(CommSettings::CommPort)>;

inline std::string_view comm_port(const CommSettings& comm) {
    const std::string_view field(comm.CommPort, sizeof comm.CommPort);
    return field.substr(0, field.find('\0'));
}

// "COM" and the number, NUL-padded; none when that does not fit the six bytes, since a cut
// name would name another port.
inline std::optional<CommPortName> default_comm_port(std::int32_t number) {
    CommPortName name{'C', 'O', 'M'};
    const auto [end, ec] = std::to_chars(name.data() + 3, name.data() + name.size(), number);
    if (ec != std::errc{}) return std::nullopt;
    return name;
}

// Fills an empty port name from `port_number` and a zero baud rate. When the default name
// does not fit, nothing changes and the result is false.
inline bool apply_port_defaults(CommSettings& comm, std::int32_t port_number) {
    if (comm_port(comm).empty()) {
        const auto name = default_comm_port(port_number);
        if (!name) return false;
        std::memcpy(comm.CommPort, name->data(), name->size());
    }
    if (comm.BaudRate == 0) comm.BaudRate = kDefaultBaudRate;
    return true;
}

// Fills the zero retry, enquiry and time-out settings and holds MaxRetries to its limit.
inline void apply_link_defaults(CommSettings& comm) {
    if (comm.ReplyAck == 0) comm.ReplyAck = kDefaultReplyAck;
    if (comm.ReplyTimeout == 0) comm.ReplyTimeout = kDefaultReplyTimeout;
    if (comm.MaxRetries == 0) comm.MaxRetries = kDefaultMaxRetries;
    if (comm.MaxRetries > kMaxRetriesLimit) comm.MaxRetries = kMaxRetriesLimit;
    if (comm.MaxEnquires == 0) comm.MaxEnquires = kDefaultMaxEnquires;
}

// Where the address sits in a channel record: bit 0 of the kind byte selects the digital
// layout.
inline constexpr std::size_t kChannelRecordSize = 216;
inline constexpr std::size_t kChannelKindOffset = 24;
inline constexpr std::size_t kAnalogHwOffset = 188;
inline constexpr std::size_t kDigitalHwOffset = 192;

constexpr std::size_t channel_hw_offset(std::uint8_t kind) {
    return (kind & 1u) != 0 ? kDigitalHwOffset : kAnalogHwOffset;
}

// None when the bytes are shorter than a channel record.
inline std::optional<ChannelHwRecord> read_channel_hw(std::span<const std::uint8_t> record) {
    if (record.size() < kChannelRecordSize) return std::nullopt;
    ChannelHwRecord hw;
    std::memcpy(&hw, record.data() + channel_hw_offset(record[kChannelKindOffset]), sizeof hw);
    return hw;
}

inline bool write_channel_hw(std::span<std::uint8_t> record, const ChannelHwRecord& hw) {
    if (record.size() < kChannelRecordSize) return false;
    std::memcpy(record.data() + channel_hw_offset(record[kChannelKindOffset]), &hw, sizeof hw);
    return true;
}

// Counter and control addresses show their sub-element in the file type of the copies that
// are written out and audited. Only a mnemonic of the type's own table is folded in: any
// other would wrap into an unrelated file type, so such an address keeps its type.
constexpr void undecorate_channel_hw(ChannelHwRecord& hw) {
    const int mnemonic = hw.MnemonicNumber;
    if (hw.FileType == file_type::kCounter && mnemonic >= 0 && mnemonic < kCounterMnemonicCount) {
        hw.FileType = static_cast<std::int8_t>(file_type::kCounterCodeBase + mnemonic);
    } else if (hw.FileType == file_type::kControl && mnemonic >= 0 && mnemonic < kControlMnemonicCount) {
        hw.FileType = static_cast<std::int8_t>(file_type::kControlCodeBase + mnemonic);
    }
}

// The same on a whole channel record; false (nothing changed) when it is too short.
inline bool undecorate_channel_record(std::span<std::uint8_t> record) {
    auto hw = read_channel_hw(record);
    if (!hw) return false;
    undecorate_channel_hw(*hw);
    return write_channel_hw(record, *hw);
}

static_assert(std::is_trivially_copyable_v<CommSettings> && std::is_standard_layout_v<CommSettings>);
static_assert(std::is_trivially_copyable_v<DeviceConfigRecord> &&
              std::is_standard_layout_v<DeviceConfigRecord>);
static_assert(std::is_trivially_copyable_v<ChannelHwRecord> && std::is_standard_layout_v<ChannelHwRecord>);

static_assert(sizeof(CommSettings) == 28);
static_assert(offsetof(CommSettings, BaudRate) == 0);
static_assert(offsetof(CommSettings, CommPort) == 4);
static_assert(offsetof(CommSettings, ReadFirst) == 10);
static_assert(offsetof(CommSettings, ReadBack) == 11);
static_assert(offsetof(CommSettings, MaxRetries) == 12);
static_assert(offsetof(CommSettings, MaxEnquires) == 16);
static_assert(offsetof(CommSettings, ReplyTimeout) == 20);
static_assert(offsetof(CommSettings, ReplyAck) == 24);

static_assert(sizeof(DeviceConfigRecord) == 704);
static_assert(offsetof(DeviceConfigRecord, ScanRate) == 0);
static_assert(offsetof(DeviceConfigRecord, Comm) == 4);
static_assert(offsetof(DeviceConfigRecord, Comm.BaudRate) == 4);
static_assert(offsetof(DeviceConfigRecord, Comm.CommPort) == 8);
static_assert(offsetof(DeviceConfigRecord, Comm.ReadFirst) == 14);
static_assert(offsetof(DeviceConfigRecord, Comm.ReadBack) == 15);
static_assert(offsetof(DeviceConfigRecord, Comm.MaxRetries) == 16);
static_assert(offsetof(DeviceConfigRecord, Comm.MaxEnquires) == 20);
static_assert(offsetof(DeviceConfigRecord, Comm.ReplyTimeout) == 24);
static_assert(offsetof(DeviceConfigRecord, Comm.ReplyAck) == 28);
static_assert(offsetof(DeviceConfigRecord, Reserved32) == 32);

static_assert(sizeof(ChannelHwRecord) == 16);
static_assert(offsetof(ChannelHwRecord, StationNumber) == 0);
static_assert(offsetof(ChannelHwRecord, FileType) == 1);
static_assert(offsetof(ChannelHwRecord, FileNumber) == 2);
static_assert(offsetof(ChannelHwRecord, ElementNumber) == 4);
static_assert(offsetof(ChannelHwRecord, SubElementNumber) == 6);
static_assert(offsetof(ChannelHwRecord, MnemonicNumber) == 8);
static_assert(offsetof(ChannelHwRecord, SlotNumber) == 10);
static_assert(offsetof(ChannelHwRecord, Buffer) == 12);
static_assert(kAnalogHwOffset + sizeof(ChannelHwRecord) <= kChannelRecordSize);
static_assert(kDigitalHwOffset + sizeof(ChannelHwRecord) <= kChannelRecordSize);

}  // namespace tolva
