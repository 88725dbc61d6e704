#include "log_stores/db_archive/table_copy.h"

#include "log_stores/db_access/com_error_report.h"
#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"

namespace {

ado::Connection& require(const std::shared_ptr<ado::Connection>& connection) {
    if (!connection || connection->state() == 0)
        ado::raise(ado::hr(0x800A0E7D), {},
                   "The connection cannot be used to perform this operation. It is either closed or invalid in this "
                   "context.");
    return *connection;
}

int32_t clamp_count(int64_t n) {
    if (n > INT32_MAX) return INT32_MAX;
    if (n < -1) return -1;
    return static_cast<int32_t>(n);
}

bool exists(const std::shared_ptr<ado::Connection>& connection, const std::string& target, const std::string& path) {
    const std::string probe = path.empty() ? "SELECT NULL FROM " + target + ";"
                                           : "SELECT NULL FROM " + target + " IN '" + path + "' ;";
    return ProbeTable(connection, probe) >= 0;
}

}  // namespace

int32_t ExecuteStatement(std::shared_ptr<ado::Connection> connection, std::string sql) {
    try {
        return clamp_count(require(connection).execute_utf8(sql));
    } catch (const ado::ComError& e) {
        ReportComError(e);
        return -1;
    }
}

int32_t ProbeTable(std::shared_ptr<ado::Connection> connection, std::string sql) {
    try {
        require(connection);
        ado::Recordset rows;
        rows.set_active_connection(connection);
        rows.open(ado::utf16_from_utf8(sql), ado::kForwardOnly, ado::kReadOnly, ado::kCmdText);
        const int64_t count = rows.record_count();
        if (count != -1) return clamp_count(count);
        return rows.eof() ? 0 : 1;
    } catch (const ado::ComError& e) {
        ReportComError(e);
        return -1;
    }
}

int32_t DeleteRowsWhere(std::shared_ptr<ado::Connection> connection, std::string table, std::string condition) {
    return ExecuteStatement(std::move(connection), "DELETE FROM " + table + " WHERE " + condition + " ;");
}

int32_t CopyWholeTable(std::shared_ptr<ado::Connection> connection, std::string source, std::string target,
                       std::string path) {
    (void)ExecuteStatement(connection, "DROP TABLE " + target);
    const std::string copy = path.empty() ? "SELECT * INTO " + target + " FROM " + source + " ;"
                                          : "SELECT * INTO " + target + " IN '" + path + "' FROM " + source + " ;";
    return ExecuteStatement(std::move(connection), copy);
}

int32_t CopyRowsInto(std::shared_ptr<ado::Connection> connection, std::string source, std::string target,
                     std::string path, std::string condition, std::optional<std::string> temporary,
                     std::string key_column, std::string column_list) {
    const bool target_exists = exists(connection, target, path);
    const std::string in_path = path.empty() ? std::string() : " IN '" + path + "'";
    if (!temporary) {
        const std::string copy = target_exists
                                     ? "INSERT INTO " + target + in_path + " SELECT * FROM " + source + " WHERE " +
                                           condition + " ;"
                                     : "SELECT * INTO " + target + in_path + " FROM " + source + " WHERE " +
                                           condition + " ;";
        return ExecuteStatement(std::move(connection), copy);
    }

    const std::string working = target + "_Tmp";
    (void)ExecuteStatement(connection, "DROP TABLE " + working + ";");
    std::string fill;
    if (!target_exists)
        fill = "SELECT DISTINCT * INTO " + working + " FROM " + source + " WHERE " + condition + " ;";
    else if (path.empty())
        fill = "SELECT DISTINCT * INTO " + working + " FROM " + source + " WHERE ( " + condition + " AND (" +
               key_column + " NOT IN (SELECT " + key_column + " FROM " + target + " )) ) ;";
    else
        fill = "SELECT DISTINCT * INTO " + working + " FROM " + source + " WHERE ( " + condition + " AND (" +
               key_column + " NOT IN (SELECT " + key_column + " FROM " + target + " IN '" + path + "')) ) ;";
    const int32_t filled = ExecuteStatement(connection, fill);

    int32_t result = 0;
    if (filled < 0) {
        // The rows were not gathered: that is a failure, not "nothing to copy".
        result = -1;
    } else if (filled >= 1) {
        std::string move;
        if (!path.empty() && target_exists)
            move = "INSERT INTO " + target + " (" + column_list + ") IN '" + path + "' SELECT * FROM " + working + " ;";
        else if (!path.empty())
            move = "SELECT * INTO " + target + " IN '" + path + "' FROM " + working + " ;";
        else if (target_exists)
            move = "Set IDENTITY_INSERT " + target + " On;" + "INSERT INTO " + target + " (" + column_list +
                   ") SELECT * FROM " + working + " ;" + "Set IDENTITY_INSERT " + target + " Off;";
        else
            move = "SELECT * INTO " + target + " FROM " + working + " ;";
        result = ExecuteStatement(connection, move);
    }
    (void)ExecuteStatement(std::move(connection), "DROP TABLE " + working + ";");
    return result;
}
