#include "qvr/settings/reg_filtered.h"
#include "qvr/testing/process_state_testing.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/boot_marker.h"
#include "platform/dynamic_library.h"
#include "platform/last_error.h"
#include "platform/process_run.h"

namespace {

constexpr const char* kSdkVariable = "QUORVANE_CONTROLLER_SDK";
// Stands for the volatile key HKLM SOFTWARE\EWF: gone at the next restart.
constexpr const char* kFilterMarker = "EWF";
// The filter manager normally ends at once; a hung one must not hold a registry write for ever.
constexpr std::chrono::milliseconds kFilterCommandBound{120000};

struct SdkState {
    std::mutex mutex;
    bool probed = false;
    void* handle = nullptr;
};

SdkState& sdk_state() {
    static SdkState state;
    return state;
}

struct FilterState {
    std::recursive_mutex mutex;
    bool begin_done = false;
    bool enable_pending = false;
};

FilterState& filter_state() {
    static FilterState state;
    return state;
}

// Runs the filter manager and waits for it; false when it could not be started.
bool run_filter_manager(const std::vector<std::string>& argv) {
    platform::RunOptions options;
    options.timeout = kFilterCommandBound;
    platform::RunResult result;
    const int rc = platform::run_program(argv, options, result);
    if (rc != 0 && platform::last_error() == platform::kErrorTimeout) return true;  // it started
    return rc == 0;
}

template <class Operation>
int filtered(Operation&& operation) {
    std::lock_guard lock(filter_state().mutex);
    if (wf_BeginWrite() == 0) return platform::last_error();
    const int result = operation();
    if (wf_EndWrite() == 0) return platform::last_error();
    return result;
}

}  // namespace

void* sdk_Probe() {
    SdkState& state = sdk_state();
    std::lock_guard lock(state.mutex);
    if (!state.probed) {
        state.probed = true;
        const char* path = std::getenv(kSdkVariable);
        if (path != nullptr && path[0] != 0) state.handle = platform::library_open(path);
    }
    return state.handle;
}

void qvr::testing::forget_write_filter() {
    sdk_Release();
    {
        SdkState& state = sdk_state();
        std::lock_guard lock(state.mutex);
        state.probed = false;
    }
    FilterState& state = filter_state();
    std::lock_guard lock(state.mutex);
    state.begin_done = false;
    state.enable_pending = false;
}

int sdk_Release() {
    SdkState& state = sdk_state();
    std::lock_guard lock(state.mutex);
    if (state.handle == nullptr) return 1;
    const int rc = platform::library_close(state.handle);
    state.handle = nullptr;
    return rc == 0 ? 1 : rc;
}

int wf_BeginWrite() {
    FilterState& state = filter_state();
    std::lock_guard lock(state.mutex);
    if (sdk_Probe() == nullptr || state.begin_done) return 1;
    // The first write since the platform started; when the marker cannot be made the filter
    // is opened anyway, so the write is never left to be lost at the next restart.
    const int marker = platform::boot_marker_create(kFilterMarker);
    if (marker != 0) {
        if (!run_filter_manager({"ewfmgr", "c:", "-commitanddisable", "-live"})) {
            // The filter is still closed: the next write must try again, not find the marker.
            const int error = platform::last_error();
            if (marker == 1) platform::boot_marker_remove(kFilterMarker);
            platform::set_last_error(error);
            return 0;
        }
        state.enable_pending = true;
    }
    state.begin_done = true;
    return 1;
}

int wf_EndWrite() {
    FilterState& state = filter_state();
    std::lock_guard lock(state.mutex);
    if (sdk_Probe() == nullptr || !state.enable_pending) return 1;
    if (!run_filter_manager({"ewfmgr", "c:", "-enable"})) return 0;
    state.enable_pending = false;
    return 1;
}

int reg_CreateKeyFiltered(platform::RegistryHive hive, const char* path, uint32_t access,
                          platform::RegistryKey* key, bool* created) {
    if (path == nullptr || key == nullptr) return platform::kErrorInvalidParameter;
    return filtered([&] { return platform::RegistryKey::create(hive, path, access, *key, created); });
}

int reg_SetValueFiltered(platform::RegistryKey* key, const char* name, uint32_t type, const void* data,
                         uint32_t size) {
    if (key == nullptr) return platform::kErrorInvalidHandle;
    return filtered([&] { return key->set_value(name != nullptr ? name : "", type, data, size); });
}

int reg_DeleteValueFiltered(platform::RegistryKey* key, const char* name) {
    if (key == nullptr) return platform::kErrorInvalidHandle;
    return filtered([&] { return key->delete_value(name != nullptr ? name : ""); });
}
