// A channel record read from a file or shared memory, followed by a logger kind and a
// source name as the host's logger table holds them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "qvr/records/channel_record.h"
#include "tolva_ex/records.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void texts_round_trip(const qvr::ChannelRecord& record) {
    for (auto which : {qvr::ChannelText::Tag, qvr::ChannelText::Description, qvr::ChannelText::Units}) {
        const std::string text = qvr::join_text(record, which);
        check(text.size() <= qvr::text_max(which));
        check(text.find('\0') == std::string::npos);
        qvr::ChannelRecord copy = record;
        qvr::split_text(copy, which, text);
        check(qvr::join_text(copy, which) == text);
    }
    check(std::strlen(chanrec_GetTag(&record)) <= qvr::kTagMax);
    check(std::strlen(chanrec_GetDescription(&record)) <= qvr::kDescriptionMax);
    check(std::strlen(chanrec_GetUnits(&record)) <= qvr::kUnitsMax);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvr::ChannelRecord record{};
    std::memcpy(record.bytes, data, std::min(size, qvr::kChannelRecordSize));
    texts_round_trip(record);

    qvr::ChannelRecord undecorated = record;
    check(tolva::undecorate_channel_record(undecorated.bytes));
    const auto before = tolva::read_channel_hw(record.bytes);
    const auto after = tolva::read_channel_hw(undecorated.bytes);
    check(before && after && before->MnemonicNumber == after->MnemonicNumber);

    if (size > qvr::kChannelRecordSize) {
        const std::string_view rest(reinterpret_cast<const char*>(data) + qvr::kChannelRecordSize,
                                    size - qvr::kChannelRecordSize);
        const std::size_t cut = std::min(rest.find('\n'), rest.size());
        const std::string_view kind = rest.substr(0, cut);
        const std::string_view source = cut < rest.size() ? rest.substr(cut + 1) : std::string_view();
        check(qvr::logger_source_key(kind, source).size() <= qvr::kSourceKeyMax);
        check(qvr::export_source_key(kind, source).size() <= qvr::kSourceKeyMax);
    }
    return 0;
}
