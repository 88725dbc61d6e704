// Figures of the remote-file requests over each transport of the server link (the pipe, the
// TLS socket, the web service over http), against one in-process stand-in server with a
// product tree: a fetch of a 4 MiB configuration file (target at least 100 MB/s over the
// pipe) and a listing of 10,000 names.
//   bench_link_sockets_remote_files [--quick]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link_tls/tls_transport.h"
#include "link_web/web_transport.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "qvr/link/link.h"
#include "qvr/requests/remote_file_requests.h"
#include "qvr/settings/reg.h"
#include "server/dispatcher.h"
#include "server/pipe_front.h"
#include "server/product_tree.h"
#include "server/request_handlers.h"
#include "server/tls/tls_front.h"
#include "server/web/web_front.h"
#include "socket_bench_sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFileSize = 4u << 20;
constexpr int kNames = 10000;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void fail(const std::string& what) {
    std::fprintf(stderr, "bench_link_sockets_remote_files: %s (error %d)\n", what.c_str(), platform::last_error());
    std::exit(1);
}

struct Figures {
    double fetch_s;
    double list_s;
    std::size_t list_requests;
};

// The best of `rounds` fetches and listings through `server`.
Figures measure(const std::string& server, const std::string& dir, sim_server::Dispatcher& dispatcher, int rounds) {
    const std::string target = dir + "/copy";
    Figures f{1e9, 1e9, 0};
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        if (cfg_FetchRemoteFile(server.c_str(), "dev", "config", target.c_str()) != 0)
            fail("fetch through " + server);
        f.fetch_s = std::min(f.fetch_s, seconds(Clock::now() - start));
    }
    if (std::filesystem::file_size(target) != kFileSize) fail("fetched size through " + server);
    std::vector<char> slots(static_cast<std::size_t>(kNames) * kRemoteNameSlot);
    dispatcher.clear_requests();
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        const int n = link_ListDirectory(server.c_str(), "QVR_CURRENT_CONFIG\\many", "*.xml", kNames, slots.data());
        if (n != kNames) fail("listing through " + server + " gave " + std::to_string(n) + " names");
        f.list_s = std::min(f.list_s, seconds(Clock::now() - start));
    }
    f.list_requests = dispatcher.request_count() / static_cast<std::size_t>(rounds);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const std::string dir = socket_bench::make_sandbox("bench_link_sockets_remote_files", "qvrsockrf");
    int status = 0;
    {
        sim_server::ProductTree tree(dir + "/product");
        sim_server::RequestTables tables;
        sim_server::Dispatcher dispatcher;
        sim_server::add_core_handlers(dispatcher);
        sim_server::add_request_handlers(dispatcher, tables, tree);
        const std::string config = tree.folder("QVR_CURRENT_CONFIG");
        std::filesystem::create_directories(config + "/dev");
        {
            std::string content(kFileSize, '\0');
            for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 131 + 7);
            std::ofstream(config + "/dev/config", std::ios::binary).write(content.data(), content.size());
        }
        std::filesystem::create_directories(config + "/many");
        for (int i = 0; i < kNames; ++i)
            std::ofstream(config + "/many/channel_table_" + std::to_string(100000 + i) + ".xml");

        sim_server::PipeFront pipe(dispatcher);
        sim_server::TlsFrontOptions tls_options;
        tls_options.certificate_file = dir + "/server.crt";
        tls_options.key_file = dir + "/server.key";
        sim_server::TlsFront tls(dispatcher, tls_options);
        sim_server::WebFront web(dispatcher);
        if (pipe.start() != 0 || tls.start() != 0 || web.start() != 0) fail("start");

        const int rounds = quick ? 2 : 10;
        struct Run {
            const char* name;
            std::string server;
        };
        for (const Run& r : {Run{"the pipe", "."}, Run{"the TLS socket", tls.url()}, Run{"the web service", web.url()}}) {
            const Figures f = measure(r.server, dir, dispatcher, rounds);
            const double mbps = kFileSize / f.fetch_s / 1e6;
            const bool pipe_run = r.server == ".";
            std::printf("fetch 4 MiB over %s: best %.1f ms, %.0f MB/s%s\n", r.name, f.fetch_s * 1e3, mbps,
                        pipe_run ? (mbps >= 100 ? " (target >= 100) ok" : " (target >= 100) BELOW TARGET") : "");
            std::printf("list 10,000 names over %s: best %.1f ms (%zu requests a listing)\n", r.name, f.list_s * 1e3,
                        f.list_requests);
            if (pipe_run && mbps < 100) status = 1;
        }
        link_CloseAll();
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
