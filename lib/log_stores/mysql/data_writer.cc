#include "log_stores/mysql/data_writer.h"

#include <mysql.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "log_stores/db_schema/data_row.h"
#include "log_stores/db_schema/date_literal.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/ado/text_codec.h"

namespace log_stores::mysql {
namespace {

constexpr std::size_t kStateTextLength = 32;
// A state text of 32 Windows-1252 characters takes at most 96 bytes of UTF-8.
constexpr std::size_t kTextBytes = 3 * kStateTextLength;

enum class Column { time, ms, null, mark, mark_value, channel };
enum class Form { real, number, text };  // how a channel's column keeps its value

struct StatementCloser {
    void operator()(MYSQL_STMT* statement) const { mysql_stmt_close(statement); }
};

struct ResultCloser {
    void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};

Form form_of(enum_field_types type) {
    switch (type) {
        case MYSQL_TYPE_FLOAT:
        case MYSQL_TYPE_DOUBLE:
        case MYSQL_TYPE_DECIMAL:
        case MYSQL_TYPE_NEWDECIMAL:
            return Form::real;
        case MYSQL_TYPE_TINY:
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_INT24:
        case MYSQL_TYPE_LONGLONG:
        case MYSQL_TYPE_BIT:
            return Form::number;
        default:
            return Form::text;
    }
}

std::string utf8_text(const char* field) {
    const std::size_t n = strnlen(field, kStateTextLength);
    return ado::utf8_from_cp1252(std::string_view(field, n));
}

}  // namespace

struct DataWriter::Layout {
    struct Place {
        Column column = Column::null;
        Form form = Form::real;
        std::size_t block = 0;
        std::uint32_t sample = 0;  // the channel's index inside its block
        std::string low, high;     // state texts (UTF-8) of a text column
    };
    std::vector<Place> places;  // one per DATA column, in column order
    std::size_t texts = 0;      // columns in text form
};

struct DataWriter::Statement {
    struct Slot {
        double real = 0;
        float single = 0;
        long long number = 0;
        unsigned long length = 0;
        my_bool null = 0;
    };
    std::unique_ptr<MYSQL_STMT, StatementCloser> handle;
    std::size_t rows = 0;
    std::vector<MYSQL_BIND> binds;
    std::vector<Slot> slots;
    std::vector<MYSQL_TIME> times;  // one per row
    std::vector<std::array<char, kTextBytes>> texts;  // rows x text columns

    // Binds every placeholder once to its slot; the buffers never move afterwards.
    void bind_slots(const Layout& layout) {
        const std::size_t width = layout.places.size();
        binds.assign(rows * width, MYSQL_BIND{});
        slots.assign(rows * width, Slot{});
        times.assign(rows, MYSQL_TIME{});
        texts.assign(rows * layout.texts, {});
        for (std::size_t r = 0; r < rows; ++r) {
            std::size_t text = r * layout.texts;
            for (std::size_t c = 0; c < width; ++c) {
                MYSQL_BIND& b = binds[r * width + c];
                Slot& s = slots[r * width + c];
                b.is_null = &s.null;
                switch (layout.places[c].column) {
                    case Column::time:
                        b.buffer_type = MYSQL_TYPE_DATETIME;
                        b.buffer = &times[r];
                        break;
                    case Column::ms:
                        b.buffer_type = MYSQL_TYPE_DOUBLE;
                        b.buffer = &s.real;
                        break;
                    case Column::null:
                        b.buffer_type = MYSQL_TYPE_NULL;
                        break;
                    case Column::mark:
                        b.buffer_type = MYSQL_TYPE_LONGLONG;
                        b.buffer = &s.number;
                        break;
                    case Column::mark_value:
                        b.buffer_type = MYSQL_TYPE_FLOAT;
                        b.buffer = &s.single;
                        break;
                    case Column::channel:
                        switch (layout.places[c].form) {
                            case Form::real:
                                b.buffer_type = MYSQL_TYPE_FLOAT;
                                b.buffer = &s.single;
                                break;
                            case Form::number:
                                // The server rounds a value of an analog channel as it would
                                // round any number put into this column.
                                b.buffer_type = MYSQL_TYPE_DOUBLE;
                                b.buffer = &s.real;
                                break;
                            case Form::text:
                                b.buffer_type = MYSQL_TYPE_STRING;
                                b.buffer = texts[text++].data();
                                b.buffer_length = kTextBytes;
                                b.length = &s.length;
                                break;
                        }
                        break;
                }
            }
        }
    }
};

DataWriter::DataWriter() = default;
DataWriter::~DataWriter() = default;

void DataWriter::reset() {
    full_.reset();
    rest_.reset();
    layout_.reset();
}

std::optional<Failure> DataWriter::learn_layout(Session& session, const std::string& table,
                                                const LogHeader& header) {
    MYSQL* mysql = session.raw();
    if (mysql == nullptr) return Failure{0, "not connected", "CAN'T CONNECT TO DATABASE"};
    const std::string sql = "SELECT * FROM " + table + " LIMIT 0";
    if (mysql_real_query(mysql, sql.data(), static_cast<unsigned long>(sql.size())) != 0)
        return Failure{mysql_errno(mysql), mysql_error(mysql), "INSERT failed"};
    std::unique_ptr<MYSQL_RES, ResultCloser> result(mysql_store_result(mysql));
    if (!result) return Failure{mysql_errno(mysql), mysql_error(mysql), "INSERT failed"};
    const unsigned count = mysql_num_fields(result.get());
    const MYSQL_FIELD* fields = mysql_fetch_fields(result.get());

    auto layout = std::make_unique<Layout>();
    const bool sig_change = header.sigChange != 0;
    layout->places.push_back({Column::time});
    layout->places.push_back({Column::ms});
    layout->places.push_back({Column::null});  // TX
    if (sig_change) {
        layout->places.push_back({Column::mark});
        layout->places.push_back({Column::mark_value});
    }
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t b = 0; b < blocks; ++b)
        for (std::uint32_t j = 0; j < header.blocks[b].channel_count(); ++j)
            layout->places.push_back({Column::channel, Form::real, b, j, {}, {}});
    layout->places.push_back({Column::null});  // TP
    if (count != layout->places.size())
        return Failure{0, "the DATA table has " + std::to_string(count) + " columns, the run's header " +
                              std::to_string(layout->places.size()),
                       "INSERT failed"};
    for (std::size_t c = 0; c < layout->places.size(); ++c) {
        Layout::Place& place = layout->places[c];
        if (place.column != Column::channel) continue;
        place.form = form_of(fields[c].type);
        if (place.form == Form::text) ++layout->texts;
    }
    layout_ = std::move(layout);
    return std::nullopt;
}

std::optional<Failure> DataWriter::insert(Session& session, const std::string& table, const LogHeader& header,
                                          std::span<const std::uint8_t> records, std::size_t rows,
                                          const db_schema::ChannelLookup& states) {
    if (rows == 0) return std::nullopt;
    const auto record_size = static_cast<std::size_t>(header.recordSize);
    if (header.recordSize < static_cast<std::int32_t>(run_file::kRecordHeadSize) ||
        records.size() < rows * record_size)
        return Failure{0, "a record does not fit its header", "INSERT failed"};
    if (!layout_) {
        if (auto failure = learn_layout(session, table, header)) return failure;
        for (Layout::Place& place : layout_->places) {
            if (place.column != Column::channel || place.form != Form::text) continue;
            const auto channel = static_cast<std::uint16_t>(header.blocks[place.block].firstChannel + place.sample);
            if (!states) {
                // Without state texts a digital value is its number, in this column's text.
                place.low = "0";
                place.high = "1";
                continue;
            }
            const qvr::ChannelRecord* config = states(place.block, channel);
            if (config != nullptr && qvr::is_digital(config->head.Type)) {
                place.low = utf8_text(config->digital.LowStateText);
                place.high = utf8_text(config->digital.HighStateText);
            }
        }
    }
    const Layout& layout = *layout_;
    std::unique_ptr<Statement>& kept = full_ && full_->rows == rows ? full_ : rest_;
    if (!kept || kept->rows != rows) {
        MYSQL* mysql = session.raw();
        if (mysql == nullptr) return Failure{0, "not connected", "CAN'T CONNECT TO DATABASE"};
        auto made = std::make_unique<Statement>();
        made->handle.reset(mysql_stmt_init(mysql));
        if (!made->handle) return Failure{mysql_errno(mysql), mysql_error(mysql), "mysql_stmt_init(), out of memory"};
        std::string group = "(";
        for (std::size_t c = 0; c < layout.places.size(); ++c) group += c == 0 ? "?" : ",?";
        group += ")";
        std::string sql = "INSERT INTO " + table + " VALUES ";
        sql.reserve(sql.size() + rows * (group.size() + 1));
        for (std::size_t r = 0; r < rows; ++r) {
            if (r > 0) sql += ',';
            sql += group;
        }
        if (mysql_stmt_prepare(made->handle.get(), sql.data(), static_cast<unsigned long>(sql.size())) != 0)
            return Failure{mysql_stmt_errno(made->handle.get()), mysql_stmt_error(made->handle.get()), "INSERT failed"};
        made->rows = rows;
        made->bind_slots(layout);
        if (mysql_stmt_bind_param(made->handle.get(), made->binds.data()) != 0)
            return Failure{mysql_stmt_errno(made->handle.get()), mysql_stmt_error(made->handle.get()),
                           "mysql_stmt_bind_param() failed"};
        // The largest batch stays as the full one, any other as the remainder.
        if (!full_ || rows > full_->rows) {
            rest_ = std::move(full_);
            full_ = std::move(made);
        } else {
            rest_ = std::move(made);
        }
    }
    Statement& statement = *(full_ && full_->rows == rows ? full_ : rest_);

    const std::size_t width = layout.places.size();
    for (std::size_t r = 0; r < rows; ++r) {
        const std::span<const std::uint8_t> record = records.subspan(r * record_size, record_size);
        const run_file::RecordHead head = run_file::decode_record_head(record);
        fill_time(db_schema::date_value(head.time.seconds), statement.times[r]);
        std::size_t text = r * layout.texts;
        for (std::size_t c = 0; c < width; ++c) {
            const Layout::Place& place = layout.places[c];
            Statement::Slot& slot = statement.slots[r * width + c];
            slot.null = 0;
            switch (place.column) {
                case Column::time:
                case Column::null:
                    continue;
                case Column::ms:
                    // MS keeps the microseconds as its fraction.
                    slot.real = head.time.milliseconds + head.time.microseconds / 1000.0;
                    continue;
                case Column::mark:
                    slot.number = head.sigChangeMark;
                    continue;
                case Column::mark_value:
                    slot.single = head.sigChangeValue;
                    slot.null = std::isfinite(head.sigChangeValue) ? 0 : 1;
                    continue;
                case Column::channel:
                    break;
            }
            const BlockDescriptor& block = header.blocks[place.block];
            run_file::ChannelSample sample;
            if (!run_file::read_sample(record, block, place.sample, sample))
                return Failure{0, "a record does not fit its header", "INSERT failed"};
            char* text_buffer = place.form == Form::text ? statement.texts[text++].data() : nullptr;
            if (sample.flags & run_file::kSampleBad) {
                slot.null = 1;
                continue;
            }
            if (!(sample.flags & run_file::kSampleAnalog)) {
                const bool high = (sample.flags & run_file::kSampleDigital) != 0;
                if (place.form == Form::text) {
                    const std::string& state = high ? place.high : place.low;
                    std::memcpy(text_buffer, state.data(), state.size());
                    slot.length = static_cast<unsigned long>(state.size());
                } else {
                    slot.single = high ? 1.0f : 0.0f;
                    slot.real = high ? 1.0 : 0.0;
                }
                continue;
            }
            // An analog value that is not finite, or of a block without room for values, is NULL,
            // as the servers refuse the one and the other has nothing to give.
            if (!std::isfinite(sample.value) || db_schema::block_bytes_per_channel(block) < 8) {
                slot.null = 1;
                continue;
            }
            slot.single = sample.value;
            slot.real = sample.value;
            if (place.form == Form::text) {
                const auto written = std::to_chars(text_buffer, text_buffer + kTextBytes, sample.value);
                slot.length = static_cast<unsigned long>(written.ptr - text_buffer);
            }
        }
    }
    if (mysql_stmt_execute(statement.handle.get()) != 0)
        return Failure{mysql_stmt_errno(statement.handle.get()), mysql_stmt_error(statement.handle.get()),
                       "mysql_stmt_execute() failed"};
    return std::nullopt;
}

}  // namespace log_stores::mysql
