// Starting processor programs.
#include "qvr/process/proc.h"
#include "qvr/testing/proc_testing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

void set_enabled(ProcessRecord* record, uint8_t enabled, bool clear_pid) {
    void* table = qvr::process_table();
    const bool locked = table != nullptr && shm_Lock(table) == 0;
    record->ProcEnabled = enabled;
    if (clear_pid) record->ProcPid = 0;
    if (locked) shm_Unlock(table);
}

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
    const std::string text(qvr::field_text(record->ProcText));
    shm_RegisterStatusEntry(qvr::kStatusEntryProcessor, text.c_str());

    // The program runs in its folder; this process's current folder is left alone.
    const std::string folder = current_folder() + "/" + std::string(qvr::field_text(record->ProcName));
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        const int error = errno == 0 ? platform::kErrorPathNotFound : errno;
        shm_SetStatusText(kCantRun, masked(error));
        return platform::fail(error);
    }
    uint8_t enabled = 0;
    if (cfg_LoadDeviceConfig(folder.c_str(), nullptr, 0, nullptr, 0, nullptr, &enabled, nullptr, nullptr,
                             nullptr) != 0) {
        const int error = errno;
        shm_SetStatusText(kCantRun, masked(error));
        return platform::fail(error);
    }
    set_enabled(record, enabled, false);
    if (record->ProcEnabled == 0 || record->RunsProcess == 0) return 0;

    record->ProcReady = 0;
    const pid_t pid = run_in(record, "run", 0, nullptr, nullptr, folder);
    if (pid < 0) {
        const int error = errno;
        set_enabled(record, 0, true);
        shm_SetStatusText(kCantRun, masked(error));
        return platform::fail(error);
    }
    record->ProcPid = pid;
    // Bounded, so a program that hangs before it is ready cannot hang its starter.
    const auto deadline = platform::Deadline::after_ms(g_ready_timeout_ms.load());
    while (proc_IsAlive(pid) != 0 && record->ProcReady == 0) {
        if (deadline.expired()) {
            shm_SetStatusText(kCantRun, masked(platform::kErrorTimeout));
            return platform::fail(platform::kErrorTimeout);
        }
        if (slot_Wait(kReadyPollMs) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadyPollMs));
    }
    if (record->ProcReady == 0) return platform::fail(platform::kErrorBrokenPipe);
    return 0;
}
