#include "local_server/local_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "host/runtime_host.h"
#include "log_stores/local_server/local_backend_testing.h"
#include "log_stores/log_store.h"
#include "platform/ado/catalog.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"
#include "test_database.h"
#ifdef LOCAL_SERVER_WITH_MYSQL
#include "log_stores/mysql/base64_text.h"
#include "log_stores/mysql/mysql_session.h"
#include "log_stores/mysql/register.h"
#endif

namespace local_server_test {
namespace {

// Closing a kind-3 link pauses 1,000 ms before the handler goes; the tests of these binaries
// close links by the hundred, so only the test of that pause keeps it.
const bool kNoCloseWait = [] {
    log_stores::local_testing::set_close_wait(std::chrono::milliseconds(0));
    return true;
}();

// "hh:mm:ss mm/dd/yy text": the events file's own line form.
std::string events_file_line(const FixtureEvent& e) {
    const std::time_t t = e.time.seconds;
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char line[160];
    std::snprintf(line, sizeof line, "%02d:%02d:%02d %02d/%02d/%02d %s\r\n", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_year % 100, e.text.c_str());
    return line;
}

#ifdef LOCAL_SERVER_WITH_MYSQL
std::optional<log_stores::mysql::ConnectionKeys> mysql_keys() {
    const auto server = log_stores_test::mariadb_server();
    if (!server) return std::nullopt;
    log_stores::mysql::ConnectionKeys keys;
    keys.host = server->at("host");
    keys.port = static_cast<unsigned>(std::stoul(server->at("port")));
    keys.user = server->at("user");
    keys.password = server->at("password");
    return keys;
}
#endif

}  // namespace

const char* kind_name(Kind kind) {
    switch (kind) {
        case Kind::kFolder:
            return "folder";
        case Kind::kSqlite:
            return "sqlite";
        case Kind::kMySql:
            return "mysql";
    }
    return "?";
}

std::string unavailable_reason(Kind kind) {
    if (kind != Kind::kMySql) return "";
#ifdef LOCAL_SERVER_WITH_MYSQL
    if (!log_stores_test::mariadb_server())
        return "no MariaDB test server (scripts/test-mariadb start, QUORVANE_TEST_MARIADB)";
    return "";
#else
    return "built without the MySQL back end";
#endif
}

bool close_wait_removed() {
    return kNoCloseWait;
}

std::vector<Kind> available_kinds() {
    std::vector<Kind> kinds{Kind::kFolder, Kind::kSqlite};
    if (unavailable_reason(Kind::kMySql).empty()) kinds.push_back(Kind::kMySql);
    return kinds;
}

std::unique_ptr<DataLocation> DataLocation::make(Kind kind, const LocationOptions& options) {
    std::unique_ptr<DataLocation> where(new DataLocation());
    where->kind_ = kind;
    where->dir_ = std::make_unique<qvr_test::TempDir>();
    where->logger_name_ = options.logger;
    switch (kind) {
        case Kind::kFolder:
            where->parent_ = where->dir_->path() / "LOGGED_DATA";
            where->folder_ = (where->parent_ / options.logger).string();
            where->location_ = where->folder_;
            break;
        case Kind::kSqlite: {
            const std::string file = (where->dir_->path() / "logs.db").string();
            where->connection_ = "Provider=SQLite.File;Data Source=" + file;
            ado::Catalog catalog;
            catalog.create(ado::utf16_from_utf8(where->connection_));
            where->location_ = where->location_of(options.logger);
            break;
        }
        case Kind::kMySql: {
#ifdef LOCAL_SERVER_WITH_MYSQL
            const auto keys = mysql_keys();
            if (!keys) {
                ADD_FAILURE() << unavailable_reason(kind);
                return nullptr;
            }
            log_stores::RegisterMySqlLogStores();
            static int serial = 0;
            where->mysql_database_ = "qvr_ls_" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
            log_stores::mysql::Session admin;
            if (const auto failure = admin.connect(*keys)) {
                ADD_FAILURE() << "MariaDB test server: " << failure->text;
                return nullptr;
            }
            const auto made = admin.run("CREATE DATABASE " + where->mysql_database_ +
                                        " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
            if (const auto* f = std::get_if<log_stores::mysql::Failure>(&made)) {
                ADD_FAILURE() << "CREATE DATABASE: " << f->text;
                return nullptr;
            }
            where->connection_ = "PROVIDER=MYSQL;HOST=" + keys->host + ";PORT=" + std::to_string(keys->port) +
                                 ";USER=" + keys->user +
                                 ";PASSWORD=" + log_stores::Base64EncodeText(keys->password) +
                                 ";DB=" + where->mysql_database_;
            where->location_ = where->location_of(options.logger);
            break;
#else
            ADD_FAILURE() << unavailable_reason(kind);
            return nullptr;
#endif
        }
    }
    const std::string logger_location = kind == Kind::kFolder ? where->folder_ : where->connection_;
    if (where->write_logger(logger_location, options.logger, options, true) != 0) {
        ADD_FAILURE() << "the stand-in logger could not write " << kind_name(kind) << " location "
                      << where->location_ << " (error " << platform::last_error() << ")";
        return nullptr;
    }
    return where;
}

DataLocation::~DataLocation() {
    live_.reset();
    siblings_.clear();
#ifdef LOCAL_SERVER_WITH_MYSQL
    if (!mysql_database_.empty()) {
        if (const auto keys = mysql_keys()) {
            log_stores::mysql::Session admin;
            if (!admin.connect(*keys)) admin.run("DROP DATABASE IF EXISTS " + mysql_database_);
        }
    }
#endif
}

std::string DataLocation::location_of(const std::string& logger) const {
    if (kind_ == Kind::kFolder) return (parent_ / logger).string();
    return connection_ + ";LoggerName=" + logger;
}

int DataLocation::add_logger(const std::string& logger, const LocationOptions& options) {
    const std::string where = kind_ == Kind::kFolder ? location_of(logger) : connection_;
    return write_logger(where, logger, options, false);
}

int DataLocation::write_logger(const std::string& location, const std::string& logger,
                               const LocationOptions& options, bool keep_live) {
    auto writer = std::make_unique<sim_logger::StandInLogger>();
    // Each failing step says what it was, with the collection's own words.
    const auto failed = [&](const char* step) {
        const int code = platform::last_error();
        const char* text = writer->collection() ? writer->collection()->GetErrorText() : nullptr;
        const char* context = writer->collection() ? writer->collection()->GetErrorContext() : nullptr;
        ADD_FAILURE() << step << " of logger " << logger << ": error " << code << " "
                      << (context ? context : "") << " " << (text ? text : "");
        return -1;
    };
    if (writer->open(fixture_options(location, logger)) != 0) return failed("open");
    std::string events_file;
    const auto write_run = [&](int run, std::int32_t start, std::int64_t records) {
        if (writer->start_run(start) != 0) return failed("start_run");
        if (writer->append(records, 10) != 0) return failed("append");
        // After the records: a database run keeps a text in the row of its second.
        for (const FixtureEvent& e : fixture_events(run)) {
            if (writer->add_event(e.time, e.text) != 0) return failed("add_event");
            events_file += events_file_line(e);
        }
        runs_.push_back(writer->run_location());
        return 0;
    };
    if (options.finished_run) {
        if (write_run(0, kFinishedStart, kFinishedRecords) != 0) return -1;
        if (writer->finish_run(kFinishedStop) != 0) return failed("finish_run");
        runs_.back() = writer->run_location();
    }
    if (options.logging_run && write_run(1, kLoggingStart, kLoggingRecords) != 0) return -1;
    if (kind_ == Kind::kFolder && !events_file.empty())
        qvr_test::write_file(std::filesystem::path(location) / "events.txt", events_file);
    if (keep_live)
        live_ = std::move(writer);
    else
        siblings_.push_back(std::move(writer));
    return 0;
}

}  // namespace local_server_test
