#pragma once
// Plain statements that copy, move and delete table rows on an open connection, within one
// database or into another file database named by its path in an IN clause.
//
// Every table, condition, column list and path argument is SQL text by contract: it is put
// into the statement as written, neither quoted nor checked, so a caller passes only text
// it wrote itself, never a name or value that came from a user, a file or a peer.
//
// Each function reports a database failure to the trace and the thread's last error
// (ReportComError) and never raises one; the connection is released on return.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ado {
class Connection;
}

// The affected-row count, or -1 after a failure.
int32_t ExecuteStatement(std::shared_ptr<ado::Connection> connection, std::string sql);
// The query's row count when the engine knows it, else 1 when it has a row and 0 when not;
// -1 after a failure (a missing table).
int32_t ProbeTable(std::shared_ptr<ado::Connection> connection, std::string sql);
// "DELETE FROM table WHERE condition ;"
int32_t DeleteRowsWhere(std::shared_ptr<ado::Connection> connection, std::string table, std::string condition);
// Drops target (a failure is only traced) and makes it again as a copy of source, in the
// file database at path when path is not empty; the copy's result.
int32_t CopyWholeTable(std::shared_ptr<ado::Connection> connection, std::string source, std::string target,
                       std::string path);
// Copies the rows of source matching condition into target (made when it does not exist).
// With a temporary argument the rows go through the working table target + "_Tmp", and
// only rows whose key column value the target does not hold yet are copied: 0 when there
// is nothing to copy, -1 when the working table could not be filled.
int32_t CopyRowsInto(std::shared_ptr<ado::Connection> connection, std::string source, std::string target,
                     std::string path, std::string condition, std::optional<std::string> temporary,
                     std::string key_column, std::string column_list);
