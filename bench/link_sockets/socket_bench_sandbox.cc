#include "socket_bench_sandbox.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "link_tls/tls_transport.h"
#include "link_web/web_transport.h"
#include "platform/registry_key.h"
#include "qvr/settings/reg.h"

namespace socket_bench {
namespace {

[[noreturn]] void fail(const std::string& program, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), what.c_str());
    std::exit(1);
}

void run(const std::string& program, const std::string& dir, const std::string& command) {
    if (std::system(("cd '" + dir + "' && " + command + " >/dev/null 2>&1").c_str()) != 0) fail(program, command);
}

void make_certificates(const std::string& program, const std::string& dir) {
    run(program, dir, "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -subj /CN=BenchCA -days 2 -out ca.crt");
    run(program, dir, "openssl req -newkey rsa:2048 -nodes -keyout server.key -subj /CN=server -out server.csr");
    FILE* ext = std::fopen((dir + "/server.ext").c_str(), "w");
    if (ext == nullptr) fail(program, "cannot write server.ext");
    std::fputs("subjectAltName=IP:127.0.0.2\n", ext);
    std::fclose(ext);
    run(program, dir,
        "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext "
        "-out server.crt");
}

}  // namespace

std::string make_sandbox(const std::string& program, const std::string& prefix) {
    std::string folder = "/tmp/" + program + ".XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) fail(program, "cannot make a folder in /tmp");
    setenv("QUORVANE_IPC_PREFIX", (prefix + std::to_string(getpid()) + ".").c_str(), 1);
    setenv("QUORVANE_RUNTIME_DIR", (folder + "/run").c_str(), 1);
    setenv("BREVANTIC_REGISTRY_DIR", folder.c_str(), 1);
    make_certificates(program, folder);
    platform::RegistryKey key;
    if (platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key) != 0 ||
        key.set_string("TlsCAFile", folder + "/ca.crt") != 0)
        fail(program, "cannot set TlsCAFile in the registry");
    if (tls_RegisterTransport() != 0 || web_RegisterTransport() != 0) fail(program, "cannot register the transports");
    return folder;
}

}  // namespace socket_bench
