// Reads of the run file store: header, channel configurations and records, through the local
// handles or the server's file requests, backing off from the writer's end-of-data lock.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "log_stores/run_file/le_bytes.h"
#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file_store/remote_run_file.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "platform/byte_lock.h"
#include "platform/file_io.h"
#include "platform/last_error.h"
#include "qvr/requests/remote_file_requests.h"

namespace log_stores {
namespace {

// A text field of at most `size` bytes (NUL-ended when shorter) without its trailing blanks.
void cut_field_blanks(char* field, std::size_t size) {
    for (std::size_t end = strnlen(field, size); end > 0 && field[end - 1] == ' '; --end) field[end - 1] = '\0';
}

void cut_text_blanks(qvr::ChannelRecord& record, qvr::ChannelText which) {
    const std::string text = qvr::join_text(record, which);
    const std::size_t kept = text.find_last_not_of(' ') + 1;  // 0 when all blanks (npos + 1)
    // Records without trailing blanks keep every byte.
    if (kept != text.size()) qvr::split_text(record, which, std::string_view(text).substr(0, kept));
}

// The database kinds keep a channel's texts in char columns, which cannot hold trailing
// blanks; without them here too, a channel reads the same from every kind of store.
void cut_trailing_blanks(qvr::ChannelRecord& record) {
    cut_text_blanks(record, qvr::ChannelText::Tag);
    cut_text_blanks(record, qvr::ChannelText::Description);
    if (qvr::is_digital(record.head.Type)) {
        cut_field_blanks(record.digital.LowStateText, sizeof record.digital.LowStateText);
        cut_field_blanks(record.digital.HighStateText, sizeof record.digital.HighStateText);
    } else {
        cut_text_blanks(record, qvr::ChannelText::Units);
    }
}

}  // namespace

namespace rf = run_file;

namespace {
constexpr int kErrorNotReady = 21;
constexpr int kErrorIoPending = 997;

// Errors a reader meets while the writer is busy at the end of the data: read less, retry.
bool writer_busy(int error) {
    return error == 0 || error == kErrorNotReady || error == platform::kErrorLockViolation || error == kErrorIoPending;
}

bool layout_usable(const LogHeader& header) {
    return header.dataStart >= 0 && header.recordSize >= static_cast<std::int32_t>(rf::kRecordHeadSize);
}
}  // namespace

long long CLogFileStore::read_at(std::span<std::uint8_t> out, std::uint64_t offset) {
    const int fd = read_handle();
    if (fd >= 0) return platform::pread_all(fd, out, offset);
    if (server_.empty()) return platform::fail(EBADF);
    return run_file_store::remote_read(server_, remotePath_, out, offset);
}

long long CLogFileStore::file_size() {
    if (mainHandle_.valid()) {
        struct stat st {};
        if (::fstat(mainHandle_.get(), &st) == 0) return st.st_size;
        if (reopen() == 0 && ::fstat(mainHandle_.get(), &st) == 0) return st.st_size;
        return platform::fail_from_errno();
    }
    if (server_.empty()) return platform::fail(EBADF);
    return run_file_store::remote_size(server_, remotePath_);
}

int CLogFileStore::ReadHeader(LogHeader& header) {
    const auto attempt = [this, &header] {
        const long long size = file_size();
        if (size < 0) return -1;
        const auto reader = [this](std::span<std::uint8_t> out, std::uint64_t offset) -> ssize_t {
            return static_cast<ssize_t>(read_at(out, offset));
        };
        return rf::read_header(reader, static_cast<std::uint64_t>(size), header);
    };
    if (attempt() == 0) return 0;
    // A file refused for its contents stays refused; a failed read is tried once more.
    if (!mainHandle_.valid() || platform::last_error() == platform::kErrorInvalidData) return -1;
    if (reopen() != 0) return -1;
    return attempt();
}

int CLogFileStore::ReadChannelConfig(const LogHeader& header, qvr::ChannelRecord* out, std::size_t block,
                                     std::size_t first, std::size_t count) {
    if (block >= header.blockCount || block >= kMaxBlocks || out == nullptr ||
        first > header.blocks[block].channel_count() || count > header.blocks[block].channel_count() - first)
        return platform::fail(platform::kErrorInvalidArgument);
    if (count == 0) return 0;
    const std::uint64_t offset = rf::channel_config_offset(header, block, static_cast<std::uint32_t>(first));
    std::vector<std::uint8_t> bytes(count * qvr::kChannelRecordSize);
    const long long got = read_at(bytes, offset);
    if (got < 0) return -1;
    if (static_cast<std::size_t>(got) != bytes.size()) return platform::fail(platform::kErrorHandleEof);
    for (std::size_t j = 0; j < count; ++j) {
        std::memcpy(out[j].bytes, bytes.data() + j * qvr::kChannelRecordSize, qvr::kChannelRecordSize);
        cut_trailing_blanks(out[j]);
    }
    return 0;
}

int CLogFileStore::ReadLogsByTime(const TimeStamp*, const TimeStamp*, const LogHeader&, std::uint8_t*, std::int32_t,
                                  std::int32_t, std::int32_t, const char*, bool, bool) {
    return 0;
}

// One read of whole records: the bytes read, or -1 with the reason (33 when another open
// file holds a byte of the range: the writer is at work there).
int CLogFileStore::read_records_once(std::span<std::uint8_t> out, std::uint64_t offset, bool probe) {
    const int fd = read_handle();
    if (fd < 0) {
        const long long got = run_file_store::remote_read_once(server_, remotePath_, out, offset);
        return got < 0 ? -1 : static_cast<int>(got);
    }
    if (probe && platform::probe_range(fd, offset, out.size()) != 0) return -1;
    const ssize_t got = platform::pread_all(fd, out, offset);
    return got < 0 ? -1 : static_cast<int>(got);
}

namespace {
// Records were read side by side; each gets its stride with the extra slots behind it.
void spread_records(std::uint8_t* out, std::size_t records, std::size_t record_size, std::size_t extra_slots,
                    const LogHeader& header) {
    const std::size_t stride = record_size + 8 * extra_slots;
    for (std::size_t i = records; i-- > 0;) {
        std::uint8_t* record = out + i * stride;
        if (stride != record_size) std::memmove(record, out + i * record_size, record_size);
        rf::sanitise_record(std::span(record, record_size), header);
        for (std::size_t slot = 0; slot < extra_slots; ++slot) {
            const std::span<std::uint8_t> extra(record + record_size + 8 * slot, 8);
            le::put_i32(extra, 0, rf::kSampleBad);
            le::put_f32(extra, 4, 0.0f);
        }
    }
}
}  // namespace

int CLogFileStore::ReadLogs(std::int32_t first, const LogHeader& header, std::uint8_t* out, std::int32_t count,
                            std::int32_t extraSlots, const char*, std::int32_t) {
    if (out == nullptr || first < 0 || count <= 0 || extraSlots < 0 || !layout_usable(header)) return 0;
    const auto record_size = static_cast<std::size_t>(header.recordSize);
    const bool local = read_handle() >= 0;
    const std::size_t stride = record_size + 8 * static_cast<std::size_t>(extraSlots);
    count = static_cast<std::int32_t>(std::min<std::uint64_t>(count, 0x7FFFFFFFull / stride));
    if (!local) {
        if (server_.empty()) return 0;
        if (std::uint64_t(count) * record_size > kRemoteReadMax)
            count = static_cast<std::int32_t>(kRemoteReadMax / record_size);
    }
    std::int32_t failed_after_reopen = -1;
    while (count > 0) {
        const std::size_t bytes = std::size_t(count) * record_size;
        const std::uint64_t offset = std::uint64_t(header.dataStart) + std::uint64_t(first) * record_size;
        const int got = read_records_once(std::span(out, bytes), offset, true);
        if (got >= 0) {
            const std::size_t records = static_cast<std::size_t>(got) / record_size;
            spread_records(out, records, record_size, static_cast<std::size_t>(extraSlots), header);
            return static_cast<int>(records);
        }
        if (!local || writer_busy(platform::last_error())) {
            count /= 2;
            continue;
        }
        if (failed_after_reopen == count || !mainHandle_.valid() || reopen() != 0) return 0;
        failed_after_reopen = count;
    }
    return 0;
}

int CLogFileStore::ReadLog(std::int32_t index, const LogHeader& header, std::uint8_t* out, std::int32_t bytes,
                           std::int32_t, std::int32_t, const char*, std::int32_t, bool) {
    if (out == nullptr || index < 0 || bytes < 0 || !layout_usable(header))
        return platform::fail(platform::kErrorInvalidParameter);
    if (read_handle() < 0 && server_.empty()) return platform::fail(EBADF);
    const auto record_size = static_cast<std::size_t>(header.recordSize);
    const std::span<std::uint8_t> target(out, static_cast<std::size_t>(bytes));
    const std::uint64_t offset = std::uint64_t(header.dataStart) + std::uint64_t(index) * record_size;
    const auto whole = [&] {
        const long long got = read_handle() >= 0 ? read_records_once(target, offset, true) : read_at(target, offset);
        return got == static_cast<long long>(target.size());
    };
    if (!whole()) {
        if (!mainHandle_.valid() || reopen() != 0 || !whole()) {
            if (platform::last_error() == 0) platform::set_last_error(platform::kErrorHandleEof);
            return -1;
        }
    }
    for (std::size_t at = 0; at + record_size <= target.size(); at += record_size)
        rf::sanitise_record(target.subspan(at, record_size), header);
    return 0;
}

int CLogFileStore::GetNoLogs(const LogHeader& header) {
    if (header.recordSize <= 0 || header.dataStart < 0) return platform::fail(platform::kErrorInvalidData);
    const long long size = file_size();
    if (size < 0) return -1;
    if (size <= header.dataStart) return 0;
    return static_cast<int>((size - header.dataStart) / header.recordSize);
}

int CLogFileStore::GetNoMarkedLogs(const LogHeader& header) {
    if (header.sigChange == 0) return 0;
    const int records = GetNoLogs(header);
    if (records < 0) return -1;
    std::array<std::uint8_t, rf::kRecordHeadSize> head{};
    for (int i = 0; i < records; ++i) {
        if (ReadLog(i, header, head.data(), static_cast<std::int32_t>(head.size()), 0, 0, nullptr, 0, false) != 0)
            return -1;
        if (rf::decode_record_head(head).sigChangeMark == 0) return i;
    }
    return records;
}

int CLogFileStore::GetNoLogsInRange(const TimeStamp&, const TimeStamp&, const LogHeader& header) {
    return header.recordCount;
}

void CLogFileStore::DeleteLogsInRange(const TimeStamp&, const TimeStamp&) {}

const char* CLogFileStore::GetErrorText() { return ""; }
const char* CLogFileStore::GetErrorContext() { return ""; }

}  // namespace log_stores
