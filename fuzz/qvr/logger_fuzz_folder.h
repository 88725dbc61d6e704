#pragma once
// The loggers' folder the logger file fuzz targets write their inputs into: its own
// registry folder with the XML switches on and the audit switch preset.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "fuzz_temp_folder.h"
#include "platform/registry_key.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/diag/sink.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/sink_testing.h"

namespace logger_fuzz {

inline const std::string& loggers_folder() {
    static const std::string folder = [] {
        // Failures the targets provoke on purpose would flood the message sink.
        qvr::set_sink_capture([](const qvr::SinkEntry&) {});
        const std::filesystem::path root = fuzz_support::process_folder("/tmp/loggerfuzz.XXXXXX");
        const auto config = root / "CURRENT_CONFIG";
        std::filesystem::create_directories(config / "LOGGERS");
        std::filesystem::create_directories(root / "registry");
        setenv("BREVANTIC_REGISTRY_DIR", (root / "registry").c_str(), 1);
        setenv("QVR_CURRENT_CONFIG", config.c_str(), 1);
        platform::RegistryKey key;
        if (platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess,
                                          key) != 0 ||
            key.set_string("ReadXML", "ON") != 0 || key.set_string("WriteXML", "BOTH") != 0)
            __builtin_trap();
        return (config / "LOGGERS").string();
    }();
    return folder;
}

}  // namespace logger_fuzz
