#include "scan_rig.h"

#include <time.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/monotonic_clock.h"
#include "qvr/host/status_text.h"
#include "tolva_sc/scanner_commands.h"
#include "tolva_sc/value_convert.h"

namespace scan_bench {
namespace {

constexpr const char* kPort = "COM7";
// A processor with a file directory: typed reads and writes.
constexpr uint8_t kProcessorType = 0x4E;
constexpr uint8_t kDle = 0x10;
const std::array<std::string, 4> kCodes{"A1", "A2", "A3", "A4"};

int64_t thread_cpu_ns() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// A word value of `round` for element `e`; never a DLE byte, which the line would double.
int16_t word_value(int e, int round) {
    int v = (e * 3 + round * 7) % 4000 + 1;
    if ((v & 0xFF) == kDle) ++v;
    return static_cast<int16_t>(v);
}

void fill_file(sim_controller::ControllerNetwork& network, const FileSpec& f, int round) {
    if (f.type == tolva::file_type::kFloat) {
        for (int e = 0; e < f.elements; ++e) {
            const std::string address = "F" + std::to_string(f.file) + ":" + std::to_string(e);
            network.set_value(f.station, address, 0.5 + word_value(e, round) % 1000);
        }
        return;
    }
    const int size = tolva::element_size(f.type);
    std::vector<uint8_t> bytes(static_cast<size_t>(f.elements) * static_cast<size_t>(size));
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto v = static_cast<uint16_t>(word_value(static_cast<int>(i / 2), round));
        bytes[i] = static_cast<uint8_t>(v);
        bytes[i + 1] = static_cast<uint8_t>(v >> 8);
    }
    network.set_element_bytes(f.station, f.file, 0, bytes);
}

}  // namespace

ScanRig::ScanRig(std::array<Layout, 4> layouts, RigOptions options)
    : layouts_(std::move(layouts)), options_(options) {
    line_.open();
    sim_controller::map_port_name(kPort, line_.device_path());
    for (const auto& layout : layouts_) {
        for (const auto& f : layout.files) {
            network_.add_station(f.station, kProcessorType);
            network_.add_file(f.station, f.file, static_cast<uint8_t>(f.type), f.elements);
            fill_file(network_, f, 0);
        }
    }
    sim_controller::ModuleOptions module_options;
    module_options.baud = options.baud;
    module_options.paced = options.paced;
    module_options.log_limit = 1000;
    module_ = std::make_unique<sim_controller::InterfaceModule>(module_options);
    network_.attach(*module_);
    module_->start(line_.take_module_side());

    config_.ScanRate = 1000;
    std::memcpy(config_.Comm.CommPort, kPort, std::strlen(kPort));
    config_.Comm.BaudRate = options.baud;
    config_.Comm.ReplyTimeout = 1;
    config_.Comm.ReadBack = options.read_back ? 1 : 0;
}

ScanRig::~ScanRig() {
    scanner_.reset();
    module_->stop();
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
    sim_controller::unmap_port_name(kPort);
}

bool ScanRig::open() {
    sim_host::DeviceSpec spec;
    for (size_t k = 0; k < 4; ++k) {
        spec.channels[k] = layouts_[k].channels;
        if (layouts_[k].channels.empty()) spec.codes[k].clear();
    }
    spec.codes[4].clear();
    spec.stats_code.clear();
    std::memcpy(spec.config.data(), &config_, sizeof config_);
    const int index = host_.add_device(spec);
    if (index < 0) return false;
    ::setenv("QVR_SAVED_VALUES", host_.config_tree().saved_values().c_str(), 1);
    std::error_code ec;
    std::filesystem::current_path(host_.config_tree().current_config() / spec.config_name, ec);
    if (ec) return false;
    DeviceRecord* record = host_.device(index);
    record->Attached = 1;
    shm_RegisterStatusEntry(qvr::kStatusEntryDevice, spec.name.c_str());

    tolva::ConfigFiles files;
    files.load_device_config = [this](tolva::DeviceConfigRecord& c) {
        c = config_;
        return 0;
    };
    files.load_autosave = [](tolva::AutosaveSettings& a) {
        a = {};
        return 0;
    };
    files.load_channels = [this](int k, std::span<qvr::ChannelRecord> records) {
        static const std::vector<qvr::ChannelRecord> none;
        const auto& source = k >= 0 && k < 4 ? layouts_[static_cast<size_t>(k)].channels : none;
        for (size_t i = 0; i < records.size(); ++i) records[i] = i < source.size() ? source[i] : qvr::ChannelRecord{};
        return 0;
    };
    tolva::command_state().reset();
    scanner_ = std::make_unique<tolva::ScannerDevice>(*record, index, tolva::command_state(), files);
    if (scanner_->initialise() != 0) return false;
    scanner_->open_with_retry(0);
    return true;
}

ScanFigures ScanRig::scan() {
    network_.clear_commands();
    const tolva::LinkCounters before = scanner_->link().counters();
    const int64_t cpu = thread_cpu_ns();
    const int64_t wall = platform::monotonic_ns();
    scanner_->scan(false);
    ScanFigures f;
    f.wall_ns = platform::monotonic_ns() - wall;
    f.cpu_ns = thread_cpu_ns() - cpu;
    const tolva::LinkCounters d = scanner_->link().counters() - before;
    f.wire_bytes = d.sent_bytes + d.received_bytes;
    f.frames = d.sent_frames;
    f.recoveries = d.reply_timeouts + d.ack_timeouts + d.enquiries_sent + d.naks_sent + d.naks_received +
                   d.duplicates + d.bcc_errors + d.bad_dle_pairs;
    return f;
}

void ScanRig::change_inputs(int round) {
    for (const size_t k : {size_t{0}, size_t{1}})
        for (const auto& f : layouts_[k].files) fill_file(network_, f, round);
}

void ScanRig::change_outputs(int round) {
    tolva::KindModules& ao = scanner_->kinds()[tolva::kind::kAO];
    for (size_t i = 0; i < ao.shared_values.size(); ++i)
        ao.shared_values[i] = word_value(static_cast<int>(i), round);
    tolva::KindModules& dout = scanner_->kinds()[tolva::kind::kDO];
    for (size_t i = 0; i < dout.shared_status.size(); ++i)
        dout.shared_status[i] = (dout.shared_status[i] & ~1u) | static_cast<uint32_t>(round & 1);
}

}  // namespace scan_bench
