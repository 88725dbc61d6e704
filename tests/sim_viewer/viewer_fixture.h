#pragma once
// What the viewer's tests share: the data locations qvr_logger writes (a folder, a SQLite
// file, a MariaDB database through ODBC and through the MySQL kind), the programs run to
// their end with their output kept, and the records qvr_logger writes, known in advance.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace log_stores_test {
class TestDatabase;
}
namespace qvr_test {
class TempDir;
}

namespace viewer_test {

enum class Kind { kFolder, kSqlite, kMariaDb, kMySql };
const char* kind_name(Kind kind);
// Why the kind cannot be made here, "" when it can (the MariaDB kinds need the test server).
std::string unavailable_reason(Kind kind);
inline const std::vector<Kind> kAllKinds{Kind::kFolder, Kind::kSqlite, Kind::kMariaDb, Kind::kMySql};

// A fresh place for one logger's runs, removed (the database dropped) with the object.
class Place {
  public:
    explicit Place(Kind kind);
    ~Place();
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;

    Kind kind() const { return kind_; }
    // What qvr_logger takes as --folder, and what qvr_viewer takes as LOCATION.
    const std::string& writer() const { return writer_; }
    const std::string& reader() const { return reader_; }
    const std::string& folder() const;  // a scratch folder of the place

  private:
    Kind kind_;
    std::unique_ptr<qvr_test::TempDir> dir_;
    std::unique_ptr<log_stores_test::TestDatabase> database_;
    std::string writer_;
    std::string reader_;
    std::string scratch_;
};

// A program run to its end.
struct Ran {
    std::optional<int> exit_code;  // none: killed or timed out
    std::string out;
    std::string err;
};
Ran run(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env = {},
        std::chrono::seconds timeout = std::chrono::seconds(240));
Ran run_viewer(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

// The runs qvr_logger makes with these flags: block AA of `analog` channels (tags AI1..),
// block DD of `digital` channels (tags DI1..), records `period_ms` apart.
struct Logged {
    int runs = 2;
    long records = 40;
    int analog = 3;
    int digital = 2;
    std::uint32_t period_ms = 250;
    std::int32_t start = 1'700'000'000;

    std::vector<std::string> arguments(const std::string& writer) const;
    std::int32_t run_start(int run) const;  // run 0, 1, ...
    std::uint64_t record_micros(int run, long index) const;
    // The CSV header line's fields.
    std::vector<std::string> header() const;
    // "" when `fields` are record `index` of `run` as the viewer must show it (times with
    // `zone_suffix` after them, `offset_seconds` east of UTC), else what differs.
    std::string mismatch(const std::vector<std::string>& fields, int run, long index, long offset_seconds = 0,
                         const std::string& zone_suffix = "Z") const;
};

// The time the viewer shows for `micros`: "YYYY-MM-DDTHH:MM:SS.mmm" then the suffix.
std::string shown_time(std::uint64_t micros, long offset_seconds = 0, const std::string& suffix = "Z");

// True when `out` has a line whose blank-separated words are `words`.
bool has_line(const std::string& out, const std::vector<std::string>& words);
// The words of the first line of `out` that begins with the word `first`; empty when none does.
std::vector<std::string> line_words(const std::string& out, const std::string& first);

// A CSV output as lines of fields; a line whose quoting is broken fails the calling test.
std::vector<std::vector<std::string>> csv_rows(const std::string& out);

}  // namespace viewer_test
