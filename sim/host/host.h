#pragma once
// The runtime host's side of the shared objects, for tests and the demo: it creates sections
// and data modules with the library's own create functions, lists and dumps them, sends codes
// to process slots and removes everything under the IPC prefix, also what a crashed process
// left behind. Section names are given without "Global\".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim_host {

// A plain section and the mutex the host makes for it. Null on failure (errno set).
void* create_section(const std::string& name, uint32_t data_size);
// A data module (with its mutex). Null on failure (errno set).
void* create_module(const std::string& name, uint32_t data_length);

// Section names and mutex names under the prefix, sorted.
struct ObjectList {
    std::vector<std::string> sections;
    std::vector<std::string> mutexes;
    std::vector<std::string> others;
};
ObjectList list_objects();

// A readable dump of a section's header, areas, registered waiters and requests, and the
// first `data_bytes` of its data. nullopt when it cannot be opened (errno set).
std::optional<std::string> describe(const std::string& name, size_t data_bytes);

// Writes `bytes` into a section's data at `offset` under its lock and wakes all its waiters.
int write_and_signal(const std::string& name, uint32_t offset, std::string_view bytes);

// Removes every shared object and mailslot file under the prefix. Refused when the prefix
// is empty, so a real installation is never touched.
struct Removed {
    int objects = 0;
    int mailslots = 0;
};
std::optional<Removed> remove_all();

}  // namespace sim_host
