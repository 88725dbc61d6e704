// The factories choose the class by the location's kind; the latest run of a database
// logger is found through the collection of its location.
#include "log_stores/log_factory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log_stores/db_collection/db_collection.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/run_file_collection/run_file_collection.h"
#include "log_stores/run_file_store/run_file_store.h"

namespace {

using namespace log_stores;

TEST(LogFactory, OnlyKindsWithABackEndGiveObjects) {
    for (const char* location : {static_cast<const char*>(nullptr), "", "/data/LG_200913_142709.qdl",
                                 "\\\\plant\\share\\run.qdl", "C:\\runs"}) {
        auto store = CreateLogStore(location);
        EXPECT_NE(dynamic_cast<CLogFileStore*>(store.get()), nullptr) << (location ? location : "(none)");
        auto collection = CreateLogCollection(location);
        EXPECT_NE(dynamic_cast<CLogFileCollection*>(collection.get()), nullptr) << (location ? location : "(none)");
    }
    for (const char* location : {"PROVIDER=SQLOLEDB;Data Source=b", "Provider=SQLite.File;Data Source=/x.sqlite"}) {
        EXPECT_NE(dynamic_cast<CLogDbStore*>(CreateLogStore(location).get()), nullptr) << location;
        EXPECT_NE(dynamic_cast<CLogDbCollection*>(CreateLogCollection(location).get()), nullptr) << location;
    }
    for (const char* location : {"PROVIDER=WITSML;x", "provider=osdu", "PROVIDER=mysql;Server=a"}) {
        EXPECT_EQ(CreateLogStore(location), nullptr) << location;
        EXPECT_EQ(CreateLogCollection(location), nullptr) << location;
    }
}

// Answers GetLatestRun with the run it was given, and records how it was opened.
class LatestRunCollection : public CLogCollection {
  public:
    LatestRunCollection(const char* run, std::string* opened) : run_(run), opened_(opened) {}
    int Open(const char* connection, const char* folder, const char* logger, const char* prefix,
             std::uint32_t access) override {
        *opened_ = std::string(connection) + "|" + folder + "|" + logger + "|" + prefix + "|" +
                   std::to_string(access == kGenericRead);
        return 0;
    }
    int GetLatestRun(char* name, std::size_t* size, TimeStamp*, TimeStamp*, bool any) override {
        if (run_ == nullptr || !any || *size < std::strlen(run_) + 1) return 0;
        std::strcpy(name, run_);
        return 1;
    }
    int UseforLogging(CLogStore&, LogHeader&, const char*, bool, bool) override { return 0; }

  private:
    const char* run_;
    std::string* opened_;
};

TEST(LogFactory, TheLatestRunLocationNamesTheLoggerAndItsRun) {
    std::string opened;
    const auto with_run = [&opened](const char* run) {
        return [run, &opened](const char*) { return std::make_unique<LatestRunCollection>(run, &opened); };
    };
    EXPECT_STREQ(GetLatestRunLocation("PROVIDER=SQLOLEDB;DB=x;LoggerName=Mill", with_run("LoggerSeq=00000042")),
                 "PROVIDER=SQLOLEDB;DB=x;LoggerName=Mill;LoggerSeq=00000042");
    EXPECT_EQ(opened, "PROVIDER=SQLOLEDB;DB=x||Mill||1");
    EXPECT_STREQ(GetLatestRunLocation("PROVIDER=SQLOLEDB;LoggerName=Mill;DB=x", with_run(nullptr)), "");

    struct Case {
        std::string location;
        const char* expected;
    };
    const std::string run = "PROVIDER=SQLOLEDB;LoggerName=Mill;LoggerSeq=00000007";
    for (const Case& c : {Case{run, run.c_str()}, Case{"PROVIDER=SQLOLEDB;DB=x", ""},
                          Case{"PROVIDER=SQLOLEDB;LoggerName=" + std::string(1300, 'M'), ""},
                          Case{"PROVIDER=SQLOLEDB;DB=" + std::string(1240, 'd') + ";LoggerName=Mill", ""}}) {
        opened.clear();
        EXPECT_STREQ(GetLatestRunLocation(c.location.c_str(), with_run("LoggerSeq=00000001")), c.expected)
            << c.location.substr(0, 40);
    }
    // A database the collection cannot open has no latest run.
    EXPECT_STREQ(GetLatestRunLocation("PROVIDER=SQLOLEDB;DB=x;LoggerName=Mill"), "");
    EXPECT_STREQ(GetLatestRunLocation(nullptr), "");
}

}  // namespace
