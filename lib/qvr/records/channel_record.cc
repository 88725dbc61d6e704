#include "qvr/records/channel_record.h"

#include <algorithm>

#include "platform/ascii_text.h"
#include "platform/last_error.h"

namespace qvr {
namespace {

struct TextPart {
    std::size_t offset;
    std::size_t size;
};

struct TextLayout {
    std::array<TextPart, 3> parts;
    std::size_t count;
};

constexpr TextLayout kTagLayout{{{{0, 8}, {138, 4}, {158, 3}}}, 3};
constexpr TextLayout kDescriptionLayout{{{{8, 16}, {142, 16}, {0, 0}}}, 2};
constexpr TextLayout kUnitsLayout{{{{32, 4}, {161, 4}, {0, 0}}}, 2};

constexpr const TextLayout& layout_of(ChannelText which) {
    switch (which) {
        case ChannelText::Tag:
            return kTagLayout;
        case ChannelText::Description:
            return kDescriptionLayout;
        case ChannelText::Units:
            break;
    }
    return kUnitsLayout;
}

constexpr std::size_t layout_total(const TextLayout& layout) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < layout.count; ++i) total += layout.parts[i].size;
    return total;
}
static_assert(layout_total(kTagLayout) == kTagMax);
static_assert(layout_total(kDescriptionLayout) == kDescriptionMax);
static_assert(layout_total(kUnitsLayout) == kUnitsMax);
static_assert(kTagLayout.parts[1].offset == offsetof(AnalogChannel, Tag9));
static_assert(kTagLayout.parts[2].offset == offsetof(DigitalChannel, Tag13));
static_assert(kDescriptionLayout.parts[1].offset == offsetof(AnalogChannel, Description17));
static_assert(kUnitsLayout.parts[1].offset == offsetof(AnalogChannel, Units5));

std::string_view up_to_nul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// A text field printed at most `precision` wide but never narrower than one character.
void append_field(std::string& out, std::string_view text, std::size_t precision) {
    text = text.substr(0, precision);
    if (text.empty()) {
        out.push_back(' ');
    } else {
        out.append(text);
    }
}

// The parts of a resubscriber's source name, which is "<prefix>_p1_p2_p3_p4[_c...]".
struct ResubParts {
    std::string_view part1, part2, part3, part4;
    std::optional<char> last;
};

std::optional<ResubParts> split_resub_source(std::string_view source) {
    std::array<std::size_t, 5> bar{};
    std::size_t found = 0;
    for (std::size_t i = 0; i < source.size() && found < bar.size(); ++i) {
        if (source[i] == '_') bar[found++] = i;
    }
    if (found < 4) return std::nullopt;
    auto between = [&](std::size_t from, std::size_t to) { return source.substr(from + 1, to - from - 1); };
    ResubParts parts;
    parts.part1 = between(bar[0], bar[1]);
    parts.part2 = between(bar[1], bar[2]);
    parts.part3 = between(bar[2], bar[3]);
    parts.part4 = between(bar[3], found == 5 ? bar[4] : source.size());
    if (found == 5 && bar[4] + 1 < source.size()) parts.last = source[bar[4] + 1];
    return parts;
}

}  // namespace

std::optional<std::string_view> channel_kind_name(ChannelKind kind) {
    for (const auto& entry : kChannelKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return std::nullopt;
}

std::optional<ChannelKind> channel_kind_from_name(std::string_view name) {
    for (const auto& entry : kChannelKindNames) {
        if (entry.name == name) return entry.kind;
    }
    return std::nullopt;
}

std::string_view flag_text(const ChannelFlags& flags, unsigned bit_number, const FlagWords& words) {
    return flags.test(bit_number) ? words.on : words.off;
}

std::optional<bool> parse_flag_text(std::string_view text, const FlagWords& words) {
    if (text == words.off) return false;
    if (text == words.on) return true;
    return std::nullopt;
}

std::span<std::uint8_t> hardware_part(ChannelRecord& record) {
    if (is_digital(record.head.Type)) return std::span<std::uint8_t>(record.digital.Digital);
    return std::span<std::uint8_t>(record.analog.Analogue);
}

std::span<const std::uint8_t> hardware_part(const ChannelRecord& record) {
    if (is_digital(record.head.Type)) return std::span<const std::uint8_t>(record.digital.Digital);
    return std::span<const std::uint8_t>(record.analog.Analogue);
}

std::size_t text_max(ChannelText which) {
    return layout_total(layout_of(which));
}

std::size_t text_primary_offset(ChannelText which) {
    return layout_of(which).parts[0].offset;
}

std::optional<ChannelText> text_at_primary_offset(std::size_t offset) {
    for (ChannelText which : {ChannelText::Tag, ChannelText::Description, ChannelText::Units}) {
        if (text_primary_offset(which) == offset) return which;
    }
    return std::nullopt;
}

std::string join_text(const ChannelRecord& record, ChannelText which) {
    const TextLayout& layout = layout_of(which);
    std::string text;
    for (std::size_t i = 0; i < layout.count; ++i) {
        const auto* part = reinterpret_cast<const char*>(record.bytes + layout.parts[i].offset);
        const std::string_view bytes(part, layout.parts[i].size);
        const std::size_t nul = bytes.find('\0');
        text.append(bytes.substr(0, nul));
        if (nul != std::string_view::npos) break;
    }
    return text;
}

void split_text(ChannelRecord& record, ChannelText which, std::string_view text) {
    const TextLayout& layout = layout_of(which);
    text = up_to_nul(text).substr(0, layout_total(layout));
    std::size_t start = 0;
    for (std::size_t i = 0; i < layout.count; ++i) {
        const TextPart& part = layout.parts[i];
        std::uint8_t* dest = record.bytes + part.offset;
        // A part wholly zeroed rather than only its first byte, so that equal texts give
        // equal records.
        std::memset(dest, 0, part.size);
        if (start < text.size()) {
            const std::size_t n = std::min(part.size, text.size() - start);
            std::memcpy(dest, text.data() + start, n);
        }
        start += part.size;
    }
}

std::string logger_source_key(std::string_view kind_name, std::string_view source) {
    source = up_to_nul(source);
    if (source.size() <= kTagMax) return std::string(source);
    if (platform::starts_with_ignoring_case(up_to_nul(kind_name), "resub")) {
        if (const auto parts = split_resub_source(source)) {
            // The first 15 characters are compared with a tag, the rest with a description.
            std::string key;
            append_field(key, parts->part1, 2);
            key.push_back('_');
            append_field(key, parts->part2, 12);
            key.resize(kTagMax, ' ');
            key.push_back('_');
            if (parts->last) {
                append_field(key, parts->part3, 14);
                key.push_back('_');
                append_field(key, parts->part4, 14);
                key.push_back('_');
                key.push_back(*parts->last);
            } else {
                append_field(key, parts->part3, 15);
                key.push_back('_');
                append_field(key, parts->part4, 15);
            }
            return key;
        }
    }
    return std::string(source.substr(0, kSourceKeyMax));
}

std::string export_source_key(std::string_view kind_name, std::string_view source) {
    std::string key = "EXP " + logger_source_key(kind_name, source);
    key.resize(std::min(key.size(), kSourceKeyMax));
    return key;
}

}  // namespace qvr

namespace {
template <std::size_t N>
const char* into_buffer(std::array<char, N>& buffer, std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), n, buffer.begin());
    buffer[n] = '\0';
    return buffer.data();
}

std::string_view or_empty(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

thread_local std::array<char, qvr::kTagMax + 1> t_tag;
thread_local std::array<char, qvr::kDescriptionMax + 1> t_description;
thread_local std::array<char, qvr::kUnitsMax + 1> t_units;
thread_local std::array<char, qvr::kSourceKeyMax + 1> t_logger_key;
thread_local std::array<char, qvr::kSourceKeyMax + 1> t_export_key;

int set_text(qvr::ChannelRecord* record, qvr::ChannelText which, const char* text) {
    if (record == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    qvr::split_text(*record, which, or_empty(text));
    return 0;
}
}  // namespace

const char* chanrec_GetTag(const qvr::ChannelRecord* record) {
    if (record == nullptr) return into_buffer(t_tag, {});
    return into_buffer(t_tag, qvr::join_text(*record, qvr::ChannelText::Tag));
}

const char* chanrec_GetDescription(const qvr::ChannelRecord* record) {
    if (record == nullptr) return into_buffer(t_description, {});
    return into_buffer(t_description, qvr::join_text(*record, qvr::ChannelText::Description));
}

const char* chanrec_GetUnits(const qvr::ChannelRecord* record) {
    if (record == nullptr || qvr::is_digital(record->head.Type)) return into_buffer(t_units, {});
    return into_buffer(t_units, qvr::join_text(*record, qvr::ChannelText::Units));
}

int chanrec_SetTag(qvr::ChannelRecord* record, const char* text) {
    return set_text(record, qvr::ChannelText::Tag, text);
}

int chanrec_SetDescription(qvr::ChannelRecord* record, const char* text) {
    return set_text(record, qvr::ChannelText::Description, text);
}

int chanrec_SetUnits(qvr::ChannelRecord* record, const char* text) {
    if (record != nullptr && qvr::is_digital(record->head.Type)) {
        return platform::fail(platform::kErrorInvalidArgument);
    }
    return set_text(record, qvr::ChannelText::Units, text);
}

const char* chanrec_LoggerSourceKey(const char* kind_name, const char* source) {
    return into_buffer(t_logger_key, qvr::logger_source_key(or_empty(kind_name), or_empty(source)));
}

const char* chanrec_ExportSourceKey(const char* kind_name, const char* source) {
    return into_buffer(t_export_key, qvr::export_source_key(or_empty(kind_name), or_empty(source)));
}
