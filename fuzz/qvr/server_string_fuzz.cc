// Server strings come from configuration files and users: classify any text (the kind is
// always 1 to 4) and resolve product folders for it, under a product root of this process.
// Input: one byte choosing the folder name, then the server string.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_temp_folder.h"
#include "platform/registry_key.h"
#include "qvr/link/link.h"
#include "qvr/settings/reg.h"

namespace {

constexpr const char* kNames[] = {"QVR_CONFIG",         "QVR_LOGGED_DATA", "QVR_CURRENT_CONFIG",
                                  "QVR_REPLAY_OPTIONS", "QVR_",            "DATA"};

// Registry and product root in folders of this process, so that folders the resolver
// creates land there and never in a real installation.
void isolate() {
    static const bool done = [] {
        const std::string registry = fuzz_support::process_folder("/tmp/qvr_fuzz_server_string.XXXXXX");
        setenv("BREVANTIC_REGISTRY_DIR", registry.c_str(), 1);
        setenv("XDG_DATA_HOME", (registry + "/user").c_str(), 1);
        for (const char* name : kNames) unsetenv(name);
        platform::RegistryKey key;
        if (platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key) !=
                0 ||
            key.set_string("Root:", registry + "/root") != 0)
            __builtin_trap();
        return true;
    }();
    (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    isolate();
    const char* name = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
    const std::string server(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* s = server.c_str();

    const ServerKind kind = link_GetServerKind(s);
    if (kind < 1 || kind > 4) __builtin_trap();
    const int local = link_IsLocalServer(s);
    if (local != 0 && local != 1) __builtin_trap();
    if (local == 1 && kind != kServerPipe) __builtin_trap();
    if (link_IsRemoteServer(s) != (local == 0 && kind != kServerPipe ? 1 : 0)) __builtin_trap();
    const int local_path = link_IsLocalPath(s);
    if (local_path != 0 && local_path != 1) __builtin_trap();

    if (const char* folder = link_ResolveFolder(s, name); folder != nullptr) {
        if (std::strlen(folder) > server.size() + 4096) __builtin_trap();
    }
    return 0;
}
