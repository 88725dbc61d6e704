// A record built from any DATA row a server may hand back: any number of columns of any type,
// any header layout, extra columns and record sizes. Nothing is written outside the record and
// the extra slots, and a record built has its marker.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "log_stores/db_store/record_from_row.h"
#include "log_stores/run_file/run_file_format.h"

namespace {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    int32_t i32() {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v = (v << 8) | byte();
        return static_cast<int32_t>(v);
    }
    bool more() const { return at_ < size_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

ado::Variant value(Input& in) {
    switch (in.byte() % 7) {
        case 0:
            return ado::Variant::null();
        case 1:
            return ado::Variant::i4(in.i32());
        case 2: {
            const int32_t bits = in.i32();
            float f;
            std::memcpy(&f, &bits, 4);
            return ado::Variant::r4(f);
        }
        case 3:
            return ado::Variant::r8(static_cast<double>(in.i32()) * 1e-3);
        case 4: {
            std::u16string text;
            for (int n = in.byte() % 8; n > 0; --n) text.push_back(static_cast<char16_t>(in.byte()));
            return ado::Variant::text(text);
        }
        case 5:
            return ado::Variant::date(ado::DateValue{static_cast<int64_t>(in.i32()) * 7, 0});
        default:
            return ado::Variant::boolean(in.byte() & 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    log_stores::LogHeader h{};
    h.sigChange = in.byte() & 1;
    h.blockCount = static_cast<uint16_t>(in.byte() % 5);
    int32_t offset = 16;
    for (size_t b = 0; b < h.blockCount; ++b) {
        auto& block = h.blocks[b];
        block.firstChannel = static_cast<uint16_t>(in.byte());
        block.lastChannel = static_cast<uint16_t>(block.firstChannel + in.byte() % 12 - 2);
        block.blockKind = 8;
        block.recordOffset = static_cast<uint16_t>(in.byte() & 1 ? offset : in.byte() * 3);
        offset += 8 * static_cast<int32_t>(block.channel_count());
    }
    h.recordSize = offset;
    const size_t extra = in.byte() % 4;
    const bool star = in.byte() & 1;
    const size_t bytes = in.byte() & 1 ? static_cast<size_t>(offset) : in.byte() % 64;
    std::vector<ado::Variant> row;
    while (in.more() && row.size() < 200) row.push_back(value(in));
    std::vector<uint8_t> out(bytes + 8 * extra + 16, 0xAB);
    const std::span<uint8_t> all(out.data(), bytes + 8 * extra);
    const char* failure =
        log_stores::db_store::record_from_row(h, row, extra, star, all.first(bytes), all.subspan(bytes));
    for (size_t k = bytes + 8 * extra; k < out.size(); ++k)
        if (out[k] != 0xAB) __builtin_trap();
    if (!failure && bytes >= 2 && (out[0] | out[1] << 8) != log_stores::run_file::kRecordMarker) __builtin_trap();
    return 0;
}
