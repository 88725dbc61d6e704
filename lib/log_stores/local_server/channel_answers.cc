// The channel answers: prefixes and processors (QP, IP, TP), configurations (CV), latest
// values (RV) and tags (TC), from the current runs and the logger status channels.
#include "log_stores/local_server/channel_answers.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>

#include "log_stores/run_file/run_file_format.h"
#include "platform/ascii_text.h"
#include "platform/debug_output.h"
#include "platform/last_error.h"

namespace log_stores::local {

namespace {

constexpr std::uint16_t kDigitalBlockKind = 4;

std::string location_of(CLogStore& store) {
    std::size_t size = 0;
    store.GetLocation(nullptr, &size);
    std::string text(size, '\0');
    store.GetLocation(text.data(), &size);
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

}  // namespace

const LocalDataServer::RunConfigs& LocalDataServer::configs_of(const CurrentRun& run) {
    std::size_t slot = 0;
    if (collections_[1] && &collections_[1]->current == &run) slot = 1;
    RunConfigs& kept = run_configs_[slot];
    if (!run.store) {
        kept = RunConfigs{};
        return kept;
    }
    std::string location = location_of(*run.store);
    if (kept.store == run.store.get() && kept.run == location) return kept;

    kept = RunConfigs{};
    kept.store = run.store.get();
    kept.run = std::move(location);
    const std::size_t blocks = std::min<std::size_t>(run.header.blockCount, kMaxBlocks);
    kept.blocks.resize(blocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        const BlockDescriptor& block = run.header.blocks[b];
        const std::uint32_t count = block.channel_count();
        if (count == 0) continue;
        std::vector<qvr::ChannelRecord> records(count);
        if (run.store->ReadChannelConfig(run.header, records.data(), b, 0, count) != 0) continue;
        for (std::uint32_t j = 0; j < count; ++j) {
            const std::string tag =
                platform::ascii_upper_copy(qvr::join_text(records[j], qvr::ChannelText::Tag));
            if (tag.empty()) continue;
            kept.tags.emplace_back(
                tag, ChannelKey{block.prefix, static_cast<std::uint16_t>(block.firstChannel + j)});
        }
        kept.blocks[b] = std::move(records);
    }
    // The first channel of a tag wins, as a search in channel order would find it.
    std::stable_sort(kept.tags.begin(), kept.tags.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return kept;
}

namespace answers {

bool same_prefix(const std::array<char, 2>& a, const std::array<char, 2>& b) {
    const auto second = [](char c) { return c == '\0' ? ' ' : platform::ascii_upper(c); };
    return platform::ascii_upper(a[0]) == platform::ascii_upper(b[0]) && second(a[1]) == second(b[1]);
}

bool has_prefix(const LogHeader& header, const std::array<char, 2>& prefix) {
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t b = 0; b < blocks; ++b)
        if (same_prefix(header.blocks[b].prefix, prefix)) return true;
    return false;
}

std::vector<Group> groups_of(const LogHeader& header, const LocalDataServer::RunConfigs& configs) {
    std::vector<Group> groups;
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        const BlockDescriptor& block = header.blocks[b];
        const bool digital = block.blockKind == kDigitalBlockKind ||
                             (b < configs.blocks.size() && !configs.blocks[b].empty() &&
                              qvr::is_digital(configs.blocks[b].front().head.Type));
        auto at = std::find_if(groups.begin(), groups.end(),
                               [&](const Group& g) { return same_prefix(g.prefix, block.prefix); });
        if (at == groups.end()) {
            groups.push_back(Group{block.prefix, block.lastChannel, digital});
            continue;
        }
        at->highest = std::max(at->highest, block.lastChannel);
        at->digital = at->digital || digital;
    }
    return groups;
}

std::optional<Place> place_of(const LogHeader& header, const std::array<char, 2>& prefix,
                              std::uint32_t number) {
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        const BlockDescriptor& block = header.blocks[b];
        if (!same_prefix(block.prefix, prefix) || block.channel_count() == 0) continue;
        if (number < block.firstChannel || number > block.lastChannel) continue;
        return Place{b, number - block.firstChannel};
    }
    return std::nullopt;
}

std::span<const std::uint8_t> latest_record(const CurrentRun& run) {
    if (!run.store || run.last_readable < 0 ||
        run.header.recordSize < static_cast<std::int32_t>(run_file::kRecordHeadSize))
        return {};
    if (run.last_record.size() < static_cast<std::size_t>(run.header.recordSize)) return {};
    return std::span<const std::uint8_t>(run.last_record)
        .first(static_cast<std::size_t>(run.header.recordSize));
}

TimeStamp record_time(std::span<const std::uint8_t> record) {
    if (record.size() < run_file::kRecordHeadSize) return TimeStamp{};
    return run_file::decode_record_head(record).time;
}

namespace {

std::int64_t millis_of(const TimeStamp& t) {
    return static_cast<std::int64_t>(static_cast<std::uint32_t>(t.seconds)) * 1000 + t.milliseconds;
}

// Where the channels of one prefix of a CV or RV list are answered from.
struct Source {
    std::array<char, 2> prefix{};
    const CurrentRun* run = nullptr;
    std::span<const std::uint8_t> record;  // empty: no values
    TimeStamp time{};
    bool status = false;  // the logger status channels
};

Source find_source(LocalDataServer& server, const std::array<char, 2>& prefix, bool values) {
    const CurrentRun* answering = server.answering_run();
    const CurrentRun* other = server.other_run();
    const auto answering_record = answering ? latest_record(*answering) : std::span<const std::uint8_t>();
    if (same_prefix(prefix, kStatusPrefix) && !(answering && has_prefix(answering->header, kStatusPrefix)))
        return Source{{}, nullptr, {}, record_time(answering_record), true};
    if (answering && has_prefix(answering->header, prefix))
        return Source{{}, answering, answering_record, record_time(answering_record), false};
    if (other && has_prefix(other->header, prefix)) {
        const auto record = latest_record(*other);
        if (!values) return Source{{}, other, record, record_time(record), false};
        if (!record.empty() && !answering_record.empty()) {
            const std::int64_t apart =
                millis_of(record_time(record)) - millis_of(record_time(answering_record));
            if (apart > -kOtherRunWindowMs && apart < kOtherRunWindowMs)
                return Source{{}, other, record, record_time(record), false};
        }
    }
    return Source{};
}

Source source_of(LocalDataServer& server, const std::array<char, 2>& prefix, bool values) {
    Source source = find_source(server, prefix, values);
    source.prefix = prefix;
    return source;
}

// Calls `prefix_token(prefix)` for each prefix and `channel(number)` for each number of its
// group; a number 0, one beyond 65,535 or a token that is neither ends the group.
template <typename OnPrefix, typename OnChannel>
void walk_list(std::string_view list, OnPrefix&& prefix_token, OnChannel&& channel) {
    bool in_group = false;
    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view token = list.substr(0, comma);
        const ChannelToken t = ParseChannelToken(token);
        if (t.kind == ChannelToken::kPrefix) {
            prefix_token(t.prefix);
            in_group = true;
        } else if (t.kind == ChannelToken::kNumber && in_group && t.number > 0 && t.number <= 0xFFFF) {
            channel(static_cast<std::uint32_t>(t.number));
        } else {
            in_group = false;
        }
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
}

void put_time(ReplyWriter& out, const TimeStamp& time) {
    out.i32(time.seconds);
    out.i16(time.milliseconds);
}

// Outputs are reported as the inputs they are logged as.
void report_kind_as_input(qvr::ChannelRecord& record) {
    constexpr std::size_t kKind = offsetof(qvr::ChannelHead, Type);
    if (record.bytes[kKind] == static_cast<std::uint8_t>(qvr::ChannelKind::DO))
        record.bytes[kKind] = static_cast<std::uint8_t>(qvr::ChannelKind::DI);
    else if (record.bytes[kKind] == static_cast<std::uint8_t>(qvr::ChannelKind::AO))
        record.bytes[kKind] = static_cast<std::uint8_t>(qvr::ChannelKind::AI);
}

void put_sample(ReplyWriter& out, std::uint32_t flags, std::uint32_t value_bits) {
    flags &= ~kFlagCleared;
    out.u32(flags);
    if ((flags & kFlagHasValue) != 0 && (flags & kFlagNoValue) == 0) out.u32(value_bits);
}

std::string processor_name(std::size_t index) {
    std::string name = index < 26 ? "USERA" : index < 52 ? "USERB" : "USERC";
    const std::size_t within = index < 26 ? index : index < 52 ? index - 26 : index - 52;
    name.push_back(static_cast<char>('A' + within));
    return name;
}

std::string prefix_text(const std::array<char, 2>& prefix) {
    std::string text(prefix.data(), 2);
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

std::string processor_entry(const std::string& name, const Group& group, bool states) {
    const std::string prefix = prefix_text(group.prefix);
    std::string entry = states ? "1,1," : "";
    entry += name + "," + prefix + " CHANNELS," + prefix + ":" + std::to_string(group.highest) + ",0," +
             (group.digital ? 'D' : 'A') + ";";
    return entry;
}

std::string status_entry(bool states) {
    return std::string(states ? "1,1," : "") + "logst,LOGGER STATUS CHANNELS,LS:56,0,A;";
}

// "*,<n>": n, checked.
std::optional<std::size_t> first_count(std::string_view selector) {
    if (selector.size() < 3 || selector[0] != '*' || selector[1] != ',') return std::nullopt;
    const std::string_view digits = selector.substr(2);
    std::size_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return n;
}

}  // namespace

void answer_prefix_count(LocalDataServer& server, ReplyWriter& out) {
    const CurrentRun* run = server.answering_run();
    std::size_t count = 1;  // the logger status group
    if (run) {
        count = groups_of(run->header, server.configs_of(*run)).size();
        if (!has_prefix(run->header, kStatusPrefix)) ++count;
    }
    out.number(static_cast<long long>(count));
}

void answer_processors(LocalDataServer& server, std::string_view selector, bool states, ReplyWriter& out) {
    const CurrentRun* run = server.answering_run();
    std::vector<Group> groups;
    bool status_group = true;
    if (run) {
        groups = groups_of(run->header, server.configs_of(*run));
        status_group = !has_prefix(run->header, kStatusPrefix);
    }
    std::string entries;
    if (selector.starts_with("*")) {
        const auto n = first_count(selector);
        if (!n) {
            platform::set_last_error(platform::kErrorInvalidParameter);
            out.text("-1,87");
            return;
        }
        std::size_t listed = 0;
        for (; listed < groups.size() && listed < *n; ++listed)
            entries += processor_entry(processor_name(listed), groups[listed], states);
        if (status_group && listed < *n) entries += status_entry(states);
    } else if (platform::equal_ignoring_case(selector, "logst")) {
        if (status_group) entries = status_entry(states);
    } else {
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const std::string name = processor_name(i);
            if (!platform::equal_ignoring_case(selector, name)) continue;
            entries = processor_entry(name, groups[i], states);
            break;
        }
    }
    out.text(entries.empty() ? "0," : "1,");
    out.text(entries);
}

void answer_configurations(LocalDataServer& server, std::string_view list, ReplyWriter& out) {
    out.text("1,");
    Source source;
    walk_list(
        list,
        [&](const std::array<char, 2>& prefix) {
            source = source_of(server, prefix, false);
            put_time(out, source.time);
        },
        [&](std::uint32_t number) {
            qvr::ChannelRecord record{};
            if (source.status) {
                if (number <= static_cast<std::uint32_t>(kStatusChannelCount))
                    record = server.status_configs_[number - 1];
            } else if (source.run) {
                const auto place = place_of(source.run->header, source.prefix, number);
                const auto& configs = server.configs_of(*source.run);
                if (place && place->block < configs.blocks.size() &&
                    place->index < configs.blocks[place->block].size())
                    record = configs.blocks[place->block][place->index];
            }
            report_kind_as_input(record);
            out.bytes(record.bytes, sizeof record.bytes);
        });
}

bool answer_values(LocalDataServer& server, std::string_view list, ReplyWriter& out) {
    const CurrentRun* answering = server.answering_run();
    if (!answering || latest_record(*answering).empty()) {
        const int index = !answering                                                                ? -1
                          : server.collections_[1] && &server.collections_[1]->current == answering ? 1
                                                                                                    : 0;
        platform::debug_output("No RT Records GraphFiltered for " + std::to_string(index) + ":d\r\n");
        return false;
    }
    out.text("1,");
    Source source;
    walk_list(
        list,
        [&](const std::array<char, 2>& prefix) {
            source = source_of(server, prefix, true);
            put_time(out, source.time);
        },
        [&](std::uint32_t number) {
            if (source.status) {
                if (number <= static_cast<std::uint32_t>(kStatusChannelCount))
                    put_sample(out, server.status_flags_[number - 1], server.status_values_[number - 1]);
                else
                    put_sample(out, kFlagNoValue, 0);
                return;
            }
            run_file::ChannelSample sample;
            const auto place = source.run && !source.record.empty()
                                   ? place_of(source.run->header, source.prefix, number)
                                   : std::nullopt;
            if (!place || !run_file::read_sample(source.record, source.run->header.blocks[place->block],
                                                 place->index, sample)) {
                put_sample(out, kFlagNoValue, 0);
                return;
            }
            std::uint32_t bits = 0;
            std::memcpy(&bits, &sample.value, sizeof bits);
            put_sample(out, static_cast<std::uint32_t>(sample.flags), bits);
        });
    return true;
}

void answer_tags(LocalDataServer& server, std::string_view tags, ReplyWriter& out) {
    out.text("1,");
    if (tags.empty()) return;
    const CurrentRun* answering = server.answering_run();
    const CurrentRun* other = server.other_run();
    const bool status_group = !(answering && has_prefix(answering->header, kStatusPrefix));
    const auto find_in = [&](const CurrentRun* run, const std::string& tag) -> std::optional<ChannelKey> {
        if (!run) return std::nullopt;
        const auto& kept = server.configs_of(*run).tags;
        const auto at =
            std::lower_bound(kept.begin(), kept.end(), tag,
                             [](const auto& entry, const std::string& t) { return entry.first < t; });
        if (at == kept.end() || at->first != tag) return std::nullopt;
        return at->second;
    };
    while (true) {
        const std::size_t comma = tags.find(',');
        const std::string_view text = tags.substr(0, comma);
        std::optional<ChannelKey> key;
        if (!text.empty() && text.size() <= qvr::kTagMax) {
            const std::string tag = platform::ascii_upper_copy(text);
            key = find_in(answering, tag);
            if (!key) key = find_in(other, tag);
            if (!key && status_group) {
                for (int i = 0; i < kStatusChannelCount && !key; ++i)
                    if (platform::ascii_upper_copy(
                            qvr::join_text(server.status_configs_[i], qvr::ChannelText::Tag)) == tag)
                        key = ChannelKey{kStatusPrefix, static_cast<std::uint16_t>(i + 1)};
            }
        }
        const ChannelKey found = key.value_or(ChannelKey{});
        out.bytes(found.prefix.data(), found.prefix.size());
        out.u16(found.number);
        if (comma == std::string_view::npos) break;
        tags.remove_prefix(comma + 1);
    }
}

}  // namespace answers
}  // namespace log_stores::local
