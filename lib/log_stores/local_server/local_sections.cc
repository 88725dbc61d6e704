// "6S": a text section of the runs into a caller buffer, whole lines only.
#include <algorithm>
#include <cstring>

#include "log_stores/local_server/local_data_server.h"
#include "log_stores/local_server/local_range_fields.h"
#include "log_stores/text_files/event_line.h"
#include "platform/ascii_text.h"
#include "platform/last_error.h"

namespace log_stores::local {

using namespace ranges;

namespace {

// The lines of `text`, each with its CR LF (a last line without one gets it).
void add_lines(std::string_view text, std::vector<std::string>& out) {
    while (!text.empty()) {
        const std::size_t end = text.find("\r\n");
        std::string line(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 2);
        if (line.empty() && text.empty()) break;
        line += "\r\n";
        out.push_back(std::move(line));
    }
}

std::string section_of(CLogStore& store, const std::string& name) {
    std::size_t size = 0;
    if (store.ReadSection(name.c_str(), nullptr, &size, 0, 0) < 0 || size == 0) return {};
    std::string text(size, '\0');
    if (store.ReadSection(name.c_str(), text.data(), &size, 0, 0) < 0) return {};
    text.resize(std::min(size, text.size()));
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

// Time-stamped lines from several sources in time order. A line without a time keeps to the
// line before it; lines of the same time keep their order.
std::vector<std::string> merged_by_time(std::vector<std::vector<std::string>> sources) {
    struct Timed {
        std::uint64_t at;
        std::string line;
    };
    std::vector<Timed> all;
    for (auto& source : sources) {
        std::uint64_t at = 0;
        for (auto& line : source) {
            if (const auto t = text_files::ParseTextLineTime(line)) at = micros_of(t->time);
            all.push_back(Timed{at, std::move(line)});
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const Timed& a, const Timed& b) { return a.at < b.at; });
    std::vector<std::string> out;
    out.reserve(all.size());
    for (auto& t : all) out.push_back(std::move(t.line));
    return out;
}

}  // namespace

std::string LocalDataServer::GetSectionText(std::string_view fields) {
    // section (may hold commas), handle, length: the numbers are the last two fields.
    const std::size_t length_at = fields.rfind(',');
    if (length_at == std::string_view::npos) return "-1,0";
    const std::size_t handle_at = fields.rfind(',', length_at == 0 ? 0 : length_at - 1);
    if (handle_at == std::string_view::npos) return "-1,0";
    const std::string_view section = fields.substr(0, handle_at);
    if (section.empty() || section.size() > kMaxTokenLength) return "-1,0";
    const auto numbers = numbers_of(fields.substr(handle_at + 1), 2);
    if (!numbers || (*numbers)[1] < 0) return failure(platform::kErrorInvalidParameter);
    const auto buffer = named_buffer((*numbers)[0]);
    if (!buffer || (buffer->bytes.empty() && (*numbers)[1] > 0))
        return failure(platform::kErrorInvalidParameter);
    const std::span<std::uint8_t> out = buffer->bytes.first(
        std::min<std::size_t>(buffer->bytes.size(), static_cast<std::size_t>((*numbers)[1])));

    const std::string name(section);
    std::vector<std::string> lines;
    if (platform::equal_ignoring_case(section, "HEADER")) {
        if (const CurrentRun* run = answering_run()) add_lines(run->header_text, lines);
    } else {
        // The refresh keeps every run's "TEXT"; asking a database store for texts would lose
        // its place in the records, so other sections come through the run's text store
        // where it has one.
        const bool scanned = run_scans_.size() == runs_.size();
        const bool kept_text = platform::equal_ignoring_case(section, "TEXT");
        std::vector<std::vector<std::string>> sources;
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            const RunEntry& run = runs_[i];
            sources.emplace_back();
            if (scanned && run_scans_[i].texts_read && kept_text) {
                add_lines(run_scans_[i].text_section, sources.back());
                continue;
            }
            CLogStore* store =
                scanned && run_scans_[i].text_store ? run_scans_[i].text_store.get() : run.store.get();
            if (store != nullptr) add_lines(section_of(*store, name), sources.back());
        }
        if (kept_text) {
            sources.emplace_back();
            add_lines(events_text_, sources.back());
            lines = merged_by_time(std::move(sources));
        } else {
            for (auto& source : sources)
                for (auto& line : source) lines.push_back(std::move(line));
        }
    }

    std::size_t used = 0;
    for (const std::string& line : lines) {
        if (used + line.size() + 1 > out.size()) break;
        std::memcpy(out.data() + used, line.data(), line.size());
        used += line.size();
    }
    if (used < out.size()) out[used] = 0;
    return "1," + std::to_string(used);
}

}  // namespace log_stores::local
