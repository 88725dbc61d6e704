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
#include "TOLVA_CF/logic/channel_paste.h"
#include "TOLVA_CF/logic/help_pages.h"
#include "TOLVA_CF/logic/host_application.h"
#include "TOLVA_CF/logic/machine_ports.h"
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

}  // extern "C"
