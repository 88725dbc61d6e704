// The archive's reading of its connection texts: whole key names shortened, values found
// by the first key that occurs, and the flavour chosen by the archive text.
#include <gtest/gtest.h>

#include <string>

#include "log_stores/db_archive/archive_connection_text.h"

namespace {

using namespace log_stores::archive;

struct Shortening {
    const char* text;
    const char* expected;
};

TEST(ArchiveConnectionText, OnlyWholeCredentialKeyNamesAreShortened) {
    const Shortening cases[] = {
        {"Provider=SQLOLEDB;Data Source=plant;User ID=ops;Password=s3cret", "Provider=SQLOLEDB;Data Source=plant;uid=ops;pwd=s3cret"},
        // The file database's own password key keeps its name, so the password still reaches it.
        {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\l.mdb;Jet OLEDB:Database Password=pw",
         "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\l.mdb;Jet OLEDB:Database Password=pw"},
        // Values are never touched, however they read.
        {"User ID=Password;Password=User ID", "uid=Password;pwd=User ID"},
        {"Password='a;Password=b';User ID = x ", "pwd='a;Password=b';uid = x "},
        // Exact case, as the providers' own short names are compared.
        {"user id=a;PASSWORD=b;Old Password=c", "user id=a;PASSWORD=b;Old Password=c"},
        {"", ""},
        {";;User ID;=x;", ";;User ID;=x;"},
    };
    for (const auto& c : cases) EXPECT_EQ(shorten_credential_keys(c.text), c.expected) << c.text;
}

struct ValueCase {
    const char* text;
    const char* data_source;
    const char* catalog;
};

TEST(ArchiveConnectionText, ValuesComeFromTheFirstKeyThatOccurs) {
    const ValueCase cases[] = {
        {"Provider=SQLOLEDB;Data Source=plant,1433;Initial Catalog=Logs;uid=a", "plant,1433", "Logs"},
        {"Provider=SQLOLEDB;Server=plant;Database=Logs", "plant", "Logs"},
        // "Data Source" wins wherever it stands; the value is untrimmed and runs to the ';'.
        {"Server=b;Data Source= a ;Database=x;Initial Catalog=y", " a ", "y"},
        {"Data Source=C:\\logs\\l.mdb", "C:\\logs\\l.mdb", ""},
        {"Provider=SQLite.File", "", ""},
        {"Data Source", "", ""},
        {"Data Source;x=1", "1", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(data_source_of(c.text), c.data_source) << c.text;
        EXPECT_EQ(catalog_of(c.text), c.catalog) << c.text;
    }
}

TEST(ArchiveConnectionText, TheArchiveTextChoosesTheFileFlavour) {
    EXPECT_TRUE(names_jet_flavour("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=a.mdb"));
    EXPECT_TRUE(names_jet_flavour("Data Source=c:\\jet\\a.mdb"));
    EXPECT_FALSE(names_jet_flavour("Provider=SQLOLEDB;Data Source=JET;Initial Catalog=x"));
    EXPECT_FALSE(names_jet_flavour(""));
}

}  // namespace
