// A separate process that uses the registry store, for tests of several processes at once.
//   registry_client write <machine|user> <key> <prefix> <count> [payload bytes]
//       sets <prefix>_<i> for i in [0, count) to a REG_SZ of the payload size whose text
//       names the value, so a reader can tell a whole value from a torn one
//   registry_client set <machine|user> <key> <name> <text>
//   registry_client get <machine|user> <key> <name>      prints the text
// Prefixing any command with "as-user <uid>" drops to that user first.
// Every command prints "result <code>" and exits 0 when the code is 0.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry_key.h"

namespace {

platform::RegistryHive hive_of(const std::string& word) {
    return word == "user" ? platform::RegistryHive::user : platform::RegistryHive::machine;
}

int finish(int code) {
    std::printf("result %d\n", code);
    std::fflush(stdout);
    return code == 0 ? 0 : 1;
}

std::string payload(const std::string& name, size_t size) {
    std::string text = name + ":";
    while (text.size() < size) text += name.substr(0, size - text.size());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "as-user") {
        const auto uid = static_cast<uid_t>(std::stoul(args[1]));
        if (setgid(uid) != 0 || setuid(uid) != 0) return finish(-1);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 4) return finish(-2);
    const std::string& command = args[0];
    const platform::RegistryHive hive = hive_of(args[1]);
    platform::RegistryKey key;
    if (command == "get") {
        int rc = platform::RegistryKey::open(hive, args[2], platform::kKeyRead, key);
        std::string text;
        if (rc == 0) rc = key.query_string(args[3], text);
        if (rc == 0) std::printf("value %s\n", text.c_str());
        return finish(rc);
    }
    int rc = platform::RegistryKey::create(hive, args[2], platform::kKeyAllAccess, key);
    if (rc != 0) return finish(rc);
    if (command == "set" && args.size() == 5) return finish(key.set_string(args[3], args[4]));
    if (command == "write" && args.size() >= 5) {
        const int count = std::atoi(args[4].c_str());
        const size_t size = args.size() > 5 ? std::strtoul(args[5].c_str(), nullptr, 10) : 0;
        for (int i = 0; i < count; ++i) {
            const std::string name = args[3] + "_" + std::to_string(i);
            if (int wrc = key.set_string(name, payload(name, size)); wrc != 0) return finish(wrc);
        }
        return finish(0);
    }
    return finish(-2);
}
