#pragma once
// The 216-byte configuration of one channel. The same bytes live in the channel table files,
// in a device's configuration module in shared memory and in logged-data run files, so every
// member below has a fixed width and a fixed offset. A record has an analog and a digital
// layout, chosen by bit 0 of its kind; both share the head and split the tag, description and
// units texts over a short field in the head and extension fields further on.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace qvr {

inline constexpr std::size_t kChannelRecordSize = 216;

enum class ChannelKind : std::uint8_t { AI = 0, DI = 1, AO = 2, DO = 3, CI = 4 };

// Bit 0 of the kind selects the digital layout; values outside the list keep that rule.
constexpr bool is_digital(ChannelKind kind) {
    return (static_cast<std::uint8_t>(kind) & 1u) != 0;
}

struct ChannelKindName {
    std::string_view name;
    ChannelKind kind;
};
inline constexpr std::array<ChannelKindName, 5> kChannelKindNames{{
    {"AI", ChannelKind::AI},
    {"DI", ChannelKind::DI},
    {"AO", ChannelKind::AO},
    {"DO", ChannelKind::DO},
    {"CI", ChannelKind::CI},
}};
std::optional<std::string_view> channel_kind_name(ChannelKind kind);
std::optional<ChannelKind> channel_kind_from_name(std::string_view name);

// Flag words are numbered as bits of the little-endian 32-bit word at offset 28, but the
// record stores them most significant bit first within each byte: word bit k is flag bit
// n = 8*(k/8) + 7 - (k%8), which lies in byte n/8 under mask 0x80 >> (n%8).
constexpr unsigned flag_bit_number(unsigned word_bit) {
    return 8 * (word_bit / 8) + 7 - (word_bit % 8);
}

enum class AnalogFlag : std::uint8_t {  // word bits
    Enable = 0,
    EventEnable = 1,
    HighAlarmEnable = 2,
    HighAlarmDeadbandEnable = 3,
    HighAlarmDriveCommon = 4,
    LowAlarmEnable = 5,
    LowAlarmDeadbandEnable = 6,
    LowAlarmDriveCommon = 7,
    SigChangeEnable = 8,
    ReferenceEnable = 9,
    ScalingEnable = 10,
    HighWarningEnable = 11,
    LowWarningEnable = 12,
    ErrorAlarmEnable = 13,
    ErrorAlarmDriveCommon = 14,
};

enum class DigitalFlag : std::uint8_t {  // word bits
    Enable = 0,
    AlarmDriveCommon = 1,
    EventEnable = 2,
    AlarmEnable = 3,
    EventState = 4,
    AlarmState = 5,
    ErrorAlarmEnable = 6,
    ErrorAlarmDriveCommon = 7,
};

struct ChannelFlags {
    std::uint8_t bytes[4];

    // The one place that knows where flag bit n lives.
    bool test(unsigned bit_number) const {
        return bit_number < 32 && (bytes[bit_number / 8] & (0x80u >> (bit_number % 8))) != 0;
    }
    void set(unsigned bit_number, bool on) {
        if (bit_number >= 32) return;
        const auto mask = static_cast<std::uint8_t>(0x80u >> (bit_number % 8));
        if (on) {
            bytes[bit_number / 8] |= mask;
        } else {
            bytes[bit_number / 8] &= static_cast<std::uint8_t>(~mask);
        }
    }

    bool test(AnalogFlag f) const { return test(flag_bit_number(static_cast<unsigned>(f))); }
    bool test(DigitalFlag f) const { return test(flag_bit_number(static_cast<unsigned>(f))); }
    void set(AnalogFlag f, bool on) { set(flag_bit_number(static_cast<unsigned>(f)), on); }
    void set(DigitalFlag f, bool on) { set(flag_bit_number(static_cast<unsigned>(f)), on); }

    // The flags as the little-endian word at offset 28.
    std::uint32_t word() const {
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    }
};

// The two word lists a flag shows itself with: value 0 first, value 1 second.
struct FlagWords {
    std::string_view off;
    std::string_view on;
};
inline constexpr FlagWords kOffOn{"Off", "On"};
inline constexpr FlagWords kLowHigh{"Low", "High"};

struct FlagField {
    std::string_view name;
    std::uint8_t word_bit;
    FlagWords words;
};

inline constexpr std::array<FlagField, 15> kAnalogFlagFields{{
    {"Enable", 0, kOffOn},
    {"EventEnable", 1, kOffOn},
    {"HighAlarmEnable", 2, kOffOn},
    {"HighAlarmDeadbandEnable", 3, kOffOn},
    {"HighAlarmDriveCommon", 4, kOffOn},
    {"LowAlarmEnable", 5, kOffOn},
    {"LowAlarmDeadbandEnable", 6, kOffOn},
    {"LowAlarmDriveCommon", 7, kOffOn},
    {"SigChangeEnable", 8, kOffOn},
    {"ReferenceEnable", 9, kOffOn},
    {"ScalingEnable", 10, kOffOn},
    {"HighWarningEnable", 11, kOffOn},
    {"LowWarningEnable", 12, kOffOn},
    {"ErrorAlarmEnable", 13, kOffOn},
    {"ErrorAlarmDriveCommon", 14, kOffOn},
}};

inline constexpr std::array<FlagField, 8> kDigitalFlagFields{{
    {"Enable", 0, kOffOn},
    {"AlarmDriveCommon", 1, kOffOn},
    {"EventEnable", 2, kOffOn},
    {"AlarmEnable", 3, kOffOn},
    {"EventState", 4, kLowHigh},
    {"AlarmState", 5, kLowHigh},
    {"ErrorAlarmEnable", 6, kOffOn},
    {"ErrorAlarmDriveCommon", 7, kOffOn},
}};

// Text of flag bit n; the comparison of a text with the words is exact.
std::string_view flag_text(const ChannelFlags& flags, unsigned bit_number, const FlagWords& words);
std::optional<bool> parse_flag_text(std::string_view text, const FlagWords& words);

// Members common to both layouts; they form the common initial sequence of the layouts, so
// the head may be read through any member of ChannelRecord.
struct ChannelHead {
    char Tag[8];           // characters 1-8
    char Description[16];  // characters 1-16
    ChannelKind Type;
    std::uint8_t Reserved25[3];
    ChannelFlags Flags;
};

struct AnalogChannel {
    char Tag[8];
    char Description[16];
    ChannelKind Type;
    std::uint8_t Reserved25[3];
    ChannelFlags Flags;
    char Units[4];  // characters 1-4
    float Gain;
    float Offset;
    float HighEventLimit;
    float LowEventLimit;
    float HighAlarmLimit;
    float HighAlarmDeadband;
    float LowAlarmLimit;
    float LowAlarmDeadband;
    float SigChangeValue;
    std::uint8_t HighAlarmPriority;
    std::uint8_t LowAlarmPriority;
    char HighAlarmText[32];  // NUL-terminated when shorter
    char LowAlarmText[32];
    char Tag9[4];            // tag characters 9-12
    char Description17[16];  // description characters 17-32
    char Tag13[3];           // tag characters 13-15
    char Units5[4];          // units characters 5-8
    std::uint8_t ErrorAlarmPriority;
    std::uint16_t ErrorAlarmDelay;
    float MaximumUnits;
    float MinimumUnits;
    float HighWarningLimit;
    float LowWarningLimit;
    std::uint16_t HighAlarmDelay;
    std::uint16_t LowAlarmDelay;
    std::uint8_t Analogue[16];  // hardware part, owned by the device type
    std::uint8_t Reserved204[12];
};

struct DigitalChannel {
    char Tag[8];
    char Description[16];
    ChannelKind Type;
    std::uint8_t Reserved25[3];
    ChannelFlags Flags;  // word bits 0-7 used
    char HighStateText[32];
    char LowStateText[32];
    std::uint8_t AlarmPriority;
    char AlarmText[32];
    std::uint8_t Reserved129[9];
    char Tag9[4];
    char Description17[16];
    char Tag13[3];
    std::uint8_t Reserved161[25];
    std::uint8_t ErrorAlarmPriority;
    std::uint8_t Reserved187;
    std::uint16_t ErrorAlarmDelay;
    std::uint16_t AlarmDelay;
    std::uint8_t Digital[24];  // hardware part, owned by the device type
};

// `ChannelRecord rec{}` is all zero. Records are copied and compared as their 216 bytes.
union ChannelRecord {
    std::uint8_t bytes[kChannelRecordSize];
    ChannelHead head;
    AnalogChannel analog;
    DigitalChannel digital;
};

inline bool operator==(const ChannelRecord& a, const ChannelRecord& b) {
    return std::memcmp(a.bytes, b.bytes, kChannelRecordSize) == 0;
}

inline constexpr std::size_t kAnalogHardwareOffset = 188;
inline constexpr std::size_t kDigitalHardwareOffset = 192;

// The device-specific part of the record: 16 bytes at 188 (analog) or 24 at 192 (digital).
std::span<std::uint8_t> hardware_part(ChannelRecord& record);
std::span<const std::uint8_t> hardware_part(const ChannelRecord& record);

// The three split texts. A text is its parts joined in order up to the first NUL; a full
// part has no NUL of its own. Texts are bytes (Windows-1252 in stored files).
enum class ChannelText : std::uint8_t { Tag, Description, Units };

inline constexpr std::size_t kTagMax = 15;
inline constexpr std::size_t kDescriptionMax = 32;
inline constexpr std::size_t kUnitsMax = 8;

std::size_t text_max(ChannelText which);
// Offset of the text's first part in the record (0, 8 or 32).
std::size_t text_primary_offset(ChannelText which);
// The text whose first part starts at `offset`, if any.
std::optional<ChannelText> text_at_primary_offset(std::size_t offset);

// Both work on the bytes at the text's offsets whatever the record's kind; the units places
// hold the high state text in a digital record, so callers that do not know the layout use
// the chanrec_ functions below.
std::string join_text(const ChannelRecord& record, ChannelText which);
// Cuts the text at its first NUL and at the maximum; every part not reached is emptied.
void split_text(ChannelRecord& record, ChannelText which, std::string_view text);

// Lookup keys under which the error table finds a logger's status channel (at most 47
// characters): `kind_name` is the logger kind ("stand", "repub", "resub"...).
inline constexpr std::size_t kSourceKeyMax = 47;
std::string logger_source_key(std::string_view kind_name, std::string_view source);
std::string export_source_key(std::string_view kind_name, std::string_view source);

static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4);
static_assert(std::is_trivially_copyable_v<ChannelRecord> && std::is_standard_layout_v<ChannelRecord>);
static_assert(std::is_standard_layout_v<AnalogChannel> && std::is_standard_layout_v<DigitalChannel>);
static_assert(sizeof(ChannelKind) == 1 && sizeof(ChannelFlags) == 4);
static_assert(sizeof(ChannelHead) == 32);
static_assert(sizeof(AnalogChannel) == kChannelRecordSize);
static_assert(sizeof(DigitalChannel) == kChannelRecordSize);
static_assert(sizeof(ChannelRecord) == kChannelRecordSize);

static_assert(offsetof(ChannelHead, Tag) == 0);
static_assert(offsetof(ChannelHead, Description) == 8);
static_assert(offsetof(ChannelHead, Type) == 24);
static_assert(offsetof(ChannelHead, Reserved25) == 25);
static_assert(offsetof(ChannelHead, Flags) == 28);

static_assert(offsetof(AnalogChannel, Tag) == 0);
static_assert(offsetof(AnalogChannel, Description) == 8);
static_assert(offsetof(AnalogChannel, Type) == 24);
static_assert(offsetof(AnalogChannel, Reserved25) == 25);
static_assert(offsetof(AnalogChannel, Flags) == 28);
static_assert(offsetof(AnalogChannel, Units) == 32);
static_assert(offsetof(AnalogChannel, Gain) == 36);
static_assert(offsetof(AnalogChannel, Offset) == 40);
static_assert(offsetof(AnalogChannel, HighEventLimit) == 44);
static_assert(offsetof(AnalogChannel, LowEventLimit) == 48);
static_assert(offsetof(AnalogChannel, HighAlarmLimit) == 52);
static_assert(offsetof(AnalogChannel, HighAlarmDeadband) == 56);
static_assert(offsetof(AnalogChannel, LowAlarmLimit) == 60);
static_assert(offsetof(AnalogChannel, LowAlarmDeadband) == 64);
static_assert(offsetof(AnalogChannel, SigChangeValue) == 68);
static_assert(offsetof(AnalogChannel, HighAlarmPriority) == 72);
static_assert(offsetof(AnalogChannel, LowAlarmPriority) == 73);
static_assert(offsetof(AnalogChannel, HighAlarmText) == 74);
static_assert(offsetof(AnalogChannel, LowAlarmText) == 106);
static_assert(offsetof(AnalogChannel, Tag9) == 138);
static_assert(offsetof(AnalogChannel, Description17) == 142);
static_assert(offsetof(AnalogChannel, Tag13) == 158);
static_assert(offsetof(AnalogChannel, Units5) == 161);
static_assert(offsetof(AnalogChannel, ErrorAlarmPriority) == 165);
static_assert(offsetof(AnalogChannel, ErrorAlarmDelay) == 166);
static_assert(offsetof(AnalogChannel, MaximumUnits) == 168);
static_assert(offsetof(AnalogChannel, MinimumUnits) == 172);
static_assert(offsetof(AnalogChannel, HighWarningLimit) == 176);
static_assert(offsetof(AnalogChannel, LowWarningLimit) == 180);
static_assert(offsetof(AnalogChannel, HighAlarmDelay) == 184);
static_assert(offsetof(AnalogChannel, LowAlarmDelay) == 186);
static_assert(offsetof(AnalogChannel, Analogue) == kAnalogHardwareOffset);
static_assert(offsetof(AnalogChannel, Reserved204) == 204);

static_assert(offsetof(DigitalChannel, Tag) == 0);
static_assert(offsetof(DigitalChannel, Description) == 8);
static_assert(offsetof(DigitalChannel, Type) == 24);
static_assert(offsetof(DigitalChannel, Reserved25) == 25);
static_assert(offsetof(DigitalChannel, Flags) == 28);
static_assert(offsetof(DigitalChannel, HighStateText) == 32);
static_assert(offsetof(DigitalChannel, LowStateText) == 64);
static_assert(offsetof(DigitalChannel, AlarmPriority) == 96);
static_assert(offsetof(DigitalChannel, AlarmText) == 97);
static_assert(offsetof(DigitalChannel, Reserved129) == 129);
static_assert(offsetof(DigitalChannel, Tag9) == 138);
static_assert(offsetof(DigitalChannel, Description17) == 142);
static_assert(offsetof(DigitalChannel, Tag13) == 158);
static_assert(offsetof(DigitalChannel, Reserved161) == 161);
static_assert(offsetof(DigitalChannel, ErrorAlarmPriority) == 186);
static_assert(offsetof(DigitalChannel, Reserved187) == 187);
static_assert(offsetof(DigitalChannel, ErrorAlarmDelay) == 188);
static_assert(offsetof(DigitalChannel, AlarmDelay) == 190);
static_assert(offsetof(DigitalChannel, Digital) == kDigitalHardwareOffset);

}  // namespace qvr

// The system's own operations on the record. Joined texts and keys come back in buffers of
// each operation's own, valid until that operation is called again on the same thread.
// A null record gives "" (getters) or -1 with the invalid-argument code (setters); a null
// text counts as empty.
const char* chanrec_GetTag(const qvr::ChannelRecord* record);
const char* chanrec_GetDescription(const qvr::ChannelRecord* record);
// "" for a digital record, whose units places belong to the high state text.
const char* chanrec_GetUnits(const qvr::ChannelRecord* record);
int chanrec_SetTag(qvr::ChannelRecord* record, const char* text);
int chanrec_SetDescription(qvr::ChannelRecord* record, const char* text);
// A digital record has no units: it is left unchanged and the result is -1.
int chanrec_SetUnits(qvr::ChannelRecord* record, const char* text);

const char* chanrec_LoggerSourceKey(const char* kind_name, const char* source);
const char* chanrec_ExportSourceKey(const char* kind_name, const char* source);
