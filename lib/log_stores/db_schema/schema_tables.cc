#include "log_stores/db_schema/schema_tables.h"

#include "log_stores/db_schema/sql_text.h"

namespace log_stores::db_schema {
namespace {

std::string index_on(const ado::Dialect& dialect, std::string_view prefix, std::string_view index,
                     std::string_view suffix, std::string_view columns) {
    return "CREATE INDEX " + quoted_name(dialect, dialect.index_name(prefix, index)) + " ON " +
           run_table(dialect, prefix, suffix) + " (" + std::string(columns) + ")";
}

}  // namespace

std::string loggers_create(bool date_types) {
    const std::string t = date_types ? "date" : "datetime";
    return "CREATE TABLE LOGGERS (sLoggerName char(255), nLoggerSequence integer, dStartTime " + t +
           ",dStopTime " + t +
           ", bCompleted integer, sTablePrefix char(255), sHeader char(255), bTagColumns integer, "
           "bRowsPerChannel "
           "integer, bDST integer, nTimeZone integer,bSigChange integer, sTriggerPrefix char(2), "
           "nTriggerNumber "
           "integer,sLagPrefix char(2), nLagNumber integer, dTextTime " +
           t + ")";
}

std::string loggers_key(const ado::Dialect& dialect) {
    if (dialect.engine() == ado::Engine::sqlite)
        return "CREATE UNIQUE INDEX LOGGERS_PK ON LOGGERS (sLoggerName, nLoggerSequence)";
    return "ALTER TABLE LOGGERS ADD CONSTRAINT PK PRIMARY KEY (sLoggerName, nLoggerSequence)";
}

std::string channels_create(const ado::Dialect& dialect, std::string_view prefix) {
    return "CREATE TABLE " + run_table(dialect, prefix, "CHANNELS") +
           " (nBlock int, sPrefix char(2), nChannelNumber integer, sSource char(32), sTag char(32), "
           "sDescription "
           "char(32), nType int,sUnits char(12), fMinScale real, fMaxScale real, sLowStateDesc char(32), "
           "sHighStateDesc char(32), sColumnName char(32), bLag integer)";
}

std::string channels_index(const ado::Dialect& dialect, std::string_view prefix) {
    return index_on(dialect, prefix, "CH", "CHANNELS", "sPrefix, nChannelNumber");
}

std::vector<std::string> data_create_forms(const ado::Dialect& dialect, Backend backend,
                                           std::string_view prefix, bool sig_change,
                                           std::string_view columns) {
    const std::string head = "CREATE TABLE " + run_table(dialect, prefix, "DATA") + " (";
    std::string rest;
    if (sig_change) rest += ",LL integer, LV float NULL";
    rest += columns;
    rest += ", TP float NULL)";
    if (backend == Backend::mysql) return {head + "DT datetime, MS float, TX varchar(255) NULL" + rest};
    return {head + "DT datetime, MS integer, TX varchar(255) NULL" + rest,
            head + "DT datetime, MS integer, TX char(255) NULL" + rest,
            head + "DT date, MS integer, TX char(255) NULL" + rest};
}

std::vector<std::string> data_indexes(const ado::Dialect& dialect, Backend backend, std::string_view prefix) {
    std::vector<std::string> out{index_on(dialect, prefix, "TM", "DATA", "DT, MS")};
    if (backend == Backend::mysql) return out;
    out.push_back(index_on(dialect, prefix, "DT", "DATA", "DT"));
    out.push_back(index_on(dialect, prefix, "MS", "DATA", "MS"));
    out.push_back(index_on(dialect, prefix, "TX", "DATA", "TX"));
    return out;
}

std::string text_create(const ado::Dialect& dialect, std::string_view prefix) {
    return "CREATE TABLE " + run_table(dialect, prefix, "TEXT") + " (TX char(255))";
}

std::array<std::string, 3> drop_tables(const ado::Dialect& dialect, std::string_view prefix) {
    return {"DROP TABLE " + run_table(dialect, prefix, "TEXT"),
            "DROP TABLE " + run_table(dialect, prefix, "DATA"),
            "DROP TABLE " + run_table(dialect, prefix, "CHANNELS")};
}

std::string highest_counter_query(const ado::Dialect& dialect, std::string_view logger_name) {
    return "select nLoggerSequence from LOGGERS where sLoggerName = " + text_literal(dialect, logger_name) +
           " AND nLoggerSequence < 19000101 order by nLoggerSequence Desc";
}

std::string run_row_query(const ado::Dialect& dialect, std::string_view columns, std::string_view logger_name,
                          std::int32_t sequence) {
    return "select " + std::string(columns) +
           " from LOGGERS where sLoggerName = " + text_literal(dialect, logger_name) +
           " AND nLoggerSequence = " + std::to_string(sequence);
}

std::string run_row_by_prefix(const ado::Dialect& dialect, std::string_view prefix) {
    return "select * from LOGGERS where sTablePrefix = " + text_literal(dialect, prefix);
}

std::string delete_run_row(const ado::Dialect& dialect, std::string_view prefix) {
    return "DELETE from LOGGERS where sTablePrefix = " + text_literal(dialect, prefix);
}

std::string run_list_query(const ado::Dialect& dialect, std::string_view logger_name) {
    return "select nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix from LOGGERS where "
           "sLoggerName = " +
           text_literal(dialect, logger_name) + " order by dStartTime Desc";
}

}  // namespace log_stores::db_schema
