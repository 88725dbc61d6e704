// The texts of a MySQL run: event lines, positions, the header text, predefined lines and
// the channels' configurations.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/log_location.h"
#include "log_stores/mysql/mysql_store.h"
#include "log_stores/section_lines.h"
#include "platform/ado/text_codec.h"
#include "platform/ascii_text.h"
#include "platform/last_error.h"

namespace log_stores {
namespace {

std::string trim_right(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

std::string line_time(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char out[32];
    std::snprintf(out, sizeof out, "%02d/%02d/%02d %02d:%02d:%02d ", tm.tm_year % 100, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return out;
}

// Copies when `out` is given (cut to *size), else gives the size needed.
void hand_out(const std::string& text, char* out, std::size_t* size) {
    if (size == nullptr) return;
    if (out == nullptr) {
        *size = text.empty() ? 0 : text.size() + 1;
        return;
    }
    if (*size == 0) return;
    const std::size_t n = std::min(text.size(), *size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    *size = n;
}

const std::string* text_of(const mysql::Value& v) {
    return std::get_if<std::string>(&v);
}

}  // namespace

std::string CLogDbMySQLStore::data_table() const {
    return mysql::quoted(ado::utf8_from_cp1252(tablePrefix_) + "DATA");
}

int CLogDbMySQLStore::stamp_text_time() {
    const mysql::Value params[] = {db_schema::date_value(static_cast<std::int32_t>(std::time(nullptr))),
                                   ado::utf8_from_cp1252(loggerName_), std::int64_t{sequence_}};
    auto r = session_.run("UPDATE LOGGERS SET dTextTime = ? WHERE sLoggerName = ? AND nLoggerSequence = ?",
                          params);
    if (const auto* failure = std::get_if<mysql::Failure>(&r)) {
        fail("CAN'T UPDATE LOGGERS TABLE", failure->text);
        return -1;
    }
    return 0;
}

int CLogDbMySQLStore::AddTextW(std::int32_t seconds, const char16_t* text, const char16_t*,
                               const char* section) {
    if (section != nullptr && !platform::equal_ignoring_case(section, "TEXT")) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return -1;
    }
    pages_.valid = false;
    const std::string utf8 = ado::utf8_from_utf16(text ? std::u16string_view(text) : std::u16string_view{});
    // A free row of that second: an earlier text of the same second is never overwritten.
    const mysql::Value params[] = {db_schema::cut_to_characters(utf8, db_schema::kTextColumnSize),
                                   db_schema::date_value(seconds)};
    auto r = session_.run(
        "UPDATE " + data_table() + " SET TX = ? WHERE DT = ? AND TX IS NULL ORDER BY MS LIMIT 1", params);
    if (const auto* failure = std::get_if<mysql::Failure>(&r)) {
        fail("CAN'T WRITE LOG", failure->text);
        return -1;
    }
    if (std::get<mysql::Result>(r).affected == 0) {
        fail("CAN'T UPDATE TEXT TABLE");
        return platform::fail(platform::kErrorFileNotFound);
    }
    return stamp_text_time();
}

int CLogDbMySQLStore::AddText(std::int32_t seconds, const char* text, const char* match,
                              const char* section) {
    const std::u16string wide = ado::utf16_from_cp1252(text ? text : "");
    (void)match;
    return AddTextW(seconds, wide.c_str(), nullptr, section);
}

int CLogDbMySQLStore::AddTextPreciseW(const TimeStamp& time, const char16_t* text, const char16_t* match,
                                      const char* section) {
    return AddTextW(time.seconds, text, match, section);
}

int CLogDbMySQLStore::AddTextPrecise(const TimeStamp& time, const char* text, const char* match,
                                     const char* section) {
    return AddText(time.seconds, text, match, section);
}

int CLogDbMySQLStore::AddPosition(std::int32_t seconds, bool hasValue, float value) {
    pages_.valid = false;
    const mysql::Value date = db_schema::date_value(seconds);
    const mysql::Value find[] = {date};
    auto there = session_.run("SELECT 1 FROM " + data_table() + " WHERE DT = ? LIMIT 1", find);
    if (const auto* failure = std::get_if<mysql::Failure>(&there)) {
        fail("CAN'T WRITE LOG", failure->text);
        return -1;
    }
    if (std::get<mysql::Result>(there).rows.empty()) {
        fail("CAN'T UPDATE TEXT TABLE");
        return platform::fail(platform::kErrorFileNotFound);
    }
    // A missing or non-finite value is NULL, which the server takes.
    std::vector<mysql::Value> params{std::monostate{}, date};
    if (hasValue && std::isfinite(value)) params[0] = double{value};
    auto r = session_.run("UPDATE " + data_table() + " SET TP = ? WHERE DT = ? ORDER BY MS LIMIT 1", params);
    if (const auto* failure = std::get_if<mysql::Failure>(&r)) {
        fail("CAN'T UPDATE TEXT TABLE", failure->text);
        return -1;
    }
    return stamp_text_time();
}

int CLogDbMySQLStore::WriteHeaderTextW(const char16_t* text) {
    const std::string utf8 = ado::utf8_from_utf16(text ? std::u16string_view(text) : std::u16string_view{});
    const mysql::Value params[] = {db_schema::cut_to_characters(utf8, db_schema::kTextColumnSize),
                                   db_schema::date_value(static_cast<std::int32_t>(std::time(nullptr))),
                                   ado::utf8_from_cp1252(loggerName_), std::int64_t{sequence_}};
    auto r = session_.run(
        "UPDATE LOGGERS SET sHeader = ?, dTextTime = ? WHERE sLoggerName = ? AND nLoggerSequence = ?",
        params);
    if (const auto* failure = std::get_if<mysql::Failure>(&r)) {
        fail("CAN'T UPDATE LOGGERS TABLE", failure->text);
        return -1;
    }
    return 0;
}

int CLogDbMySQLStore::WriteHeaderText(const char* text) {
    const std::u16string wide = ado::utf16_from_cp1252(text ? text : "");
    return WriteHeaderTextW(wide.c_str());
}

int CLogDbMySQLStore::GetTextTime(std::int32_t& seconds) {
    const mysql::Value params[] = {ado::utf8_from_cp1252(loggerName_), std::int64_t{sequence_}};
    auto r =
        session_.run("SELECT dTextTime FROM LOGGERS WHERE sLoggerName = ? AND nLoggerSequence = ?", params);
    const auto* ok = std::get_if<mysql::Result>(&r);
    if (ok == nullptr || ok->rows.empty()) {
        fail("CAN'T FIND LOGGER NAME AND SEQ HDR", ok ? "" : std::get<mysql::Failure>(r).text);
        return -1;
    }
    const auto* date = std::get_if<ado::DateValue>(&ok->rows[0][0]);
    seconds = date ? db_schema::seconds_of_date(*date).value_or(0) : 0;
    return 0;
}

int CLogDbMySQLStore::ReadSection(const char* section, char* out, std::size_t* size, std::int32_t further1,
                                  std::int32_t further2) {
    const std::string_view name = section ? section : "";
    if (platform::equal_ignoring_case(name, "HEADER")) {
        const mysql::Value params[] = {ado::utf8_from_cp1252(loggerName_), std::int64_t{sequence_}};
        auto r =
            session_.run("SELECT sHeader FROM LOGGERS WHERE sLoggerName = ? AND nLoggerSequence = ?", params);
        const auto* ok = std::get_if<mysql::Result>(&r);
        if (ok == nullptr || ok->rows.empty()) {
            fail("CAN'T FIND LOGGER NAME AND SEQ HDR", ok ? "" : std::get<mysql::Failure>(r).text);
            return -1;
        }
        const std::string* h = text_of(ok->rows[0][0]);
        const std::string text = h ? trim_right(ado::cp1252_from_utf8(*h)) : std::string{};
        if (size != nullptr && out == nullptr) {
            *size = text.size() + 1;
        } else {
            hand_out(text, out, size);
        }
        return CountTextLines(text);
    }
    if (platform::equal_ignoring_case(name, "TARGETS") || platform::equal_ignoring_case(name, "SCAN UPDATES"))
        return 0;
    const bool text = platform::equal_ignoring_case(name, "TEXT");
    const bool positions = platform::equal_ignoring_case(name, "POSITIONS");
    const bool predefined = platform::equal_ignoring_case(name, "PREDEFINED");
    if (!text && !positions && !predefined) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return -1;
    }
    std::variant<mysql::Result, mysql::Failure> r;
    if (predefined) {
        r = session_.run("SELECT TX FROM " + mysql::quoted(ado::utf8_from_cp1252(tablePrefix_) + "TEXT") +
                         " WHERE TX IS NOT NULL");
    } else {
        const std::string column = text ? "TX" : "TP";
        std::string sql =
            "SELECT DT, " + column + " FROM " + data_table() + " WHERE " + column + " IS NOT NULL";
        std::vector<mysql::Value> params;
        if (further1 != 0) {
            sql += " AND DT > ?";
            params.push_back(db_schema::date_value(further1));
        }
        if (further2 != 0) {
            sql += " AND DT < ?";
            params.push_back(db_schema::date_value(further2));
        }
        r = session_.run(sql + " ORDER BY DT ASC, MS ASC", params);
    }
    if (const auto* failure = std::get_if<mysql::Failure>(&r)) {
        fail(predefined ? "CAN'T FIND TEXT/TX" : text ? "CAN'T FIND TX" : "CAN'T FIND TS", failure->text);
        return -1;
    }
    std::string lines;
    int count = 0;
    for (const mysql::Row& row : std::get<mysql::Result>(r).rows) {
        if (predefined) {
            const std::string* t = text_of(row[0]);
            const std::string line = t ? trim_right(ado::cp1252_from_utf8(*t)) : std::string{};
            if (line.empty()) continue;
            lines += line + "\r\n";
            ++count;
            continue;
        }
        const auto* date = std::get_if<ado::DateValue>(&row[0]);
        if (date == nullptr) continue;
        if (text) {
            const std::string* t = text_of(row[1]);
            const std::string line = t ? trim_right(ado::cp1252_from_utf8(*t)) : std::string{};
            if (line.empty()) continue;
            lines += line_time(date->seconds) + line + "\r\n";
        } else {
            const auto* v = std::get_if<double>(&row[1]);
            if (v == nullptr) continue;
            char number[64];
            std::snprintf(number, sizeof number, "%f", *v);
            lines += line_time(date->seconds) + number + "\r\n";
        }
        ++count;
    }
    hand_out(lines, out, size);
    return count;
}

int CLogDbMySQLStore::ReadSectionLines(const char* section, const char** lines, std::size_t* count,
                                       char* buffer, std::size_t* size, std::int32_t further1,
                                       std::int32_t further2) {
    return read_section_lines(*this, section, lines, count, buffer, size, further1, further2);
}

// As the database store of the same tables: no wide lines.
int CLogDbMySQLStore::ReadSectionLinesW(const char*, const char16_t**, std::size_t* count, char16_t*,
                                        std::size_t* size, std::int32_t, std::int32_t) {
    if (count) *count = 0;
    if (size) *size = 0;
    return 0;
}

int CLogDbMySQLStore::ReadChannelConfig(const LogHeader& header, qvr::ChannelRecord* out, std::size_t block,
                                        std::size_t first, std::size_t count) {
    if (block > 63 || block >= header.blockCount || first + count > header.blocks[block].channel_count()) {
        fail("CHANNEL NOT IN HEADER");
        return platform::fail(platform::kErrorInvalidParameter);
    }
    if (count == 0) return 0;
    if (out == nullptr) return platform::fail(platform::kErrorInvalidParameter);
    const BlockDescriptor& b = header.blocks[block];
    const std::string prefix =
        ado::utf8_from_cp1252(std::string_view(b.prefix.data(), strnlen(b.prefix.data(), 2)));
    const std::string sql =
        "select sTag, sDescription, nType, sUnits, fMinScale, fMaxScale, sLowStateDesc, "
        "sHighStateDesc from " +
        mysql::quoted(ado::utf8_from_cp1252(tablePrefix_) + "CHANNELS") +
        " where sPrefix = ? AND nChannelNumber = ?";
    for (std::size_t k = 0; k < count; ++k) {
        const mysql::Value params[] = {prefix,
                                       std::int64_t{b.firstChannel} + static_cast<std::int64_t>(first + k)};
        auto r = session_.run(sql, params);
        if (const auto* failure = std::get_if<mysql::Failure>(&r)) {
            fail("CAN'T FIND CHANNEL", failure->text);
            return -1;
        }
        qvr::ChannelRecord& c = out[k];
        c = qvr::ChannelRecord{};
        const auto& rows = std::get<mysql::Result>(r).rows;
        if (rows.empty()) continue;
        const mysql::Row& row = rows[0];
        const auto text = [&](std::size_t i) {
            const std::string* t = text_of(row[i]);
            return t ? trim_right(ado::cp1252_from_utf8(*t)) : std::string{};
        };
        const auto number = [&](std::size_t i) {
            const auto* d = std::get_if<double>(&row[i]);
            return d ? static_cast<float>(*d) : 0.0f;
        };
        qvr::split_text(c, qvr::ChannelText::Tag, text(0));
        qvr::split_text(c, qvr::ChannelText::Description, text(1));
        const auto* type = std::get_if<std::int64_t>(&row[2]);
        if (type == nullptr) continue;
        c.head.Type = static_cast<qvr::ChannelKind>(*type);
        c.head.Flags.set(qvr::AnalogFlag::Enable, true);
        if (qvr::is_digital(c.head.Type)) {
            const std::string low = text(6).substr(0, 31);
            const std::string high = text(7).substr(0, 31);
            std::memcpy(c.digital.LowStateText, low.data(), low.size());
            std::memcpy(c.digital.HighStateText, high.data(), high.size());
        } else {
            qvr::split_text(c, qvr::ChannelText::Units, text(3));
            c.analog.MinimumUnits = number(4);
            c.analog.MaximumUnits = number(5);
        }
    }
    return 0;
}

}  // namespace log_stores
