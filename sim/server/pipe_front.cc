#include "server/pipe_front.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/event.h"
#include "platform/last_error.h"
#include "platform/monotonic_clock.h"

namespace sim_server {
namespace {

constexpr int kPollSliceMs = 20;
constexpr int kFrameBudgetMs = 5000;  // for the rest of a request once its first byte came

void put_u32(std::byte* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
}

std::span<const std::byte> bytes_of(const std::string& s) {
    return std::as_bytes(std::span(s.data(), s.size()));
}

}  // namespace

PipeFront::PipeFront(Dispatcher& dispatcher, PipeFrontOptions options)
    : dispatcher_(dispatcher), options_(std::move(options)) {}

PipeFront::~PipeFront() {
    stop();
}

std::string PipeFront::pipe_name() const {
    return "\\\\" + options_.machine + "\\pipe\\" + options_.pipe;
}

int PipeFront::start() {
    if (running_.load()) return 0;
    stop();
    listener_ = platform::PipeListener::create(pipe_name());
    if (!listener_) return -1;
    path_ = listener_->path();
    stopping_.store(false);
    running_.store(true);
    acceptor_ = std::thread([this] { accept_loop(); });
    return 0;
}

void PipeFront::stop() {
    stopping_.store(true);
    if (acceptor_.joinable()) acceptor_.join();
    connections_.for_each([](Connection& c) { platform::pipe_shutdown(c.fd); });
    reap(true);
    if (listener_) listener_->close();
    listener_.reset();
    running_.store(false);
}

void PipeFront::set_refuse_accept(bool refuse) {
    refuse_accept_.store(refuse);
    if (!refuse) return;
    const auto until = platform::Deadline::after_ms(1000);
    while (running_.load() && !refusing_.load() && !until.expired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void PipeFront::reap(bool all) {
    connections_.reap(all, [](Connection& c) {
        if (c.fd >= 0) ::close(c.fd);
    });
}

void PipeFront::accept_loop() {
    const auto end_of_life = platform::Deadline::after_ms(options_.lifetime_ms);
    while (!stopping_.load() && !end_of_life.expired()) {
        reap(false);
        refusing_.store(refuse_accept_.load());
        if (refusing_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
            continue;
        }
        if (connections_.size() >= options_.max_connections) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
            continue;
        }
        const int fd = listener_->accept(kPollSliceMs);
        if (fd < 0) continue;
        accepted_.fetch_add(1);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connections_.start(std::move(connection), [this](Connection& c) { serve(c); });
    }
    // At the end of its life the server goes away like a stopped one.
    if (!stopping_.load() && listener_) {
        listener_->close();
        running_.store(false);
    }
}

void PipeFront::serve(Connection& connection) {
    const int fd = connection.fd;
    const int fds[1] = {fd};
    std::vector<std::byte> request;
    while (!stopping_.load()) {
        if (platform::wait_any_readable(fds, kPollSliceMs) < 0) {
            if (errno == ETIMEDOUT) continue;
            break;
        }
        const auto budget = platform::Deadline::after_ms(kFrameBudgetMs);
        if (platform::pipe_read_request(fd, options_.request_max, request, budget) != 0) break;
        Answer answer = dispatcher_.handle(
            std::string_view(reinterpret_cast<const char*>(request.data()), request.size()), "pipe", 0);

        const Fault& fault = answer.fault;
        if (fault.milliseconds != 0) {
            const auto until = platform::Deadline::after_ms(fault.milliseconds);
            while (!until.expired() && !stopping_.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPollSliceMs, until.remaining_ms())));
            if (stopping_.load()) break;
        }
        if (fault.kind == Fault::Kind::close_at_once) break;
        const auto send_budget = platform::Deadline::after_ms(kFrameBudgetMs);
        if (fault.kind == Fault::Kind::close_after || fault.kind == Fault::Kind::broken_length) {
            std::string framed(platform::kPipeFrameHeader, '\0');
            const uint32_t announced =
                fault.kind == Fault::Kind::broken_length ? fault.bytes : static_cast<uint32_t>(answer.reply.size());
            put_u32(reinterpret_cast<std::byte*>(framed.data()), announced);
            framed += answer.reply;
            if (fault.kind == Fault::Kind::close_after && fault.bytes < framed.size()) framed.resize(fault.bytes);
            platform::pipe_write_all(fd, bytes_of(framed), send_budget);
            break;
        }
        if (platform::pipe_write_frame(fd, bytes_of(answer.reply), send_budget) != 0) break;
    }
    platform::pipe_shutdown(fd);
    connection.done.store(true);
}

}  // namespace sim_server
