// The archive of a logger database's old runs: copies (when asked) what goes into the _Arc
// tables, deletes old data rows and finished runs, and purges configuration rows that no
// run refers to any more. Every piece reports its own database failure and the archive
// goes on where nothing is lost by going on; only a failed copy stops it, before anything
// of that run is deleted.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log_stores/db_archive/archive_connection_text.h"
#include "log_stores/db_archive/archive_statements.h"
#include "log_stores/db_access/com_error_report.h"
#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/catalog.h"
#include "platform/ado/com_error.h"
#include "platform/ado/command.h"
#include "platform/ado/connection.h"
#include "platform/ado/date_value.h"
#include "platform/ado/statement.h"
#include "platform/ado/text_codec.h"

namespace {

using namespace log_stores::archive;
using ado::Variant;
using Connection = std::shared_ptr<ado::Connection>;

constexpr int kLoggerNameSize = 50;

struct Parameter {
    int type;
    int size;
    Variant value;
};

Parameter id_parameter(int32_t id) { return {ado::kParamInteger, 4, Variant::i4(id)}; }
Parameter time_parameter(double cutoff) { return {ado::kParamDate, 8, Variant::r8(cutoff)}; }

int64_t run(const Connection& connection, const std::string& sql, const std::vector<Parameter>& parameters) {
    ado::Command command;
    command.set_active_connection(connection);
    command.set_command_text(ado::utf16_from_utf8(sql));
    for (const auto& p : parameters) command.append_parameter(p.type, p.size, p.value);
    return command.execute();
}

struct SelectedRun {
    int32_t logger = 0;
    int32_t config = 0;
    std::string data_table;
};

size_t column_named(const std::vector<ado::ColumnInfo>& columns, std::u16string_view name) {
    for (size_t i = 0; i < columns.size(); ++i) {
        const std::u16string& n = columns[i].name;
        if (n.size() != name.size()) continue;
        bool same = true;
        for (size_t k = 0; k < n.size() && same; ++k) {
            const auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
            same = up(n[k]) == up(name[k]);
        }
        if (same) return i;
    }
    ado::raise(ado::kItemNotFound, {}, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

std::vector<SelectedRun> select_runs(ado::Connection& connection, std::u16string_view logger, double cutoff) {
    const auto date = ado::date_from_ole(cutoff);
    if (!date) ado::raise(ado::kConversion, connection.provider(), "the cut-off time is not a valid date");
    if (logger.size() > static_cast<size_t>(kLoggerNameSize))
        ado::raise(ado::kTooLong, connection.provider(), "a text parameter is longer than its size");
    ado::Statement statement(connection);
    statement.prepare(select_runs_statement());
    const std::vector<Variant> values = {Variant::date(*date), Variant::text(std::u16string(logger))};
    statement.bind(values);
    statement.execute();
    const auto columns = statement.describe();
    const size_t id = column_named(columns, u"IDLogger");
    const size_t config = column_named(columns, u"IDLoggerConfig");
    const size_t table = column_named(columns, u"sMainTableName");
    std::vector<SelectedRun> runs;
    while (statement.fetch()) {
        SelectedRun r;
        r.logger = statement.value(id, columns[id]).to_i4();
        r.config = statement.value(config, columns[config]).to_i4();
        const Variant name = statement.value(table, columns[table]);
        if (!name.is_null()) r.data_table = ado::utf8_from_utf16(name.to_text());
        runs.push_back(std::move(r));
    }
    return runs;
}

class Archive {
  public:
    Archive(Connection logger_db, ArchiveTarget target, double cutoff)
        : logger_db_(std::move(logger_db)), target_(std::move(target)), cutoff_(cutoff) {}

    void set_archive_db(Connection c) { archive_db_ = std::move(c); }
    ArchiveTarget& target() { return target_; }

    ado::HRESULT ensure_archive_table(ado::Catalog& catalog, std::string_view table) {
        try {
            std::optional<ado::CatalogTable> found;
            try {
                found = catalog.find_table(ado::utf16_from_utf8(std::string(table) + std::string(kArchiveSuffix)));
            } catch (const ado::ComError& e) {
                ReportComError(e);
            }
            if (found) return 0;
            ReportComError(ado::ComError(ado::kItemNotFound, "ADOX.Tables",
                                         "Item cannot be found in the collection corresponding to the requested "
                                         "name or ordinal."));
            run(archive_db_, create_archive_table_statement(target_, table), {});
            return 0;
        } catch (const ado::ComError& e) {
            ReportComError(e);
            return ado::kFail;
        }
    }

    ado::HRESULT copy_run(const SelectedRun& r) {
        try {
            run(archive_db_, copy_data_rows_statement(target_, r.data_table),
                {id_parameter(r.logger), time_parameter(cutoff_)});
            run(archive_db_, copy_run_row_statement(target_), {id_parameter(r.logger)});
            run(archive_db_, copy_config_row_statement(target_), {id_parameter(r.config), id_parameter(r.config)});
            run(archive_db_, copy_tag_rows_statement(target_), {id_parameter(r.config), id_parameter(r.config)});
            run(archive_db_, copy_server_rows_statement(target_), {id_parameter(r.config)});
            return 0;
        } catch (const ado::ComError& e) {
            ReportComError(e);
            return ado::kFail;
        }
    }

    ado::HRESULT delete_run(int32_t logger, const std::string& data_table) {
        try {
            const auto statements = delete_run_statements(target_.flavour, data_table);
            if (target_.flavour == Flavour::jet) {
                run(logger_db_, statements[0], {id_parameter(logger), time_parameter(cutoff_)});
                run(logger_db_, statements[1], {id_parameter(logger), id_parameter(logger), time_parameter(cutoff_)});
            } else {
                run(logger_db_, statements[0],
                    {id_parameter(logger), time_parameter(cutoff_), id_parameter(logger), time_parameter(cutoff_),
                     id_parameter(logger)});
            }
            return 0;
        } catch (const ado::ComError& e) {
            ReportComError(e);
            return ado::kFail;
        }
    }

    ado::HRESULT purge() {
        try {
            for (const auto& statement : purge_statements(target_.flavour)) run(logger_db_, statement, {});
            return 0;
        } catch (const ado::ComError& e) {
            ReportComError(e);
            return ado::kFail;
        }
    }

  private:
    Connection logger_db_;
    Connection archive_db_;
    ArchiveTarget target_;
    double cutoff_;
};

Connection open_connection(const std::string& text) {
    auto c = std::make_shared<ado::Connection>();
    c->open(ado::utf16_from_utf8(text), u"", u"", -1);
    return c;
}

// Points the catalog at the archive database: a new file database where the layer can make
// one, else the database the archive text names (a server, or a file made on an earlier call).
void connect_catalog(ado::Catalog& catalog, ArchiveTarget& target, const std::string& archive_text) {
    try {
        catalog.create(ado::utf16_from_utf8(archive_text));
        target.flavour = Flavour::jet;
    } catch (const ado::ComError&) {
        catalog.set_active_connection(ado::utf16_from_utf8(archive_text));
    }
    if (target.flavour != Flavour::server || target.database.empty()) return;
    try {
        const Connection c = catalog.connection();
        const std::u16string wanted = ado::utf16_from_utf8(target.database);
        if (c->default_database() != wanted) c->set_default_database(wanted);
    } catch (const ado::ComError&) {
        catalog.set_active_connection(ado::utf16_from_utf8(archive_text));
    }
}

}  // namespace

CLogDbDataAcc::Result CLogDbDataAcc::ArchiveLoggers(std::u16string_view loggerName, int32_t, int32_t,
                                                    std::u16string_view firstConnection,
                                                    std::u16string_view secondConnection,
                                                    std::u16string_view databaseName, int32_t archive, double cutoff) {
    try {
        const std::string first = shorten_credential_keys(ado::utf8_from_utf16(firstConnection));
        const std::string second = shorten_credential_keys(ado::utf8_from_utf16(secondConnection));
        const Connection logger_db = open_connection(first);

        ArchiveTarget target;
        target.flavour = names_jet_flavour(second) ? Flavour::jet : Flavour::server;
        target.source_data_source = data_source_of(first);
        target.database = ado::utf8_from_utf16(databaseName);
        target.same_servers = first == second;
        target.provider = logger_db->provider();
        target.source_connection = first;
        Archive work(logger_db, target, cutoff);

        ado::Catalog catalog;
        if (archive > 0) {
            connect_catalog(catalog, work.target(), second);
            if (work.target().flavour == Flavour::server && !work.target().same_servers)
                work.target().source_database = ado::utf8_from_utf16(logger_db->default_database());
            work.set_archive_db(open_connection(second));
            for (const std::string_view table : {kLoggers, kSavedLoggerConfig, kSavedLoggerTags, kSavedOPCServers})
                if (const ado::HRESULT r = work.ensure_archive_table(catalog, table); r != 0) return r;
        }

        std::map<int32_t, std::string> remembered;
        for (const auto& r : select_runs(*logger_db, loggerName, cutoff)) {
            // Nothing of a run is deleted unless its copy is in the archive.
            if (archive > 0 && (work.ensure_archive_table(catalog, r.data_table) != 0 || work.copy_run(r) != 0))
                return ado::kFail;
            remembered[r.logger] = r.data_table;
        }

        // A failed delete or purge leaves rows behind but loses nothing: the rest still runs,
        // and the caller learns that the archive is not complete.
        bool complete = true;
        for (const auto& [logger, table] : remembered)
            if (!table.empty() && work.delete_run(logger, table) != 0) complete = false;
        if (work.purge() != 0) complete = false;
        return complete ? 0 : ado::kFail;
    } catch (const ado::ComError& e) {
        CaptureComError(e);
        return ado::kFail;
    } catch (...) {
        return ado::kFail;
    }
}
