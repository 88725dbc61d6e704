#include "tolva_sc/saved_values.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/file_io.h"
#include "platform/file_save.h"
#include "platform/last_error.h"
#include "platform/unique_fd.h"
#include "qvr/settings/env.h"

namespace tolva {

namespace {

constexpr std::array<std::string_view, 5> kKindWords{"ai", "di", "ao", "do", "ci"};

bool enabled(const qvr::ChannelRecord& record) {
    return record.head.Flags.test(qvr::AnalogFlag::Enable);
}

bool digital_kind(int kind) {
    return (kind & 1) != 0;
}

// The image over the start of the file, saved whole: a crash leaves the old values or the new
// ones. What lies past the image (a table that had more channels) is kept.
int write_image(const std::string& path, std::span<const uint8_t> image) {
    const platform::FilePatch patch{0, image};
    return platform::save_file_patched(path, std::span(&patch, 1));
}

// Reads up to `max_records` whole records from offset 0. A file that ends inside a record
// was cut and is refused; one that ends at a record boundary was written for fewer
// channels (the table grew since) and gives the records it holds.
std::optional<size_t> read_records(const platform::UniqueFd& file, std::vector<uint8_t>& image,
                                   size_t record_size, size_t max_records) {
    image.assign(max_records * record_size, 0);
    const ssize_t n = platform::pread_all(file.get(), image, 0);
    if (n < 0) return std::nullopt;
    const size_t done = static_cast<size_t>(n);
    if (done % record_size != 0 || (done == 0 && max_records > 0)) {
        platform::fail(platform::kErrorHandleEof);
        return std::nullopt;
    }
    return done / record_size;
}

void put_u32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t get_u32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// A tag field of the files as a terminated text; the fields carry no NUL when full.
std::string field_text(const uint8_t* field, size_t size) {
    const auto* begin = reinterpret_cast<const char*>(field);
    return std::string(begin, std::find(begin, begin + size, '\0'));
}

// Tags compare without case over their 15 characters. A full 12-character field of the .bin
// file (read when no .tag file exists) holds the start of a longer tag.
bool same_tag(std::string_view saved, std::string_view tag, bool from_bin) {
    size_t n = std::min(saved.size(), qvr::kTagMax);
    size_t m = std::min(tag.size(), qvr::kTagMax);
    if (from_bin && n == kSavedTagPartSize) m = std::min(m, n);
    return n == m && platform::prefix_equal_ignoring_case(saved, tag, n);
}

void apply(uint32_t& target, uint32_t saved, bool digital) {
    target = digital ? ((target & ~1u) | (saved & 1u)) : saved;
}

std::vector<uint32_t> words_of(std::span<const float> values) {
    std::vector<uint32_t> w(values.size());
    std::transform(values.begin(), values.end(), w.begin(),
                   [](float v) { return std::bit_cast<uint32_t>(v); });
    return w;
}

}  // namespace

std::string_view kind_word(int kind) {
    if (kind < 0 || kind >= static_cast<int>(kKindWords.size())) return {};
    return kKindWords[static_cast<size_t>(kind)];
}

std::optional<SavedValuesFiles> saved_values_files(std::string_view config_name, int kind) {
    const std::string_view word = kind_word(kind);
    if (word.empty()) {
        platform::fail(EINVAL);
        return std::nullopt;
    }
    const char* folder = env_GetProductFolder("QVR_SAVED_VALUES");
    if (!folder || *folder == '\0') {
        if (errno == 0) platform::fail(platform::kErrorPathNotFound);
        return std::nullopt;
    }
    std::string base = std::string(folder);
    if (base.back() != '/') base += '/';
    base += config_name;
    base += '_';
    base += word;
    return SavedValuesFiles{base + ".bin", base + ".tag"};
}

int saved_values_write(std::string_view config_name, int kind, std::span<const uint32_t> values,
                       std::span<const qvr::ChannelRecord> records) {
    const auto files = saved_values_files(config_name, kind);
    if (!files) return -1;
    const size_t count = std::min(values.size(), records.size());
    std::vector<uint8_t> bin_image(count * kSavedRecordSize, 0);
    std::vector<uint8_t> tag_image(count * kSavedTagRecordSize, 0);
    for (size_t i = 0; i < count; ++i) {
        uint8_t* b = bin_image.data() + i * kSavedRecordSize;
        uint8_t* t = tag_image.data() + i * kSavedTagRecordSize;
        if (enabled(records[i])) {
            const std::string text = qvr::join_text(records[i], qvr::ChannelText::Tag);
            std::memcpy(b, text.data(), std::min(text.size(), kSavedTagPartSize));
            std::memcpy(t, text.data(), std::min(text.size(), kSavedTagRecordSize));
        }
        put_u32(b + kSavedTagPartSize, values[i]);
    }
    if (write_image(files->bin, bin_image) != 0 || write_image(files->tag, tag_image) != 0) return -1;
    return count == 0 ? 0 : static_cast<int>(kSavedTagRecordSize);
}

int saved_values_write(std::string_view config_name, int kind, std::span<const float> values,
                       std::span<const qvr::ChannelRecord> records) {
    const std::vector<uint32_t> words = words_of(values);
    return saved_values_write(config_name, kind, std::span<const uint32_t>(words), records);
}

int saved_values_read(std::string_view config_name, int kind, bool by_tag, std::span<uint32_t> values,
                      std::span<const qvr::ChannelRecord> records) {
    const auto files = saved_values_files(config_name, kind);
    if (!files) return -1;
    const platform::UniqueFd bin = platform::open_file(files->bin, O_RDONLY);
    if (!bin) return -1;
    const size_t channels = std::min(values.size(), records.size());
    const bool digital = digital_kind(kind);
    std::vector<uint8_t> bin_image;
    const auto bin_records = read_records(bin, bin_image, kSavedRecordSize, channels);
    if (!bin_records) return -1;
    // Everything goes into a copy first: the values change only when every record was read.
    std::vector<uint32_t> restored(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(channels));
    size_t count = *bin_records;

    if (!by_tag) {
        for (size_t i = 0; i < count; ++i) {
            apply(restored[i], get_u32(bin_image.data() + i * kSavedRecordSize + kSavedTagPartSize), digital);
        }
        std::copy(restored.begin(), restored.end(), values.begin());
        return channels == 0 ? 0 : 4;
    }

    std::vector<uint8_t> tag_image;
    const platform::UniqueFd tag = platform::open_file(files->tag, O_RDONLY);
    if (tag) {
        const auto tag_records = read_records(tag, tag_image, kSavedTagRecordSize, count);
        if (!tag_records) return -1;
        count = std::min(count, *tag_records);
    }
    std::vector<std::string> tags(channels);
    for (size_t i = 0; i < channels; ++i) {
        if (enabled(records[i])) tags[i] = qvr::join_text(records[i], qvr::ChannelText::Tag);
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* b = bin_image.data() + i * kSavedRecordSize;
        const std::string saved =
            tag.valid() ? field_text(tag_image.data() + i * kSavedTagRecordSize, kSavedTagRecordSize)
                          : field_text(b, kSavedTagPartSize);
        if (saved.empty()) continue;
        const uint32_t value = get_u32(b + kSavedTagPartSize);
        size_t target = channels;
        if (!tags[i].empty() && same_tag(saved, tags[i], !tag.valid())) {
            target = i;
        } else {
            for (size_t k = 0; k < channels; ++k) {
                if (!tags[k].empty() && same_tag(saved, tags[k], !tag.valid())) {
                    target = k;
                    break;
                }
            }
        }
        if (target < channels) apply(restored[target], value, digital);
    }
    std::copy(restored.begin(), restored.end(), values.begin());
    if (channels == 0) return 0;
    return tag.valid() ? static_cast<int>(kSavedTagRecordSize) : static_cast<int>(kSavedRecordSize);
}

int saved_values_read(std::string_view config_name, int kind, bool by_tag, std::span<float> values,
                      std::span<const qvr::ChannelRecord> records) {
    std::vector<uint32_t> words = words_of(values);
    const int rc = saved_values_read(config_name, kind, by_tag, std::span<uint32_t>(words), records);
    if (rc < 0) return rc;
    std::transform(words.begin(), words.end(), values.begin(),
                   [](uint32_t w) { return std::bit_cast<float>(w); });
    return rc;
}

int save_changed_values(bool& changed, std::string_view config_name, int kind,
                        std::span<const uint32_t> values, std::span<const qvr::ChannelRecord> records) {
    if (!changed) return 0;
    const int rc = saved_values_write(config_name, kind, values, records);
    if (rc >= 0) changed = false;
    return rc;
}

int save_changed_values(bool& changed, std::string_view config_name, int kind, std::span<const float> values,
                        std::span<const qvr::ChannelRecord> records) {
    if (!changed) return 0;
    const int rc = saved_values_write(config_name, kind, values, records);
    if (rc >= 0) changed = false;
    return rc;
}

}  // namespace tolva
