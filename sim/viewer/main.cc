// qvr_viewer: a stand-in for the product's viewer of logged data, for trying the system and
// for tests. It reads a data folder or a database location the way a viewer does, through
// the logged-data requests that the local data server answers, and lists runs, prints a run's
// header and channels, exports records as CSV and draws channels into a PNG picture.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/local_server/local_backend.h"
#include "platform/ascii_text.h"
#include "platform/secret_mask.h"
#include "viewer/csv_text.h"
#include "viewer/location_text.h"
#include "viewer/logged_data_link.h"
#include "viewer/plot_picture.h"
#include "viewer/time_text.h"
#ifdef QVR_VIEWER_WITH_MYSQL
#include "log_stores/mysql/register.h"
#endif

namespace {

using viewer::Channel;
using viewer::Run;
using viewer::Sample;
using viewer::time_text::Zone;

constexpr const char* kUsage =
    "usage: qvr_viewer [--list] [--local] LOCATION\n"
    "       qvr_viewer --header [--local] LOCATION\n"
    "       qvr_viewer --csv [--run N] [--from TIME] [--to TIME] [--local] [--channels LIST] LOCATION\n"
    "       qvr_viewer --png FILE [--size WxH] [--run N] [--from TIME] [--to TIME] [--local]\n"
    "                  [--channels LIST] LOCATION\n"
    "       qvr_viewer --help\n";

constexpr const char* kHelp =
    "\n"
    "Shows logged data the way the product's viewer reads it: through the logged-data requests,\n"
    "answered in this process from the runs at LOCATION.\n"
    "\n"
    "LOCATION   a logger's data folder (/data/LOGGED_DATA/L1), or a database connection string\n"
    "           that names the logger, in quotes:\n"
    "             \"Provider=SQLite.File;Data Source=/data/L1.sqlite;LoggerName=L1\"\n"
    "             \"Provider=MSDASQL;Driver=...;Server=...;Database=...;UID=...;PWD=...;LoggerName=L1\"\n"
    "             \"PROVIDER=MYSQL;HOST=...;PORT=...;USER=...;PASSWORD=<base64>;DB=...;LoggerName=L1\"\n"
    "\n"
    "  --list          the runs, oldest first, numbered (the default)\n"
    "  --header        the latest run: its times, header text and channels\n"
    "  --csv           records as CSV on standard output\n"
    "  --png FILE      chosen channels drawn over time into the PNG picture FILE\n"
    "  --run N         the run numbered N by --list (default: the latest run)\n"
    "  --from TIME     only records at TIME or later\n"
    "  --to TIME       only records before TIME\n"
    "                  Without --run, --from and --to take the records of every run in between.\n"
    "  --local         times in this machine's time zone (TZ when set) instead of UTC\n"
    "  --channels LIST channels by tag or by prefix and number (AI1,TEMP 2,AA3), comma-separated;\n"
    "                  default: every channel of the latest run (--png: the first 10)\n"
    "  --size WxH      the picture's size in pixels (default 1200x700)\n"
    "\n"
    "TIME: 2024-03-05T10:00:00.250Z, 2024-03-05T11:00+01:00, \"2024-03-05 10:00\" (in UTC, or in\n"
    "local time with --local), 2024-03-05, or @1709632800 (seconds since 1970, UTC).\n"
    "\n"
    "CSV: a header line \"time\" and the channels' names (tag, or prefix and number when a channel\n"
    "has no tag), then one line per record: its time, then one value per channel. Times are\n"
    "YYYY-MM-DDTHH:MM:SS.mmm with Z (UTC) or the offset (+01:00) of local time. Values use '.'\n"
    "whatever the locale, in the shortest form that reads back exactly; a digital channel is 0\n"
    "or 1. An empty field is a value the run marks bad (or not a number), or a channel the run\n"
    "does not hold. A field with a comma, quote or line break is quoted as in RFC 4180; lines end\n"
    "with LF. A run still being logged gives the records it holds at that moment.\n"
    "\n"
    "Channels come from the latest run; an older run that holds others shows them empty.\n"
    "Exit status: 0 done, 1 the data could not be read or written, 2 a wrong command line.\n";

struct Options {
    enum class Mode { kList, kHeader, kCsv, kPng } mode = Mode::kList;
    bool mode_given = false;
    std::string location;
    std::string png_path;
    int width = 1200;
    int height = 700;
    std::optional<int> run;
    std::optional<std::string> from_text, to_text;
    viewer::Window window;
    Zone zone = Zone::kUtc;
    std::optional<std::string> channels;
};

// Diagnostics may quote a connection string, or a store's error text that holds one.
int usage_error(const std::string& why) {
    std::fprintf(stderr, "qvr_viewer: %s\n%s", platform::mask_secrets(why).c_str(), kUsage);
    return 2;
}

int failure(const std::string& why) {
    std::fprintf(stderr, "qvr_viewer: %s\n", platform::mask_secrets(why).c_str());
    return 1;
}

std::optional<int> whole_number(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

// "" when the command line holds, else what is wrong with it.
std::string parse(int argc, char** argv, Options& o) {
    const auto set_mode = [&](Options::Mode mode) {
        if (o.mode_given && o.mode != mode) return false;
        o.mode = mode;
        o.mode_given = true;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--list" || arg == "--header" || arg == "--csv") {
            const auto mode = arg == "--list" ? Options::Mode::kList
                              : arg == "--header" ? Options::Mode::kHeader
                                                  : Options::Mode::kCsv;
            if (!set_mode(mode)) return "choose one of --list, --header, --csv and --png";
        } else if (arg == "--png") {
            const char* path = value();
            if (path == nullptr || *path == '\0') return "--png needs a file name";
            if (!set_mode(Options::Mode::kPng)) return "choose one of --list, --header, --csv and --png";
            o.png_path = path;
        } else if (arg == "--local") {
            o.zone = Zone::kLocal;
        } else if (arg == "--run") {
            const char* n = value();
            const auto number = n != nullptr ? whole_number(n) : std::nullopt;
            if (!number || *number < 1) return "--run needs a run number from --list (1 or more)";
            o.run = number;
        } else if (arg == "--from" || arg == "--to") {
            const char* t = value();
            if (t == nullptr) return std::string(arg) + " needs a time";
            (arg == "--from" ? o.from_text : o.to_text) = t;
        } else if (arg == "--channels") {
            const char* list = value();
            if (list == nullptr || *list == '\0') return "--channels needs a list of channels";
            o.channels = list;
        } else if (arg == "--size") {
            const char* size = value();
            const std::string_view s = size != nullptr ? size : "";
            const std::size_t x = s.find('x');
            const auto w = x != std::string_view::npos ? whole_number(s.substr(0, x)) : std::nullopt;
            const auto h = x != std::string_view::npos ? whole_number(s.substr(x + 1)) : std::nullopt;
            if (!w || !h || *w < viewer::plot::kMinSize || *h < viewer::plot::kMinSize ||
                *w > viewer::plot::kMaxSize || *h > viewer::plot::kMaxSize)
                return "--size needs WIDTHxHEIGHT, each " + std::to_string(viewer::plot::kMinSize) + " to " +
                       std::to_string(viewer::plot::kMaxSize) + " pixels";
            o.width = *w;
            o.height = *h;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return "unknown option " + std::string(arg);
        } else if (o.location.empty()) {
            o.location = arg;
        } else {
            return "one LOCATION only (a connection string goes in quotes)";
        }
    }
    if (o.location.empty()) return "no LOCATION given";
    const bool reads_records = o.mode == Options::Mode::kCsv || o.mode == Options::Mode::kPng;
    if (!reads_records && (o.run || o.from_text || o.to_text || o.channels))
        return "--run, --from, --to and --channels go with --csv or --png";
    if (o.mode != Options::Mode::kPng && (o.width != 1200 || o.height != 700)) return "--size goes with --png";
    if (o.from_text && !(o.window.from = viewer::time_text::parse(*o.from_text, o.zone)))
        return "--from: not a time: " + *o.from_text;
    if (o.to_text && !(o.window.to = viewer::time_text::parse(*o.to_text, o.zone)))
        return "--to: not a time: " + *o.to_text;
    return {};
}

std::string shown(std::uint64_t micros, Zone zone) {
    return viewer::time_text::format(micros, zone);
}

std::string stop_text(const Run& run, Zone zone) {
    if (run.logging) return "logging";
    return run.stop ? shown(*run.stop, zone) : "-";
}

// The channels of the latest run of `list`.
std::optional<std::vector<Channel>> latest_channels(viewer::LoggedDataLink& link, const viewer::RunList& list) {
    auto channels = link.channels();
    // A run with records and no channels: the run came after the link was opened.
    if (channels && channels->empty() && !list.runs.empty() && list.runs.back().records > 0) {
        if (!link.reopen()) return std::nullopt;
        channels = link.channels();
    }
    return channels;
}

int list_runs(viewer::LoggedDataLink& link, const Options& o) {
    const auto list = link.runs();
    if (!list) return failure(link.error());
    if (list->runs.empty() && list->without_records == 0) {
        std::printf("no runs\n");
        return 0;
    }
    std::printf("%-4s %-29s %-29s %9s  %-29s %s\n", "run", "start", "stop", "records", "first record",
                "last record");
    for (const Run& run : list->runs) {
        const std::string first = run.records > 0 ? shown(run.first_record, o.zone) : "-";
        const std::string last = run.records > 0 ? shown(run.last_record, o.zone) : "-";
        std::printf("%-4d %-29s %-29s %9llu  %-29s %s\n", run.number, shown(run.start, o.zone).c_str(),
                    stop_text(run, o.zone).c_str(), static_cast<unsigned long long>(run.records), first.c_str(),
                    last.c_str());
    }
    if (list->without_records > 0)
        std::printf("%u more run(s) without records, not listed\n", list->without_records);
    return 0;
}

int print_header(viewer::LoggedDataLink& link, const Options& o) {
    const auto list = link.runs();
    if (!list) return failure(link.error());
    if (list->runs.empty()) return failure("no runs at " + viewer::shown_location(o.location));
    const auto channels = latest_channels(link, *list);
    if (!channels) return failure(link.error());
    const auto header = link.header_text();
    if (!header) return failure(link.error());
    const Run& run = list->runs.back();
    std::printf("run %d of %zu\n", run.number, list->runs.size());
    std::printf("  start     %s\n", shown(run.start, o.zone).c_str());
    std::printf("  stop      %s\n", stop_text(run, o.zone).c_str());
    std::printf("  records   %llu\n", static_cast<unsigned long long>(run.records));
    std::printf("header text\n");
    std::size_t at = 0;
    while (at < header->size()) {
        const std::size_t end = std::min(header->find('\n', at), header->size());
        std::printf("  %.*s\n", static_cast<int>(end - at), header->data() + at);
        at = end + 1;
    }
    std::printf("channels (%zu)\n", channels->size());
    const auto row = [](const std::string& key, const std::string& tag, const char* kind, const std::string& units,
                        const std::string& description) {
        char line[512];
        std::snprintf(line, sizeof line, "  %-8s %-16s %-8s %-9s %s", key.c_str(), tag.c_str(), kind, units.c_str(),
                      description.c_str());
        std::string text = line;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        std::printf("%s\n", text.c_str());
    };
    row("channel", "tag", "kind", "units", "description");
    for (const Channel& c : *channels)
        row(c.key(), c.tag, c.digital ? "digital" : "analog", c.units, c.description);
    return 0;
}

// The channels the list names, in its order; "" in `why` when every name was found.
std::vector<Channel> chosen_channels(const std::vector<Channel>& all, const std::string& list, std::string& why) {
    std::vector<Channel> out;
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        const std::string name = list.substr(at, end - at);
        at = end + 1;
        if (name.empty()) continue;
        const Channel* found = nullptr;
        for (const Channel& c : all)
            if (platform::equal_ignoring_case(c.tag, name)) {
                found = &c;
                break;
            }
        for (const Channel& c : all)
            if (found == nullptr && platform::equal_ignoring_case(c.key(), name)) found = &c;
        if (found == nullptr) {
            why = "no channel " + name + " in the latest run (qvr_viewer --header lists them)";
            return {};
        }
        out.push_back(*found);
    }
    if (out.empty()) why = "--channels names no channel";
    return out;
}

// Which records the command line asks for: a window over every run, or one run.
struct Selection {
    std::optional<Run> run;  // none: every run inside the window
    bool latest = false;
    std::string title;
};

// "" in `why` when the selection can be read.
Selection select_records(const Options& o, const viewer::RunList& list, std::string& why) {
    Selection s;
    if ((o.window.from || o.window.to) && !o.run) {
        s.title = "records from " + (o.window.from ? shown(*o.window.from, o.zone) : std::string("the first")) +
                  " to " + (o.window.to ? shown(*o.window.to, o.zone) : std::string("the last"));
        return s;
    }
    if (list.runs.empty()) {
        why = "no runs at " + viewer::shown_location(o.location);
        return s;
    }
    const int number = o.run.value_or(static_cast<int>(list.runs.size()));
    if (number > static_cast<int>(list.runs.size())) {
        why = "no run " + std::to_string(number) + ": the location holds " + std::to_string(list.runs.size()) +
              " run(s) with records (qvr_viewer --list)";
        return s;
    }
    s.run = list.runs[static_cast<std::size_t>(number - 1)];
    s.latest = number == static_cast<int>(list.runs.size());
    s.title = "run " + std::to_string(s.run->number) + ", started " + shown(s.run->start, o.zone);
    return s;
}

bool read_records(viewer::LoggedDataLink& link, const Options& o, const Selection& s,
                  const std::vector<Channel>& channels, const viewer::LoggedDataLink::RecordVisitor& each) {
    return s.run ? link.read(*s.run, s.latest, o.window, channels, each) : link.read_window(o.window, channels, each);
}

// The channels of the latest run, or those --channels names (at most `most` by default).
std::optional<std::vector<Channel>> channels_for(viewer::LoggedDataLink& link, const Options& o,
                                                 const viewer::RunList& list, std::size_t most, std::string& why) {
    const auto all = latest_channels(link, list);
    if (!all) {
        why = link.error();
        return std::nullopt;
    }
    if (!o.channels) return std::vector<Channel>(all->begin(), all->begin() + std::min(most, all->size()));
    auto chosen = chosen_channels(*all, *o.channels, why);
    if (!why.empty()) return std::nullopt;
    return chosen;
}

int export_csv(viewer::LoggedDataLink& link, const Options& o) {
    const auto list = link.runs();
    if (!list) return failure(link.error());
    std::string why;
    const Selection selection = select_records(o, *list, why);
    if (!why.empty()) return failure(why);
    const auto channels = channels_for(link, o, *list, SIZE_MAX, why);
    if (!channels) return failure(why);

    std::string out = "time";
    for (const Channel& c : *channels) out += "," + viewer::csv::field(c.name());
    out += '\n';
    const auto flush = [&] {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    };
    const bool read = read_records(link, o, selection, *channels, [&](std::uint64_t time, std::span<const Sample> samples) {
        out += shown(time, o.zone);
        for (const Sample& s : samples) {
            out += ',';
            if (s.good()) out += viewer::csv::number(s.value);
        }
        out += '\n';
        if (out.size() > (1u << 16)) flush();
    });
    flush();
    if (!read) return failure(link.error());
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return failure("cannot write the CSV to standard output");
    return 0;
}

int draw_png(viewer::LoggedDataLink& link, const Options& o) {
    if (!viewer::plot::available()) return failure(viewer::plot::write_png(o.png_path, {}));
    const auto list = link.runs();
    if (!list) return failure(link.error());
    std::string why;
    const Selection selection = select_records(o, *list, why);
    if (!why.empty()) return failure(why);
    const auto channels = channels_for(link, o, *list, viewer::plot::kPalette.size(), why);
    if (!channels) return failure(why);
    if (channels->size() > viewer::plot::kPalette.size())
        return failure("a picture holds at most " + std::to_string(viewer::plot::kPalette.size()) + " channels");

    viewer::plot::Picture picture;
    picture.width = o.width;
    picture.height = o.height;
    picture.zone = o.zone;
    for (const Channel& c : *channels)
        picture.series.push_back({c.name() + (c.units.empty() ? "" : " [" + c.units + "]"), c.digital, {}});
    picture.title = selection.title;
    const bool read = read_records(link, o, selection, *channels, [&](std::uint64_t time, std::span<const Sample> samples) {
        picture.times.push_back(time);
        for (std::size_t k = 0; k < samples.size(); ++k)
            picture.series[k].values.push_back(samples[k].good() ? samples[k].value : NAN);
    });
    if (!read) return failure(link.error());
    if (picture.times.empty()) picture.title += " (no records)";
    why = viewer::plot::write_png(o.png_path, picture);
    if (!why.empty()) return failure(why);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::printf("%s%s", kUsage, kHelp);
            return 0;
        }
    Options o;
    if (const std::string why = parse(argc, argv, o); !why.empty()) return usage_error(why);

    log_stores::RegisterLocalDataServer();
#ifdef QVR_VIEWER_WITH_MYSQL
    log_stores::RegisterMySqlLogStores();
#endif
    viewer::LoggedDataLink link;
    if (!link.open(o.location)) return failure(link.error());
    // The link stays open to the end: closing it waits for other users of the location, and a
    // reader has nothing to put away.
    switch (o.mode) {
        case Options::Mode::kList:
            return list_runs(link, o);
        case Options::Mode::kHeader:
            return print_header(link, o);
        case Options::Mode::kCsv:
            return export_csv(link, o);
        case Options::Mode::kPng:
            return draw_png(link, o);
    }
    return 0;
}
