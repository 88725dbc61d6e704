// A record as read from a file or shared memory, and a text for one of its leaves as read
// from a configuration file. Input: description selector, leaf selector, record bytes (as
// many as the record has), then the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "qvr/records/channel_record_types.h"
#include "tolva_ex/record_types.h"
#include "tslib/typed_mem.h"

namespace {

constexpr const char* kMtype = "record_texts_fuzz";

void check(bool ok) {
    if (!ok) std::abort();
}

struct Span {
    std::size_t begin;
    std::size_t end;
};

const StructsType* const kTypes[] = {&qvr::AnalogChannelType, &qvr::DigitalChannelType,
                                     &tolva::DeviceConfigRecordType, &tolva::ChannelHwRecordType};

const StructsField* fields_of(const StructsType* type) {
    return static_cast<const StructsField*>(type->args[0].v);
}

std::size_t field_count(const StructsType* type) {
    std::size_t n = 0;
    while (fields_of(type)[n].name != nullptr) ++n;
    return n;
}

// The bytes a leaf may change.
std::vector<Span> footprint(const StructsField& f) {
    const std::string_view family = f.type->name;
    if (family == "bitfield") return {{qvr::kFlagsOffset, qvr::kFlagsOffset + 4}};
    if (family == "chanconfignstring") {
        switch (*qvr::text_at_primary_offset(f.offset)) {
            case qvr::ChannelText::Tag:
                return {{0, 8}, {138, 142}, {158, 161}};
            case qvr::ChannelText::Description:
                return {{8, 24}, {142, 158}};
            case qvr::ChannelText::Units:
                return {{32, 36}, {161, 165}};
        }
    }
    return {{f.offset, std::size_t{f.offset} + f.size}};
}

bool inside(const std::vector<Span>& spans, std::size_t i) {
    return std::any_of(spans.begin(), spans.end(), [i](const Span& s) { return i >= s.begin && i < s.end; });
}

std::string text_of(const StructsType* type, const char* name, const void* record) {
    char* text = structs_get_field_text(type, name, record, kMtype);
    check(text != nullptr);
    std::string out(text);
    typed_mem_release(kMtype, text);
    return out;
}

bool set_text(const StructsType* type, const char* name, const std::string& text, void* record) {
    char ebuf[256];
    const bool ok = structs_set_field_text(type, name, text.c_str(), record, ebuf, sizeof ebuf) == 0;
    check(ok || ebuf[0] != '\0');
    return ok;
}

// Every text a leaf shows is read back into the same bytes' text, except the name of an
// unlisted enumeration value and the texts of floats a float field cannot be set to
// (subnormal and infinite values).
void every_leaf_reads_back(const StructsType* type, const std::vector<std::uint8_t>& record) {
    for (const StructsField* f = fields_of(type); f->name != nullptr; ++f) {
        const std::string text = text_of(type, f->name, record.data());
        std::vector<std::uint8_t> copy = record;
        if (!set_text(type, f->name, text, copy.data())) {
            check(text == "INVALID" || std::string_view(f->type->name) == "float");
            continue;
        }
        check(text_of(type, f->name, copy.data()) == text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const StructsType* type = kTypes[data[0] % std::size(kTypes)];
    const StructsField& field = fields_of(type)[data[1] % field_count(type)];
    data += 2;
    size -= 2;

    std::vector<std::uint8_t> record(type->size, 0);
    const std::size_t taken = std::min<std::size_t>(size, record.size());
    std::memcpy(record.data(), data, taken);
    const std::string text(reinterpret_cast<const char*>(data) + taken, size - taken);

    every_leaf_reads_back(type, record);

    std::vector<std::uint8_t> after = record;
    const bool ok = set_text(type, field.name, text, after.data());
    const auto spans = footprint(field);
    for (std::size_t i = 0; i < record.size(); ++i) {
        check(record[i] == after[i] || (ok && inside(spans, i)));
    }
    if (ok) {
        // What a set text shows sets the same bytes again.
        std::vector<std::uint8_t> again = after;
        check(set_text(type, field.name, text_of(type, field.name, after.data()), again.data()));
        check(again == after);
    }
    return 0;
}
