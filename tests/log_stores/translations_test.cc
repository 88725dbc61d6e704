// Translation tables read from files in the translations folder, and the lookups.
#include "log_stores/translations/translations.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host_identity.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/sink_testing.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

std::u16string translated(int index, const char* text, std::size_t capacity = 64) {
    std::vector<char16_t> out(capacity + 1, u'#');
    Translate(index, text, out.data(), capacity);
    return std::u16string(out.data());
}

class Translations : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::path(qvr_test::test_root()) / "TRANSLATIONS";
        fs::create_directories(folder_);
        ::setenv("QVR_TRANSLATIONS", folder_.c_str(), 1);
        qvr::set_sink_capture([this](const qvr::SinkEntry& e) { reports_.push_back(e); });
    }
    void TearDown() override { qvr::set_sink_capture({}); }

    void write(const std::string& file, const std::string& bytes) {
        std::ofstream(folder_ / file, std::ios::binary) << bytes;
    }
    // UTF-16 little-endian with its byte order mark.
    void write_utf16(const std::string& file, const std::u16string& text) {
        std::string bytes = "\xFF\xFE";
        for (const char16_t u : text) {
            bytes.push_back(static_cast<char>(u & 0xFF));
            bytes.push_back(static_cast<char>(u >> 8));
        }
        write(file, bytes);
    }
    std::string path(const std::string& file) const { return (folder_ / file).string(); }

    fs::path folder_;
    std::vector<qvr::SinkEntry> reports_;
};

TEST_F(Translations, WithoutAnyFileTheTextComesBackWidened) {
    EXPECT_EQ(Translate(kTranslateTags, "PUMP_1", nullptr, 0), 0);
    EXPECT_EQ(translated(kTranslateTags, "PUMP_1"), u"PUMP_1");
    EXPECT_EQ(translated(kTranslateUnits, "\xB0" "C"), u"\u00B0C");
    EXPECT_EQ(translated(kTranslateUnits, "\x80"), u"\u20AC");
    EXPECT_TRUE(reports_.empty());
    char message[kTranslationMessageSize] = "untouched";
    EXPECT_EQ(LoadTranslations(nullptr, message, sizeof message), 1);
}

TEST_F(Translations, FileContentsAsATable) {
    struct Case {
        const char* what;
        std::string content;
        const char* text;
        std::u16string expected;
        int result;
        std::size_t capacity = 64;
    };
    const Case cases[] = {
        {"comma separator", "SOURCE,TARGET\r\nPUMP,POMPE\r\n", "pump", u"POMPE", 1},
        {"TAB before comma", "SOURCE\tTARGET\r\nA,B\tC,D\r\n", "a,b", u"C,D", 1},
        {"title skipped", "PUMP,TITLE\r\nVALVE,VANNE\r\n", "PUMP", u"PUMP", 0},
        {"first pair wins", "S,T\r\nX,first\r\nx,second\r\n", "X", u"first", 1},
        {"empty sides skipped", "S,T\r\n,nothing\r\nempty,\r\nno separator\r\nK,V\r\n", "empty", u"empty", 0},
        {"last line without CR LF", "S,T\r\nK,V", "k", u"V", 1},
        {"lines ended by LF alone", "S,T\nA,1\nB,2\n", "B", u"2", 1},
        {"cut to capacity - 1", "S,T\r\nLONG,ABCDEFGHIJ\r\n", "LONG", u"ABCD", 1, 5},
        {"not found, cut", "S,T\r\nK,V\r\n", "UNKNOWN", u"UNK", 0, 4},
        {"UTF-8 degrees", "S,T\r\n\xC2\xB0" "C,degr\xC3\xA9s Celsius\r\n", "\xB0" "c", u"degr\u00E9s Celsius", 1},
        {"UTF-8 euro sign", "S,T\r\n\xE2\x82\xAC,Euro\r\n", "\x80", u"Euro", 1},
        {"case beyond Latin-1", "S,T\r\n\xC5\xA1" "ibenik,Sebenico\r\n", "\x8AIBENIK", u"Sebenico", 1},
        {"UTF-8 byte order mark", "\xEF\xBB\xBFS,T\r\nK,V\r\n", "K", u"V", 1},
    };
    for (const auto& c : cases) {
        write("units.txt", c.content);
        EXPECT_EQ(Translate(kTranslateUnits, c.text, std::vector<char16_t>(c.capacity).data(), c.capacity), c.result)
            << c.what;
        EXPECT_EQ(translated(kTranslateUnits, c.text, c.capacity), c.expected) << c.what;
        FreeTranslations();
    }
}

TEST_F(Translations, AUtf16FileAndWindows1252Texts) {
    write_utf16("descriptions.txt", u"SOURCE\tTRANSLATION\r\nTEMP\u00C9RATURE\tTemperatur \u2206\r\n"
                                    u"\u20AC/kWh\tPreis \U0001F4B6\r\n");
    EXPECT_EQ(translated(kTranslateDescriptions, "temp\xE9rature"), u"Temperatur \u2206");
    EXPECT_EQ(translated(kTranslateDescriptions, "\x80/KWH"), u"Preis \U0001F4B6");
    EXPECT_EQ(translated(kTranslateDescriptions, "\x80/KWH", 8), u"Preis ") << "never half a pair";
}

TEST_F(Translations, TheCsvFileServesWhenThereIsNoTxtFile) {
    write("tags.csv", "S,T\r\nP1,Pump one\r\n");
    EXPECT_EQ(translated(kTranslateTags, "P1"), u"Pump one");
    FreeTranslations();
    write("tags.txt", "S,T\r\nP1,From txt\r\n");
    EXPECT_EQ(translated(kTranslateTags, "P1"), u"From txt");
}

TEST_F(Translations, ChannelRecordTexts) {
    write("tags.txt", "S,T\r\nLT101,NIVEAU-CUVE-NORD-EST\r\n");
    write("descriptions.txt", "S,T\r\nTank level,Niveau de la cuve\r\n");
    write("units.txt", "S,T\r\nm3/h,m\xC2\xB3/h\r\n");
    qvr::ChannelRecord r{};
    r.head.Type = qvr::ChannelKind::AI;
    chanrec_SetTag(&r, "LT101");
    chanrec_SetDescription(&r, "TANK LEVEL");
    chanrec_SetUnits(&r, "M3/H");
    EXPECT_EQ(std::u16string(TranslateTag(&r)), u"NIVEAU-CUVE-NOR") << "15 code units";
    EXPECT_EQ(std::u16string(TranslateDescription(&r)), u"Niveau de la cuve");
    EXPECT_EQ(std::u16string(TranslateUnits(&r)), u"m\u00B3/h");
    chanrec_SetTag(&r, "OTHER");
    EXPECT_EQ(std::u16string(TranslateTag(&r)), u"OTHER");
}

TEST_F(Translations, FailuresAndTheirMessages) {
    struct Case {
        const char* what;
        std::string content;
        std::string message;
    };
    const Case cases[] = {
        {"title only", "SOURCE,TARGET\r\n",
         "NO TRANSLATIONS PARSED IN FILE " + path("tags.txt") + " - USE <tab> or <comma> as a SEPARATOR"},
        {"no separator", "just words\r\nmore words\r\n",
         "NO TRANSLATIONS PARSED IN FILE " + path("tags.txt") + " - USE <tab> or <comma> as a SEPARATOR"},
        {"empty", "", "CAN'T GET FILE SIZE OR EMPTY TRANSLATIONS FILE " + path("tags.txt") + " - ERROR 0"},
    };
    for (const auto& c : cases) {
        write("tags.txt", c.content);
        write("descriptions.txt", "S,T\r\nD,E\r\n");
        char message[kTranslationMessageSize] = "";
        EXPECT_EQ(LoadTranslations(nullptr, message, sizeof message), 0) << c.what;
        EXPECT_EQ(std::string(message), c.message) << c.what;
        EXPECT_EQ(translated(kTranslateDescriptions, "D"), u"D") << "loading stopped at the first failure";
        FreeTranslations();
    }
    fs::remove(folder_ / "tags.txt");
    fs::create_directory(folder_ / "tags.txt");
    char message[kTranslationMessageSize] = "";
    EXPECT_EQ(LoadTranslationTable(nullptr, kTranslateTags, "tags", message, sizeof message), 0);
    EXPECT_EQ(std::string(message), "CAN'T READ TRANSLATIONS FILE " + path("tags.txt") + " - ERROR 21");
    char small[12] = "";
    EXPECT_EQ(LoadTranslationTable(nullptr, kTranslateTags, "tags", small, sizeof small), 0);
    EXPECT_EQ(std::string(small), "CAN'T READ ") << "cut to the buffer";
}

TEST_F(Translations, AFailedLoadIsReportedOnceAndNotRepeated) {
    write("tags.txt", "SOURCE,TARGET\r\n");
    EXPECT_EQ(translated(kTranslateTags, "A"), u"A");
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].type, 4);
    EXPECT_NE(reports_[0].message.find("NO TRANSLATIONS PARSED IN FILE"), std::string::npos);
    write("tags.txt", "SOURCE,TARGET\r\nA,B\r\n");
    EXPECT_EQ(translated(kTranslateTags, "A"), u"A") << "loaded once per process";
    EXPECT_EQ(reports_.size(), 1u);
    FreeTranslations();
    EXPECT_EQ(translated(kTranslateTags, "A"), u"B");
}

TEST_F(Translations, TheServerIsTheUsersSettingOrThisComputer) {
    EXPECT_EQ(std::string(GetTranslationServer()), platform::computer_name());
    const char name[] = "PLANTSRV";
    uint32_t type = kRegSz;
    uint32_t size = sizeof name;
    ASSERT_EQ(reg_AccessProductValue(platform::RegistryHive::user, kProductKey, platform::kKeySetValue,
                                     "ServerName", &type, const_cast<char*>(name), &size),
              0);
    EXPECT_EQ(std::string(GetTranslationServer()), "PLANTSRV");
}

TEST_F(Translations, ThreadsLookingUpTogetherLoadOnce) {
    std::string content = "S,T\r\n";
    for (int i = 0; i < 500; ++i) content += "K" + std::to_string(i) + ",V" + std::to_string(i) + "\r\n";
    write("tags.txt", content);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string key = "k" + std::to_string((i + t * 37) % 500);
                const std::u16string expected = u"V" + std::u16string(key.begin() + 1, key.end());
                char16_t out[16];
                if (Translate(kTranslateTags, key.c_str(), out, 16) != 1 || out != expected) ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(reports_.empty());
}

}  // namespace
