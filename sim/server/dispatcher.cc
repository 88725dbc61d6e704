#include "server/dispatcher.h"

#include <charconv>
#include <cstring>

namespace sim_server {
namespace {

constexpr uint32_t kSizedReplyMax = 64u << 20;

std::string text_of(std::string_view request) {
    const size_t nul = request.find('\0');
    return std::string(request.substr(0, nul));
}

}  // namespace

Dispatcher::Dispatcher() = default;

std::string Dispatcher::code_of(std::string_view request) {
    if (request.size() < 2 || request[0] == '\0' || request[1] == '\0') return {};
    return std::string(request.substr(0, 2));
}

void Dispatcher::set_handler(std::string_view code, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[std::string(code)] = std::move(handler);
}

void Dispatcher::script_reply(std::string_view code, std::string reply) {
    std::lock_guard lock(mutex_);
    scripts_[std::string(code)].push_back(Scripted{std::move(reply), Fault{}});
}

void Dispatcher::script_fault(std::string_view code, Fault fault, std::optional<std::string> reply) {
    std::lock_guard lock(mutex_);
    scripts_[std::string(code)].push_back(Scripted{std::move(reply), fault});
}

Answer Dispatcher::handle(std::string_view request, std::string_view transport, uint32_t capacity) {
    const std::string code = code_of(request);
    Handler handler;
    Scripted step;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(RecordedRequest{std::string(request), std::string(transport), capacity});
        if (auto s = scripts_.find(code); s != scripts_.end() && !s->second.empty()) {
            step = std::move(s->second.front());
            s->second.pop_front();
        }
        if (!step.reply) {
            if (auto h = handlers_.find(code); h != handlers_.end()) handler = h->second;
        }
    }
    Answer answer;
    answer.fault = step.fault;
    if (step.reply)
        answer.reply = std::move(*step.reply);
    else if (handler)
        answer.reply = handler(request, capacity);  // outside the lock: a handler may block
    else
        answer.reply = std::string("-1,1", 5);
    return answer;
}

std::vector<RecordedRequest> Dispatcher::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t Dispatcher::request_count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

void Dispatcher::clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void add_core_handlers(Dispatcher& dispatcher) {
    dispatcher.set_handler("RS", [](std::string_view, uint32_t) {
        std::string reply = "0,ready";
        reply.resize(15, ' ');
        reply.push_back('\0');
        return reply;
    });
    dispatcher.set_handler("EC", [](std::string_view request, uint32_t) {
        const std::string text = text_of(request);
        return text.size() > 3 ? text.substr(3) + '\0' : std::string(1, '\0');
    });
    dispatcher.set_handler("SZ", [](std::string_view request, uint32_t) {
        const std::string text = text_of(request);
        uint32_t size = 0;
        if (text.size() <= 3) return std::string("-1,87", 6);
        const auto [end, ec] = std::from_chars(text.data() + 3, text.data() + text.size(), size);
        if (ec != std::errc() || end != text.data() + text.size() || size > kSizedReplyMax)
            return std::string("-1,87", 6);
        std::string reply = "0,";
        reply.resize(size, 'x');
        if (size < 2) reply.resize(size);
        return reply;
    });
}

}  // namespace sim_server
