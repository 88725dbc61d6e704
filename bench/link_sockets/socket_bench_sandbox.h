// The sandbox both socket benchmarks run in.
#pragma once

#include <string>

namespace socket_bench {

// Makes a folder under /tmp with its own IPC prefix (starting `prefix`), runtime folder and
// registry, so a real installation is never met; a CA and a certificate for 127.0.0.2
// (server.crt, server.key), trusted through "TlsCAFile"; and registers both socket
// transports. Exits with "<program>: <reason>" on a failure. Returns the folder.
std::string make_sandbox(const std::string& program, const std::string& prefix);

}  // namespace socket_bench
