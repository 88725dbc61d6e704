#include "viewer_fixture.h"

#include <gtest/gtest.h>

#include <charconv>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "logger/logged_values.h"
#include "platform/ado/text_codec.h"
#include "support/child_process.h"
#include "support/test_env.h"
#include "support/temp_dir.h"
#include "test_database.h"
#include "viewer/csv_text.h"
#ifdef VIEWER_TEST_WITH_MYSQL
#include "log_stores/mysql/base64_text.h"
#endif

namespace viewer_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* kind_name(Kind kind) {
    switch (kind) {
        case Kind::kFolder:
            return "Folder";
        case Kind::kSqlite:
            return "Sqlite";
        case Kind::kMariaDb:
            return "MariaDb";
        case Kind::kMySql:
            return "MySql";
    }
    return "?";
}

std::string unavailable_reason(Kind kind) {
    if (kind == Kind::kFolder || kind == Kind::kSqlite) return {};
#ifndef VIEWER_TEST_WITH_MYSQL
    if (kind == Kind::kMySql) return "this build has no MySQL back end";
#endif
    if (!log_stores_test::mariadb_server()) return log_stores_test::kNoMariaDbServer;
    return {};
}

Place::Place(Kind kind) : kind_(kind), dir_(std::make_unique<qvr_test::TempDir>()) {
    scratch_ = (dir_->path() / "scratch").string();
    fs::create_directories(scratch_);
    switch (kind) {
        case Kind::kFolder:
            writer_ = (dir_->path() / "LOGGED_DATA" / "L1").string();
            fs::create_directories(fs::path(writer_).parent_path());
            reader_ = writer_;
            return;
        case Kind::kSqlite:
            database_ = std::make_unique<log_stores_test::SqliteDatabase>();
            writer_ = ado::utf8_from_utf16(database_->connection_string());
            break;
        case Kind::kMariaDb:
        case Kind::kMySql: {
            const auto server = log_stores_test::mariadb_server();
            if (!server) {
                ADD_FAILURE() << log_stores_test::kNoMariaDbServer;
                return;
            }
            database_ = std::make_unique<log_stores_test::MariaDatabase>(*server);
            writer_ = ado::utf8_from_utf16(database_->connection_string());
#ifdef VIEWER_TEST_WITH_MYSQL
            if (kind == Kind::kMySql) {
                const std::string name = writer_.substr(writer_.rfind("Database=") + 9);
                writer_ = "PROVIDER=MYSQL;HOST=" + server->at("host") + ";PORT=" + server->at("port") +
                          ";USER=" + server->at("user") +
                          ";PASSWORD=" + log_stores::Base64EncodeText(server->at("password")) + ";DB=" + name;
            }
#endif
            break;
        }
    }
    reader_ = writer_ + ";LoggerName=L1";
}

Place::~Place() = default;

const std::string& Place::folder() const {
    return scratch_;
}

Ran run(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env,
        std::chrono::seconds timeout) {
    static int serial = 0;
    const std::string stem = (fs::path(qvr_test::test_root()) / ("run." + std::to_string(++serial))).string();
    const std::string out_file = stem + ".out";
    const std::string err_file = stem + ".err";
    // The shell only sends the two streams to files: program and arguments pass through as
    // its positional parameters, unquoted and unchanged.
    std::vector<std::string> shell_args{"-c", "exec \"$0\" \"$@\" >\"$RUN_STDOUT\" 2>\"$RUN_STDERR\"", program};
    shell_args.insert(shell_args.end(), args.begin(), args.end());
    std::vector<std::string> shell_env = env;
    shell_env.push_back("RUN_STDOUT=" + out_file);
    shell_env.push_back("RUN_STDERR=" + err_file);
    auto child = qvr_test::ChildProcess::spawn("/bin/sh", shell_args, shell_env);
    Ran ran;
    ran.exit_code = child.wait_exit_code(timeout);
    if (!ran.exit_code) child.kill(SIGKILL);
    const auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    ran.out = slurp(out_file);
    ran.err = slurp(err_file);
    fs::remove(out_file);
    fs::remove(err_file);
    return ran;
}

Ran run_viewer(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    return run(qvr_test::bin_path("qvr_viewer"), args, env);
}

std::vector<std::string> Logged::arguments(const std::string& writer) const {
    return {"--folder",   writer,
            "--logger",   "L1",
            "--prefix",   "L1_",
            "--runs",     std::to_string(runs),
            "--records",  std::to_string(records),
            "--period-ms", std::to_string(period_ms),
            "--channels", std::to_string(analog),
            "--digital",  std::to_string(digital),
            "--start",    std::to_string(start)};
}

std::int32_t Logged::run_start(int run) const {
    // qvr_logger's own spacing: a run's length and a minute between runs.
    const long length = records * static_cast<long>(period_ms) / 1000 + 1;
    return static_cast<std::int32_t>(start + run * (length + 60));
}

std::uint64_t Logged::record_micros(int run, long index) const {
    const TimeStamp t = sim_logger::record_time(run_start(run), index, period_ms);
    return std::uint64_t{static_cast<std::uint32_t>(t.seconds)} * 1'000'000u +
           static_cast<std::uint64_t>(t.milliseconds) * 1000u;
}

std::vector<std::string> Logged::header() const {
    std::vector<std::string> out{"time"};
    for (int k = 1; k <= analog; ++k) out.push_back("AI" + std::to_string(k));
    for (int k = 1; k <= digital; ++k) out.push_back("DI" + std::to_string(k));
    return out;
}

std::string Logged::mismatch(const std::vector<std::string>& fields, int run, long index, long offset_seconds,
                             const std::string& zone_suffix) const {
    std::ostringstream why;
    const std::size_t want_fields = 1 + static_cast<std::size_t>(analog + digital);
    if (fields.size() != want_fields) {
        why << "record " << index << ": " << fields.size() << " fields, not " << want_fields;
        return why.str();
    }
    const std::string time = shown_time(record_micros(run, index), offset_seconds, zone_suffix);
    if (fields[0] != time) why << "record " << index << ": time " << fields[0] << ", not " << time << "; ";
    for (int c = 0; c < analog + digital; ++c) {
        const bool digital_channel = c >= analog;
        const std::size_t block = digital_channel ? 1 : 0;
        const auto channel = static_cast<std::uint32_t>(digital_channel ? c - analog : c);
        const auto sample = sim_logger::sample_of(block, channel, index, digital_channel);
        const std::string& got = fields[1 + static_cast<std::size_t>(c)];
        const bool bad = (sample.flags & 0x20) != 0 || std::isnan(sample.value);
        if (bad || digital_channel) {
            const std::string want = bad ? "" : (sample.flags & 0x01) != 0 ? "1" : "0";
            if (got != want) why << "record " << index << " channel " << c << ": '" << got << "', not '" << want << "'; ";
            continue;
        }
        // An analog value must read back as exactly the float logged, with a '.' decimal.
        float value = 0;
        const auto [end, ec] = std::from_chars(got.data(), got.data() + got.size(), value);
        if (ec != std::errc() || end != got.data() + got.size() || value != sample.value)
            why << "record " << index << " channel " << c << ": '" << got << "', not " << sample.value << "; ";
    }
    return why.str();
}

std::string shown_time(std::uint64_t micros, long offset_seconds, const std::string& suffix) {
    const auto seconds = static_cast<std::time_t>(micros / 1'000'000u) + offset_seconds;
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(micros / 1000u % 1000u));
    return text + suffix;
}

namespace {
std::vector<std::vector<std::string>> words_of_lines(const std::string& out) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream text(out);
    for (std::string line; std::getline(text, line);) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;) words.push_back(word);
        lines.push_back(std::move(words));
    }
    return lines;
}
}  // namespace

bool has_line(const std::string& out, const std::vector<std::string>& words) {
    for (const auto& line : words_of_lines(out))
        if (line == words) return true;
    return false;
}

std::vector<std::string> line_words(const std::string& out, const std::string& first) {
    for (auto& line : words_of_lines(out))
        if (!line.empty() && line.front() == first) return line;
    return {};
}

std::vector<std::vector<std::string>> csv_rows(const std::string& out) {
    std::vector<std::vector<std::string>> rows;
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "the CSV's last line has no LF: " << out.substr(at);
            break;
        }
        auto fields = viewer::csv::split(std::string_view(out).substr(at, end - at));
        if (!fields) {
            ADD_FAILURE() << "broken CSV line: " << out.substr(at, end - at);
            break;
        }
        rows.push_back(std::move(*fields));
        at = end + 1;
    }
    return rows;
}

}  // namespace viewer_test
