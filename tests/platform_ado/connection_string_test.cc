#include "platform/ado/connection_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace ado;

const DriverPaths kDrivers{"/drv/sqlite.so", "/drv/maria.so", "/drv/tds.so"};

TEST(ConnectionString, KeysQuotesBracesAndDuplicates) {
    const auto keys = parse_connection_string(
        " Provider = SQLite.File ;Data Source=\"C:\\a;b.db\"; noequals ; X='it''s'; Y={a;}}b}; Provider=second;=v;Z=");
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys[0].name, "Provider");
    EXPECT_EQ(keys[0].value, "SQLite.File");
    EXPECT_EQ(keys[1].value, "C:\\a;b.db");
    EXPECT_EQ(keys[2].value, "it's");
    EXPECT_EQ(keys[3].value, "a;}b");
    EXPECT_EQ(*find_key(keys, "provider"), "second") << "the last of duplicates wins";
    EXPECT_EQ(*find_key(keys, "Z"), "");
    EXPECT_FALSE(find_key(keys, "noequals"));
    EXPECT_TRUE(parse_connection_string("").empty());
    EXPECT_EQ(parse_connection_string("A='unterminated;B=1")[0].value, "unterminated;B=1");
}

TEST(ConnectionString, ProviderMap) {
    struct Case {
        const char* input;
        ProviderKind kind;
        const char* odbc;  // nullptr: refused
        uint32_t refusal;
    };
    const Case cases[] = {
        {"Provider=SQLite.File; Data Source=/data/run.db", ProviderKind::sqlite_file,
         "Driver=/drv/sqlite.so;Database=/data/run.db;JournalMode=WAL;Timeout=300000;NoCreat=1", 0},
        {"Provider=SQLite.File;Data Source=C:\\data\\run.db;Mode=Read", ProviderKind::sqlite_file,
         "Driver=/drv/sqlite.so;Database=C:/data/run.db;JournalMode=WAL;Timeout=300000;NoCreat=1;ReadOnly=1", 0},
        {"Provider=SQLOLEDB.1;Data Source=db.example,1500;Initial Catalog=Logs;User ID=sa;Password=pw",
         ProviderKind::sql_server,
         "Driver=/drv/tds.so;Server=db.example;Port=1500;Database=Logs;UID=sa;PWD=pw;TDS_Version=7.4;"
         "ClientCharset=UTF-8",
         0},
        {"Provider=SQLOLEDB;Server=h;uid=ops;pwd=pw", ProviderKind::sql_server,
         "Driver=/drv/tds.so;Server=h;UID=ops;PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8", 0},
        {"Provider=SQLOLEDB;Server=h;uid=old;User ID=new;Password=a;PWD=b", ProviderKind::sql_server,
         "Driver=/drv/tds.so;Server=h;UID=new;PWD=b;TDS_Version=7.4;ClientCharset=UTF-8", 0},
        {"Provider=SQLOLEDB;Data Source=host;Integrated Security=SSPI", ProviderKind::unavailable, nullptr,
         0x80004005},
        {"Provider=MSDASQL;Driver=/x/maodbc.so;Server=127.0.0.1;Port=3307;PWD={a;b}", ProviderKind::odbc,
         "Driver=/x/maodbc.so;Server=127.0.0.1;Port=3307;PWD={a;b}", 0},
        {"DSN=logs", ProviderKind::odbc, "DSN=logs", 0},
        {"Provider=Microsoft.Jet.OLEDB.4.0; Jet OLEDB:Engine Type=5; Data Source=\"C:\\d\\L.mdb\"",
         ProviderKind::unavailable, nullptr, 0x800A0E7A},
        {"Provider=MS Remote;Remote Server=http://x;Remote Provider=SQLOLEDB", ProviderKind::unavailable, nullptr,
         0x800A0E7A},
        {"Provider=SQLOLEDBX;Data Source=h", ProviderKind::unavailable, nullptr, 0x800A0E7A},
        {"Provider=SQLite.File", ProviderKind::unavailable, nullptr, 0x80004005},
        {"Provider=MSDASQL;Server=x", ProviderKind::unavailable, nullptr, 0x80004005},
    };
    for (const auto& c : cases) {
        const ProviderTarget t = map_provider(c.input, kDrivers);
        EXPECT_EQ(t.kind, c.kind) << c.input;
        if (c.odbc) {
            EXPECT_EQ(t.odbc, c.odbc) << c.input;
            EXPECT_EQ(t.refusal, 0) << c.input;
        } else {
            EXPECT_EQ(static_cast<uint32_t>(t.refusal), c.refusal) << c.input;
            EXPECT_FALSE(t.refusal_text.empty()) << c.input;
        }
    }
    EXPECT_EQ(map_provider("Provider=Microsoft.Jet.OLEDB.4.0", kDrivers).refusal_text,
              "provider not available on this platform");
    ProviderOptions create;
    create.create_database = true;
    create.login_timeout = std::chrono::seconds(2);
    EXPECT_EQ(map_provider("Provider=SQLite.File;Data Source=a.db", kDrivers, create).odbc,
              "Driver=/drv/sqlite.so;Database=a.db;JournalMode=WAL;Timeout=2000");
}

TEST(ConnectionString, OdbcValuesAreBracedWhenNeeded) {
    EXPECT_EQ(odbc_pair("PWD", "plain"), "PWD=plain");
    EXPECT_EQ(odbc_pair("PWD", "a;b}c"), "PWD={a;b}}c}");
    EXPECT_EQ(odbc_pair("PWD", " lead"), "PWD={ lead}");
}

}  // namespace
