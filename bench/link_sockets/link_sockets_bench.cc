// Figures of the socket transports of the server link, on loopback against in-process
// stand-in servers: a small TLS round trip after the handshake, the handshake itself, a small
// web-service call with keep-alive, 64 KiB replies over the pipe, the TLS socket and the web
// service, and the web service at compression level 9 against level 1.
//   bench_link_sockets [--quick]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "link_tls/tls_transport.h"
#include "link_web/web_transport.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "qvr/link/link.h"
#include "qvr/settings/reg.h"
#include "server/dispatcher.h"
#include "server/pipe_front.h"
#include "server/tls/tls_front.h"
#include "server/web/web_front.h"
#include "socket_bench_sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void fail(const char* what) {
    std::fprintf(stderr, "bench_link_sockets: %s\n", what);
    std::exit(1);
}

struct Percentiles {
    double p50;
    double p99;
};

Percentiles percentiles(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

// Round trips of `request` (after 50 to warm up) in us.
std::vector<double> round_trips(const std::string& server, const std::string& request, uint32_t capacity, int count) {
    std::vector<char> reply(capacity);
    std::vector<double> us;
    for (int i = 0; i < count + 50; ++i) {
        uint32_t length = capacity;
        const auto start = Clock::now();
        if (link_SendText(server.c_str(), request.c_str(), reply.data(), &length) < 0) {
            std::fprintf(stderr, "error %d\n", platform::last_error());
            fail(request.c_str());
        }
        if (i >= 50) us.push_back(micros(Clock::now() - start));
    }
    return us;
}

// Channel-value-like text: numbers and commas, as compressible as real replies are.
std::string value_text(size_t size) {
    std::mt19937 random(7);
    std::string text = "0,";
    while (text.size() < size) text += std::to_string(random() % 100000) + "." + std::to_string(random() % 100) + ",";
    text.resize(size);
    return text;
}

void large(const char* name, const std::string& server, int count) {
    const auto us = round_trips(server, "VT", 65536, count);
    double total = 0;
    for (double u : us) total += u;
    const Percentiles p = percentiles(us);
    std::printf("64 KiB replies over %s, %d requests: p50 %.0f us, p99 %.0f us, %.0f MB/s\n", name, count, p.p50, p.p99,
                65536.0 * count / total);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const std::string dir = socket_bench::make_sandbox("bench_link_sockets", "qvrsock");

    sim_server::Dispatcher dispatcher;
    sim_server::add_core_handlers(dispatcher);
    const std::string values = value_text(65536);
    dispatcher.set_handler("VT", [&](std::string_view, uint32_t) { return values; });
    {
        sim_server::PipeFront pipe(dispatcher);
        sim_server::TlsFrontOptions tls_options;
        tls_options.certificate_file = dir + "/server.crt";
        tls_options.key_file = dir + "/server.key";
        sim_server::TlsFront tls(dispatcher, tls_options);
        sim_server::WebFront web(dispatcher);
        sim_server::WebFrontOptions fast;
        fast.compression_level = 1;
        sim_server::WebFront web_fast(dispatcher, fast);
        if (pipe.start() != 0 || tls.start() != 0 || web.start() != 0 || web_fast.start() != 0) fail("start");
        const int n = quick ? 500 : 5000;

        // The handshake: opening the link anew each time (its certificate lines go to stdout).
        std::vector<double> handshakes;
        std::fflush(stdout);
        const int saved_stdout = dup(1);
        FILE* sink = std::freopen("/dev/null", "w", stdout);
        for (int i = 0; i < (quick ? 50 : 300); ++i) {
            ServerConnection entry;
            std::snprintf(entry.server, sizeof entry.server, "%s", tls.url().c_str());
            entry.timeout = 5000;
            const auto start = Clock::now();
            if (sock_Open(&entry) != 1) {
                std::fprintf(stderr, "error %d\n", platform::last_error());
                fail("sock_Open");
            }
            handshakes.push_back(micros(Clock::now() - start));
            sock_Close(&entry);
        }
        std::fflush(stdout);
        dup2(saved_stdout, 1);
        close(saved_stdout);
        (void)sink;
        const Percentiles h = percentiles(handshakes);
        std::printf("TLS connect and handshake: p50 %.0f us, p99 %.0f us (target < 5 ms)\n", h.p50, h.p99);

        const Percentiles t = percentiles(round_trips(tls.url(), "RS", 16, n));
        std::printf("small TLS round trip (RS, 16-byte reply), %d requests: p50 %.0f us, p99 %.0f us (target p50 < 200 us)\n",
                    n, t.p50, t.p99);
        const Percentiles w = percentiles(round_trips(web.url(), "RS", 16, n));
        std::printf("small web-service call with keep-alive (RS), %d calls: p50 %.0f us, p99 %.0f us (target p50 < 1 ms)\n",
                    n, w.p50, w.p99);

        const int large_count = quick ? 100 : 1000;
        large("the pipe", ".", large_count);
        large("the TLS socket", tls.url(), large_count);
        large("the web service (level 9)", web.url(), large_count);
        link_web::testing::set_compression_level(1);
        large("the web service (level 1)", web_fast.url(), large_count);
        link_CloseAll();
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
