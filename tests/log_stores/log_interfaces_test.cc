#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#include "log_stores/log_collection.h"
#include "log_stores/log_store.h"
#include "platform/last_error.h"

namespace {

using namespace log_stores;

// The least a back end must give: everything else keeps the base's result.
class BareStore : public CLogStore {
  public:
    int ReadHeader(LogHeader&) override { return 0; }
    int ReadLogs(std::int32_t, const LogHeader&, std::uint8_t*, std::int32_t, std::int32_t, const char*,
                 std::int32_t) override {
        return 0;
    }
    int ReadLog(std::int32_t, const LogHeader&, std::uint8_t*, std::int32_t, std::int32_t, std::int32_t, const char*,
                std::int32_t, bool) override {
        return 0;
    }
    int GetNoLogs(const LogHeader&) override { return 0; }
};

class BareCollection : public CLogCollection {
  public:
    int UseforLogging(CLogStore&, LogHeader&, const char*, bool, bool) override { return 0; }
};

TEST(LogInterfaces, StoreBaseResults) {
    std::unique_ptr<CLogStore> store = std::make_unique<BareStore>();
    LogHeader header;
    header.recordCount = 77;
    const TimeStamp t{1, 0, 0};
    EXPECT_EQ(store->Open(nullptr, "/x.qdl", kGenericRead), 0);
    EXPECT_EQ(store->OpenForLogging(header), 0);
    char text[8] = "keep";
    std::size_t size = sizeof text;
    store->GetLocation(text, &size);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(store->Close(), 0);
    EXPECT_EQ(store->WriteEndOffset(0), 0);
    EXPECT_EQ(store->WriteHeader(header, true), 0);
    EXPECT_EQ(store->ReadChannelConfig(header, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(store->WriteLogs(header, nullptr, 0), 0);
    EXPECT_EQ(store->ReadLogsByTime(nullptr, nullptr, header, nullptr, 0, 0, 0, nullptr, false, false), 0);
    EXPECT_EQ(store->RewriteLogs(0, header, nullptr, 0), 0);
    EXPECT_EQ(store->GetNoMarkedLogs(header), 0);
    EXPECT_EQ(store->ReadSection("TEXT", nullptr, &size, 0, 0), 0);
    EXPECT_EQ(store->AddText(0, "x", nullptr, nullptr), 0);
    EXPECT_EQ(store->AddTextPreciseW(t, u"x", nullptr, nullptr), 0);
    EXPECT_EQ(store->AddPosition(0, true, 1.0f), 0);
    EXPECT_EQ(store->WriteHeaderText("h"), 0);
    EXPECT_EQ(store->WriteFormulae("AB", 1, "f"), 0);
    EXPECT_EQ(store->WriteUnitCategory("u", "t"), 0);
    std::int32_t seconds = 5;
    EXPECT_EQ(store->GetTextTime(seconds), -1);
    EXPECT_STREQ(store->GetErrorText(), "");
    EXPECT_STREQ(store->GetErrorContext(), "");
    EXPECT_EQ(store->Rename("N_"), 0);
    EXPECT_EQ(store->TruncateLogs(header, 1), 0);
    EXPECT_EQ(store->GetNoLogsInRange(t, t, header), 77);
}

TEST(LogInterfaces, CollectionBaseKeepsPrefixesUpTo204Characters) {
    std::unique_ptr<CLogCollection> collection = std::make_unique<BareCollection>();
    const std::string longest(204, 'p');
    ASSERT_EQ(collection->Open(nullptr, nullptr, "L", longest.c_str(), kGenericRead), 0);
    EXPECT_EQ(collection->prefix(), longest);

    errno = 17;
    const std::string too_long(205, 'q');
    EXPECT_EQ(collection->Open(nullptr, nullptr, "L", too_long.c_str(), kGenericRead), -1);
    EXPECT_EQ(platform::last_error(), 0);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(collection->prefix(), longest);

    ASSERT_EQ(collection->Open(nullptr, nullptr, "L", nullptr, kGenericRead), 0);
    EXPECT_EQ(collection->prefix(), "");
}

TEST(LogInterfaces, CollectionBaseResults) {
    BareCollection collection;
    BareStore store;
    LogHeader header;
    std::size_t size = 0;
    TimeStamp start{}, stop{};
    char name[4] = "abc";
    EXPECT_EQ(collection.BeginRunList(&size), 0);
    EXPECT_EQ(collection.GetNextRun(name, &start, &stop), 0);
    EXPECT_EQ(collection.GetLatestRun(name, &size, &start, &stop, true), 0);
    std::int32_t when = 0;
    EXPECT_EQ(collection.NewRun(&when, false, 0, header, "", false, nullptr, false, nullptr), nullptr);
    EXPECT_EQ(collection.NewRunW(&when, false, 0, header, u"", false, nullptr, false, nullptr), nullptr);
    EXPECT_EQ(collection.OpenStore("run", kGenericRead), nullptr);
    EXPECT_EQ(collection.FinishRun(store, nullptr, nullptr, false), 0);
    EXPECT_STREQ(collection.GetErrorText(), "");
    EXPECT_STREQ(collection.GetErrorContext(), "");
    size = sizeof name;
    collection.GetStoreLocation("run", name, &size);
    EXPECT_STREQ(name, "abc");
    collection.DeleteRunsBefore(0);
    collection.Placeholder(0);
}

}  // namespace
