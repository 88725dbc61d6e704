#include "logger/stand_in_logger.h"

#include <time.h>

#include <cerrno>
#include <string_view>

#include "log_stores/log_factory.h"
#include "log_stores/log_location.h"
#include "log_stores/run_file/run_file_layout.h"
#include "log_stores/status_channels/logger_status.h"
#include "platform/last_error.h"
#include "qvr/host/host_tables.h"

namespace sim_logger {
namespace {

std::u16string widen(std::string_view text) {
    std::u16string wide;
    for (const char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    return wide;
}

// Sleeps until `deadline` (CLOCK_MONOTONIC), resuming after signals.
void sleep_until(const timespec& deadline) {
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void advance(timespec& t, std::uint32_t ms) {
    t.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000L;
    t.tv_sec += ms / 1000 + t.tv_nsec / 1'000'000'000L;
    t.tv_nsec %= 1'000'000'000L;
}

}  // namespace

log_stores::LogHeader make_header(const std::vector<LoggerBlock>& blocks, std::int32_t start) {
    log_stores::LogHeader header{};
    header.blockCount = static_cast<std::uint16_t>(blocks.size());
    for (std::size_t k = 0; k < blocks.size() && k < log_stores::kMaxBlocks; ++k) {
        const LoggerBlock& b = blocks[k];
        header.blocks[k].prefix = {b.prefix.size() > 0 ? b.prefix[0] : ' ', b.prefix.size() > 1 ? b.prefix[1] : ' '};
        header.blocks[k].firstChannel = b.first;
        header.blocks[k].lastChannel = b.last;
        // The group kind as the database kinds keep it: 4 digital, 8 analog.
        header.blocks[k].blockKind = b.digital ? 4 : 8;
    }
    header.start = {start, 0, 0};
    header.sigChange = 1;
    log_stores::run_file::lay_out_header(header, "UTC");
    return header;
}

DigitalBlocks digital_of(const std::vector<LoggerBlock>& blocks) {
    DigitalBlocks digital = 0;
    for (std::size_t k = 0; k < blocks.size() && k < 64; ++k)
        if (blocks[k].digital) digital |= DigitalBlocks{1} << k;
    return digital;
}

StandInLogger::StandInLogger() = default;

StandInLogger::~StandInLogger() {
    if (store_) store_->Close();
    stop();
}

int StandInLogger::open(const LoggerOptions& options) {
    options_ = options;
    if (options_.blocks.empty() || options_.blocks.size() > log_stores::kMaxBlocks)
        return platform::fail(platform::kErrorInvalidParameter);
    digital_ = digital_of(options_.blocks);
    collection_ = log_stores::CreateLogCollection(options_.location.c_str());
    if (!collection_) return platform::fail(platform::kErrorInvalidParameter);
    if (options_.status_logger > 0) {
        status_Init(options_.status_logger, shm_LoggerByIndex(options_.status_logger));
        status_ = true;
    }
    // A "PROVIDER=" location is the collection's connection; any other is its folder.
    const bool database = log_stores::GetLocationKind(options_.location.c_str()) != log_stores::LocationKind::File;
    return collection_->Open(database ? options_.location.c_str() : nullptr,
                             database ? "" : options_.location.c_str(), options_.logger.c_str(),
                             options_.prefix.c_str(), log_stores::kGenericRead | log_stores::kGenericWrite);
}

int StandInLogger::start_run(std::int32_t start) {
    if (!collection_) return platform::fail(platform::kErrorInvalidParameter);
    if (store_) finish_run(start);
    header_ = make_header(options_.blocks, start);
    std::vector<const qvr::ChannelRecord*> configurations;
    bool given = true;
    for (const LoggerBlock& block : options_.blocks) {
        if (block.channels.empty()) given = false;
        if (!block.channels.empty() && block.channels.size() < static_cast<std::size_t>(block.last - block.first + 1))
            return platform::fail(platform::kErrorInvalidParameter);
        configurations.push_back(block.channels.data());
    }
    std::int32_t at = start;
    if (options_.utf16_text) {
        const std::u16string text = widen(options_.header_text);
        store_ = collection_->NewRunW(&at, false, 0, header_, text.c_str(), options_.archive, nullptr, false,
                                      given ? configurations.data() : nullptr);
    } else {
        store_ = collection_->NewRun(&at, false, 0, header_, options_.header_text.c_str(), options_.archive, nullptr,
                                     false, given ? configurations.data() : nullptr);
    }
    if (!store_) return -1;
    ++runs_;
    written_ = 0;
    last_location_ = run_location();
    return 0;
}

int StandInLogger::append(std::int64_t count, std::int64_t batch) {
    if (!store_ || count < 0 || batch <= 0) return platform::fail(platform::kErrorInvalidParameter);
    const auto size = static_cast<std::size_t>(header_.recordSize);
    std::vector<std::uint8_t> records(size * static_cast<std::size_t>(batch));
    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t n = std::min(batch, count - done);
        for (std::int64_t i = 0; i < n; ++i)
            fill_record(header_, digital_, written_ + i, options_.period_ms,
                        std::span(records).subspan(static_cast<std::size_t>(i) * size, size));
        if (options_.paced) {
            advance(next, static_cast<std::uint32_t>(options_.period_ms * n));
            sleep_until(next);
        }
        if (store_->WriteLogs(header_, records.data(), static_cast<std::int32_t>(n)) != 0) return -1;
        if (store_->WriteEndOffset(0) != 0) return -1;
        written_ += n;
        done += n;
        if (status_) {
            const TimeStamp last = record_time(header_.start.seconds, written_ - 1, options_.period_ms);
            status_NoteWrite(static_cast<std::uint32_t>(size * static_cast<std::size_t>(n)));
            status_SetRealTime(runs_, last.seconds);
        }
    }
    return 0;
}

int StandInLogger::add_event(const TimeStamp& time, const std::string& text) {
    if (!store_) return platform::fail(platform::kErrorInvalidParameter);
    return store_->AddTextPrecise(time, text.c_str(), nullptr, nullptr);
}

int StandInLogger::add_position(std::int32_t seconds, float value) {
    if (!store_) return platform::fail(platform::kErrorInvalidParameter);
    return store_->AddPosition(seconds, true, value);
}

int StandInLogger::finish_run(std::int32_t stop) {
    if (!store_) return platform::fail(platform::kErrorInvalidParameter);
    const TimeStamp start = header_.start;
    const TimeStamp end{stop, 0, 0};
    header_.stop = end;
    header_.recordCount = static_cast<std::int32_t>(written_);
    header_.endOfData = header_.dataStart + static_cast<std::int32_t>(written_) * header_.recordSize;
    store_->WriteHeader(header_, true);
    const int rc = collection_->FinishRun(*store_, &start, &end, options_.read_only);
    last_location_ = run_location();
    store_.reset();
    return rc;
}

int StandInLogger::discard_run() {
    if (!store_) return platform::fail(platform::kErrorInvalidParameter);
    const int rc = collection_->FinishRun(*store_, nullptr, nullptr, false);
    store_.reset();
    last_location_.clear();
    return rc;
}

void StandInLogger::purge(std::int32_t seconds) {
    if (collection_) collection_->DeleteRunsBefore(seconds);
}

void StandInLogger::stop() {
    if (status_) status_Stop();
    status_ = false;
}

std::string StandInLogger::run_location() const {
    if (!store_) return last_location_;
    std::size_t size = 0;
    store_->GetLocation(nullptr, &size);
    std::string location(size, '\0');
    store_->GetLocation(location.data(), &size);
    location.resize(location.find('\0') == std::string::npos ? location.size() : location.find('\0'));
    return location;
}

}  // namespace sim_logger
