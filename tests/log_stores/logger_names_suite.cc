// Logger names and channel texts through every kind of store: run files, SQLite, MariaDB
// through ODBC and the MySQL kind (the last two on the MariaDB test server). A name a
// collection takes is written, listed, opened by its listed location and read back as itself
// by every reader of locations: the factories, the latest-run lookup, the local data server and
// the logged-data client over its link. A name a location or a folder cannot carry is refused
// before anything is made, and no name opens another database.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/runtime_host.h"
#include "log_stores/db_collection/db_collection.h"
#include "log_stores/local_server/local_backend.h"
#include "log_stores/local_server/local_backend_testing.h"
#include "log_stores/local_server/local_data_server.h"
#include "log_stores/log_factory.h"
#include "log_stores/log_location.h"
#include "logger/stand_in_logger.h"
#include "platform/ado/catalog.h"
#include "platform/ado/connection.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/requests/logged_data_requests.h"
#include "support/temp_dir.h"
#include "test_database.h"
#ifdef NAMES_WITH_MYSQL
#include "log_stores/mysql/base64_text.h"
#include "log_stores/mysql/mysql_session.h"
#include "log_stores/mysql/register.h"
#endif

namespace {

namespace fs = std::filesystem;
using log_stores::kGenericRead;

enum class Kind { kFolder, kSqlite, kMariaOdbc, kMySql };

const char* kind_name(Kind kind) {
    switch (kind) {
        case Kind::kFolder: return "folder";
        case Kind::kSqlite: return "sqlite";
        case Kind::kMariaOdbc: return "mariadb_odbc";
        case Kind::kMySql: return "mysql";
    }
    return "?";
}

// 2024-03-05 10:00:00 UTC.
constexpr std::int32_t kBase = 1'709'632'800;

#ifdef NAMES_WITH_MYSQL
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

// Where one test's loggers go: for the database kinds a database and a second one of the
// same kind that no reader of the first may ever reach.
class Place {
  public:
    static std::unique_ptr<Place> make(Kind kind) {
        std::unique_ptr<Place> p(new Place());
        p->kind_ = kind;
        p->logged_ = p->dir_.path() / "LOGGED_DATA";
        ::setenv("QVR_LOGGED_DATA", p->logged_.c_str(), 1);
        switch (kind) {
            case Kind::kFolder:
                break;
            case Kind::kSqlite:
                for (const char* file : {"a.db", "b.db"}) {
                    const std::string cs = "Provider=SQLite.File;Data Source=" + (p->dir_.path() / file).string();
                    ado::Catalog catalog;
                    catalog.create(ado::utf16_from_utf8(cs));
                    (p->connection_.empty() ? p->connection_ : p->other_) = cs;
                }
                p->switch_name_ = "Data Source=" + (p->dir_.path() / "b.db").string();
                break;
            case Kind::kMariaOdbc: {
                const auto server = log_stores_test::mariadb_server();
                if (!server) return nullptr;
                for (int i = 0; i < 2; ++i) p->maria_.push_back(std::make_unique<log_stores_test::MariaDatabase>(*server));
                p->connection_ = ado::utf8_from_utf16(p->maria_[0]->connection_string());
                p->other_ = ado::utf8_from_utf16(p->maria_[1]->connection_string());
                p->switch_name_ = p->other_.substr(p->other_.rfind(";Database=") + 1);
                break;
            }
            case Kind::kMySql: {
#ifdef NAMES_WITH_MYSQL
                const auto keys = mysql_keys();
                if (!keys) return nullptr;
                log_stores::RegisterMySqlLogStores();
                if (p->admin_.connect(*keys)) return nullptr;
                static std::atomic<int> serial{0};
                for (int i = 0; i < 2; ++i) {
                    const std::string db = "qvr_nm_" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
                    p->admin_.run("CREATE DATABASE " + db + " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
                    p->databases_.push_back(db);
                    const std::string cs = "PROVIDER=MYSQL;HOST=" + keys->host + ";PORT=" + std::to_string(keys->port) +
                                           ";USER=" + keys->user +
                                           ";PASSWORD=" + log_stores::Base64EncodeText(keys->password) + ";DB=" + db;
                    (i == 0 ? p->connection_ : p->other_) = cs;
                }
                p->switch_name_ = "DB=" + p->databases_[1];
                break;
#else
                return nullptr;
#endif
            }
        }
        return p;
    }
    ~Place() {
#ifdef NAMES_WITH_MYSQL
        for (const std::string& db : databases_) admin_.run("DROP DATABASE IF EXISTS " + db);
#endif
    }

    Kind kind() const { return kind_; }
    bool database() const { return kind_ != Kind::kFolder; }
    // The collections' connection ("" for the folder kind: the logger's folder below the
    // logged data).
    const std::string& connection() const { return connection_; }
    const std::string& other_connection() const { return other_; }
    // A name that, were it taken into the connection, would open the other database.
    const std::string& switch_name() const { return switch_name_; }
    const fs::path& logged() const { return logged_; }

    // Whether anything was made: a LOGGERS table in either database, a folder below the
    // logged data.
    bool anything_made() {
        if (kind_ == Kind::kFolder) return fs::exists(logged_) && !fs::is_empty(logged_);
        for (const std::string& cs : {connection_, other_}) {
#ifdef NAMES_WITH_MYSQL
            if (kind_ == Kind::kMySql) {
                const std::string db = cs.substr(cs.rfind("DB=") + 3);
                const log_stores::mysql::Value schema[] = {db};
                auto r = admin_.run("SELECT 1 FROM information_schema.tables WHERE table_schema = ?", schema);
                if (const auto* rows = std::get_if<log_stores::mysql::Result>(&r); rows && !rows->rows.empty())
                    return true;
                continue;
            }
#endif
            ado::Connection c;
            c.open(ado::utf16_from_utf8(cs));
            try {
                c.execute_utf8("SELECT COUNT(*) FROM LOGGERS");
                return true;
            } catch (const ado::ComError&) {
            }
        }
        return false;
    }

  private:
    Place() = default;
    Kind kind_ = Kind::kFolder;
    qvr_test::TempDir dir_;
    fs::path logged_;
    std::string connection_, other_, switch_name_;
    std::vector<std::unique_ptr<log_stores_test::MariaDatabase>> maria_;
#ifdef NAMES_WITH_MYSQL
    log_stores::mysql::Session admin_;
    std::vector<std::string> databases_;
#endif
};

struct RunMade {
    std::int32_t start;
    std::int64_t records;
};

std::vector<sim_logger::LoggerBlock> name_blocks() {
    sim_logger::LoggerBlock analog{"AI", 1, 2, false, {}};
    for (int c = 1; c <= 2; ++c) analog.channels.push_back(sim_host::analog_input("AI" + std::to_string(c)));
    return {analog};
}

// Finished runs of `logger` at `connection` (`count`, 1 or 2); their starts and record counts.
std::vector<RunMade> write_runs(const Place& place, const std::string& connection, const std::string& logger,
                                const std::string& prefix, std::int32_t start, std::size_t count = 2) {
    sim_logger::LoggerOptions o;
    o.location = connection;
    o.logger = logger;
    o.prefix = prefix;
    o.blocks = name_blocks();
    sim_logger::StandInLogger writer;
    if (writer.open(o) != 0) {
        ADD_FAILURE() << kind_name(place.kind()) << " open: " << writer.collection()->GetErrorContext() << " "
                      << writer.collection()->GetErrorText() << " (error " << platform::last_error() << ")";
        return {};
    }
    std::vector<RunMade> made;
    const RunMade runs[] = {RunMade{start, 3}, RunMade{start + 600, 5}};
    for (const RunMade run : std::span(runs).first(std::min<std::size_t>(count, 2))) {
        if (writer.start_run(run.start) != 0 || writer.append(run.records) != 0 ||
            writer.finish_run(run.start + static_cast<std::int32_t>(run.records) + 1) != 0) {
            ADD_FAILURE() << kind_name(place.kind()) << " run of " << logger << ": "
                          << writer.collection()->GetErrorContext() << " " << writer.collection()->GetErrorText();
            return {};
        }
        made.push_back(run);
    }
    return made;
}

std::string store_location(log_stores::CLogCollection& collection, const char* run) {
    std::size_t size = 0;
    collection.GetStoreLocation(run, nullptr, &size);
    std::string location(size, '\0');
    collection.GetStoreLocation(run, location.data(), &size);
    location.resize(std::strlen(location.c_str()));
    return location;
}

std::string location_of(log_stores::CLogStore& store) {
    std::size_t size = 0;
    store.GetLocation(nullptr, &size);
    std::string location(size, '\0');
    store.GetLocation(location.data(), &size);
    location.resize(std::strlen(location.c_str()));
    return location;
}

// What a store opened by `location` reads: its start and record count, its first channel's tag.
struct Read {
    std::int32_t start = 0;
    std::int32_t records = -1;
    std::string tag;
    std::string location;  // as the store gives it
};

std::optional<Read> read_by_location(const std::string& location) {
    auto store = log_stores::CreateLogStore(location.c_str());
    if (!store || store->Open(nullptr, location.c_str(), kGenericRead) != 0) return std::nullopt;
    log_stores::LogHeader header{};
    if (store->ReadHeader(header) != 0) return std::nullopt;
    Read read;
    read.location = location_of(*store);
    read.start = header.start.seconds;
    read.records = store->GetNoLogs(header);
    qvr::ChannelRecord channel{};
    if (store->ReadChannelConfig(header, &channel, 0, 0, 1) == 0) read.tag = qvr::join_text(channel, qvr::ChannelText::Tag);
    store->Close();
    return read;
}

// Every reader of locations sees exactly the runs written for `logger`.
void expect_read_back(const Place& place, const std::string& logger, const std::vector<RunMade>& made) {
    ASSERT_FALSE(made.empty());
    auto collection = log_stores::CreateLogCollection(place.connection().c_str());
    ASSERT_NE(collection, nullptr);
    ASSERT_EQ(collection->Open(place.database() ? place.connection().c_str() : nullptr, "", logger.c_str(), "",
                               kGenericRead),
              0)
        << collection->GetErrorContext() << " " << collection->GetErrorText();

    std::size_t name_size = 0;
    ASSERT_EQ(collection->BeginRunList(&name_size), 1);
    std::vector<std::pair<std::int32_t, std::string>> listed;
    std::vector<char> name(name_size + 1);
    TimeStamp start{}, stop{};
    while (collection->GetNextRun(name.data(), &start, &stop) == 1) listed.emplace_back(start.seconds, name.data());
    std::sort(listed.begin(), listed.end());
    ASSERT_EQ(listed.size(), made.size());

    std::string latest;
    for (std::size_t i = 0; i < made.size(); ++i) {
        EXPECT_EQ(listed[i].first, made[i].start);
        const std::string location = store_location(*collection, listed[i].second.c_str());
        const auto read = read_by_location(location);
        ASSERT_TRUE(read) << location << " (error " << platform::last_error() << ")";
        EXPECT_EQ(read->start, made[i].start);
        EXPECT_EQ(read->records, made[i].records);
        EXPECT_EQ(read->tag, "AI1");
        EXPECT_EQ(read->location, location);
        if (place.database()) {
            std::string rest = location;
            char back[260] = {};
            std::size_t size = sizeof back;
            ASSERT_EQ(log_stores::GetLoggerNameFromLocation(rest, &size, back), 1);
            EXPECT_EQ(std::string(back), logger);
        }
        latest = location;
    }

    const std::string server = place.database() ? place.connection() + ";LoggerName=" + logger
                                                : latest.substr(0, latest.find_last_of("/\\"));
    if (place.database()) {
        EXPECT_STREQ(log_stores::GetLatestRunLocation(server.c_str()), latest.c_str());
    }
    if (place.kind() == Kind::kSqlite || place.kind() == Kind::kMariaOdbc) {
        EXPECT_STREQ(log_stores::GetLatestDbRunLocation(server.c_str()), latest.c_str());
    }

    // The local data server takes logger names of at most 100 characters and folders of at
    // most 260, and refuses longer ones.
    log_stores::local::LocalDataServer local;
    if (place.database() ? logger.size() > 100 : server.size() > 260) {
        EXPECT_EQ(local.Open(server.c_str()), -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
        return;
    }
    ASSERT_EQ(local.Open(server.c_str()), 0) << server << " (error " << platform::last_error() << ")";
    local.Close();
    ASSERT_EQ(ldc_IsLocalData(nullptr, server.c_str()), 0) << server;
    std::int64_t records = 0;
    for (const RunMade& run : made) records += run.records;
    EXPECT_EQ(ldc_CountRecords(nullptr, server.c_str(), nullptr), records) << server;
    EXPECT_EQ(ldc_GetStartTime(nullptr, server.c_str()), made[0].start) << server;
    link_CloseAll();
}

class LoggerNamesTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        // Links are closed by the dozen here: no pause before each handler goes.
        log_stores::local_testing::set_close_wait(std::chrono::milliseconds(0));
        log_stores::RegisterLocalDataServer();
        place_ = Place::make(GetParam());
        if (!place_) GTEST_SKIP() << log_stores_test::kNoMariaDbServer;
    }
    void TearDown() override { link_CloseAll(); }

    std::unique_ptr<Place> place_;
};

struct NameCase {
    std::string name;
    // Taken by the file kind, where the name makes the logger's folder (nullopt: the length
    // of the run files' paths decides, not the name).
    std::optional<bool> folder;
    bool database;  // taken by the database kinds
};

bool taken(const Place& place, const NameCase& c) { return place.database() ? c.database : c.folder.value_or(false); }
bool refused(const Place& place, const NameCase& c) { return place.database() ? !c.database : c.folder == false; }

std::vector<NameCase> name_cases() {
    return {
        {"Mill", true, true},
        {"a=b", true, true},
        {"Data Source=other.sqlite", true, true},
        {"LoggerSeq=00000001", true, true},
        {"x LoggerName=y", true, true},
        {"O'Neil \"the\" `x`", true, true},
        {"{braced}", true, true},
        {"{open", true, true},
        {"close}", true, true},
        {"back\\slash", false, true},
        {"up/down", false, true},
        {"..", false, true},
        {" leading", true, true},
        {"K\xE4lte \x80\x81\x9D", true, true},  // Windows-1252, with two of its unassigned bytes
        {std::string(100, 'n'), true, true},
        {std::string(255, 'm'), std::nullopt, true},
        {"a;b", true, false},
        {"q;Data Source=other.sqlite", true, false},
        {";LoggerSeq=7", true, false},
        {"trailing ", true, false},
        {"", false, false},
        {std::string(256, 'l'), false, false},
    };
}

TEST_P(LoggerNamesTest, ANameTakenIsReadBackAsItselfByEveryReader) {
    // One database (or logged-data folder) holds every logger: each reads only its own runs.
    std::int32_t start = kBase;
    int index = 0;
    for (const NameCase& c : name_cases()) {
        if (!taken(*place_, c)) continue;
        SCOPED_TRACE(c.name.substr(0, 40));
        // A prefix of the run's own: long names do not make table names past the engines' limits.
        const std::string prefix = place_->database() ? "N" + std::to_string(index) + "_" : "";
        // Two runs for the first name (the latest is the later one), one for the others.
        const auto made = write_runs(*place_, place_->connection(), c.name, prefix, start, index++ == 0 ? 2 : 1);
        expect_read_back(*place_, c.name, made);
        start += 3600;
    }
}

TEST_P(LoggerNamesTest, ANameCarryingAnotherDatabaseNeverOpensIt) {
    if (!place_->database()) GTEST_SKIP() << "names of the file kind name folders";
    // The other database holds a logger of the very name, with runs of other times.
    const std::string name = place_->switch_name();
    ASSERT_EQ(write_runs(*place_, place_->other_connection(), name, "B_", kBase - 86400).size(), 2u);
    const auto made = write_runs(*place_, place_->connection(), name, "A_", kBase);
    expect_read_back(*place_, name, made);

    // The name as an earlier writer would have put it, the key cut off by ';': refused.
    sim_logger::LoggerOptions o;
    o.location = place_->connection();
    o.logger = "q;" + name;
    o.blocks = name_blocks();
    sim_logger::StandInLogger writer;
    EXPECT_EQ(writer.open(o), -1);
    EXPECT_STREQ(writer.collection()->GetErrorContext(), "BAD LOGGER NAME");
}

TEST_P(LoggerNamesTest, ANameThatCannotBeCarriedIsRefusedBeforeAnythingIsMade) {
    for (const NameCase& c : name_cases()) {
        if (!refused(*place_, c)) continue;
        SCOPED_TRACE(c.name.substr(0, 40));
        sim_logger::LoggerOptions o;
        o.location = place_->connection();
        o.logger = c.name;
        o.blocks = name_blocks();
        sim_logger::StandInLogger writer;
        platform::set_last_error(5);
        ASSERT_EQ(writer.open(o), -1);
        if (place_->database()) {
            EXPECT_STREQ(writer.collection()->GetErrorContext(), "BAD LOGGER NAME");
            EXPECT_STRNE(writer.collection()->GetErrorText(), "");
            EXPECT_EQ(platform::last_error(), 0);
        } else if (c.name.size() <= 255) {
            EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
        }
        // A reader is refused the same way.
        auto reader = log_stores::CreateLogCollection(place_->connection().c_str());
        EXPECT_EQ(reader->Open(place_->database() ? place_->connection().c_str() : nullptr, "", c.name.c_str(), "",
                               kGenericRead),
                  -1);
    }
    EXPECT_FALSE(place_->anything_made());
}

// Locations made by hand, given to every reader: only what the location's own connection
// names is opened, and a malformed one is refused.
TEST_P(LoggerNamesTest, HandMadeLocationsOpenOnlyTheirOwnConnection) {
    if (!place_->database()) GTEST_SKIP() << "a run file's location is its path";
    const auto mill = write_runs(*place_, place_->connection(), "Mill", "M_", kBase);
    ASSERT_EQ(mill.size(), 2u);
    // The other database has a Mill too, and a logger named after this database's key.
    ASSERT_EQ(write_runs(*place_, place_->other_connection(), "Mill", "M_", kBase - 86400).size(), 2u);
    ASSERT_EQ(write_runs(*place_, place_->other_connection(), place_->switch_name(), "S_", kBase - 86400).size(), 2u);

    const std::string& cs = place_->connection();
    const struct {
        std::string suffix;
        std::optional<std::int32_t> start;  // the run read; nullopt: refused
    } runs[] = {
        {";LoggerName=Mill;LoggerSeq=00000001", mill[0].start},
        {";loggername=Mill;LOGGERSEQ=2", mill[1].start},
        {";LoggerSeq=00000001;LoggerName=Mill", mill[0].start},
        {";LoggerName=" + place_->switch_name() + ";LoggerSeq=00000001", std::nullopt},
        {";LoggerName=Mill", std::nullopt},
        {";LoggerSeq=00000001", std::nullopt},
        {";LoggerName=Mill;LoggerSeq=x1", std::nullopt},
        {";LoggerName=Mill;LoggerSeq=99999999999", std::nullopt},
        {";LoggerName=Mill;LoggerSeq=00000003", std::nullopt},
        {";LoggerName=;LoggerSeq=00000001", std::nullopt},
        {";LoggerName={Mill;LoggerSeq=1}", std::nullopt},
        {";LoggerName=" + std::string(300, 'n') + ";LoggerSeq=00000001", std::nullopt},
        {";LoggerName=Mill;LoggerSeq=00000001" + std::string(1500, ' '), std::nullopt},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.suffix.substr(0, 60));
        const auto read = read_by_location(cs + r.suffix);
        ASSERT_EQ(read.has_value(), r.start.has_value());
        if (read) {
            EXPECT_EQ(read->start, *r.start);
        }
    }

    // Collection locations: the latest run, and the local data server with the client.
    const struct {
        std::string suffix;
        bool opens;
    } loggers[] = {
        {";LoggerName=Mill", true},
        {";LOGGERNAME=Mill", true},
        {";LoggerName=" + place_->switch_name(), false},
        {";LoggerName=", false},
        {"", false},
        {";LoggerName=" + std::string(101, 'n'), false},
    };
    const std::string latest = cs + ";LoggerName=Mill;LoggerSeq=00000002";
    for (const auto& l : loggers) {
        SCOPED_TRACE(l.suffix.substr(0, 60));
        const std::string location = cs + l.suffix;
        EXPECT_STREQ(log_stores::GetLatestRunLocation(location.c_str()), l.opens ? latest.c_str() : "");
        log_stores::local::LocalDataServer local;
        const bool opened = local.Open(location.c_str()) == 0;
        local.Close();
        // A logger without runs opens with nothing to show; the client then counts none.
        if (opened && l.opens) {
            EXPECT_EQ(ldc_CountRecords(nullptr, location.c_str(), nullptr), mill[0].records + mill[1].records);
            EXPECT_EQ(ldc_GetStartTime(nullptr, location.c_str()), mill[0].start);
        } else if (opened) {
            EXPECT_EQ(ldc_CountRecords(nullptr, location.c_str(), nullptr), 0);
        } else {
            EXPECT_FALSE(l.opens);
        }
        link_CloseAll();
    }
}

// The database kinds keep a channel's texts in char columns that cannot hold trailing
// blanks; every kind reads them back without, so a channel shows the same texts everywhere.
TEST_P(LoggerNamesTest, AChannelsTextsReadTheSameFromEveryKind) {
    qvr::ChannelRecord analog = sim_host::analog_input("PUMP 1  ", "Feed line  ");
    qvr::split_text(analog, qvr::ChannelText::Units, "m3/h  ");
    qvr::ChannelRecord digital = sim_host::digital_input("VALVE ", " Inlet");
    std::memcpy(digital.digital.LowStateText, "SHUT   ", 7);
    std::memcpy(digital.digital.HighStateText, "OPEN ", 5);

    sim_logger::LoggerOptions o;
    o.location = place_->connection();
    o.logger = "T";
    o.prefix = "T_";
    o.blocks = {{"AI", 1, 1, false, {analog}}, {"DI", 1, 1, true, {digital}}};
    sim_logger::StandInLogger writer;
    ASSERT_EQ(writer.open(o), 0) << writer.collection()->GetErrorContext();
    ASSERT_EQ(writer.start_run(kBase), 0) << writer.collection()->GetErrorContext() << " "
                                          << writer.collection()->GetErrorText();
    ASSERT_EQ(writer.append(2), 0);
    ASSERT_EQ(writer.finish_run(kBase + 3), 0);

    auto store = log_stores::CreateLogStore(writer.run_location().c_str());
    ASSERT_EQ(store->Open(nullptr, writer.run_location().c_str(), kGenericRead), 0);
    log_stores::LogHeader header{};
    ASSERT_EQ(store->ReadHeader(header), 0);
    qvr::ChannelRecord a{}, d{};
    ASSERT_EQ(store->ReadChannelConfig(header, &a, 0, 0, 1), 0);
    ASSERT_EQ(store->ReadChannelConfig(header, &d, 1, 0, 1), 0);
    EXPECT_EQ(qvr::join_text(a, qvr::ChannelText::Tag), "PUMP 1");
    EXPECT_EQ(qvr::join_text(a, qvr::ChannelText::Description), "Feed line");
    EXPECT_EQ(qvr::join_text(a, qvr::ChannelText::Units), "m3/h");
    EXPECT_EQ(qvr::join_text(d, qvr::ChannelText::Tag), "VALVE");
    EXPECT_EQ(qvr::join_text(d, qvr::ChannelText::Description), " Inlet");  // leading blanks stay
    EXPECT_EQ(std::string(d.digital.LowStateText, strnlen(d.digital.LowStateText, 32)), "SHUT");
    EXPECT_EQ(std::string(d.digital.HighStateText, strnlen(d.digital.HighStateText, 32)), "OPEN");
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoggerNamesTest,
                         ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMariaOdbc, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& kind) { return std::string(kind_name(kind.param)); });

}  // namespace
