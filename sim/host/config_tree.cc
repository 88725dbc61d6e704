// The configuration tree, channel files and the programs the host starts.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

#include "host/runtime_host.h"
#include "platform/ipc_names.h"
#include "platform/process_spawn.h"
#include "qvr/ipc/slot.h"

namespace sim_host {
namespace {

std::string kind_file(qvr::ChannelKind kind) {
    static const char* const kNames[] = {"ai", "di", "ao", "do", "ci"};
    const auto k = static_cast<size_t>(kind);
    return k < 5 ? kNames[k] : "dc";
}

}  // namespace

std::vector<std::string> ConfigTree::environment() const {
    return {"QVR_CURRENT_CONFIG=" + current_config().string(), "QVR_BIN=" + bin().string(),
            "QVR_SAVED_VALUES=" + saved_values().string(),
            "BREVANTIC_REGISTRY_DIR=" + registry().string(), "QUORVANE_IPC_PREFIX=" + platform::ipc_prefix(),
            "QUORVANE_RUNTIME_DIR=" + platform::runtime_dir()};
}

bool write_device_config(const std::filesystem::path& folder, std::span<const uint8_t, 704> config) {
    std::ofstream out(folder / "config", std::ios::binary | std::ios::trunc);
    const char auto_enable = 1;
    out.write(&auto_enable, 1);
    out.write(reinterpret_cast<const char*>(config.data()), static_cast<std::streamsize>(config.size()));
    return static_cast<bool>(out.flush());
}

void write_channel_file(const std::filesystem::path& folder, qvr::ChannelKind kind,
                        std::span<const qvr::ChannelRecord> records, TimeStamp written) {
    std::ofstream out(folder / kind_file(kind), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&written), sizeof written);
    out.write(reinterpret_cast<const char*>(records.data()),
              static_cast<std::streamsize>(records.size_bytes()));
}

std::optional<std::vector<qvr::ChannelRecord>> read_channel_file(const std::filesystem::path& folder,
                                                                 qvr::ChannelKind kind, TimeStamp* written) {
    std::ifstream in(folder / kind_file(kind), std::ios::binary);
    TimeStamp stamp{};
    if (!in.read(reinterpret_cast<char*>(&stamp), sizeof stamp)) return std::nullopt;
    std::vector<qvr::ChannelRecord> records;
    qvr::ChannelRecord r;
    while (in.read(reinterpret_cast<char*>(r.bytes), sizeof r.bytes)) records.push_back(r);
    if (written != nullptr) *written = stamp;
    return records;
}

const ConfigTree& RuntimeHost::config_tree() {
    if (!tree_) {
        static int serial = 0;
        ConfigTree t;
        own_tree_ = options_.tree_root.empty();
        t.root = own_tree_ ? std::filesystem::temp_directory_path() /
                                 ("qvr_host." + std::to_string(getpid()) + "." + std::to_string(++serial))
                           : options_.tree_root;
        std::filesystem::create_directories(t.current_config());
        std::filesystem::create_directories(t.bin());
        std::filesystem::create_directories(t.registry());
        std::filesystem::create_directories(t.saved_values());
        tree_ = t;
    }
    return *tree_;
}

std::optional<HostProcess> RuntimeHost::start(const std::string& program, const std::vector<std::string>& args,
                                              bool own_process_group) {
    const ConfigTree& tree = config_tree();
    std::vector<std::string> folders{tree.bin().string()};
    for (auto& f : platform::path_folders()) folders.push_back(std::move(f));
    const auto path = platform::find_program(program, folders);
    if (!path) return std::nullopt;
    std::vector<std::string> argv{*path};
    argv.insert(argv.end(), args.begin(), args.end());
    platform::SpawnOptions options;
    options.working_dir = tree.current_config().string();
    options.environment = tree.environment();
    options.new_process_group = own_process_group;
    const pid_t pid = platform::spawn_process(*path, argv, options);
    if (pid < 0) return std::nullopt;
    return HostProcess(pid);
}

HostProcess::~HostProcess() {
    if (pid_ > 0 && !status_) stop(std::chrono::seconds(5));
}

HostProcess::HostProcess(HostProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), status_(std::exchange(other.status_, std::nullopt)) {}

HostProcess& HostProcess::operator=(HostProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0 && !status_) stop(std::chrono::seconds(5));
        pid_ = std::exchange(other.pid_, -1);
        status_ = std::exchange(other.status_, std::nullopt);
    }
    return *this;
}

bool HostProcess::running() const {
    return pid_ > 0 && !status_ && platform::process_alive(pid_);
}

std::optional<int> HostProcess::wait(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    if (pid_ <= 0) return std::nullopt;
    status_ = platform::wait_child(pid_, static_cast<int>(timeout.count()));
    return status_;
}

std::optional<int> HostProcess::stop(std::chrono::milliseconds timeout) {
    if (status_ || pid_ <= 0) return status_;
    slot_SendCode(static_cast<uint32_t>(pid_), kScanCommandStop);
    if (auto status = wait(timeout)) return status;
    kill(SIGKILL);
    wait(std::chrono::seconds(30));
    return std::nullopt;
}

void HostProcess::kill(int signal) {
    if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

}  // namespace sim_host
