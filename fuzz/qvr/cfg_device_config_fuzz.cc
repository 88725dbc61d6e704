// A device's settings files as other programs, people and crashes leave them: "config",
// "saveconfig" and the extra file of any length and content, or any "config.xml", loaded
// into records of any size. A failed load always says why; a binary load gives the file's
// bytes zero-extended; settings that load are saved again (with the audit on) and, in
// records of the plug-in's sizes, load again the same.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cfg_fuzz_folder.h"
#include "qvr/config/cfg_device_config.h"

namespace {

struct Loaded {
    std::vector<std::uint8_t> record;
    std::vector<std::uint8_t> extra;
    std::uint8_t auto_enable = 0, save_outputs = 0, save_by_tag = 0;
    std::int32_t save_rate = 0;
    bool operator==(const Loaded&) const = default;
};

int load(const std::string& dir, Loaded& l, std::size_t size, std::size_t extra_size) {
    l.record.assign(size, 0xA5);
    l.extra.assign(extra_size, 0xA5);
    return cfg_LoadDeviceConfig(dir.c_str(), l.record.data(), static_cast<int32_t>(size), l.extra.data(),
                                static_cast<int32_t>(extra_size), "extra.bin", &l.auto_enable,
                                &l.save_outputs, &l.save_by_tag, &l.save_rate);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const cfg_fuzz::Folders& f = cfg_fuzz::folders();
    const std::uint32_t mode = cfg_fuzz::take(data, size, 1);
    const std::size_t record_size = cfg_fuzz::take(data, size, 2) % 2048;
    const std::size_t extra_size = cfg_fuzz::take(data, size, 1);
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const bool xml = (mode & 1) != 0;
    const std::string& dir = xml ? f.xml : f.binary;
    std::filesystem::remove(f.root / "CURRENT_CONFIG" / "recent_history.txt");
    if (xml) {
        cfg_fuzz::only_file(dir, "config.xml", file);
    } else {
        cfg_fuzz::only_file(dir, "config", file);
        cfg_fuzz::write_file(dir, "saveconfig",
                             file.substr(0, std::min<std::size_t>(file.size(), (mode >> 4) % 8)));
        cfg_fuzz::write_file(dir, "extra.bin", file.substr(file.size() / 2));
    }

    Loaded first;
    errno = 0;
    const int rc = load(dir, first, record_size, extra_size);
    if (rc != 0 && rc != -1) __builtin_trap();
    if (rc == -1 && errno == 0) __builtin_trap();  // a failure must say why
    if (rc != 0) return 0;
    if (!xml) {
        for (std::size_t i = 0; i < record_size; ++i) {
            const std::uint8_t expected = i + 1 < file.size() ? static_cast<std::uint8_t>(file[i + 1]) : 0;
            if (first.record[i] != expected) __builtin_trap();
        }
    }
    if ((mode & 2) != 0) {
        audit_SetEnabled(1);
        const int saved = cfg_SaveDeviceConfig(
            "fuzz", dir.c_str(), first.record.data(), static_cast<int32_t>(record_size), first.extra.data(),
            static_cast<int32_t>(extra_size), "extra.bin", &first.auto_enable, &first.save_outputs,
            &first.save_by_tag, &first.save_rate);
        audit_SetEnabled(0);
        if (saved != 0) __builtin_trap();  // what loaded can be saved over itself
        // The test plug-in converts only records and extra records of its own sizes or more;
        // a shorter one is saved with zeros for the fields it does not hold, which need not
        // be values its description can read back (an enumeration without a zero).
        const bool whole = !xml || (record_size >= 24 && extra_size >= 16);
        Loaded again;
        errno = 0;
        const int reloaded = load(dir, again, record_size, extra_size);
        if (reloaded == -1 && errno == 0) __builtin_trap();
        if (whole && reloaded != 0) __builtin_trap();
        if (whole && !(again == first)) __builtin_trap();
    }
    return 0;
}
