// The key search replication reads its catalogs and data sources with.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "log_stores/db_replication/connection_key.h"
#include "log_stores/db_replication/replication_statements.h"

namespace {

using log_stores::db_replication::connection_key_value;

struct KeyCase {
    const char* name;
    std::string text;
    const char* key;
    std::optional<std::string> value;
};

TEST(ReplicationKey, FindsValuesAsTheKeyIsWritten) {
    const KeyCase cases[] = {
        {"letter case ignored", "Provider=SQLOLEDB;data source=PLANT1;Initial Catalog=Logs", ";DATA SOURCE=",
         "PLANT1"},
        {"value ends at the next ';'", "a=1;Initial Catalog=Logs;User ID=u", "INITIAL CATALOG=", "Logs"},
        {"value runs to the end", "a=1;Initial Catalog=Logs", "INITIAL CATALOG=", "Logs"},
        {"empty value is a value", "a=1;Initial Catalog=;b=2", "INITIAL CATALOG=", ""},
        {"first item has no ';' before it", "Data Source=PLANT1;Initial Catalog=Logs", ";DATA SOURCE=",
         std::nullopt},
        {"absent", "Provider=SQLOLEDB;Server=PLANT1", ";DATA SOURCE=", std::nullopt},
        {"first occurrence counts", "x;Data Source=A;Data Source=B", ";DATA SOURCE=", "A"},
        {"100 characters fit", "x;Data Source=" + std::string(100, 'a'), ";DATA SOURCE=", std::string(100, 'a')},
        {"101 characters are missing", "x;Data Source=" + std::string(101, 'a') + ";y=1", ";DATA SOURCE=",
         std::nullopt},
        {"key longer than the text", "x", ";DATA SOURCE=", std::nullopt},
    };
    for (const KeyCase& c : cases) EXPECT_EQ(connection_key_value(c.text, c.key), c.value) << c.name;
}

TEST(ReplicationStatements, DoubleEveryQuoteInsideNLiterals) {
    namespace rs = log_stores::db_replication;
    EXPECT_EQ(rs::n_literal_value("O'Hara''s"), "O''Hara''''s");
    EXPECT_EQ(rs::drop_publication("a'); drop table LOGGERS; --"),
              "exec sp_dropmergepublication @publication = N'a''); drop table LOGGERS; --'");
    const unsigned char job[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(rs::job_id_text(job), "0x000fa0ff");
}

}  // namespace
