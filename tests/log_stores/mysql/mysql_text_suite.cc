// The Base64 texts, the connection string keys and the digital state texts of the MySQL back end.
#include <gtest/gtest.h>

#include <string>

#include "log_stores/log_factory.h"
#include "log_stores/mysql/base64_text.h"
#include "log_stores/mysql/connection_keys.h"
#include "log_stores/mysql/mysql_collection.h"
#include "log_stores/mysql/mysql_record.h"
#include "log_stores/mysql/mysql_store.h"
#include "log_stores/mysql/register.h"

using log_stores::Base64DecodeText;
using log_stores::Base64EncodeText;
using log_stores::mysql::parse_connection_keys;

TEST(MySqlBase64Text, DecodesUpToTheFirstPadOrForeignCharacter) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"YWJjZGVm", "abcdef"},
        {"YWJjZGU=", "abcde"},
        {"YWJjZA==", "abcd"},
        {"YWJjZGU=Zm9v", "abcde"},
        {"YWJj ZGVm", "abc"},
        {"YWJj;x", "abc"},
        {"", ""},
        {"Y", ""},
        {"YW", "a"},
        {"=YWJj", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Base64DecodeText(c.in), c.out) << c.in;
}

TEST(MySqlBase64Text, EncodesTheStandardFormAndRoundTripsEveryByte) {
    EXPECT_EQ(Base64EncodeText("abcde"), "YWJjZGU=");
    EXPECT_EQ(Base64EncodeText("abcd"), "YWJjZA==");
    EXPECT_EQ(Base64EncodeText(""), "");
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    for (std::size_t n = 0; n <= 5; ++n)
        EXPECT_EQ(Base64DecodeText(Base64EncodeText(bytes.substr(0, bytes.size() - n))),
                  bytes.substr(0, bytes.size() - n));
}

TEST(MySqlConnectionKeys, KeysInAnyOrderAndLetterCase) {
    const auto r =
        parse_connection_keys("PROVIDER=MYSQL;db=logs;Port=3307;password=YWJjZGU=;uSeR=me;HOST=db.plant");
    ASSERT_TRUE(r.keys) << r.context;
    EXPECT_EQ(r.keys->host, "db.plant");
    EXPECT_EQ(r.keys->user, "me");
    EXPECT_EQ(r.keys->database, "logs");
    EXPECT_EQ(r.keys->port, 3307u);
    EXPECT_EQ(r.keys->password, "abcde");
}

TEST(MySqlConnectionKeys, DefaultsAndRefusals) {
    const auto plain = parse_connection_keys("PROVIDER=MYSQL;USER=u;DB=d");
    ASSERT_TRUE(plain.keys);
    EXPECT_EQ(plain.keys->host, "localhost");
    EXPECT_EQ(plain.keys->port, 0u);
    EXPECT_EQ(plain.keys->password, "");
    EXPECT_EQ(parse_connection_keys("PROVIDER=MYSQL;DB=d").context, "NO USER IN CONNECTION STRING");
    EXPECT_EQ(parse_connection_keys("PROVIDER=MYSQL;USER=u").context, "NO DB IN CONNECTION STRING");
    // Empty values are values; a last value needs no ';'.
    const auto empty = parse_connection_keys("USER=;DB=");
    ASSERT_TRUE(empty.keys);
    EXPECT_EQ(empty.keys->user, "");
}

TEST(MySqlConnectionKeys, AKeyInsideAnotherValueIsNotAKey) {
    // "DB=" inside the host name, "USER=" inside the password: only whole parts count.
    const auto r = parse_connection_keys("PROVIDER=MYSQL;HOST=xDB=y;PASSWORD=USER=;USER=u;DB=d");
    ASSERT_TRUE(r.keys) << r.context;
    EXPECT_EQ(r.keys->host, "xDB=y");
    EXPECT_EQ(r.keys->user, "u");
    EXPECT_EQ(r.keys->database, "d");
}

TEST(MySqlConnectionKeys, ValuesAreCutToTheirCapacity) {
    const std::string long_user(300, 'u');
    const auto r =
        parse_connection_keys("USER=" + long_user + ";DB=d;PORT=123456789012;HOST=" + std::string(400, 'h'));
    ASSERT_TRUE(r.keys);
    EXPECT_EQ(r.keys->user.size(), 99u);
    EXPECT_EQ(r.keys->host.size(), 255u);
    // Cut to nine digits, past the port range: the connector's default.
    EXPECT_EQ(r.keys->port, 0u);
}

TEST(MySqlRegistration, TheFactoriesMakeTheMySqlKindOnceRegistered) {
    log_stores::RegisterMySqlLogStores();
    const char* location = "PROVIDER=MYSQL;USER=u;DB=d;LoggerName=L;LoggerSeq=1";
    EXPECT_NE(dynamic_cast<log_stores::CLogDbMySQLStore*>(log_stores::CreateLogStore(location).get()),
              nullptr);
    EXPECT_NE(
        dynamic_cast<log_stores::CLogDbMySQLCollection*>(log_stores::CreateLogCollection(location).get()),
        nullptr);
}

TEST(MySqlStateTexts, AStoredTextNamesTheStateWhoseTextItEquals) {
    const log_stores::mysql::StateTexts valve{"CLOSED", "OPEN"};
    const struct {
        const char* stored;
        log_stores::mysql::StateTexts states;
        std::int32_t flags;  // -1: no state
    } cases[] = {
        {"OPEN", valve, 1},
        {"CLOSED", valve, 0},
        {"open   ", valve, 1},
        {"Closed", {"CLOSED   ", "OPEN"}, 0},
        {"OPENED", valve, -1},
        {" OPEN", valve, -1},
        {"", valve, -1},
        {"", {"", "RUNNING"}, 0},
        // Equal texts cannot tell the states apart.
        {"ON", {"ON", "on "}, -1},
        {"\x80 high", {"low", "\x80 HIGH"}, 1},
    };
    for (const auto& c : cases) {
        const auto state = log_stores::mysql::digital_state(c.stored, c.states);
        EXPECT_EQ(state ? state->flags : -1, c.flags) << '"' << c.stored << '"';
        if (state) {
            EXPECT_EQ(state->value, 0.0f);
        }
    }
}
