// The MySQL store on the MariaDB test server: WriteLogs of 10,000 records for 16, 64 and 256
// channels beside a plain client of the MariaDB C library inserting the same rows into a table
// of the same shape with the same batch size (records/s, and the store's share: goal at least
// 0.8), and a run of 100,000 records of 16 channels read through ReadLogs in blocks of 1,000
// (records/s, and the microseconds per record of the first block, of the first and the last
// ten, of the last block and of the slowest).
//
// The plain client keeps its prepared statements for a full batch and for the remainder, binds
// its placeholders once and refills their buffers from values it holds ready: what a client
// written for nothing but these rows would do. Store and client take turns, three rounds each.
//
//   QUORVANE_TEST_MARIADB=<state> bench_mysql_store     (scripts/test-mariadb start <state>)
#include <mysql.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "log_stores/mysql/mysql_collection.h"
#include "log_stores/mysql/mysql_session.h"
#include "log_stores/mysql/mysql_store.h"
#include "log_stores/run_file/run_file_format.h"
#include "support/mariadb_state.h"

namespace {

using namespace log_stores;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

constexpr std::int32_t kStart = 1709632800;  // 2024-03-05 10:00:00 UTC

LogHeader header_with(int channels) {
    LogHeader h{};
    h.formatTag = 0x8001;
    h.start.seconds = kStart;
    h.blockCount = 1;
    h.blocks[0].prefix = {'A', 'I'};
    h.blocks[0].firstChannel = 1;
    h.blocks[0].lastChannel = static_cast<std::uint16_t>(channels);
    h.blocks[0].blockKind = 8;
    h.blocks[0].recordOffset = 18;
    h.recordSize = 18 + 8 * channels + 2;
    return h;
}

std::vector<std::uint8_t> records_of(const LogHeader& h, int count, int first) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(count) * static_cast<std::size_t>(h.recordSize));
    for (int i = 0; i < count; ++i) {
        std::span<std::uint8_t> r(out.data() + static_cast<std::size_t>(i) * h.recordSize, h.recordSize);
        run_file::RecordHead head;
        head.time = {kStart + (first + i) / 10, static_cast<std::int16_t>(((first + i) % 10) * 100), 0};
        run_file::encode_record_head(head, r);
        for (std::uint32_t k = 0; k < h.blocks[0].channel_count(); ++k)
            run_file::write_sample(r, h.blocks[0], k, {run_file::kSampleAnalog, static_cast<float>(i + k)});
    }
    return out;
}

// The plain client: prepared INSERTs of `per_batch` rows (and one for the remainder) into
// `table`, DT, MS, TX, the channels and TP bound once to buffers that each batch refills.
class PlainClient {
  public:
    PlainClient(MYSQL* mysql, std::string table, int channels, std::size_t per_batch)
        : mysql_(mysql), table_(std::move(table)), channels_(channels), perBatch_(per_batch) {}
    ~PlainClient() {
        for (auto& [rows, s] : statements_) mysql_stmt_close(s.handle);
    }

    // Values of `count` rows ready before the clock starts: seconds, milliseconds, floats.
    void hold(const LogHeader& h, const std::vector<std::uint8_t>& records, int count) {
        count_ = count;
        seconds_.clear();
        ms_.clear();
        values_.clear();
        for (int i = 0; i < count; ++i) {
            const std::span<const std::uint8_t> r(records.data() + static_cast<std::size_t>(i) * h.recordSize,
                                                  static_cast<std::size_t>(h.recordSize));
            const auto head = run_file::decode_record_head(r);
            seconds_.push_back(head.time.seconds);
            ms_.push_back(head.time.milliseconds + head.time.microseconds / 1000.0);
            for (int k = 0; k < channels_; ++k) {
                run_file::ChannelSample sample;
                run_file::read_sample(r, h.blocks[0], static_cast<std::uint32_t>(k), sample);
                values_.push_back(sample.value);
            }
        }
    }

    bool insert() {
        for (std::size_t done = 0; done < static_cast<std::size_t>(count_);) {
            const std::size_t rows = std::min(perBatch_, static_cast<std::size_t>(count_) - done);
            Statement* s = statement(rows);
            if (s == nullptr) return false;
            for (std::size_t r = 0; r < rows; ++r) {
                const std::size_t at = done + r;
                mysql::fill_time(ado::DateValue{seconds_[at], 0}, s->times[r]);
                s->ms[r] = ms_[at];
                std::memcpy(&s->values[r * static_cast<std::size_t>(channels_)],
                            &values_[at * static_cast<std::size_t>(channels_)], sizeof(float) * static_cast<std::size_t>(channels_));
            }
            if (mysql_stmt_execute(s->handle) != 0) {
                std::fprintf(stderr, "plain client: %s\n", mysql_stmt_error(s->handle));
                return false;
            }
            done += rows;
        }
        return true;
    }

  private:
    struct Statement {
        MYSQL_STMT* handle = nullptr;
        std::vector<MYSQL_BIND> binds;
        std::vector<MYSQL_TIME> times;
        std::vector<double> ms;
        std::vector<float> values;
    };
    Statement* statement(std::size_t rows) {
        auto it = statements_.find(rows);
        if (it != statements_.end()) return &it->second;
        if (statements_.size() >= 2) {
            // The remainder's statement makes room for the new one.
            auto other = statements_.begin();
            if (other->first == perBatch_) ++other;
            mysql_stmt_close(other->second.handle);
            statements_.erase(other);
        }
        Statement& s = statements_[rows];
        const std::size_t width = static_cast<std::size_t>(channels_) + 4;
        std::string group = "(";
        for (std::size_t c = 0; c < width; ++c) group += c == 0 ? "?" : ",?";
        group += ")";
        std::string sql = "INSERT INTO " + table_ + " VALUES ";
        for (std::size_t r = 0; r < rows; ++r) sql += (r ? "," : "") + group;
        s.handle = mysql_stmt_init(mysql_);
        if (s.handle == nullptr || mysql_stmt_prepare(s.handle, sql.data(), static_cast<unsigned long>(sql.size())) != 0) {
            std::fprintf(stderr, "plain client: %s\n", s.handle ? mysql_stmt_error(s.handle) : "no statement");
            return nullptr;
        }
        s.binds.assign(rows * width, MYSQL_BIND{});
        s.times.assign(rows, MYSQL_TIME{});
        s.ms.assign(rows, 0);
        s.values.assign(rows * static_cast<std::size_t>(channels_), 0);
        for (std::size_t r = 0; r < rows; ++r) {
            MYSQL_BIND* b = &s.binds[r * width];
            b[0].buffer_type = MYSQL_TYPE_DATETIME;
            b[0].buffer = &s.times[r];
            b[1].buffer_type = MYSQL_TYPE_DOUBLE;
            b[1].buffer = &s.ms[r];
            b[2].buffer_type = MYSQL_TYPE_NULL;
            for (int k = 0; k < channels_; ++k) {
                b[3 + k].buffer_type = MYSQL_TYPE_FLOAT;
                b[3 + k].buffer = &s.values[r * static_cast<std::size_t>(channels_) + static_cast<std::size_t>(k)];
            }
            b[width - 1].buffer_type = MYSQL_TYPE_NULL;
        }
        if (mysql_stmt_bind_param(s.handle, s.binds.data()) != 0) {
            std::fprintf(stderr, "plain client: %s\n", mysql_stmt_error(s.handle));
            return nullptr;
        }
        return &s;
    }

    MYSQL* mysql_;
    std::string table_;
    int channels_;
    std::size_t perBatch_;
    int count_ = 0;
    std::vector<std::int32_t> seconds_;
    std::vector<double> ms_;
    std::vector<float> values_;
    std::map<std::size_t, Statement> statements_;
};

double best(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

}  // namespace

int main() {
    auto state = qvr_test::mariadb_state();
    if (!state) {
        std::fprintf(stderr, "QUORVANE_TEST_MARIADB names no server state file\n");
        return 1;
    }
    auto& values = *state;
    ::setenv("MYSQL_UNIX_PORT", values["socket"].c_str(), 1);
    const std::string db = "qvr_bench_" + std::to_string(::getpid());
    mysql::Session root;
    mysql::ConnectionKeys keys;
    keys.user = "root";
    if (root.connect(keys) || std::holds_alternative<mysql::Failure>(root.run("CREATE DATABASE " + db))) {
        std::fprintf(stderr, "cannot reach the server as root through its socket\n");
        return 1;
    }
    const std::string cs = "PROVIDER=MYSQL;USER=root;DB=" + db;
    MYSQL* plain = mysql_init(nullptr);
    if (plain == nullptr ||
        mysql_real_connect(plain, "localhost", "root", "", db.c_str(), 0, nullptr, 0) == nullptr) {
        std::fprintf(stderr, "the plain client cannot connect\n");
        return 1;
    }
    int rc = 0;
    constexpr int kRounds = 3;
    std::printf("%-34s %12s %12s %8s\n", "WriteLogs 10,000 records", "store rec/s", "plain rec/s", "share");
    for (const int channels : {16, 64, 256}) {
        CLogDbMySQLCollection c;
        const std::string logger = "W" + std::to_string(channels);
        if (c.Open(cs.c_str(), "", logger.c_str(), "", kGenericRead | kGenericWrite) != 0) return 1;
        LogHeader h = header_with(channels);
        std::vector<qvr::ChannelRecord> configs(static_cast<std::size_t>(channels));
        for (auto& r : configs) r.head.Type = qvr::ChannelKind::AI;
        const qvr::ChannelRecord* table[] = {configs.data()};
        std::int32_t start = kStart;
        auto store = c.NewRun(&start, true, 0, h, nullptr, false, nullptr, false, table);
        if (!store) {
            std::fprintf(stderr, "no run: %s %s\n", c.GetErrorContext(), c.GetErrorText());
            return 1;
        }
        LogHeader read;
        store->ReadHeader(read);
        const std::string prefix = dynamic_cast<CLogDbMySQLStore&>(*store).table_prefix();
        const std::string copy = mysql::quoted(prefix + "PLAIN");
        if (std::holds_alternative<mysql::Failure>(
                root.run("CREATE TABLE " + db + "." + copy + " LIKE " + db + "." + mysql::quoted(prefix + "DATA")))) {
            std::fprintf(stderr, "no table for the plain client\n");
            return 1;
        }
        PlainClient client(plain, copy, channels, CLogDbMySQLStore::batch_rows(CLogDbMySQLStore::columns_of(read)));
        std::vector<double> store_rates, plain_rates;
        for (int round = 0; round < kRounds; ++round) {
            const auto data = records_of(read, 10000, round * 10000);
            auto t = Clock::now();
            if (store->WriteLogs(read, data.data(), 10000) != 0) rc = 1;
            store_rates.push_back(10000 / seconds_since(t));
            client.hold(read, data, 10000);
            t = Clock::now();
            if (!client.insert()) rc = 1;
            plain_rates.push_back(10000 / seconds_since(t));
        }
        std::printf("%3d channels                       %12.0f %12.0f %8.2f\n", channels, best(store_rates),
                    best(plain_rates), best(store_rates) / best(plain_rates));
        for (int round = 0; round < kRounds; ++round)
            std::printf("  round %d                          %12.0f %12.0f %8.2f\n", round + 1, store_rates[static_cast<std::size_t>(round)],
                        plain_rates[static_cast<std::size_t>(round)], store_rates[static_cast<std::size_t>(round)] / plain_rates[static_cast<std::size_t>(round)]);
        if (channels != 16) continue;
        for (int done = kRounds * 10000; done < 100000; done += 10000) {
            const auto more = records_of(read, 10000, done);
            store->WriteLogs(read, more.data(), 10000);
        }
        store->ReadHeader(read);
        std::vector<std::uint8_t> block(static_cast<std::size_t>(1000) * read.recordSize);
        std::vector<double> blocks;
        const auto all = Clock::now();
        for (int b = 0; b < 100; ++b) {
            const auto tb = Clock::now();
            if (store->ReadLogs(b * 1000, read, block.data(), 1000, 0, nullptr, 0) != 1000) rc = 1;
            blocks.push_back(seconds_since(tb));
        }
        std::printf("ReadLogs 100,000 x 16, blocks of 1,000 %8.0f\n", 100000 / seconds_since(all));
        // A block's milliseconds are its microseconds per record; ten blocks' mean is less
        // at the mercy of a busy machine than one block.
        const auto mean_us = [&](std::size_t from, std::size_t to) {
            double sum = 0;
            for (std::size_t i = from; i < to; ++i) sum += blocks[i];
            return sum / static_cast<double>(to - from) * 1e3;
        };
        std::printf(
            "  us per record: first block %.2f, first ten %.2f, last ten %.2f, last block %.2f, slowest "
            "%.2f\n",
            blocks.front() * 1e3, mean_us(0, 10), mean_us(90, 100), blocks.back() * 1e3,
            *std::max_element(blocks.begin(), blocks.end()) * 1e3);
    }
    mysql_close(plain);
    root.run("DROP DATABASE " + db);
    return rc;
}
