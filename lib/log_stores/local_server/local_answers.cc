// The answers by request code. Every reply is written through a ReplyWriter bounded by the
// caller's capacity: an answer that does not fit becomes "-1,122", never a longer write.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "log_stores/local_server/channel_answers.h"
#include "log_stores/local_server/local_data_server.h"
#include "log_stores/local_server/reply_writer.h"
#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/time_zone.h"
#include "qvr/link/link.h"

namespace log_stores::local {

namespace {

// The latest readable record's time, else the run's start.
TimeStamp run_time(const CurrentRun& run) {
    const auto record = answers::latest_record(run);
    return record.empty() ? run.header.start : answers::record_time(record);
}

void failure(ReplyWriter& out, int code) {
    platform::set_last_error(code);
    out.text("-1," + std::to_string(code));
}

// The runs of a collection: name and start; false when no list can be made.
struct ListedRun {
    std::string name;
    TimeStamp start{};
};
// A collection without runs starts no list and leaves no error: an empty list.
bool list_runs(CLogCollection& collection, std::vector<ListedRun>& runs) {
    std::size_t name_size = 0;
    platform::set_last_error(0);
    if (collection.BeginRunList(&name_size) != 1) return platform::last_error() == 0;
    std::vector<char> name(std::max<std::size_t>(name_size, 1) + 1, '\0');
    TimeStamp start{}, stop{};
    while (collection.GetNextRun(name.data(), &start, &stop) == 1) {
        name.back() = '\0';
        runs.push_back(ListedRun{name.data(), start});
    }
    return true;
}

CLogCollection* main_collection(LocalDataServer& server) {
    if (server.spare_) return server.spare_.get();
    return server.collections_[0] ? server.collections_[0]->collection.get() : nullptr;
}

// True when the answer carries its own NUL (the zone record follows it).
bool answer_time(LocalDataServer& server, ReplyWriter& out) {
    const CurrentRun* run = server.answering_run();
    if (!run) {
        out.text("-1,0");
        return false;
    }
    const TimeStamp time = run_time(*run);
    out.text(std::to_string(time.seconds) + "," + std::to_string(time.milliseconds));
    out.text(std::string_view("", 1));
    // A database keeps only the standard bias of its logger: this machine's zone stands in.
    const platform::TimeZoneInformation zone =
        server.database_ ? platform::local_time_zone_information() : run->header.timeZone;
    out.bytes(zone.data(), zone.size());
    return true;
}

void answer_first_start(LocalDataServer& server, ReplyWriter& out) {
    std::vector<ListedRun> runs;
    CLogCollection* collection = main_collection(server);
    if (!collection || !list_runs(*collection, runs) || runs.empty()) {
        failure(out, platform::last_error() != 0 ? platform::last_error() : platform::kErrorNoData);
        return;
    }
    std::uint32_t first = static_cast<std::uint32_t>(runs.front().start.seconds);
    for (const ListedRun& run : runs) first = std::min(first, static_cast<std::uint32_t>(run.start.seconds));
    out.text("1," + std::to_string(first));
}

bool is_code(std::string_view code, std::string_view name) {
    return platform::equal_ignoring_case(code, name);
}

}  // namespace

std::string LocalDataServer::CountAllRecords() {
    std::vector<ListedRun> runs;
    CLogCollection* collection = main_collection(*this);
    if (!collection) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return "-1," + std::to_string(platform::kErrorInvalidParameter);
    }
    if (!list_runs(*collection, runs)) {
        const int code = platform::last_error() != 0 ? platform::last_error() : platform::kErrorNoData;
        platform::set_last_error(code);
        return "-1," + std::to_string(code);
    }
    std::uint64_t total = 0;
    for (const ListedRun& run : runs) {
        auto store = collection->OpenStore(run.name.c_str(), kGenericRead);
        LogHeader header{};
        // A run that cannot be read counts no records; the others are still counted.
        if (!store || store->ReadHeader(header) != 0) continue;
        const int count = store->GetNoLogs(header);
        if (count > 0) total += static_cast<std::uint64_t>(count);
        store->Close();
    }
    return "1," + std::to_string(std::min<std::uint64_t>(total, 0xFFFFFFFFu)) + "," +
           std::to_string(runs.size());
}

namespace {

// How an answer ended.
enum class Answered { kReply, kReplyWithNul, kNone };

Answered answer(LocalDataServer& server, std::string_view code, std::string_view fields, ReplyWriter& out) {
    const bool range =
        code.size() == 2 && code[0] >= '5' && code[0] <= '8' && platform::ascii_upper(code[1]) == 'S';
    if (range) {
        server.Refresh();
        std::string text;
        switch (code[0]) {
            case '5':
                text = server.GetStoreSummary(fields);
                break;
            case '6':
                text = server.GetSectionText(fields);
                break;
            case '7':
                text = server.ReadRecordRange(fields);
                break;
            default:
                text = server.ReadRecordRangeEx(fields);
                break;
        }
        // No runs to answer from: no reply.
        if (text.empty()) return Answered::kNone;
        out.text(text);
        return Answered::kReply;
    }
    server.UpdateCurrentRuns();
    server.UpdateLoggerStatus();
    if (is_code(code, "TS")) return answer_time(server, out) ? Answered::kReplyWithNul : Answered::kReply;
    if (is_code(code, "QE")) {
        out.text("0");
    } else if (is_code(code, "QP")) {
        answers::answer_prefix_count(server, out);
    } else if (is_code(code, "IP") || is_code(code, "TP")) {
        answers::answer_processors(server, fields, is_code(code, "TP"), out);
    } else if (is_code(code, "CV")) {
        if (fields.empty())
            out.text("0");
        else
            answers::answer_configurations(server, fields, out);
    } else if (is_code(code, "RV")) {
        if (fields.empty())
            out.text("0");
        else if (!answers::answer_values(server, fields, out))
            return Answered::kNone;
    } else if (is_code(code, "TC")) {
        answers::answer_tags(server, fields, out);
    } else if (is_code(code, "RS") || is_code(code, "BS")) {
        out.text((server.status_flags_[0] & 1u) != 0 ? "1" : "0");
    } else if (is_code(code, "ES")) {
        out.text("1");
    } else if (is_code(code, "DS")) {
        out.text("0");
    } else if (is_code(code, "WS") || is_code(code, "PS") || is_code(code, "FS") || is_code(code, "XS") ||
               is_code(code, "MS")) {
        // Writing to logged data is not something this server does.
        failure(out, kErrorNotSupported);
    } else if (is_code(code, "IS")) {
        answer_first_start(server, out);
    } else if (is_code(code, "NS")) {
        out.text(server.CountAllRecords());
    } else {
        out.text("0");
    }
    return Answered::kReply;
}

}  // namespace

int LocalDataServer::HandleRequest(const char* request, std::uint32_t length, char* reply,
                                   std::uint32_t* replyLength) {
    if (replyLength == nullptr || request == nullptr || (reply == nullptr && *replyLength > 0)) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        if (replyLength != nullptr) *replyLength = 0;
        return 0;
    }
    const std::uint32_t capacity = *replyLength;
    *replyLength = 0;

    const char* end = static_cast<const char*>(std::memchr(request, '\0', length));
    const std::string_view text(request, end ? static_cast<std::size_t>(end - request) : length);
    const std::size_t comma = text.find(',');
    const std::string_view code = text.substr(0, comma);
    const std::string_view fields =
        comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const std::span<char> room(reply, capacity);

    ReplyWriter out(room);
    Answered answered = Answered::kReply;
    try {
        answered = answer(*this, code, fields, out);
    } catch (const std::bad_alloc&) {
        out = ReplyWriter(room);
        failure(out, platform::kErrorNotEnoughMemory);
    } catch (const std::exception&) {
        out = ReplyWriter(room);
        failure(out, platform::kErrorInvalidData);
    }
    if (answered == Answered::kNone) return 0;
    // "0" and failures are texts even for the binary codes.
    const bool binary = is_code(code, "CV") || is_code(code, "RV") || is_code(code, "TC");
    const bool text_reply = answered != Answered::kReplyWithNul &&
                            (!binary || out.size() < 2 || std::memcmp(reply, "1,", 2) != 0);
    *replyLength = text_reply ? out.finish_text() : out.finish_binary();
    return *replyLength > 0 ? 1 : 0;
}

}  // namespace log_stores::local
