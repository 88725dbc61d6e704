// Channel tables as other programs, people and crashes leave them: a binary table or an XML
// table of any length and content, loaded for any range (huge first channels and counts
// included). A failed load always says why; a binary load gives the file's bytes; a table
// that loads is saved again (with the audit on) and loads again.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cfg_fuzz_folder.h"
#include "qvr/config/cfg_channel_tables.h"

constexpr int kMaxCount = 4096;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const cfg_fuzz::Folders& f = cfg_fuzz::folders();
    const int kind = static_cast<int>(cfg_fuzz::take(data, size, 1) % 7);
    const std::uint32_t mode = cfg_fuzz::take(data, size, 1);
    const int count = static_cast<int>(cfg_fuzz::take(data, size, 2) % (kMaxCount + 1));
    std::uint32_t first_word = cfg_fuzz::take(data, size, 4);
    // Mostly small first channels, sometimes anywhere up to the largest.
    const int first =
        static_cast<int>((mode & 4) != 0 ? first_word % (0x7fffffffu - kMaxCount) : first_word % 64);
    const int extra_size = static_cast<int>(cfg_fuzz::take(data, size, 2) % 4096);
    const std::string_view file(reinterpret_cast<const char*>(data), size);

    const bool xml = (mode & 1) != 0;
    const std::string& dir = xml ? f.xml : f.binary;
    const std::string word = cfg_ChannelKindName(kind);
    cfg_fuzz::only_file(dir, xml ? word + ".xml" : word, file);
    std::filesystem::remove(f.root / "CURRENT_CONFIG" / "recent_history.txt");

    std::vector<qvr::ChannelRecord> records(static_cast<std::size_t>(count));
    std::vector<std::uint8_t> extra(static_cast<std::size_t>(extra_size));
    errno = 0;
    const int rc = cfg_LoadChannels(dir.c_str(), kind, records.data(), first, count, extra.data(), extra_size,
                                    "extra.bin");
    if (rc != 0 && rc != -1) __builtin_trap();
    if (rc == -1 && errno == 0) __builtin_trap();  // a failure must say why
    if (!xml && rc == 0) {
        const std::uint64_t at = 8 + static_cast<std::uint64_t>(first) * 216;
        const std::uint64_t bytes = static_cast<std::uint64_t>(count) * 216;
        if (bytes > 0 && at + bytes > file.size()) __builtin_trap();  // a short table fails
        if (bytes > 0 && std::memcmp(records.data(), file.data() + at, bytes) != 0) __builtin_trap();
    }
    // Diagnostics tables (kinds 5 and 6) give missing channels their own kind, which the
    // channel description has no text for, so an XML save of them is refused by design.
    const bool typed_kind = kind <= 4;
    if (rc == 0 && (mode & 2) != 0 && count > 0 && first < 2000 && (typed_kind || !xml)) {
        audit_SetEnabled(1);
        const int saved = cfg_SaveChannelsUpdate("fuzz", dir.c_str(), kind, records.data(), first, count,
                                                 extra.data(), extra_size, "extra.bin");
        audit_SetEnabled(0);
        if (saved != 0) __builtin_trap();  // what loaded can be saved over itself
        std::vector<qvr::ChannelRecord> again(static_cast<std::size_t>(count));
        if (cfg_LoadChannels(dir.c_str(), kind, again.data(), first, count, nullptr, 0, nullptr) != 0)
            __builtin_trap();
        if (!xml &&
            std::memcmp(again.data(), records.data(), records.size() * sizeof(qvr::ChannelRecord)) != 0)
            __builtin_trap();
    }
    return 0;
}
