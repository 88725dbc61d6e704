#pragma once
// The script the recording driver answers from, one directive a line:
//   dbms <name>                      the DBMS name the driver reports
//   connect-error <state> <native> <text>   the connection fails
//   expect <statement>               the next statement, exactly
//   expect~ <pattern>                the next statement, matching the shell pattern
//                                    (fnmatch: '*', '?', '[...]', '\' quotes)
//   columns <name>:<TYPE> ...        its result set (INTEGER, SMALLINT, BIGINT, REAL, FLOAT,
//                                    DOUBLE, CHAR, VARCHAR, WVARCHAR, DATETIME, BIT, VARBINARY)
//   row <v>|<v>|...                  one row ("NULL" for a null value)
//   affected <n>                     its affected-row count (default 0)
//   error <state> <native> <text>    it fails
// Catalog calls are statements named "SQLTables" and "SQLColumns <table>".
#include <optional>
#include <string>
#include <vector>

namespace recorder {

struct ColumnSpec {
    std::string name;
    std::string type;
};

struct Step {
    std::string expected;
    bool pattern = false;
    std::vector<ColumnSpec> columns;
    std::vector<std::vector<std::optional<std::string>>> rows;
    long affected = 0;
    std::optional<std::string> error_state;
    long error_native = 0;
    std::string error_text;
};

struct Script {
    std::string dbms = "Recorder";
    std::optional<std::string> connect_state;
    long connect_native = 0;
    std::string connect_text;
    std::vector<Step> steps;
};

// Nothing when the file cannot be read; `problem` says which line is wrong.
std::optional<Script> load_script(const std::string& path, std::string& problem);

}  // namespace recorder
