#include "TOLVA_CF/logic/printout.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "TOLVA_CF/logic/printout_format.h"
#include "platform/last_error.h"

namespace tolva::cf {

namespace {

bool usable(const TolvaPrintTarget& target) {
    return target.start_page != nullptr && target.end_page != nullptr && target.draw_text != nullptr;
}

// A page must hold a heading and one channel, else no listing could make progress.
int check_metrics(const TolvaPrintTarget& target) {
    if (!usable(target)) return platform::fail(platform::kErrorInvalidArgument);
    if (LinePrinter::lines_per_page(target) < kHeadingLines + kChannelLines) {
        return platform::fail(platform::kErrorInvalidParameter);
    }
    return 0;
}

bool channel_enabled(const qvr::ChannelRecord& record) {
    // Enable is word bit 0 in both layouts.
    return record.head.Flags.test(qvr::AnalogFlag::Enable);
}

struct Range {
    int first;
    int last;
};

// The kind's range after the defaults; none (errno set) when it lies outside the table.
std::optional<Range> kind_range(const HostDeviceRecord& device, int kind, int first, int last) {
    if (kind < 0 || kind >= kChannelKindCount || device.Kinds[kind].ModuleCode[0] == '\0') {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return std::nullopt;
    }
    const int count = device.Kinds[kind].ChannelCount;
    if (last == 0) last = count;
    if (first == 0) first = 1;
    if (first < 1 || last < first || last > count) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return std::nullopt;
    }
    return Range{first, last};
}

std::string_view module_code(const HostDeviceRecord& device, int kind) {
    const auto& code = device.Kinds[kind].ModuleCode;
    return std::string_view(code, sizeof code).substr(0, code[1] == '\0' ? 1 : 2);
}

// `records` holds channels range.first .. range.last.
int print_listing(LinePrinter& printer, std::string_view code, int kind, Range range,
                  std::span<const qvr::ChannelRecord> records) {
    const bool digital = qvr::is_digital(static_cast<qvr::ChannelKind>(kind));
    const int lines = printer.lines_per_page();
    bool any_printed = false;
    int number = range.first;
    while (number <= range.last) {
        bool heading_on_page = false;
        for (; number <= range.last; ++number) {
            const qvr::ChannelRecord& record = records[static_cast<std::size_t>(number - range.first)];
            if (!channel_enabled(record)) continue;
            // Both lines of a channel, and the heading above the page's first one, must fit.
            const int needed = kChannelLines + (heading_on_page ? 0 : kHeadingLines);
            if (printer.line() + needed - 1 > lines) break;
            if (!heading_on_page) {
                if (printer.print(digital ? digital_heading_text() : analog_heading_text()) < 0) return -1;
                heading_on_page = true;
            }
            const std::string entry =
                digital ? digital_channel_text(record, code, number) : analog_channel_text(record, code, number);
            if (printer.print(entry) < 0) return -1;
            any_printed = true;
        }
        if (number > range.last && !any_printed) {
            // The one line goes on the current page while it has room.
            if (printer.line() > lines && printer.print("\f") < 0) return -1;
            return printer.print(all_disabled_text(code, range.first, range.last));
        }
        if (printer.print("\f") < 0) return -1;
    }
    return 0;
}

// The channels of a listing: the caller's, or read from the server into `read`.
struct Listing {
    int kind = 0;
    Range range{};
    const qvr::ChannelRecord* given = nullptr;  // the caller's table from channel 1
    std::vector<qvr::ChannelRecord> read;       // else channels range.first .. range.last

    std::span<const qvr::ChannelRecord> records() const {
        if (given == nullptr) return read;
        return {given + (range.first - 1), static_cast<std::size_t>(range.last - range.first + 1)};
    }
};

std::optional<Listing> gather(const PrintKindRequest& request, ConfigurationSource& source) {
    const HostDeviceRecord& device = *request.device;
    const auto range = kind_range(device, request.kind, request.first, request.last);
    if (!range) return std::nullopt;
    Listing listing;
    listing.kind = request.kind;
    listing.range = *range;
    listing.given = request.records;
    if (listing.given == nullptr) {
        listing.read.resize(static_cast<std::size_t>(range->last - range->first + 1));
        if (source.read_channels(request.server, host_config_folder(device), request.kind, range->first - 1,
                                 listing.read) < 0) {
            return std::nullopt;
        }
    }
    return listing;
}

int print_listing(LinePrinter& printer, const HostDeviceRecord& device, const Listing& listing) {
    return print_listing(printer, module_code(device, listing.kind), listing.kind, listing.range, listing.records());
}

int finish_job(LinePrinter& printer, int result) {
    if (result < 0) return -1;
    return printer.finish();
}

}  // namespace

int print_kind_config(const TolvaPrintTarget& target, const PrintKindRequest& request,
                      ConfigurationSource& source) {
    if (request.device == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    if (check_metrics(target) < 0) return -1;
    const auto listing = gather(request, source);
    if (!listing) return -1;
    LinePrinter printer(target);
    return finish_job(printer, print_listing(printer, *request.device, *listing));
}

int print_all_config(const TolvaPrintTarget& target, const PrintAllRequest& request, ConfigurationSource& source) {
    if (request.device == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    if (check_metrics(target) < 0) return -1;
    const HostDeviceRecord& device = *request.device;

    DeviceBlock block{request.server, host_device_name(device), request.status, request.autosave, request.by_tag,
                      static_cast<std::uint32_t>(request.save_rate_ms)};
    DeviceConfigRecord config{};
    if (request.config != nullptr) {
        config = *request.config;
    } else {
        StoredDeviceSettings stored;
        if (source.read_device_settings(request.server, host_config_folder(device), stored) < 0) return -1;
        config = stored.config;
        block.status = stored.auto_enable;
        block.autosave = stored.save_outputs != 0;
        block.by_tag = stored.save_by_tag != 0;
        block.save_rate_ms = static_cast<std::uint32_t>(stored.save_rate);
    }

    // Everything is read before anything is printed, so a failed read leaves no half job.
    std::vector<Listing> listings;
    for (int kind = 0; kind < kChannelKindCount; ++kind) {
        // A kind without a table, or with an empty one, has nothing to list.
        if (device.Kinds[kind].ModuleCode[0] == '\0' || device.Kinds[kind].ChannelCount == 0) continue;
        PrintKindRequest listing{request.server, &device, kind, 0, 0, nullptr};
        if (request.channels != nullptr) listing.records = request.channels[kind];
        auto gathered = gather(listing, source);
        if (!gathered) return -1;
        listings.push_back(std::move(*gathered));
    }

    LinePrinter printer(target);
    if (printer.print(device_block_text(block)) < 0 ||
        printer.print(device_settings_text(config, device.PortNumber)) < 0) {
        return -1;
    }
    for (const Listing& listing : listings) {
        if (print_listing(printer, device, listing) < 0) return -1;
    }
    return finish_job(printer, 0);
}

}  // namespace tolva::cf
