#pragma once
// The statements of the logger database archive, as text: two flavours (a file database
// that reads the logger database through an IN clause, and a server database that names
// the archive by a database prefix or through OPENROWSET). Every table name is quoted
// before it enters a statement: names come from the database itself (a run's data table).
#include <string>
#include <string_view>
#include <vector>

namespace log_stores::archive {

enum class Flavour { jet, server };

// Both engines quote a name in brackets, a closing bracket inside doubled.
std::string quote_table(std::string_view name);
// A text inside '...', its single quotes doubled.
std::string quote_text(std::string_view text);

// Where the copies and the archive tables go.
struct ArchiveTarget {
    Flavour flavour = Flavour::server;
    // The logger database's data source (Jet's IN clause), as found in its connection text.
    std::string source_data_source;
    // Server: the archive database name (may be empty).
    std::string database;
    // Server: the two connection texts are the same, so the archive is addressed by prefix;
    // otherwise through OPENROWSET on the logger database's connection.
    bool same_servers = true;
    std::string provider;          // of the logger database's connection
    std::string source_connection; // the logger database's connection text
    std::string source_database;   // its default database
};

// The archive table of `table` as it is written in a statement: the prefix and the name
// (the prefix is empty for Jet and for OPENROWSET).
struct ArchiveName {
    std::string prefix;
    std::string name;
    std::string full() const { return prefix + name; }
};
ArchiveName archive_name(const ArchiveTarget& target, std::string_view table);

inline constexpr std::string_view kLoggers = "Loggers";
inline constexpr std::string_view kSavedLoggerConfig = "SavedLoggerConfig";
inline constexpr std::string_view kSavedLoggerTags = "SavedLoggerTags";
inline constexpr std::string_view kSavedOPCServers = "SavedOPCServers";
inline constexpr std::string_view kArchiveSuffix = "_Arc";

// Parameters: the cut-off time, the logger name.
std::string select_runs_statement();
std::string create_archive_table_statement(const ArchiveTarget& target, std::string_view table);

// Copying one run; parameters: data rows (logger id, cut-off), run row (logger id),
// configuration row (configuration id twice), tag rows (the same), server rows
// (configuration id).
std::string copy_data_rows_statement(const ArchiveTarget& target, std::string_view data_table);
std::string copy_run_row_statement(const ArchiveTarget& target);
std::string copy_config_row_statement(const ArchiveTarget& target);
std::string copy_tag_rows_statement(const ArchiveTarget& target);
std::string copy_server_rows_statement(const ArchiveTarget& target);

// Deleting one run. Jet: (logger id, cut-off), then (logger id, logger id, cut-off); server,
// one batch: (logger id, cut-off, logger id, cut-off, logger id).
std::vector<std::string> delete_run_statements(Flavour flavour, std::string_view data_table);
// Purging configuration rows nothing refers to; no parameters.
std::vector<std::string> purge_statements(Flavour flavour);

}  // namespace log_stores::archive
