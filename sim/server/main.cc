// qvr_server: the product-server stand-in on the command line. It answers over the pipe of
// this machine (or of a machine it stands for) under the IPC prefix and runtime folder of its
// environment, or under fresh ones with --fresh, and on request also over a TLS socket and the
// web service on 127.0.0.2; it prints every request it gets and stops by itself after its
// time, or on SIGTERM/SIGINT.
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/ipc_names.h"
#include "platform/stop_signals.h"
#include "server/dispatcher.h"
#include "server/pipe_front.h"
#include "server/product_tree.h"
#include "server/request_handlers.h"
#include "server/tls/tls_front.h"
#include "server/web/web_front.h"

namespace {

constexpr const char* kUsage =
    "usage: qvr_server [OPTIONS]\n"
    "  --machine NAME     answer as the machine NAME (default \".\": this machine)\n"
    "  --pipe NAME        name of the pipe (default quorvane)\n"
    "  --reply CODE=TEXT  the next request CODE gets the reply TEXT (repeatable, in order)\n"
    "  --for SECONDS      stop after SECONDS (default 60)\n"
    "  --fresh            run under a fresh IPC prefix and runtime folder (printed)\n"
    "  --root FOLDER      a product tree under FOLDER (its folders printed), whose files the\n"
    "                     file requests use; processor, device and logger tables start empty\n"
    "  --tls CERT KEY     also answer over TLS on 127.0.0.2 with the PEM certificate and key\n"
    "  --web              also answer the web service over HTTP on 127.0.0.2\n"
    "  --https CERT KEY   also answer the web service over HTTPS on 127.0.0.2\n"
    "  --help             this text\n"
    "Prints \"listening <socket file>\" (and \"listening <url>\" for each other front end), then \"request <transport> <capacity> <bytes>\" for each\n"
    "request (bytes outside printable ASCII as \\xHH).\n";

std::atomic<bool> g_stop{false};

std::string printable(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

int usage_error(const char* what) {
    std::fprintf(stderr, "qvr_server: %s\n%s", what, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    sim_server::PipeFrontOptions options;
    options.lifetime_ms = 60000;
    std::vector<std::pair<std::string, std::string>> replies;
    bool fresh = false;
    std::string root;
    sim_server::TlsFrontOptions tls_options;
    bool tls = false;
    sim_server::WebFrontOptions web_options;
    bool web = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--machine" && has_value) {
            options.machine = argv[++i];
        } else if (arg == "--pipe" && has_value) {
            options.pipe = argv[++i];
        } else if (arg == "--reply" && has_value) {
            const std::string_view spec = argv[++i];
            const size_t eq = spec.find('=');
            if (eq != 2) return usage_error("--reply needs CODE=TEXT with a two-letter code");
            replies.emplace_back(std::string(spec.substr(0, 2)), std::string(spec.substr(3)) + '\0');
        } else if (arg == "--for" && has_value) {
            const std::string_view text = argv[++i];
            uint32_t seconds = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
            if (ec != std::errc() || end != text.data() + text.size() || seconds == 0 || seconds > 86400)
                return usage_error("--for needs 1..86400 seconds");
            options.lifetime_ms = seconds * 1000;
        } else if (arg == "--fresh") {
            fresh = true;
        } else if (arg == "--root" && has_value) {
            root = argv[++i];
        } else if (arg == "--tls" && i + 2 < argc) {
            tls = true;
            tls_options.certificate_file = argv[++i];
            tls_options.key_file = argv[++i];
        } else if (arg == "--web") {
            web = true;
        } else if (arg == "--https" && i + 2 < argc) {
            web = true;
            web_options.certificate_file = argv[++i];
            web_options.key_file = argv[++i];
        } else {
            return usage_error("unknown option");
        }
    }

    std::string fresh_dir;
    if (fresh) {
        char dir[] = "/tmp/qvr_server.XXXXXX";
        if (mkdtemp(dir) == nullptr) return usage_error("cannot make a runtime folder");
        fresh_dir = dir;
        const std::string prefix = "qvrsrv" + std::to_string(getpid()) + "_";
        setenv("QUORVANE_IPC_PREFIX", prefix.c_str(), 1);
        setenv("QUORVANE_RUNTIME_DIR", (fresh_dir + "/run").c_str(), 1);
        std::printf("prefix %s\nruntime %s\n", platform::ipc_prefix().c_str(), platform::runtime_dir().c_str());
    }

    platform::StopSignals::block();
    platform::StopSignals signals;
    signals.start([](int) { g_stop.store(true); });

    sim_server::Dispatcher dispatcher;
    sim_server::add_core_handlers(dispatcher);
    for (auto& [code, reply] : replies) dispatcher.script_reply(code, reply);
    std::optional<sim_server::ProductTree> tree;
    sim_server::RequestTables tables;
    if (!root.empty()) {
        tree.emplace(root);
        for (const std::string& line : tree->environment()) std::printf("folder %s\n", line.c_str());
        sim_server::add_request_handlers(dispatcher, tables, *tree);
    }

    sim_server::PipeFront front(dispatcher, options);
    if (front.start() != 0) {
        std::fprintf(stderr, "qvr_server: cannot listen on %s: %s\n", front.pipe_name().c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("listening %s\n", front.socket_path().c_str());
    tls_options.lifetime_ms = options.lifetime_ms;
    web_options.lifetime_ms = options.lifetime_ms;
    sim_server::TlsFront tls_front(dispatcher, tls_options);
    sim_server::WebFront web_front(dispatcher, web_options);
    if (tls) {
        if (tls_front.start() != 0) {
            std::fprintf(stderr, "qvr_server: cannot serve TLS: %s\n", std::strerror(errno));
            return 1;
        }
        std::printf("listening %s\n", tls_front.url().c_str());
    }
    if (web) {
        if (web_front.start() != 0) {
            std::fprintf(stderr, "qvr_server: cannot serve the web service: %s\n", std::strerror(errno));
            return 1;
        }
        std::printf("listening %s\n", web_front.url().c_str());
    }
    std::fflush(stdout);

    size_t printed = 0;
    while (!g_stop.load() && front.running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto requests = dispatcher.requests();
        for (; printed < requests.size(); ++printed) {
            const auto& r = requests[printed];
            std::printf("request %s %u %s\n", r.transport.c_str(), r.capacity, printable(r.bytes).c_str());
        }
        std::fflush(stdout);
    }
    web_front.stop();
    tls_front.stop();
    front.stop();
    signals.stop();
    std::printf("stopped\n");
    if (!fresh_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(fresh_dir, ec);
    }
    return 0;
}
