#include "log_stores/db_archive/archive_statements.h"

#include <initializer_list>

namespace log_stores::archive {
namespace {

// Puts the arguments in place of the pattern's "%s", in order.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    auto next = args.begin();
    size_t i = 0;
    while (i < pattern.size()) {
        if (pattern.compare(i, 2, "%s") == 0 && next != args.end()) {
            out.append(*next++);
            i += 2;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

std::string archive_of(std::string_view table) { return std::string(table) + std::string(kArchiveSuffix); }

constexpr std::string_view kRunColumns =
    "(IDLogger, IDLoggerConfig, sLogName, sComments, dStartTime, dStopTime, bCompleted, nStopReason, sMainTableName, "
    "nLogRate, nParameters)";

// The server statements that write into an identity column switch identity insertion on
// around themselves when the archive is addressed by prefix.
std::string with_identity_insert(const ArchiveName& a, const std::string& statement) {
    return "SET IDENTITY_INSERT " + a.full() + " ON " + statement + " SET IDENTITY_INSERT " + a.full() + " OFF";
}

}  // namespace

std::string quote_table(std::string_view name) {
    std::string out = "[";
    for (const char c : name) {
        out += c;
        if (c == ']') out += ']';
    }
    out += ']';
    return out;
}

std::string quote_text(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

ArchiveName archive_name(const ArchiveTarget& target, std::string_view table) {
    const std::string name = quote_table(archive_of(table));
    if (target.flavour == Flavour::jet) return {"", name};
    if (!target.same_servers)
        return {"", fill("OPENROWSET ('%s', '%s', %s.dbo.%s)",
                         {quote_text(target.provider), quote_text(target.source_connection),
                          quote_table(target.source_database), name})};
    return {target.database.empty() ? std::string() : quote_table(target.database) + ".dbo.", name};
}

std::string select_runs_statement() {
    return fill("SELECT IDLogger, IDLoggerConfig, sMainTableName FROM   %s WHERE  (dStartTime < ?) AND (sLogName = ?)",
                {quote_table(kLoggers)});
}

std::string create_archive_table_statement(const ArchiveTarget& target, std::string_view table) {
    const ArchiveName a = archive_name(target, table);
    if (target.flavour == Flavour::jet)
        return fill("SELECT * INTO %s FROM %s IN %s WHERE 1=0", {a.name, quote_table(table), target.source_data_source});
    return fill("SELECT * INTO %s%s FROM %s WHERE 1=0", {a.prefix, a.name, quote_table(table)});
}

std::string copy_data_rows_statement(const ArchiveTarget& target, std::string_view data_table) {
    const ArchiveName a = archive_name(target, data_table);
    const std::string d = quote_table(data_table);
    if (target.flavour == Flavour::jet)
        return fill("INSERT INTO %s SELECT * FROM %s IN %s WHERE LoggerID = ? AND TS < ? AND LoggerID NOT IN "
                    "(SELECT DISTINCT LoggerID FROM %s)",
                    {a.name, d, target.source_data_source, a.name});
    return fill("INSERT INTO %s%s SELECT * FROM %s WHERE LoggerID = ? AND TS < ? AND LoggerID NOT IN "
                "(SELECT DISTINCT LoggerID FROM %s%s)",
                {a.prefix, a.name, d, a.prefix, a.name});
}

std::string copy_run_row_statement(const ArchiveTarget& target) {
    const ArchiveName a = archive_name(target, kLoggers);
    const std::string t = quote_table(kLoggers);
    if (target.flavour == Flavour::jet)
        return fill("INSERT INTO %s %s SELECT * FROM %s IN %s WHERE IDLogger = ? AND IDLogger NOT IN "
                    "(SELECT DISTINCT IDLogger FROM %s)",
                    {a.name, kRunColumns, t, target.source_data_source, a.name});
    const std::string insert = fill("INSERT INTO %s%s %s SELECT * FROM %s WHERE IDLogger = ? AND IDLogger NOT IN "
                                    "(SELECT DISTINCT IDLogger FROM %s%s)",
                                    {a.prefix, a.name, kRunColumns, t, a.prefix, a.name});
    return target.same_servers ? with_identity_insert(a, insert) : insert;
}

std::string copy_config_row_statement(const ArchiveTarget& target) {
    const ArchiveName a = archive_name(target, kSavedLoggerConfig);
    const std::string t = quote_table(kSavedLoggerConfig);
    if (target.flavour == Flavour::jet)
        return fill("INSERT INTO %s (IDLoggerConfig, sName, sDescription) SELECT * FROM %s IN %s WHERE IDLoggerConfig "
                    "= ? AND NOT EXISTS (SELECT * FROM %s WHERE IDLoggerConfig = ?)",
                    {a.name, t, target.source_data_source, a.name});
    const std::string insert = fill("INSERT INTO %s%s (IDLoggerConfig, sName, sDescription) SELECT * FROM %s WHERE "
                                    "IDLoggerConfig = ? AND NOT EXISTS (SELECT * FROM %s%s WHERE IDLoggerConfig = ?)",
                                    {a.prefix, a.name, t, a.prefix, a.name});
    return target.same_servers ? with_identity_insert(a, insert) : insert;
}

std::string copy_tag_rows_statement(const ArchiveTarget& target) {
    const ArchiveName a = archive_name(target, kSavedLoggerTags);
    const std::string t = quote_table(kSavedLoggerTags);
    if (target.flavour == Flavour::jet)
        return fill("INSERT INTO %s SELECT * FROM %s IN %s WHERE IDLoggerConfig = ? AND NOT EXISTS "
                    "(SELECT * FROM %s WHERE IDLoggerConfig = ?)",
                    {a.name, t, target.source_data_source, a.name});
    return fill("INSERT INTO %s%s SELECT * FROM %s WHERE IDLoggerConfig = ? AND NOT EXISTS "
                "(SELECT * FROM %s%s WHERE IDLoggerConfig = ?)",
                {a.prefix, a.name, t, a.prefix, a.name});
}

std::string copy_server_rows_statement(const ArchiveTarget& target) {
    const ArchiveName a = archive_name(target, kSavedOPCServers);
    const ArchiveName tags = archive_name(target, kSavedLoggerTags);
    const std::string t = quote_table(kSavedOPCServers);
    if (target.flavour == Flavour::jet)
        return fill("INSERT INTO %s (IDOPCServer, sOPCNode, sOPCServer) SELECT * FROM %s IN %s WHERE IDOPCServer IN "
                    "(SELECT DISTINCT IDOPCServer FROM %s WHERE IDLoggerConfig = ?) AND IDOPCServer NOT IN "
                    "(SELECT IDOPCServer FROM %s)",
                    {a.name, t, target.source_data_source, tags.name, a.name});
    const std::string insert =
        fill("INSERT INTO %s%s (IDOPCServer, sOPCNode, sOPCServer) SELECT * FROM %s WHERE IDOPCServer IN "
             "(SELECT DISTINCT IDOPCServer FROM %s%s WHERE IDLoggerConfig = ?) AND IDOPCServer NOT IN "
             "(SELECT IDOPCServer FROM %s%s)",
             {a.prefix, a.name, t, tags.prefix, tags.name, a.prefix, a.name});
    return target.same_servers ? with_identity_insert(a, insert) : insert;
}

std::vector<std::string> delete_run_statements(Flavour flavour, std::string_view data_table) {
    const std::string d = quote_table(data_table);
    const std::string loggers = quote_table(kLoggers);
    if (flavour == Flavour::jet)
        return {fill("DELETE FROM %s WHERE LoggerID = ? AND TS < ?", {d}),
                fill("DELETE FROM %s WHERE IDLogger = ? AND bCompleted <> 0 AND NOT EXISTS "
                     "(SELECT * FROM %s WHERE LoggerID = ?) AND dStopTime < ?",
                     {loggers, d})};
    return {fill("DELETE FROM %s WHERE LoggerID = ? AND TS < ? DELETE FROM %s WHERE IDLogger = ? AND dStopTime < ? "
                 "AND bCompleted <> 0 AND NOT EXISTS (SELECT * FROM %s WHERE LoggerID = ?)",
                 {d, loggers, d})};
}

std::vector<std::string> purge_statements(Flavour flavour) {
    const std::string config = quote_table(kSavedLoggerConfig);
    const std::string tags = quote_table(kSavedLoggerTags);
    const std::string servers = quote_table(kSavedOPCServers);
    const std::string loggers = quote_table(kLoggers);
    const std::string by_config = "DELETE FROM %s WHERE IDLoggerConfig NOT IN (SELECT DISTINCT IDLoggerConfig FROM %s)";
    const std::string by_server = "DELETE FROM %s WHERE IDOPCServer NOT IN (SELECT DISTINCT IDOPCServer FROM %s)";
    std::vector<std::string> each = {fill(by_config, {config, loggers}), fill(by_config, {tags, config}),
                                     fill(by_server, {servers, tags})};
    if (flavour == Flavour::jet) return each;
    return {each[0] + " " + each[1] + " " + each[2]};
}

}  // namespace log_stores::archive
