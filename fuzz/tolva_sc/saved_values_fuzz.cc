// Saved-values files as crashes, full disks and hand edits leave them, read back into a table
// of channels with tags from the input: a read either fails and leaves every value as it
// was, or changes only what a record of the files holds; digital kinds change bit 0 only.
//
// Input: kind byte (bit 0 digital), by-tag byte, channel count byte, .bin length (2 bytes),
// then the .bin bytes, the rest the .tag file (absent when the by-tag byte's bit 1 is set).
// Channel i is disabled when bit 4 + i % 4 of the by-tag byte is set, and
// its tag is "T<i % 7>" so that tags repeat.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qvr/records/channel_record.h"
#include "tolva_sc/saved_values.h"

namespace {

namespace fs = std::filesystem;

// The files live in a folder of their own, removed when the process ends.
struct Folder {
    Folder() : path(fs::temp_directory_path() / ("saved_values_fuzz." + std::to_string(::getpid()))) {
        fs::create_directories(path);
        ::setenv("QVR_SAVED_VALUES", path.c_str(), 1);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

const fs::path& folder() {
    static const Folder dir;
    return dir.path;
}

void write_file(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const fs::path& dir = folder();
    const int kind = data[0] % 4;
    const bool digital = (kind & 1) != 0;
    const bool by_tag = (data[1] & 1) != 0;
    const bool no_tag_file = (data[1] & 2) != 0;
    const size_t channels = data[2] % 64;
    const size_t bin_size = std::min<size_t>(static_cast<size_t>(data[3] | data[4] << 8), size - 5);
    const uint8_t* bin = data + 5;
    const uint8_t* tag = bin + bin_size;
    const size_t tag_size = size - 5 - bin_size;

    const std::string base = std::string("F_") + std::string(tolva::kind_word(kind));
    write_file(dir / (base + ".bin"), bin, bin_size);
    fs::remove(dir / (base + ".tag"));
    if (!no_tag_file) write_file(dir / (base + ".tag"), tag, tag_size);

    std::vector<qvr::ChannelRecord> records(channels);
    std::vector<uint32_t> before(channels);
    for (size_t i = 0; i < channels; ++i) {
        records[i].head.Type = static_cast<qvr::ChannelKind>(kind);
        records[i].head.Flags.set(qvr::AnalogFlag::Enable, ((data[1] >> (4 + i % 4)) & 1) == 0);
        qvr::split_text(records[i], qvr::ChannelText::Tag, "T" + std::to_string(i % 7));
        before[i] = 0x5A5A0000u | static_cast<uint32_t>(i);
    }
    std::vector<uint32_t> values = before;
    const int rc = tolva::saved_values_read("F", kind, by_tag, std::span<uint32_t>(values), records);
    if (rc < 0) {
        if (values != before) __builtin_trap();  // a failed read changes nothing
        return 0;
    }
    const size_t held = bin_size / tolva::kSavedRecordSize;
    for (size_t i = 0; i < channels; ++i) {
        if (digital && (values[i] & ~1u) != (before[i] & ~1u)) __builtin_trap();
        if (!by_tag && i >= held && values[i] != before[i]) __builtin_trap();
    }
    return 0;
}
