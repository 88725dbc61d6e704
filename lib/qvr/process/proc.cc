// Starting processor programs.
#include "qvr/process/proc.h"
#include "qvr/testing/proc_testing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/monotonic_clock.h"
#include "platform/process_spawn.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/settings/env.h"
#include "qvr/util/fixed_text.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"
#include "qvr/host/status_text.h"

namespace {

constexpr const char* kCantRun = "CAN'T RUN - %04d";
constexpr int kReadyPollMs = 20;

std::atomic<uint32_t> g_creation_flags{0};
std::atomic<bool> g_inherit{true};
std::atomic<int> g_ready_timeout_ms{kProcReadyTimeoutMs};

int masked(int error) {
    return error & 0xFFF;
}

std::string bin_folder() {
    const char* folder = env_GetProductFolder("QVR_BIN");
    return folder != nullptr ? folder : "";
}

std::string current_folder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
}

// "calc12" -> "calc", "opddx3" -> "opddx".
std::string program_base(std::string_view name) {
    for (std::string_view stem : {"calc", "opddx"}) {
        if (name.size() <= stem.size() || !platform::prefix_equal_ignoring_case(name, stem, stem.size()))
            continue;
        const std::string_view rest = name.substr(stem.size());
        if (rest.find_first_not_of("0123456789") == std::string_view::npos)
            return std::string(name.substr(0, stem.size()));
    }
    return std::string(name);
}

// The enable switch: byte 0 of the folder's "config" file.
pid_t run_in(const ProcessRecord* record, const char* suffix, int argument, const char* text1,
             const char* text2, const std::string& working_dir) {
    if (record == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    const std::string base = program_base(qvr::field_text(record->ProcName));
    char program[16];
    std::snprintf(program, sizeof program, "%.5s_%.2s", base.c_str(), suffix != nullptr ? suffix : "");
    std::vector<std::string> folders;
    if (const std::string bin = bin_folder(); !bin.empty()) folders.push_back(bin);
    for (auto& f : platform::path_folders()) folders.push_back(std::move(f));
    const auto path = platform::find_program(program, folders);
    if (!path) return -1;
    // The name as the file has it (it was matched ignoring case).
    std::vector<std::string> argv{path->substr(path->rfind('/') + 1), std::to_string(argument)};
    if (text1 != nullptr) argv.emplace_back(text1);
    if (text1 != nullptr && text2 != nullptr) argv.emplace_back(text2);
    platform::SpawnOptions options;
    options.working_dir = working_dir;
    options.inherit_descriptors = g_inherit.load();
    const uint32_t flags = g_creation_flags.load();
    options.new_process_group = (flags & kProcCreateNewProcessGroup) != 0;
    options.new_session = (flags & kProcCreateDetached) != 0;
    return platform::spawn_process(*path, argv, options);
}

// Whether `record` lies in the process table's mapping (beyond its count too: a record that
// left the table is still no caller's own copy).
bool inside_table(const ProcessRecord* record) {
    const std::span<std::byte> table = qvr::section_bytes(qvr::process_table());
    if (table.empty()) return false;
    const auto* at = reinterpret_cast<const std::byte*>(record);
    return std::less_equal<>{}(table.data(), at) && std::less<>{}(at, table.data() + table.size());
}

// The record a start works on. Another process may move the table's records
// (shm_MoveProcessLast) while the start waits, so a record of the table is found again by
// its name, under the table's lock, every time it is used. A record outside the table
// (a caller's own copy) is used as it is.
class RecordRef {
  public:
    explicit RecordRef(ProcessRecord* given) : given_(given), name_(qvr::field_text(given->ProcName)) {}

    // Runs `use` on the record under the table's lock; false (nothing run) when the record
    // is no longer in the table.
    template <typename Use>
    bool with(Use&& use) const {
        void* table = qvr::process_table();
        const bool locked = table != nullptr && shm_Lock(table) == 0;
        ProcessRecord* record = find();
        if (record != nullptr) use(*record);
        if (locked) shm_Unlock(table);
        return record != nullptr;
    }

  private:
    ProcessRecord* find() const {
        if (!inside_table(given_)) return given_;
        if (qvr::field_text(given_->ProcName) == name_) return given_;
        const uint32_t count = qvr::process_count();
        for (uint32_t i = 0; i < count; ++i) {
            ProcessRecord* r = qvr::process_record(i);
            if (r != nullptr && qvr::field_text(r->ProcName) == name_) return r;
        }
        return nullptr;
    }

    ProcessRecord* given_;
    std::string name_;
};

}  // namespace

namespace qvr::proc_testing {
void set_ready_timeout_ms(int ms) {
    g_ready_timeout_ms = ms;
}
}  // namespace qvr::proc_testing

pid_t proc_Run(const ProcessRecord* record, const char* suffix, int argument, const char* text1,
               const char* text2) {
    return run_in(record, suffix, argument, text1, text2, {});
}

int proc_IsAlive(pid_t pid) {
    return platform::process_alive(pid) ? 1 : 0;
}

void proc_SetCreateOptions(uint32_t creation_flags, int inherit_handles) {
    g_creation_flags = creation_flags;
    g_inherit = inherit_handles != 0;
}

int proc_Start(ProcessRecord* record) {
    if (record == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    const RecordRef ref(record);
    ProcessRecord copy{};
    if (!ref.with([&](ProcessRecord& r) { copy = r; })) return platform::fail(platform::kErrorFileNotFound);
    auto cannot_run = [](int error) {
        shm_SetStatusText(kCantRun, masked(error));
        return platform::fail(error);
    };
    const std::string text(qvr::field_text(copy.ProcText));
    shm_RegisterStatusEntry(qvr::kStatusEntryProcessor, text.c_str());

    // The program runs in its folder; this process's current folder is left alone.
    const std::string folder = current_folder() + "/" + std::string(qvr::field_text(copy.ProcName));
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return cannot_run(errno == 0 ? platform::kErrorPathNotFound : errno);
    uint8_t enabled = 0;
    if (cfg_LoadDeviceConfig(folder.c_str(), nullptr, 0, nullptr, 0, nullptr, &enabled, nullptr, nullptr,
                             nullptr) != 0)
        return cannot_run(errno);
    bool wanted = false;
    if (!ref.with([&](ProcessRecord& r) {
            r.ProcEnabled = enabled;
            wanted = r.ProcEnabled != 0 && r.RunsProcess != 0;
            if (wanted) r.ProcReady = 0;
            copy = r;
        }))
        return cannot_run(platform::kErrorFileNotFound);
    if (!wanted) return 0;

    const pid_t pid = run_in(&copy, "run", 0, nullptr, nullptr, folder);
    if (pid < 0) {
        const int error = errno;
        ref.with([](ProcessRecord& r) {
            r.ProcEnabled = 0;
            r.ProcPid = 0;
        });
        return cannot_run(error);
    }
    auto ready = [&] {
        int32_t value = 0;
        const bool found = ref.with([&](ProcessRecord& r) { value = r.ProcReady; });
        return found ? std::optional<int32_t>(value) : std::nullopt;
    };
    if (!ref.with([&](ProcessRecord& r) { r.ProcPid = pid; }))
        return cannot_run(platform::kErrorFileNotFound);
    // Bounded, so a program that hangs before it is ready cannot hang its starter.
    const auto deadline = platform::Deadline::after_ms(g_ready_timeout_ms.load());
    for (;;) {
        const std::optional<int32_t> now = ready();
        if (!now) return cannot_run(platform::kErrorFileNotFound);
        if (*now != 0) return 0;
        if (proc_IsAlive(pid) == 0) break;
        if (deadline.expired()) return cannot_run(platform::kErrorTimeout);
        if (slot_Wait(kReadyPollMs) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadyPollMs));
    }
    // Ready just before it ended still counts.
    const std::optional<int32_t> last = ready();
    if (last && *last != 0) return 0;
    return platform::fail(platform::kErrorBrokenPipe);
}
