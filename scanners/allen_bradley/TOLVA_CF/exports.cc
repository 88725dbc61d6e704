// The library's C entry points. Nothing may throw across them, and a null record or
// result pointer is refused quietly, as the configuration program expects no result.
#include "TOLVA_CF/exports.h"

#include <cstdio>
#include <exception>
#include <mutex>

#include "TOLVA_CF/dialogs/application_scope.h"
#include "TOLVA_CF/dialogs/channel_dialog.h"
#include "TOLVA_CF/dialogs/comport_dialog.h"
#include "TOLVA_CF/dialogs/dialog_services.h"
#include "TOLVA_CF/dialogs/qt_print_target.h"
#include "TOLVA_CF/logic/channel_paste.h"
#include "TOLVA_CF/logic/help_pages.h"
#include "TOLVA_CF/logic/host_application.h"
#include "TOLVA_CF/logic/machine_ports.h"
#include "TOLVA_CF/logic/printout.h"
#include "platform/last_error.h"
#include "link_tls/tls_transport.h"
#include "link_web/web_transport.h"

namespace {

// The configuration library reaches servers of every kind, so the socket and web-service
// transports join the server link the first time the configuration program calls in.
void register_server_transports() {
    static std::once_flag once;
    std::call_once(once, [] {
        tls_RegisterTransport();
        web_RegisterTransport();
    });
}

template <typename Body>
void guarded(const char* entry_point, Body&& body) {
    try {
        register_server_transports();
        body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "TOLVA_CF: %s failed: %s\n", entry_point, e.what());
    } catch (...) {
        std::fprintf(stderr, "TOLVA_CF: %s failed\n", entry_point);
    }
}

// The same for the entry points with a result: -1 when anything escapes.
template <typename Body>
int guarded_result(const char* entry_point, Body&& body) {
    int result = -1;
    guarded(entry_point, [&] { result = body(); });
    return result;
}

std::string_view text_or_empty(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

}  // namespace

extern "C" {

void DLL_ConfigAdvanDevSpecific(QWidget* parent, tolva::HostDeviceRecord* device, int* modified) {
    guarded("DLL_ConfigAdvanDevSpecific", [&] {
        if (device == nullptr) return;
        using namespace tolva::cf;
        const GuiApplicationScope application;
        if (!application.ready()) return;
        const HostApplicationValues host = host_application_values();
        const auto ports = configuration_server_port_offers(host.server_name);
        QtMessageBoxes messages;
        const LibraryQuestionScope questions(parent, messages);
        DesktopHelpPages help(this_module_path(), messages);
        CComport dialog(parent, host.default_port_number, device->Config.Comm, modified, ports, messages,
                        help);
        dialog.exec();
    });
}

void DLL_ConfigChanDevSpecific(QWidget* parent, const tolva::HostDeviceRecord* /*device*/,
                               unsigned channel_flags, int /*channel_index*/, qvr::ChannelRecord* record,
                               int* modified) {
    guarded("DLL_ConfigChanDevSpecific", [&] {
        if (record == nullptr) return;
        using namespace tolva::cf;
        const GuiApplicationScope application;
        if (!application.ready()) return;
        QtMessageBoxes messages;
        const LibraryQuestionScope questions(parent, messages);
        DesktopHelpPages help(this_module_path(), messages);
        CChannel dialog(parent, channel_flags, *record, modified, messages, help);
        dialog.exec();
    });
}

void DLL_PasteChannel(QWidget* /*parent*/, const tolva::HostDeviceRecord* /*device*/, unsigned new_flags,
                      int /*channel_index*/, qvr::ChannelRecord* destination,
                      const qvr::ChannelRecord* source, int* modified) {
    guarded("DLL_PasteChannel", [&] {
        if (destination == nullptr || source == nullptr) return;
        tolva::cf::paste_channel(*destination, *source, new_flags);
        if (modified) *modified = 1;
    });
}

int PrintAllConfig(TolvaPrintTarget* target, const char* server, const tolva::HostDeviceRecord* device,
                   int status, int autosave, int by_tag, int save_rate_ms, const tolva::DeviceConfigRecord* config,
                   const qvr::ChannelRecord* const* channels) {
    return guarded_result("PrintAllConfig", [&] {
        if (target == nullptr || device == nullptr) return platform::fail(platform::kErrorInvalidArgument);
        const tolva::cf::WaitCursorScope wait;
        const tolva::cf::PrintAllRequest request{text_or_empty(server), device, status, autosave != 0,
                                                 by_tag != 0, save_rate_ms, config, channels};
        return tolva::cf::print_all_config(*target, request, tolva::cf::server_configuration());
    });
}

int PrintConfig(TolvaPrintTarget* target, const char* server, const tolva::HostDeviceRecord* device, int kind,
                int first, int last, const tolva::DeviceConfigRecord* /*config*/, const qvr::ChannelRecord* records) {
    return guarded_result("PrintConfig", [&] {
        if (target == nullptr || device == nullptr) return platform::fail(platform::kErrorInvalidArgument);
        const tolva::cf::WaitCursorScope wait;
        const tolva::cf::PrintKindRequest request{text_or_empty(server), device, kind, first, last, records};
        return tolva::cf::print_kind_config(*target, request, tolva::cf::server_configuration());
    });
}

TolvaPrintTarget* TOLVA_CF_OpenQtPrintTarget(const char* output) {
    TolvaPrintTarget* target = nullptr;
    guarded("TOLVA_CF_OpenQtPrintTarget", [&] { target = tolva::cf::open_qt_print_target(text_or_empty(output)); });
    return target;
}

}  // extern "C"
