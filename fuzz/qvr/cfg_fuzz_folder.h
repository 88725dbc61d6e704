#pragma once
// The configuration tree the configuration file fuzz targets write their inputs into: its
// own registry folder with the XML switches on, a device folder bound to the real plug-in
// (binary files) and one bound to the full test plug-in (XML files).
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_temp_folder.h"
#include "platform/dynamic_library.h"
#include "platform/registry_key.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/settings/reg.h"
#include "qvr/diag/sink.h"
#include "qvr/testing/sink_testing.h"

namespace cfg_fuzz {

struct Folders {
    std::filesystem::path root;
    std::string binary;  // ".../CURRENT_CONFIG/tolva_1"
    std::string xml;     // ".../CURRENT_CONFIG/fzall_1"
};

inline const Folders& folders() {
    static const Folders f = [] {
        // Failures the targets provoke on purpose would flood the message sink.
        qvr::set_sink_capture([](const qvr::SinkEntry&) {});
        Folders made;
        made.root = fuzz_support::process_folder("/tmp/cfgfuzz.XXXXXX");
        const auto config = made.root / "CURRENT_CONFIG";
        std::filesystem::create_directories(config / "tolva_1");
        std::filesystem::create_directories(config / "fzall_1");
        std::filesystem::create_directories(made.root / "registry");
        setenv("BREVANTIC_REGISTRY_DIR", (made.root / "registry").c_str(), 1);
        setenv("QVR_CURRENT_CONFIG", config.c_str(), 1);
        platform::RegistryKey key;
        if (platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                          platform::kKeyAllAccess, key) != 0 ||
            key.set_string("ReadXML", "ON") != 0 || key.set_string("WriteXML", "XML") != 0)
            __builtin_trap();
        // The plug-ins stay loaded: the fuzzer keeps the coverage counters of every library
        // it has seen, and one unloaded after each operation would take them away.
        const std::filesystem::path bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();
        for (const char* plugin : {"tolva_ex.so", "fzall_ex.so"})
            platform::library_open((bin / plugin).string());
        made.binary = (config / "tolva_1").string();
        made.xml = (config / "fzall_1").string();
        return made;
    }();
    return f;
}

// The folder holds exactly the one file given.
inline void only_file(const std::string& folder, const std::string& name, std::string_view bytes) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        std::filesystem::remove_all(entry.path());
    std::ofstream(std::filesystem::path(folder) / name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void write_file(const std::string& folder, const std::string& name, std::string_view bytes) {
    std::ofstream(std::filesystem::path(folder) / name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t take(const std::uint8_t*& data, std::size_t& size, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes && size > 0; ++i, ++data, --size)
        value |= static_cast<std::uint32_t>(*data) << (8 * i);
    return value;
}

}  // namespace cfg_fuzz
