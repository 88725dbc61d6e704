#include "controller/pccc_network.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/monotonic_clock.h"

namespace sim_controller {

namespace {

constexpr uint8_t kCmdUnprotectedRead = 0x01;
constexpr uint8_t kCmdDiagnostic = 0x06;
constexpr uint8_t kCmdUnprotectedWrite = 0x08;
constexpr uint8_t kCmdExtended = 0x0F;
constexpr uint8_t kDirectoryType = 0x60;
constexpr uint8_t kTypedBase = 0x82;
constexpr uint16_t kUnprotectedFile = 9;
constexpr size_t kDiagnosticBytes = 24;

// Reads the fields of a request after its header.
class Fields {
  public:
    explicit Fields(std::span<const uint8_t> body, size_t from) : body_(body), pos_(from) {}
    bool byte(uint8_t& v) {
        if (pos_ >= body_.size()) return false;
        v = body_[pos_++];
        return true;
    }
    bool word(uint16_t& v) {
        uint8_t lo = 0, hi = 0;
        if (!byte(lo) || !byte(hi)) return false;
        v = static_cast<uint16_t>(lo | hi << 8);
        return true;
    }
    // 0-254 in one byte, else 0xFF and a little-endian word.
    bool address(uint16_t& v) {
        uint8_t b = 0;
        if (!byte(b)) return false;
        if (b != 0xFF) {
            v = b;
            return true;
        }
        return word(v);
    }
    std::span<const uint8_t> rest() const { return body_.subspan(std::min(pos_, body_.size())); }

  private:
    std::span<const uint8_t> body_;
    size_t pos_;
};

struct Outcome {
    uint8_t sts = 0;
    std::vector<uint8_t> data;
};

Outcome failed(uint8_t sts) {
    return {sts, {}};
}

std::vector<uint8_t> directory_image(const std::vector<DirectorySlot>& slots) {
    const auto count = static_cast<uint8_t>(slots.size());
    // Three header bytes that add up to the entry count.
    const uint8_t a = count / 3;
    const uint8_t b = count / 3;
    const auto c = static_cast<uint8_t>(count - a - b);
    std::vector<uint8_t> image{a, b, c, 0};
    for (const auto& s : slots) {
        image.insert(image.end(), {0, s.first_input_word, s.output_bytes, s.first_output_word, 0, 0});
    }
    return image;
}

std::string hex_bytes(std::span<const uint8_t> bytes) {
    std::string text;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, " %02X", v);
        text += b;
    }
    return text;
}

}  // namespace

bool CommandRecord::is_write() const {
    return command == kCmdUnprotectedWrite || (command == kCmdExtended && function &&
                                               (*function == 0xAA || *function == 0xAB || *function == 0x00));
}

bool CommandRecord::is_read() const {
    return command == kCmdUnprotectedRead || (command == kCmdExtended && function &&
                                              (*function == 0xA2 || *function == 0x01 || *function == 0xA1));
}

std::string CommandRecord::text() const {
    char head[64];
    if (function) {
        std::snprintf(head, sizeof head, "S%u %02X/%02X", station, command, *function);
    } else {
        std::snprintf(head, sizeof head, "S%u %02X", station, command);
    }
    std::string t = head;
    if (command != kCmdDiagnostic) {
        t += " file " + std::to_string(file) + " element " + std::to_string(element);
        if (sub_element != 0) t += " sub " + std::to_string(sub_element);
        t += " size " + std::to_string(size);
        if (mask) {
            char m[16];
            std::snprintf(m, sizeof m, " mask %04X", *mask);
            t += m;
        }
    }
    if (!data.empty()) t += " data" + hex_bytes(data);
    if (!status) return t + " -> no reply";
    char sts[32];
    std::snprintf(sts, sizeof sts, " -> STS %02X", *status);
    t += sts;
    if (*status == kStsExtended) {
        std::snprintf(sts, sizeof sts, " EXT %02X", ext_status);
        t += sts;
    }
    return t;
}

ControllerNetwork::ControllerNetwork(uint8_t module_address) : module_address_(module_address) {}

void ControllerNetwork::register_station(uint8_t station) {
    if (!module_) return;
    module_->add_station(station, [this](std::span<const uint8_t> request) { return answer(request); });
}

void ControllerNetwork::add_station(uint8_t station, uint8_t processor_type) {
    {
        std::lock_guard lock(mutex_);
        stations_[station].processor_type = processor_type;
    }
    register_station(station);
}

void ControllerNetwork::set_processor_type(uint8_t station, uint8_t processor_type) {
    std::lock_guard lock(mutex_);
    if (auto it = stations_.find(station); it != stations_.end()) it->second.processor_type = processor_type;
}

bool ControllerNetwork::add_file(uint8_t station, uint16_t file, uint8_t file_type, size_t elements) {
    std::lock_guard lock(mutex_);
    auto it = stations_.find(station);
    if (it == stations_.end() || file_type > 9) return false;
    DataFile f;
    f.file_type = file_type;
    f.element_size = file_element_size(file_type);
    f.bytes.assign(elements * static_cast<size_t>(f.element_size), 0);
    it->second.files[file] = std::move(f);
    return true;
}

bool ControllerNetwork::set_directory(uint8_t station, std::vector<DirectorySlot> slots) {
    std::lock_guard lock(mutex_);
    auto it = stations_.find(station);
    if (it == stations_.end() || slots.size() > 255) return false;
    it->second.directory = directory_image(slots);
    return true;
}

namespace {

// The bytes of one address inside a file, or none with errno.
std::optional<std::span<uint8_t>> locate(ControllerNetwork::DataFile& f, const DataAddress& a) {
    const size_t offset = static_cast<size_t>(a.element) * static_cast<size_t>(f.element_size);
    if (a.file_type != f.file_type || offset + static_cast<size_t>(f.element_size) > f.bytes.size()) {
        errno = ERANGE;
        return std::nullopt;
    }
    return std::span(f.bytes).subspan(offset, static_cast<size_t>(f.element_size));
}

bool directory_based(uint8_t processor_type) {
    return (processor_type & 0x0F) == 0x0E;
}

}  // namespace

int ControllerNetwork::set_value(uint8_t station, std::string_view text, double value) {
    const auto a = parse_data_address(text);
    if (!a) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard lock(mutex_);
    auto st = stations_.find(station);
    if (st == stations_.end() || !st->second.files.contains(a->file)) {
        errno = ENOENT;
        return -1;
    }
    auto element = locate(st->second.files[a->file], *a);
    if (!element) return -1;
    uint8_t* e = element->data();
    if (a->real) {
        uint32_t bits = 0;
        const auto f = static_cast<float>(value);
        std::memcpy(&bits, &f, 4);
        // Processors without a directory keep the high word first.
        if (!directory_based(st->second.processor_type)) bits = bits << 16 | bits >> 16;
        for (int i = 0; i < 4; ++i) e[i] = static_cast<uint8_t>(bits >> (8 * i));
        return 0;
    }
    uint8_t* w = e + 2 * a->word;
    auto word = static_cast<uint16_t>(w[0] | w[1] << 8);
    if (a->bit) {
        word = value != 0 ? static_cast<uint16_t>(word | 1u << *a->bit)
                          : static_cast<uint16_t>(word & ~(1u << *a->bit));
    } else {
        if (!std::isfinite(value) || value < -32768 || value > 32767) {
            errno = ERANGE;
            return -1;
        }
        word = static_cast<uint16_t>(static_cast<int16_t>(std::lrint(value)));
    }
    w[0] = static_cast<uint8_t>(word & 0xFF);
    w[1] = static_cast<uint8_t>(word >> 8);
    return 0;
}

std::optional<double> ControllerNetwork::value(uint8_t station, std::string_view text) const {
    const auto a = parse_data_address(text);
    if (!a) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto st = stations_.find(station);
    if (st == stations_.end()) return std::nullopt;
    auto f = st->second.files.find(a->file);
    if (f == st->second.files.end()) return std::nullopt;
    DataFile copy = f->second;
    auto element = locate(copy, *a);
    if (!element) return std::nullopt;
    const uint8_t* e = element->data();
    if (a->real) {
        uint32_t bits = static_cast<uint32_t>(e[0]) | static_cast<uint32_t>(e[1]) << 8 |
                        static_cast<uint32_t>(e[2]) << 16 | static_cast<uint32_t>(e[3]) << 24;
        if (!directory_based(st->second.processor_type)) bits = bits << 16 | bits >> 16;
        float v = 0;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    const uint8_t* w = e + 2 * a->word;
    const auto word = static_cast<uint16_t>(w[0] | w[1] << 8);
    if (a->bit) return (word >> *a->bit & 1u) != 0 ? 1.0 : 0.0;
    return static_cast<int16_t>(word);
}

std::optional<std::vector<uint8_t>> ControllerNetwork::element_bytes(uint8_t station, uint16_t file,
                                                                     uint16_t element, uint16_t count) const {
    std::lock_guard lock(mutex_);
    auto st = stations_.find(station);
    if (st == stations_.end()) return std::nullopt;
    auto f = st->second.files.find(file);
    if (f == st->second.files.end()) return std::nullopt;
    const size_t size = static_cast<size_t>(f->second.element_size);
    const size_t from = element * size;
    const size_t n = count * size;
    if (from + n > f->second.bytes.size()) return std::nullopt;
    return std::vector<uint8_t>(f->second.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                f->second.bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

bool ControllerNetwork::set_element_bytes(uint8_t station, uint16_t file, uint16_t element,
                                          std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    auto st = stations_.find(station);
    if (st == stations_.end()) return false;
    auto f = st->second.files.find(file);
    if (f == st->second.files.end()) return false;
    const size_t from = element * static_cast<size_t>(f->second.element_size);
    if (from + bytes.size() > f->second.bytes.size()) return false;
    std::copy(bytes.begin(), bytes.end(), f->second.bytes.begin() + static_cast<std::ptrdiff_t>(from));
    return true;
}

bool ControllerNetwork::add_program_step(uint8_t station, std::string_view text, StepKind kind, int amount) {
    const auto a = parse_data_address(text);
    if (!a || a->real) return false;
    std::lock_guard lock(mutex_);
    auto st = stations_.find(station);
    if (st == stations_.end()) return false;
    auto f = st->second.files.find(a->file);
    if (f == st->second.files.end() || !locate(f->second, *a)) return false;
    st->second.program.push_back({*a, kind, amount});
    return true;
}

void ControllerNetwork::clear_programs() {
    std::lock_guard lock(mutex_);
    for (auto& [n, s] : stations_) s.program.clear();
}

void ControllerNetwork::run_programs() {
    std::lock_guard lock(mutex_);
    for (auto& [n, s] : stations_) {
        for (const ProgramStep& step : s.program) {
            auto element = locate(s.files[step.address.file], step.address);
            if (!element) continue;
            uint8_t* w = element->data() + 2 * step.address.word;
            auto word = static_cast<uint16_t>(w[0] | w[1] << 8);
            if (step.address.bit) {
                word = static_cast<uint16_t>(word ^ (1u << *step.address.bit));
            } else if (step.kind == StepKind::toggle) {
                word = static_cast<uint16_t>(~word);
            } else {
                word = static_cast<uint16_t>(word + step.amount);
            }
            w[0] = static_cast<uint8_t>(word & 0xFF);
            w[1] = static_cast<uint8_t>(word >> 8);
        }
    }
}

void ControllerNetwork::set_mode(uint8_t station, StationMode mode, uint8_t code, unsigned count) {
    std::lock_guard lock(mutex_);
    auto st = stations_.find(station);
    if (st == stations_.end()) return;
    st->second.mode = mode;
    st->second.mode_code = code;
    st->second.mode_count = count;
}

void ControllerNetwork::protect_file(uint8_t station, uint16_t file, uint8_t sts) {
    std::lock_guard lock(mutex_);
    auto st = stations_.find(station);
    if (st == stations_.end()) return;
    if (auto f = st->second.files.find(file); f != st->second.files.end()) f->second.protected_sts = sts;
}

void ControllerNetwork::unprotect_file(uint8_t station, uint16_t file) {
    std::lock_guard lock(mutex_);
    auto st = stations_.find(station);
    if (st == stations_.end()) return;
    if (auto f = st->second.files.find(file); f != st->second.files.end()) f->second.protected_sts.reset();
}

void ControllerNetwork::attach(InterfaceModule& module) {
    std::vector<uint8_t> present;
    {
        std::lock_guard lock(mutex_);
        module_ = &module;
        for (const auto& [n, s] : stations_) present.push_back(n);
    }
    for (uint8_t n : present) register_station(n);
}

namespace {

using DataFile = ControllerNetwork::DataFile;
using Station = ControllerNetwork::Station;

// A read or write of `count` bytes at byte `offset` of a file.
Outcome access_file(DataFile& f, size_t offset, size_t count, std::span<const uint8_t> write, bool writing) {
    if (f.protected_sts) return failed(*f.protected_sts);
    if (count == 0 || offset + count > f.bytes.size()) return failed(kStsAddressProblem);
    if (writing) {
        if (write.size() != count) return failed(kStsIllegalCommand);
        std::copy(write.begin(), write.end(), f.bytes.begin() + static_cast<std::ptrdiff_t>(offset));
        return {};
    }
    Outcome o;
    o.data.assign(f.bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                  f.bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
    return o;
}

// One request being answered: the station it names, its fields after the header and its log
// record.
struct Exchange {
    Station& station;
    Fields fields;
    CommandRecord& record;

    DataFile* file(uint16_t number) {
        auto f = station.files.find(number);
        return f == station.files.end() ? nullptr : &f->second;
    }

    // `count` bytes of the record's file and element, from `offset_in_element` on; a typed
    // command's file type code must match the file.
    Outcome data_access(std::optional<uint8_t> type_code, size_t offset_in_element, size_t count,
                        std::span<const uint8_t> write, bool writing) {
        DataFile* f = file(record.file);
        if (!f) return failed(kStsAddressProblem);
        if (type_code && *type_code != kTypedBase + f->file_type) return failed(kStsIllegalCommand);
        const size_t offset =
            static_cast<size_t>(record.element) * static_cast<size_t>(f->element_size) + offset_in_element;
        return access_file(*f, offset, count, write, writing);
    }
};

std::optional<Outcome> diagnostic_status(Exchange& x) {
    uint8_t fnc = 0;
    if (!x.fields.byte(fnc)) return std::nullopt;
    x.record.function = fnc;
    if (fnc != 0x03) return failed(kStsIllegalCommand);
    Outcome o;
    o.data.assign(kDiagnosticBytes, 0);
    o.data[1] = x.station.processor_type;
    return o;
}

// Commands 0x01 and 0x08 on file 9.
Outcome unprotected_access(Exchange& x, bool writing) {
    uint16_t element = 0;
    uint8_t count = 0;
    if (!x.fields.word(element) || (!writing && !x.fields.byte(count))) return failed(kStsIllegalCommand);
    x.record.file = kUnprotectedFile;
    x.record.element = element;
    const auto data = x.fields.rest();
    x.record.size = writing ? static_cast<uint16_t>(data.size()) : count;
    if (writing) x.record.data.assign(data.begin(), data.end());
    return x.data_access(std::nullopt, 0, x.record.size, data, writing);
}

Outcome directory_read(Exchange& x) {
    uint8_t count = 0, type = 0;
    if (!x.fields.byte(count) || !x.fields.address(x.record.file) || !x.fields.byte(type) ||
        !x.fields.address(x.record.element)) {
        return failed(kStsIllegalCommand);
    }
    x.record.type_code = type;
    x.record.size = count;
    const std::vector<uint8_t>& directory = x.station.directory;
    const size_t offset = static_cast<size_t>(x.record.element) * 2;
    if (type != kDirectoryType || x.record.file != 0) return failed(kStsIllegalCommand);
    if (count == 0 || offset + count > directory.size()) return failed(kStsAddressProblem);
    Outcome o;
    o.data.assign(directory.begin() + static_cast<std::ptrdiff_t>(offset),
                  directory.begin() + static_cast<std::ptrdiff_t>(offset + count));
    return o;
}

// 0x0F/0xA2 and 0x0F/0xAA: byte count, file, type code, element, sub-element (a word of the
// element), then the data of a write.
Outcome typed_access(Exchange& x, bool writing) {
    uint8_t count = 0, type = 0;
    uint16_t sub = 0;
    if (!x.fields.byte(count) || !x.fields.address(x.record.file) || !x.fields.byte(type) ||
        !x.fields.address(x.record.element) || !x.fields.address(sub)) {
        return failed(kStsIllegalCommand);
    }
    x.record.type_code = type;
    x.record.sub_element = sub;
    x.record.size = count;
    const auto data = x.fields.rest();
    if (writing) x.record.data.assign(data.begin(), data.end());
    return x.data_access(type, static_cast<size_t>(sub) * 2, count, data, writing);
}

// 0x0F/0xAB: the typed write's address fields, then a mask word and the data words; only the
// bits set in the mask take the data's bits, in every word written.
Outcome masked_typed_write(Exchange& x) {
    uint8_t count = 0, type = 0;
    uint16_t sub = 0, mask = 0;
    if (!x.fields.byte(count) || !x.fields.address(x.record.file) || !x.fields.byte(type) ||
        !x.fields.address(x.record.element) || !x.fields.address(sub) || !x.fields.word(mask)) {
        return failed(kStsIllegalCommand);
    }
    x.record.type_code = type;
    x.record.sub_element = sub;
    x.record.mask = mask;
    x.record.size = count;
    const auto data = x.fields.rest();
    x.record.data.assign(data.begin(), data.end());
    if (count % 2 != 0 || data.size() != count) return failed(kStsIllegalCommand);
    Outcome current = x.data_access(type, static_cast<size_t>(sub) * 2, count, {}, false);
    if (current.sts != 0) return current;
    std::vector<uint8_t> merged = current.data;
    for (size_t i = 0; i < merged.size(); i += 2) {
        const auto old_word = static_cast<uint16_t>(merged[i] | merged[i + 1] << 8);
        const auto new_word = static_cast<uint16_t>(data[i] | data[i + 1] << 8);
        const auto word = static_cast<uint16_t>((old_word & ~mask) | (new_word & mask));
        merged[i] = static_cast<uint8_t>(word & 0xFF);
        merged[i + 1] = static_cast<uint8_t>(word >> 8);
    }
    return x.data_access(type, static_cast<size_t>(sub) * 2, count, merged, true);
}

// 0x0F/0x01 and 0x0F/0x00: packet offset, word count, address mask 0x07, level 1 (0), file,
// element, then the byte count of a read or the data of a write.
Outcome word_range_access(Exchange& x, bool writing) {
    uint16_t offset = 0, words = 0, level1 = 0;
    uint8_t mask = 0, count = 0;
    if (!x.fields.word(offset) || !x.fields.word(words) || !x.fields.byte(mask) ||
        !x.fields.address(level1) || !x.fields.address(x.record.file) ||
        !x.fields.address(x.record.element) || (!writing && !x.fields.byte(count)) || mask != 0x07 ||
        level1 != 0 || offset != 0) {
        return failed(kStsIllegalCommand);
    }
    const auto data = x.fields.rest();
    x.record.size = writing ? static_cast<uint16_t>(data.size()) : count;
    if (writing) x.record.data.assign(data.begin(), data.end());
    if (static_cast<size_t>(words) * 2 != x.record.size) return failed(kStsIllegalCommand);
    return x.data_access(std::nullopt, 0, x.record.size, data, writing);
}

// Processors with a file directory take the typed commands, the others the word-range ones;
// each refuses the other family as a command it does not know.
bool processor_takes(uint8_t processor_type, uint8_t fnc) {
    const bool typed = fnc == 0xA2 || fnc == 0xAA || fnc == 0xAB;
    const bool word_range = fnc == 0x00 || fnc == 0x01;
    if (directory_based(processor_type)) return !word_range;
    return !typed;
}

std::optional<Outcome> extended_command(Exchange& x) {
    uint8_t fnc = 0;
    if (!x.fields.byte(fnc)) return std::nullopt;
    x.record.function = fnc;
    const bool known = fnc == 0xA1 || fnc == 0xA2 || fnc == 0xAA || fnc == 0xAB || fnc == 0x00 || fnc == 0x01;
    if (!known || !processor_takes(x.station.processor_type, fnc)) return failed(kStsIllegalCommand);
    switch (fnc) {
        case 0xA1:
            return directory_read(x);
        case 0xA2:
        case 0xAA:
            return typed_access(x, fnc == 0xAA);
        case 0xAB:
            return masked_typed_write(x);
        default:
            return word_range_access(x, fnc == 0x00);
    }
}

// The station's answer to the decoded command: none when it stays silent.
std::optional<Outcome> run_command(Exchange& x) {
    switch (x.record.command) {
        case kCmdDiagnostic:
            return diagnostic_status(x);
        case kCmdUnprotectedRead:
        case kCmdUnprotectedWrite:
            return unprotected_access(x, x.record.command == kCmdUnprotectedWrite);
        case kCmdExtended:
            return extended_command(x);
        default:
            return failed(kStsIllegalCommand);
    }
}

struct ReplyHeader {
    uint8_t src = 0;
    uint8_t tns_low = 0;
    uint8_t tns_high = 0;
};

// An error mode turns the answer into the one the mode gives; false when nothing is sent.
bool apply_mode(StationMode mode, uint8_t code, uint8_t module_address, Outcome& outcome,
                ReplyHeader& header) {
    switch (mode) {
        case StationMode::normal:
            break;
        case StationMode::silent:
            return false;
        case StationMode::module_status:
            header.src = module_address;
            outcome = failed(code != 0 ? code : kStsModuleUndelivered);
            break;
        case StationMode::extended:
            outcome = failed(kStsExtended);
            outcome.data = {code};
            break;
        case StationMode::short_reply:
            if (outcome.sts == 0 && !outcome.data.empty()) {
                outcome.data.resize(outcome.data.size() -
                                    std::min<size_t>(code != 0 ? code : 1, outcome.data.size()));
            }
            break;
        case StationMode::wrong_tns: {
            const auto tns = static_cast<uint16_t>((header.tns_low | header.tns_high << 8) + 1);
            header.tns_low = static_cast<uint8_t>(tns & 0xFF);
            header.tns_high = static_cast<uint8_t>(tns >> 8);
            break;
        }
    }
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> ControllerNetwork::answer_locked(std::span<const uint8_t> request,
                                                                     CommandRecord& record) {
    if (request.size() < 6) return std::nullopt;
    record.station = request[0];
    record.command = request[2];
    auto st = stations_.find(record.station);
    if (st == stations_.end()) return std::nullopt;
    Station& station = st->second;
    const StationMode mode = station.mode;
    const uint8_t code = station.mode_code;
    if (station.mode_count > 0 && --station.mode_count == 0) station.mode = StationMode::normal;
    // A station that is off or answers only with an error changes nothing: the request is
    // decoded for the log against a copy of its files.
    const bool takes_effect =
        mode == StationMode::normal || mode == StationMode::short_reply || mode == StationMode::wrong_tns;
    std::optional<std::map<uint16_t, DataFile>> kept;
    if (!takes_effect) kept = station.files;
    struct Restore {
        Station& station;
        std::optional<std::map<uint16_t, DataFile>>& kept;
        ~Restore() {
            if (kept) station.files = std::move(*kept);
        }
    } restore{station, kept};

    Exchange exchange{station, Fields(request, 6), record};
    std::optional<Outcome> outcome = run_command(exchange);
    if (!outcome) return std::nullopt;
    ReplyHeader header{record.station, request[4], request[5]};
    if (!apply_mode(mode, code, module_address_, *outcome, header)) return std::nullopt;
    record.status = outcome->sts;
    if (outcome->sts == kStsExtended && !outcome->data.empty()) record.ext_status = outcome->data[0];
    if (!record.is_write() && outcome->sts == 0) record.data = outcome->data;

    std::vector<uint8_t> reply{request[1],   header.src,     static_cast<uint8_t>(request[2] | 0x40),
                               outcome->sts, header.tns_low, header.tns_high};
    reply.insert(reply.end(), outcome->data.begin(), outcome->data.end());
    return reply;
}

std::optional<std::vector<uint8_t>> ControllerNetwork::answer(std::span<const uint8_t> request) {
    std::function<void(const CommandRecord&)> observer;
    CommandRecord record;
    std::optional<std::vector<uint8_t>> reply;
    {
        std::lock_guard lock(mutex_);
        record.time_ns = platform::monotonic_ns();
        reply = answer_locked(request, record);
        if (request.size() >= 6) commands_.push_back(record);
        observer = observer_;
    }
    changed_.notify_all();
    if (observer && request.size() >= 6) observer(record);
    return reply;
}

std::vector<CommandRecord> ControllerNetwork::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

void ControllerNetwork::clear_commands() {
    std::lock_guard lock(mutex_);
    commands_.clear();
}

bool ControllerNetwork::wait_for_commands(const std::function<bool(const std::vector<CommandRecord>&)>& done,
                                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(commands_); });
}

void ControllerNetwork::set_command_observer(std::function<void(const CommandRecord&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

}  // namespace sim_controller
