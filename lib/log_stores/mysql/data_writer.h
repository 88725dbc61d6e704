#pragma once
// The INSERT statements that append a run's records to its DATA table: one prepared statement
// for a full batch and one for the remainder, kept while their connection lasts, their
// placeholders bound once to buffers that each batch refills straight from the records.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "log_stores/db_schema/data_columns.h"
#include "log_stores/log_header.h"
#include "log_stores/mysql/mysql_session.h"

namespace log_stores::mysql {

class DataWriter {
  public:
    DataWriter();
    ~DataWriter();
    DataWriter(const DataWriter&) = delete;
    DataWriter& operator=(const DataWriter&) = delete;

    // Forgets the statements and what the table looked like: the connection is gone or going.
    void reset();

    // One INSERT of `rows` records (`records` holds rows x recordSize bytes) into `table`, in
    // one statement (the server's one transaction). Each channel's value is written in the form
    // of its column: a float, a number, or a text: the state text from `states` (empty when it
    // gives none), "0" or "1" without `states`. `states` is read once per connection. The
    // failure's context is the program's message.
    std::optional<Failure> insert(Session& session, const std::string& table, const LogHeader& header,
                                  std::span<const std::uint8_t> records, std::size_t rows,
                                  const db_schema::ChannelLookup& states);

  private:
    struct Statement;
    struct Layout;
    std::optional<Failure> learn_layout(Session& session, const std::string& table, const LogHeader& header);
    std::unique_ptr<Layout> layout_;
    std::unique_ptr<Statement> full_;  // the most rows asked for so far
    std::unique_ptr<Statement> rest_;  // the latest other row count
};

}  // namespace log_stores::mysql
