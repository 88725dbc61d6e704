#pragma once
// The entry points of TOLVA_CF.so and the records that cross them. The configuration program
// loads the library, finds these names with dlsym and calls them on its user-interface
// thread; it exports qvr_HostApplication itself so the library can read the application's
// values. Every record here is a fixed binary layout shared with the configuration program.
#include <cstddef>
#include <cstdint>

#include "qvr/records/channel_record.h"
#include "tolva_ex/records.h"

class QWidget;

namespace tolva {

// One channel table kind of a device: its two-letter module code (first byte 0 = no table of
// that kind) and its channel count.
struct HostKindEntry {
    char ModuleCode[2];
    std::uint16_t ChannelCount;
};

// The configuration program's record of one device. The library reads only the members
// named; the reserved runs belong to the configuration program.
struct HostDeviceRecord {
    std::uint8_t Reserved0[10];
    std::uint16_t PortNumber;  // default for an empty CommPort
    char DeviceName[25];       // NUL-terminated
    char ConfigFolder[13];     // NUL-terminated
    HostKindEntry Kinds[5];    // by ChannelKind: AI, DI, AO, DO, CI
    std::uint8_t Reserved70[150];
    DeviceConfigRecord Config;  // its CommSettings lie at offset 224
};

static_assert(sizeof(HostKindEntry) == 4);
static_assert(offsetof(HostDeviceRecord, PortNumber) == 10);
static_assert(offsetof(HostDeviceRecord, DeviceName) == 12);
static_assert(offsetof(HostDeviceRecord, ConfigFolder) == 37);
static_assert(offsetof(HostDeviceRecord, Kinds) == 50);
static_assert(offsetof(HostDeviceRecord, Config) == 220);
static_assert(offsetof(HostDeviceRecord, Config.Comm) == 224);
static_assert(sizeof(HostDeviceRecord) == 924);

}  // namespace tolva

extern "C" {

// Values of the configuration program's application object.
struct QvrHostApplication {
    std::uint16_t DefaultPortNumber;  // the port of a device whose CommPort is empty
    char ServerName[256];             // configuration server; "" = this machine
};

// Exported by the configuration program (an executable linked with exported symbols); found
// with dlsym(RTLD_DEFAULT, kHostApplicationSymbol). Without it the library takes port 1 and
// this machine.
using QvrHostApplicationFn = QvrHostApplication (*)();
inline constexpr const char* kHostApplicationSymbol = "qvr_HostApplication";

#define TOLVA_CF_EXPORT __attribute__((visibility("default")))

// Shows the communication dialog on the device's CommSettings; *modified = 1 when they were
// changed. `parent` may be null; without a widget application one is made for the call.
TOLVA_CF_EXPORT void DLL_ConfigAdvanDevSpecific(QWidget* parent, tolva::HostDeviceRecord* device,
                                                int* modified);

// Shows the controller-address dialog on the channel's address part; bit 0 of
// `channel_flags` selects the digital layout. *modified = 1 when the address was changed.
// `device` and `channel_index` are not used.
TOLVA_CF_EXPORT void DLL_ConfigChanDevSpecific(QWidget* parent, const tolva::HostDeviceRecord* device,
                                               unsigned channel_flags, int channel_index,
                                               qvr::ChannelRecord* record, int* modified);

// Copies `source` onto `destination` as a channel of kind `new_flags & 0xFF`, moving the
// address part and clearing the kind-specific settings when the layout changes. Always sets
// *modified = 1. `parent`, `device` and `channel_index` are not used.
TOLVA_CF_EXPORT void DLL_PasteChannel(QWidget* parent, const tolva::HostDeviceRecord* device,
                                      unsigned new_flags, int channel_index, qvr::ChannelRecord* destination,
                                      const qvr::ChannelRecord* source, int* modified);

// A printer as the print entry points see it: pages started and ended on request and text
// drawn at positions in device units. The configuration program supplies one (or takes the
// Qt back end below). Page functions return 0, or -1 when the page could not be started or
// ended, which stops the job.
struct TolvaPrintTarget {
    void* context;  // passed back to every function
    int (*start_page)(void* context);
    int (*end_page)(void* context);
    // Draws `length` bytes of `text` (no line end) with its top-left corner near (x, y).
    void (*draw_text)(void* context, int x, int y, const char* text, int length);
    int char_height;       // line pitch
    int offset_x;          // horizontal physical offset: the unprintable left margin
    int offset_y;          // vertical physical offset: the unprintable top margin
    int page_height;       // physical page height
    // Set by the Qt back end only: finishes the job and frees the target; 0 when every
    // page reached the printer or the file.
    int (*release)(struct TolvaPrintTarget* target);
};

// Prints the whole configuration of `device`: the device block (server name, device name,
// `status` 0 DISABLED, else ENABLED; `autosave`, `by_tag` and `save_rate_ms` of the
// autosave settings), scan rate and communication settings, then the enabled channels of
// every kind the device has. Without `config` the auto-enable byte (as the status), the
// configuration and the autosave settings are read from `server`, and those are printed.
// `channels` holds one pointer per kind (AI, DI, AO, DO, CI) to that kind's whole table; a
// null array or a null entry reads the kind's channels from `server`. 0, or -1 with the
// reason in errno. Neither record is changed.
TOLVA_CF_EXPORT int PrintAllConfig(TolvaPrintTarget* target, const char* server,
                                   const tolva::HostDeviceRecord* device, int status, int autosave,
                                   int by_tag, int save_rate_ms, const tolva::DeviceConfigRecord* config,
                                   const qvr::ChannelRecord* const* channels);

// Prints the enabled channels first..last (1-based; last 0 = the kind's count, first 0 = 1)
// of one kind. `records` is the kind's whole table from channel 1, or null to read the
// range from `server`; `config` is not used. 0, or -1: no such kind or table, a range
// outside the table, a printer whose page holds fewer lines than a heading and one channel,
// a failed read, page start or end.
TOLVA_CF_EXPORT int PrintConfig(TolvaPrintTarget* target, const char* server,
                                const tolva::HostDeviceRecord* device, int kind, int first, int last,
                                const tolva::DeviceConfigRecord* config, const qvr::ChannelRecord* records);

// The Qt back end: a print target on a PDF file (`output` ending in ".pdf") or on the CUPS
// printer named `output` ("" = the default printer), in DejaVu Sans Mono sized so that 160
// columns fit the printable width. Null with the reason in errno when no printer or file
// can be had. Finish the job with target->release(target).
TOLVA_CF_EXPORT TolvaPrintTarget* TOLVA_CF_OpenQtPrintTarget(const char* output);

// Names the configuration program looks up.
inline constexpr const char* kConfigAdvanDevSpecificSymbol = "DLL_ConfigAdvanDevSpecific";
inline constexpr const char* kConfigChanDevSpecificSymbol = "DLL_ConfigChanDevSpecific";
inline constexpr const char* kPasteChannelSymbol = "DLL_PasteChannel";

using DllConfigAdvanDevSpecificFn = decltype(&DLL_ConfigAdvanDevSpecific);
using DllConfigChanDevSpecificFn = decltype(&DLL_ConfigChanDevSpecific);
using DllPasteChannelFn = decltype(&DLL_PasteChannel);
inline constexpr const char* kPrintAllConfigSymbol = "PrintAllConfig";
inline constexpr const char* kPrintConfigSymbol = "PrintConfig";
inline constexpr const char* kOpenQtPrintTargetSymbol = "TOLVA_CF_OpenQtPrintTarget";
using PrintAllConfigFn = decltype(&PrintAllConfig);
using PrintConfigFn = decltype(&PrintConfig);
using OpenQtPrintTargetFn = decltype(&TOLVA_CF_OpenQtPrintTarget);

// Defined by the configuration program, never by this library.
QvrHostApplication qvr_HostApplication();

}  // extern "C"
