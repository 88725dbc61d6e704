#pragma once
// The statements that make, find and remove the logger tables: LOGGERS (one row per run) and
// per run <prefix>CHANNELS, <prefix>DATA and <prefix>TEXT. Run tables, index names and channel
// columns are quoted in the engine's form; logger names and prefixes are literals escaped by
// its rule. Texts are UTF-8.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/dialect.h"

namespace log_stores::db_schema {

// Which back end sends the statements: the MySQL one has its own DATA table form.
enum class Backend { ado, mysql };

// The LOGGERS table; `date_types` gives the form with "date" in place of "datetime" that is
// sent when the first is refused.
std::string loggers_create(bool date_types);
// Its key: a constraint where the engine can add one to a table, a unique index on SQLite.
std::string loggers_key(const ado::Dialect& dialect);

std::string channels_create(const ado::Dialect& dialect, std::string_view prefix);
std::string channels_index(const ado::Dialect& dialect, std::string_view prefix);

// The DATA table forms, tried in order until one is accepted (ADO: varchar TX, char TX, date
// DT; MySQL: one form). `columns` is the channel part of a column list (data_columns.h).
std::vector<std::string> data_create_forms(const ado::Dialect& dialect, Backend backend,
                                           std::string_view prefix, bool sig_change,
                                           std::string_view columns);
// Its indexes, all sent even when one fails: TM, DT, MS and TX (ADO), TM alone (MySQL).
std::vector<std::string> data_indexes(const ado::Dialect& dialect, Backend backend, std::string_view prefix);

std::string text_create(const ado::Dialect& dialect, std::string_view prefix);

// TEXT, DATA, CHANNELS, in that order.
std::array<std::string, 3> drop_tables(const ado::Dialect& dialect, std::string_view prefix);

// The logger's counter sequences, highest first (date sequences left out).
std::string highest_counter_query(const ado::Dialect& dialect, std::string_view logger_name);
// "select <columns> from LOGGERS where sLoggerName = '<name>' AND nLoggerSequence = <seq>".
std::string run_row_query(const ado::Dialect& dialect, std::string_view columns, std::string_view logger_name,
                          std::int32_t sequence);
// The run's row by its table prefix: to delete through a recordset (ADO), or at once (MySQL).
std::string run_row_by_prefix(const ado::Dialect& dialect, std::string_view prefix);
std::string delete_run_row(const ado::Dialect& dialect, std::string_view prefix);
// The logger's runs, newest start first.
std::string run_list_query(const ado::Dialect& dialect, std::string_view logger_name);

}  // namespace log_stores::db_schema
