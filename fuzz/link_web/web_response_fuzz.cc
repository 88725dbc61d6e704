// The web transport fed arbitrary HTTP response bytes through gSOAP's receive callback: the
// first byte picks the receive size (1..256), the second the capacity, the rest is what the
// "server" answers. A success holds at most the capacity; a failure copies nothing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link_web/web_transport.h"
#include "soapH.h"

namespace {

const uint8_t* g_stream = nullptr;
size_t g_stream_size = 0;
size_t g_at = 0;
size_t g_piece = 1;

int null_fd() {
    static const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    return fd;
}

SOAP_SOCKET fake_open(soap*, const char*, const char*, int) { return null_fd(); }
int fake_send(soap*, const char*, size_t) { return SOAP_OK; }
size_t fake_recv(soap*, char* buffer, size_t length) {
    const size_t n = std::min({g_piece, length, g_stream_size - g_at});
    std::memcpy(buffer, g_stream + g_at, n);
    g_at += n;
    return n;
}
int fake_ok(soap*) { return SOAP_OK; }
int fake_close_socket(soap*, SOAP_SOCKET) { return SOAP_OK; }
int fake_shutdown(soap*, SOAP_SOCKET, int) { return SOAP_OK; }

void replace_network(soap* ctx) {
    ctx->fopen = fake_open;
    ctx->fsend = fake_send;
    ctx->frecv = fake_recv;
    ctx->fclose = fake_ok;
    ctx->fpoll = fake_ok;
    ctx->fclosesocket = fake_close_socket;
    ctx->fshutdownsocket = fake_shutdown;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    g_piece = static_cast<size_t>(data[0]) + 1;
    const uint32_t capacity = static_cast<uint32_t>(data[1]) * 64;
    g_stream = data + 2;
    g_stream_size = size - 2;
    g_at = 0;
    link_web::testing::set_context_hook(replace_network);
    ServerConnection entry;
    std::strcpy(entry.server, "http://fuzz.invalid/");
    entry.timeout = 1000;
    if (web_Open(&entry) != 1) std::abort();
    std::vector<char> reply(capacity + 1, '\x5A');
    uint32_t length = capacity;
    const int ok = web_Transfer(&entry, "RS\0", 3, reply.data(), &length);
    if (ok != 0 ? length > capacity : length != 0) std::abort();
    if (reply[capacity] != '\x5A') std::abort();
    web_Close(&entry);
    return 0;
}
