// The range requests of the local data server ("5S".."8S") with any field texts, as a
// forwarded or replayed request may carry them: "$0".."$6" in the input become the handles
// of live caller buffers (and "$9" an ended one), so the fields reach every path. Nothing
// may be written outside a registered buffer, and every reply is "1,..." or "-1,<code>".
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "log_stores/local_server/local_data_server.h"
#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file/run_file_layout.h"
#include "qvr/requests/local_buffers.h"

namespace {

namespace rf = log_stores::run_file;
using log_stores::LogHeader;

// A run in memory: one block AI 1..3, records 250 ms apart.
class MemoryStore : public log_stores::CLogStore {
  public:
    MemoryStore(std::int32_t start, int records) {
        header_.blockCount = 1;
        header_.blocks[0].prefix = {'A', 'I'};
        header_.blocks[0].firstChannel = 1;
        header_.blocks[0].lastChannel = 3;
        header_.start = {start, 0, 0};
        rf::lay_out_header(header_, "UTC");
        header_.recordCount = records;
        const auto size = static_cast<std::size_t>(header_.recordSize);
        bytes_.resize(size * static_cast<std::size_t>(records));
        for (int i = 0; i < records; ++i) {
            const std::span<std::uint8_t> r(bytes_.data() + size * static_cast<std::size_t>(i), size);
            rf::RecordHead head;
            head.time = {start + i / 4, static_cast<std::int16_t>(i % 4 * 250), 0};
            rf::encode_record_head(head, r);
            for (std::uint32_t j = 0; j < 3; ++j)
                rf::write_sample(r, header_.blocks[0], j,
                                 {static_cast<std::int32_t>(0x80 | 0x40), float(i + j)});
        }
    }
    const LogHeader& header() const { return header_; }
    int ReadHeader(LogHeader& header) override {
        header = header_;
        return 0;
    }
    int ReadLogs(std::int32_t first, const LogHeader& h, std::uint8_t* out, std::int32_t count, std::int32_t,
                 const char*, std::int32_t) override {
        if (first < 0 || count < 0 || first > header_.recordCount) return 0;
        const std::int32_t n = std::min(count, header_.recordCount - first);
        std::memcpy(out, bytes_.data() + static_cast<std::size_t>(first) * h.recordSize,
                    static_cast<std::size_t>(n) * h.recordSize);
        return n;
    }
    int ReadLog(std::int32_t, const LogHeader&, std::uint8_t*, std::int32_t, std::int32_t, std::int32_t,
                const char*, std::int32_t, bool) override {
        return -1;
    }
    int GetNoLogs(const LogHeader&) override { return header_.recordCount; }

  private:
    LogHeader header_{};
    std::vector<std::uint8_t> bytes_;
};

log_stores::local::RunEntry run_of(std::int32_t start, int records, std::int32_t stop) {
    log_stores::local::RunEntry run;
    auto store = std::make_unique<MemoryStore>(start, records);
    run.header = store->header();
    run.start = {start, 0, 0};
    run.stop = {stop, 0, 0};
    for (int i = 0; i < records; ++i)
        run.times.push_back({start + i / 4, static_cast<std::int16_t>(i % 4 * 250), 0});
    run.records = records;
    run.store = std::move(store);
    return run;
}

constexpr std::uint8_t kGuard = 0x5A;
constexpr std::size_t kGuardBytes = 32;

struct Guarded {
    explicit Guarded(std::size_t size) : bytes(size + kGuardBytes, kGuard), used(size) {}
    bool intact() const {
        for (std::size_t i = used; i < bytes.size(); ++i)
            if (bytes[i] != kGuard) return false;
        return true;
    }
    std::vector<std::uint8_t> bytes;
    std::size_t used;
};

bool reply_ok(const std::string& reply) {
    return reply.rfind("1,", 0) == 0 || reply.rfind("-1,", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    static log_stores::local::LocalDataServer instance;
    static log_stores::local::LocalDataServer* const server = [] {
        instance.runs_.push_back(run_of(1'700'000'000, 40, 1'700'000'010));
        instance.runs_.push_back(run_of(1'700'000'100, 9, 0));
        return &instance;
    }();

    // Buffers of odd sizes: two stamps, a channel list, records, values, run entries, a text.
    std::vector<Guarded> buffers;
    for (const std::size_t n : {8u, 5u, 12u, 16u * 7 + 3, 8u * 10 + 5, 20u * 2 + 7, 61u})
        buffers.emplace_back(n);
    const char list[] = "AI,1,3,XX,2";
    std::memcpy(buffers[2].bytes.data(), list, std::min(sizeof list, buffers[2].used));
    std::vector<std::unique_ptr<qvr::local_buffers::Registration>> live;
    for (Guarded& b : buffers)
        live.push_back(std::make_unique<qvr::local_buffers::Registration>(b.bytes.data(), b.used));
    std::int64_t ended = 0;
    {
        const qvr::local_buffers::Registration gone(buffers[3].bytes.data(), 16);
        ended = gone.handle();
    }

    std::string fields;
    for (std::size_t i = 1; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '$' && i + 1 < size && data[i + 1] >= '0' && data[i + 1] <= '9') {
            const int k = data[++i] - '0';
            fields += std::to_string(
                k < static_cast<int>(live.size()) ? live[static_cast<std::size_t>(k)]->handle() : ended);
        } else {
            fields += c;
        }
    }
    std::string reply;
    switch (data[0] % 4) {
        case 0:
            reply = server->GetStoreSummary(fields);
            break;
        case 1:
            reply = server->GetSectionText(fields);
            break;
        case 2:
            reply = server->ReadRecordRange(fields);
            break;
        default:
            reply = server->ReadRecordRangeEx(fields);
            break;
    }
    if (!reply_ok(reply)) __builtin_trap();
    for (const Guarded& b : buffers)
        if (!b.intact()) __builtin_trap();
    // The selection grows with the lists asked for; keep it bounded between inputs.
    if (server->selection_.size() > 1000) server->selection_.clear();
    return 0;
}
