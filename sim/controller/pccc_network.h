#pragma once
// The controllers behind the interface module, at the command level: stations with their
// processor type, data-table files and I/O directory, answering the commands the scanner
// sends (diagnostic status, directory read, typed and word-range reads and writes, typed
// writes with a bit mask, unprotected reads and writes of file 9) with CMD OR 0x40 and the
// request's TNS. A processor with a file directory takes the typed commands and refuses the
// word-range ones as illegal (STS 0x10); any other processor the other way round. Error
// modes make a station silent, let the module answer for it with a local status from the
// module's own address, protect a file, or answer every command with an extended status.
// Every command is kept in a decoded log. A station's "program" changes given words and bits
// of its tables each time the programs run, as a controller's own logic would between
// the scanner's commands.
//
// All functions may be called from any thread while the module runs.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "controller/data_address.h"
#include "controller/interface_module.h"

namespace sim_controller {

// Status codes the stations answer with.
inline constexpr uint8_t kStsIllegalCommand = 0x10;
inline constexpr uint8_t kStsAddressProblem = 0x50;  // no such file or element
inline constexpr uint8_t kStsProtected = 0x60;
inline constexpr uint8_t kStsModuleUndelivered = 0x02;  // the module's own local status
inline constexpr uint8_t kStsExtended = 0xF0;

enum class StationMode : uint8_t {
    normal,
    silent,         // no reply at all
    module_status,  // the module answers with a local status (code) from its own address
    extended,       // every reply has STS 0xF0 and EXT STS (code)
    short_reply,    // read replies carry (code) fewer data bytes than asked, STS 0
    wrong_tns,      // replies carry another TNS
};

struct DirectorySlot {
    uint8_t first_input_word = 0;
    uint8_t output_bytes = 0;
    uint8_t first_output_word = 0;
};

struct CommandRecord {
    int64_t time_ns = 0;
    uint8_t station = 0;
    uint8_t command = 0;
    std::optional<uint8_t> function;   // FNC of commands 0x06 and 0x0F
    std::optional<uint8_t> type_code;  // file type code of typed and directory commands
    uint16_t file = 0;
    uint16_t element = 0;
    uint16_t sub_element = 0;       // word of the element that typed commands start at
    std::optional<uint16_t> mask;   // bits a masked write changes
    uint16_t size = 0;              // bytes asked for or written
    std::vector<uint8_t> data;      // bytes written, or the data answered
    std::optional<uint8_t> status;  // STS replied; none when nothing was sent
    uint8_t ext_status = 0;

    bool is_write() const;
    bool is_read() const;
    // e.g. "S1 0F/AA file 7 element 3 size 4 data 05 00 06 00 -> STS 00"; a sub-element
    // other than 0 shows as " sub 1" after the element, a mask as " mask 0008" after the size.
    std::string text() const;
};

class ControllerNetwork {
  public:
    explicit ControllerNetwork(uint8_t module_address = 0);
    ControllerNetwork(const ControllerNetwork&) = delete;
    ControllerNetwork& operator=(const ControllerNetwork&) = delete;

    uint8_t module_address() const { return module_address_; }

    // A station answers the module from now on; an existing one keeps its files.
    void add_station(uint8_t station, uint8_t processor_type);
    void set_processor_type(uint8_t station, uint8_t processor_type);
    // A data-table file of `elements` elements (zeroed); the element size follows the type.
    // false for an unknown station or a file type outside 0-9.
    bool add_file(uint8_t station, uint16_t file, uint8_t file_type, size_t elements);
    // The station's I/O directory, served through the directory read.
    bool set_directory(uint8_t station, std::vector<DirectorySlot> slots);

    // Values by address text ("N7:3", "T4:0.ACC", "B3:0/5", "F8:1"): words as signed
    // integers, bits 0 or 1, floats in the station's word order. 0, or -1 with errno:
    // EINVAL (address text), ENOENT (station or file), ERANGE (element or value).
    int set_value(uint8_t station, std::string_view address, double value);
    std::optional<double> value(uint8_t station, std::string_view address) const;
    // The raw bytes of elements [element, element + count) of a file.
    std::optional<std::vector<uint8_t>> element_bytes(uint8_t station, uint16_t file, uint16_t element,
                                                      uint16_t count = 1) const;
    bool set_element_bytes(uint8_t station, uint16_t file, uint16_t element, std::span<const uint8_t> bytes);

    // One step of a station's program: each run adds `amount` to a word (wrapping at 16
    // bits; "T4:0.ACC") or, for a bit address ("S2:1/5"), inverts the bit. false for an
    // address that does not parse or lies outside the station's files.
    enum class StepKind : uint8_t { add, toggle };
    bool add_program_step(uint8_t station, std::string_view address, StepKind kind, int amount = 1);
    void clear_programs();
    // Runs every station's program once.
    void run_programs();

    // Error modes; `count` limits a mode to that many requests, after which the station is
    // normal again (0: until changed).
    void set_mode(uint8_t station, StationMode mode, uint8_t code = 0, unsigned count = 0);
    // Requests on a protected file are answered with the remote status `sts`.
    void protect_file(uint8_t station, uint16_t file, uint8_t sts = kStsProtected);
    void unprotect_file(uint8_t station, uint16_t file);

    // Registers every station (present and later) with `module`, which must outlive the
    // network's use of it.
    void attach(InterfaceModule& module);
    // A station's answer to a request body (DST at position 0), as the module calls it.
    std::optional<std::vector<uint8_t>> answer(std::span<const uint8_t> request);

    std::vector<CommandRecord> commands() const;
    void clear_commands();
    bool wait_for_commands(const std::function<bool(const std::vector<CommandRecord>&)>& done,
                           std::chrono::milliseconds timeout) const;
    void set_command_observer(std::function<void(const CommandRecord&)> observer);

    struct DataFile {
        uint8_t file_type = 0;
        int element_size = 2;
        std::vector<uint8_t> bytes;
        std::optional<uint8_t> protected_sts;
    };
    struct ProgramStep {
        DataAddress address;
        StepKind kind = StepKind::add;
        int amount = 1;
    };
    struct Station {
        uint8_t processor_type = 0;
        std::vector<ProgramStep> program;
        std::map<uint16_t, DataFile> files;
        std::vector<uint8_t> directory;  // header and 6-byte entries
        StationMode mode = StationMode::normal;
        uint8_t mode_code = 0;
        unsigned mode_count = 0;
    };

  private:
    void register_station(uint8_t station);
    std::optional<std::vector<uint8_t>> answer_locked(std::span<const uint8_t> request,
                                                      CommandRecord& record);

    const uint8_t module_address_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<uint8_t, Station> stations_;
    std::vector<CommandRecord> commands_;
    std::function<void(const CommandRecord&)> observer_;
    InterfaceModule* module_ = nullptr;
};

}  // namespace sim_controller
