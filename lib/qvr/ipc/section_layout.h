#pragma once
// Byte layout of a shared section and of a data module (a wire format between processes),
// and the operations on its waiter slots and signal requests. Everything here works on the
// bytes of a mapping and checks every offset and count it reads from them, so it serves both
// the live sections and anything handed in from outside.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace qvr {

inline constexpr uint16_t kSectionMagic = 0x4AFC;
// A section maps its data size plus this many bytes.
inline constexpr uint32_t kSectionExtraSize = 108;
inline constexpr size_t kSectionDataOffset = 128;
inline constexpr size_t kMaxSectionNameLength = 31;

// Header fields, from the section start.
inline constexpr size_t kOffMagic = 0;
inline constexpr size_t kOffDataSize = 4;
inline constexpr size_t kOffNameOffset = 8;
inline constexpr size_t kOffHeaderSize = 32;
inline constexpr size_t kOffName = 76;
inline constexpr size_t kOffPending = 108;
inline constexpr size_t kOffOwner = 110;
inline constexpr size_t kOffDataLength = 112;
inline constexpr size_t kOffRecursion = 116;
inline constexpr size_t kOffWaiterOffset = 120;
inline constexpr size_t kOffRequestOffset = 124;

inline constexpr int kWaiterSlotCount = 10;
inline constexpr int kSignalRequestCount = 32;
inline constexpr size_t kNarrowWaiterSize = 6;   // u16 pid, u16 waiting, u16 missed
inline constexpr size_t kWideWaiterSize = 8;     // u32 pid, u16 waiting, u16 missed
inline constexpr size_t kNarrowRequestSize = 4;  // u16 pid, u16 code
inline constexpr size_t kWideRequestSize = 8;    // u32 pid, u16 code, u16 zero
inline constexpr size_t kNarrowWaiterArea = kWaiterSlotCount * kNarrowWaiterSize;                    // 60
inline constexpr size_t kWaiterArea = kNarrowWaiterArea + kWaiterSlotCount * kWideWaiterSize;        // 140
inline constexpr size_t kNarrowRequestArea = kSignalRequestCount * kNarrowRequestSize;               // 128
inline constexpr size_t kRequestArea = kNarrowRequestArea + kSignalRequestCount * kWideRequestSize;  // 384

// The code a watcher's process slot receives when a watched section changed.
inline constexpr uint32_t kSectionChangedCode = 32;

#pragma pack(push, 1)
struct SectionHeader {
    uint16_t magic;
    uint16_t reserved0;
    uint32_t data_size;
    int32_t name_offset;
    uint8_t reserved1[20];
    uint32_t header_size;  // always 108
    uint8_t reserved2[40];
    char name[32];
    uint16_t pending_count;
    int16_t owner;
    uint32_t data_length;
    int32_t recursion;
    uint32_t waiter_offset;
    uint32_t request_offset;
};
#pragma pack(pop)
static_assert(sizeof(SectionHeader) == 128);
static_assert(offsetof(SectionHeader, data_size) == kOffDataSize);
static_assert(offsetof(SectionHeader, name_offset) == kOffNameOffset);
static_assert(offsetof(SectionHeader, header_size) == kOffHeaderSize);
static_assert(offsetof(SectionHeader, name) == kOffName);
static_assert(offsetof(SectionHeader, pending_count) == kOffPending);
static_assert(offsetof(SectionHeader, owner) == kOffOwner);
static_assert(offsetof(SectionHeader, data_length) == kOffDataLength);
static_assert(offsetof(SectionHeader, recursion) == kOffRecursion);
static_assert(offsetof(SectionHeader, waiter_offset) == kOffWaiterOffset);
static_assert(offsetof(SectionHeader, request_offset) == kOffRequestOffset);

// Little-endian fields at any offset (wide entries sit at even, not 4-aligned, offsets).
uint16_t load_u16(std::span<const std::byte> bytes, size_t offset);
uint32_t load_u32(std::span<const std::byte> bytes, size_t offset);
void store_u16(std::span<std::byte> bytes, size_t offset, uint16_t value);
void store_u32(std::span<std::byte> bytes, size_t offset, uint32_t value);

// Bytes a data module of `data_length` asks of the section beyond its data length:
// 544, plus 1 when the length is odd.
uint32_t data_module_extra_bytes(uint32_t data_length);
// The section data size of a data module; nullopt when it does not fit in 32 bits.
std::optional<uint32_t> data_module_data_size(uint32_t data_length);

// Writes bytes 0-107 of a fresh (zeroed) section.
void fill_section_header(std::span<std::byte> mapping, std::string_view name, uint32_t data_size);
// Writes the data length and the area offsets (bytes 112-127) of a fresh data module.
void fill_data_module_fields(std::span<std::byte> mapping, uint32_t data_length);

// How much of an object to map, from its first bytes and its real size: the data size
// plus 108, when that covers the 128-byte header and fits in the object. nullopt otherwise.
std::optional<size_t> section_mapping_size(std::span<const std::byte> head, size_t object_size);

// Why a section's layout cannot be trusted: faults of the header itself first, then faults
// of what a host table or module says it holds (checked by the host layer).
enum class LayoutFault : uint8_t {
    kMagic,          // bytes 0-1 are not 0x4AFC
    kDataLength,     // the data length passes the mapping, or is too short for what must be there
    kAreaOffsets,    // the waiter and request areas are not after the data and inside the mapping
    kRecordCount,    // a table's count field claims more records than its data holds
    kChannelCount,   // a data module's channels do not fit in its data
    kBytesPerValue,  // a data module's bytes per channel are not 4 or 8, or not 8 where values are kept
};
// The reason in upper case, as status texts show it ("CHANNEL COUNT").
std::string_view layout_fault_text(LayoutFault fault);

// The fault of a data module's header (tables and modules are all data modules): its magic,
// a data length inside the mapping, and waiter and request areas after the data and inside
// the mapping. nullopt when the header can be trusted.
std::optional<LayoutFault> module_header_fault(std::span<const std::byte> mapping);

// Where the waiter slots and signal requests of a mapped section are, when its header
// describes areas that lie after the data and inside the mapping; counts are clamped to 10
// and 32. A section without such areas (a plain section) has none and is never signalled.
struct SignalAreas {
    size_t narrow_waiters = 0;
    size_t wide_waiters = 0;
    int wide_waiter_count = 0;
    size_t narrow_requests = 0;
    size_t wide_requests = 0;
    int wide_request_count = 0;
};
std::optional<SignalAreas> signal_areas(std::span<const std::byte> mapping);

// One waiter slot or signal request inside a mapping. Narrow entries keep the low 16 bits of
// a process id; the wide ones are used whenever the section has them. In a section laid out
// with narrow entries only (by another creator; this library always lays out wide ones) a
// process whose id has zero low 16 bits cannot hold an entry, since it would read as free:
// claims, resets and requests of such a pid are refused, and the shm calls fail with
// EOVERFLOW.
struct EntryRef {
    size_t offset;
    bool wide;
};
uint32_t entry_pid(std::span<const std::byte> mapping, EntryRef entry);
bool entry_is_process(std::span<const std::byte> mapping, EntryRef entry, uint32_t pid);

// Whether the waiter slots, or the signal requests, of `areas` can hold `pid`.
bool waiters_can_hold(const SignalAreas& areas, uint32_t pid);
bool requests_can_hold(const SignalAreas& areas, uint32_t pid);

// The waiter slot n (1..10) used for waiting and signalling, if the section has one.
std::optional<EntryRef> waiter_slot(const SignalAreas& areas, int n);

struct CodeToSend {
    uint32_t pid;
    uint32_t code;
};

// Signals slot n (1..10), or every slot and then every request for n = 0: a waiting slot's
// process gets code 32, a slot not waiting counts a missed signal; a request's process gets
// its code and the request is cleared. Entries of `skip_pid` (when given) are passed over.
// The codes to send are appended to `out`.
void signal_entries(std::span<std::byte> mapping, const SignalAreas& areas, int n,
                    std::optional<uint32_t> skip_pid, std::vector<CodeToSend>& out);

// Enters (or updates) the request of `pid`; false when every request is taken or the
// requests cannot hold `pid`.
bool queue_request(std::span<std::byte> mapping, const SignalAreas& areas, uint32_t pid, uint16_t code);
// Clears the request of `pid`; false when it has none.
bool cancel_request(std::span<std::byte> mapping, const SignalAreas& areas, uint32_t pid);

// Claims slot n for `pid` with its flag and missed count cleared and returns the previous
// owner; for n = 0 empties every slot and returns 10. -1 when the slot does not exist or
// cannot hold `pid`.
int64_t reset_waiters(std::span<std::byte> mapping, const SignalAreas& areas, int n, uint32_t pid);

enum class ClaimResult {
    kSignalled,    // a missed signal was consumed: no need to wait
    kMustWait,     // the waiting flag is set: wait for a code
    kTakenByOther  // the slot belongs to another process
};
// Takes slot n for `pid` when free; consumes a missed signal, or sets the waiting flag.
// nullopt when the slot does not exist or cannot hold `pid`.
std::optional<ClaimResult> claim_waiter(std::span<std::byte> mapping, const SignalAreas& areas, int n,
                                        uint32_t pid);
// Clears the waiting flag of slot n when it belongs to `pid`.
void clear_waiting(std::span<std::byte> mapping, const SignalAreas& areas, int n, uint32_t pid);

// The owner field of a process: the low 16 bits of its id.
int16_t owner_id_of(uint32_t pid);
// The owner and depth fields after the mutex is taken (reset first when the previous holder
// died), and before it is released.
void record_lock(std::span<std::byte> mapping, int16_t owner_id, bool previous_holder_died);
void record_unlock(std::span<std::byte> mapping, int16_t owner_id);

}  // namespace qvr
