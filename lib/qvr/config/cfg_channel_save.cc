// Saving a range of channels: binary table, extra file and XML table by the switches, then
// the audit trail.

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/config/cfg_channel_internal.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_switches.h"
#include "qvr/config/cfg_unfinished.h"
#include "qvr/config/cfg_xml_fields.h"
#include "qvr/records/channel_record_types.h"
#include "qvr/time/timestamp.h"

namespace qvr::cfg {
namespace {

struct SaveRequest {
    const char* user;
    std::string dir;
    int kind;
    const ChannelRecord* records;
    int first;
    int count;
    std::span<const std::uint8_t> extra;  // null data: none
    const char* extra_file;
    bool update;
};

struct OldChannels {
    std::vector<ChannelRecord> records;
    std::vector<std::uint8_t> extra;
    bool extra_read = false;
};

int write_binary(const SaveRequest& r) {
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    std::uint8_t stamp[kTableHeaderSize];
    const auto seconds = static_cast<std::uint32_t>(now.seconds);
    const auto ms = static_cast<std::uint16_t>(now.milliseconds);
    const auto us = static_cast<std::uint16_t>(now.microseconds);
    for (int i = 0; i < 4; ++i) stamp[i] = static_cast<std::uint8_t>(seconds >> (8 * i));
    stamp[4] = static_cast<std::uint8_t>(ms);
    stamp[5] = static_cast<std::uint8_t>(ms >> 8);
    stamp[6] = static_cast<std::uint8_t>(us);
    stamp[7] = static_cast<std::uint8_t>(us >> 8);
    // The whole new table goes through one rename: records outside the range stay as they
    // were, and a crash leaves the old table or the new one.
    const FilePatch table[] = {
        {0, stamp},
        {table_offset(r.first),
         {reinterpret_cast<const std::uint8_t*>(r.records),
          static_cast<std::size_t>(r.count) * kChannelRecordSize}},
    };
    if (patch_file(existing_file(r.dir, cfg_ChannelKindName(r.kind)), table) != 0) return -1;
    if (r.extra.data() != nullptr && r.extra_file != nullptr) {
        const FilePatch patch{0, r.extra};
        if (patch_file(existing_file(r.dir, r.extra_file), {&patch, 1}) != 0) return -1;
    }
    return 0;
}

// The old record as one of the new record's sense (analog or digital): only its head and
// its Enable bit mean anything there.
ChannelRecord in_sense_of(const ChannelRecord& old, const ChannelRecord& now) {
    if (is_digital(old.head.Type) == is_digital(now.head.Type)) return old;
    ChannelRecord r = old;
    std::memset(r.bytes + kFlagsOffset, 0, kChannelRecordSize - kFlagsOffset);
    r.head.Flags.set(AnalogFlag::Enable, old.head.Flags.test(AnalogFlag::Enable));
    return r;
}

void audit_records(const Extension& e, AuditTrail& trail, const SaveRequest& r, const OldChannels& old) {
    for (int i = 0; i < r.count; ++i) {
        const ChannelRecord& now = r.records[i];
        if (now == old.records[i]) continue;
        const int index = r.first + i;
        ChannelRecord was = in_sense_of(old.records[i], now);
        ChannelRecord is = now;
        const std::unique_ptr<ChannelLayout> layout =
            e.channel_layout(r.kind, index, now, is_digital(now.head.Type));
        if (layout->typed_hardware()) {
            was = e.undecorate_channel_hw(r.kind, index, was);
            is = e.undecorate_channel_hw(r.kind, index, is);
        }
        audit_changed_leaves(trail, r.user, index + 1, &layout->type(), was.bytes, is.bytes,
                             kChannelRecordSize);
    }
}

void audit_extra(const Extension& e, AuditTrail& trail, const SaveRequest& r, const OldChannels& old) {
    std::size_t used_new = 0, used_old = 0;
    for (int i = 0; i < r.count; ++i) {
        const int index = r.first + i;
        const ChannelRecord& now = r.records[i];
        const ChannelRecord& was = old.records[i];
        const auto left_new = r.extra.subspan(std::min(used_new, r.extra.size()));
        const auto left_old =
            std::span<const std::uint8_t>(old.extra).subspan(std::min(used_old, old.extra.size()));
        const auto size_new = channel_extra_answer(e, r.kind, index, now, left_new.data());
        const auto size_old = channel_extra_answer(e, r.kind, index, was, left_old.data());
        if (!size_new || !size_old || *size_new < 0 || *size_old < 0) return;
        const auto share_new = left_new.first(std::min<std::size_t>(*size_new, left_new.size()));
        const auto share_old = left_old.first(std::min<std::size_t>(*size_old, left_old.size()));
        const bool differ = share_new.size() != share_old.size() ||
                            !std::equal(share_new.begin(), share_new.end(), share_old.begin());
        const ExtType type = e.channel_extra_type(r.kind, index, now);
        if (differ && type) {
            std::vector<std::uint8_t> a = e.undecorate_channel_extra(r.kind, index, was, share_old);
            std::vector<std::uint8_t> b = e.undecorate_channel_extra(r.kind, index, now, share_new);
            const std::size_t limit = std::max(a.size(), b.size());
            a = padded(std::move(a), type->size);
            b = padded(std::move(b), type->size);
            audit_changed_leaves(trail, r.user, index + 1, type.get(), a.data(), b.data(), limit);
        }
        used_new += share_new.size();
        used_old += share_old.size();
    }
}

bool records_differ(const SaveRequest& r, const OldChannels& old) {
    for (int i = 0; i < r.count; ++i)
        if (!(r.records[i] == old.records[i])) return true;
    if (!old.extra_read || r.extra.data() == nullptr) return false;
    return r.extra.size() != old.extra.size() ||
           !std::equal(r.extra.begin(), r.extra.end(), old.extra.begin());
}

// A non-null view of `bytes`, also of none: extra data is wanted.
std::span<std::uint8_t> wanted(std::vector<std::uint8_t>& bytes) {
    static std::uint8_t none;
    return bytes.empty() ? std::span<std::uint8_t>(&none, 0) : std::span<std::uint8_t>(bytes);
}

std::optional<OldChannels> read_old(const Extension& e, const SaveRequest& r, bool& abort) {
    OldChannels old;
    old.records.assign(static_cast<std::size_t>(r.count), ChannelRecord{});
    std::span<std::uint8_t> extra;
    if (r.extra.data() != nullptr && r.extra_file != nullptr) {
        const bool calc = platform::starts_with_ignoring_case(device_prefix(r.dir), "CALC");
        old.extra.assign(calc ? static_cast<std::size_t>(r.count) * kCalcExtraPerChannel : r.extra.size(), 0);
        extra = wanted(old.extra);
        old.extra_read = true;
    }
    switch (
        load_channels(e, r.dir, r.kind, old.records.data(), r.first, r.count, extra, r.extra_file, false)) {
        case LoadOutcome::loaded:
            return old;
        case LoadOutcome::unreadable_document:
            abort = true;
            return std::nullopt;
        case LoadOutcome::failed:
            return std::nullopt;
    }
    return std::nullopt;
}

// The channels a save that did not finish wrote to the binary table go to the XML table as
// the binary table holds them. 0, or -1 with the failure reported.
int finish_unfinished_save(const Extension& e, const std::string& dir, int kind) {
    const std::string table = cfg_ChannelKindName(kind);
    const std::optional<UnfinishedSave> note = unfinished_save(dir, table);
    if (!note) return 0;
    const std::vector<std::int64_t>& n = note->numbers;
    const bool sound = n.size() == 3 && n[0] >= 0 && n[1] >= 0 && n[0] + n[1] < INT_MAX &&
                       table_offset(static_cast<int>(n[0] + n[1])) <= kMaxRewrittenFile && n[2] >= -1 &&
                       n[2] <= static_cast<std::int64_t>(kMaxRewrittenFile);
    if (!sound) {
        forget_unfinished_save(dir, table);
        return 0;
    }
    const int first = static_cast<int>(n[0]);
    std::vector<ChannelRecord> records(static_cast<std::size_t>(n[1]));
    std::vector<std::uint8_t> extra(n[2] > 0 ? static_cast<std::size_t>(n[2]) : 0);
    const bool with_extra = n[2] >= 0 && !note->file_name.empty() && plain_file_name(note->file_name);
    const std::span<std::uint8_t> extra_bytes = with_extra ? wanted(extra) : std::span<std::uint8_t>();
    const int held = load_channels_binary(dir, kind, records.data(), first, static_cast<int>(records.size()),
                                          extra_bytes, with_extra ? note->file_name.c_str() : nullptr);
    if (held < 0) return -1;
    if (held > 0) {
        xml_ResetStatus();
        if (write_channel_xml(e, dir, kind, records.data(), first, held, extra_bytes, true) != 0) return -1;
    }
    forget_unfinished_save(dir, table);
    return 0;
}

int save_channels(const SaveRequest& r) {
    const auto lock = FolderLock::acquire(r.dir);
    if (!lock) return -1;
    const Extension e = Extension::load(r.dir);
    const int mode = e.has_xml() ? cfg_GetWriteXmlMode(r.dir.c_str()) : 0;
    const std::string table = cfg_ChannelKindName(r.kind);
    // Before the old state is read: the audit compares with the tables as they agree again.
    if ((mode == 1 || mode == 2) && finish_unfinished_save(e, r.dir, r.kind) != 0) return -1;

    std::optional<OldChannels> old;
    if (audit_enabled_for(r.dir)) {
        bool abort = false;
        old = read_old(e, r, abort);
        // A table that cannot be read is not overwritten.
        if (abort) return report_xml_failure();
    }

    if (mode == 1) {
        const UnfinishedSave note{{r.first, r.count, r.extra.data() != nullptr ? static_cast<std::int64_t>(r.extra.size()) : -1},
                                  r.extra_file != nullptr ? r.extra_file : ""};
        if (note_unfinished_save(r.dir, table, note) != 0) return -1;
    }
    int result = 0;
    bool written = false;
    if (mode == 2) {
        warn_if_xml_only_unread(r.dir.c_str());
    } else {
        if (e.has_xml())
            warn_if_stale_xml(r.dir.c_str(),
                              existing_file(r.dir, std::string(cfg_ChannelKindName(r.kind)) + ".xml"));
        result = write_binary(r);
        written = result == 0;
    }
    if (result == 0 && (mode == 1 || mode == 2)) {
        xml_ResetStatus();
        result = write_channel_xml(e, r.dir, r.kind, r.records, r.first, r.count, r.extra, r.update);
        written = written || result == 0;
        if (mode == 1 && result == 0) forget_unfinished_save(r.dir, table);
    }
    const int error = errno;
    // Readers watch the time of the configuration folder's "config".
    if (written) touch_file(existing_file(parent_folder(r.dir), kConfigFile));
    if (written && old && records_differ(r, *old)) {
        AuditTrail trail(r.dir);
        trail.open(r.kind + 1);
        audit_records(e, trail, r, *old);
        if (old->extra_read) audit_extra(e, trail, r, *old);
    }
    if (result != 0) return platform::fail(error);
    return 0;
}

}  // namespace
}  // namespace qvr::cfg

int cfg_SaveChannels(const char* user, const char* dir, int kind, const qvr::ChannelRecord* records,
                     int first, int count, const void* extra, int32_t extra_size, const char* extra_file,
                     int update) {
    using namespace qvr::cfg;
    if (!valid_channel_request(dir, kind, first, count, extra_size, extra_file)) return -1;
    if ((records == nullptr && count > 0) || table_offset(first + count) > kMaxRewrittenFile)
        return platform::fail(platform::kErrorInvalidArgument);
    static const qvr::ChannelRecord kNoRecord{};
    std::string folder = resolved_folder(dir);
    if (folder.empty()) return -1;
    SaveRequest r{user,
                  std::move(folder),
                  kind,
                  records != nullptr ? records : &kNoRecord,
                  first,
                  count,
                  {static_cast<const std::uint8_t*>(extra),
                   extra != nullptr ? static_cast<std::size_t>(extra_size) : 0},
                  extra_file,
                  update != 0};
    return save_channels(r);
}

int cfg_SaveChannelsUpdate(const char* user, const char* dir, int kind, const qvr::ChannelRecord* records,
                           int first, int count, const void* extra, int32_t extra_size,
                           const char* extra_file) {
    return cfg_SaveChannels(user, dir, kind, records, first, count, extra, extra_size, extra_file, 1);
}

int cfg_SaveChannelsRewrite(const char* user, const char* dir, int kind, const qvr::ChannelRecord* records,
                            int first, int count, const void* extra, int32_t extra_size,
                            const char* extra_file) {
    return cfg_SaveChannels(user, dir, kind, records, first, count, extra, extra_size, extra_file, 0);
}

int cfg_SaveChannelsFromCwd(int kind, const qvr::ChannelRecord* records, int first, int count) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_SaveChannels(nullptr, here.c_str(), kind, records, first, count, nullptr, 0, nullptr, 1);
}
