// The XML layer: status model, loading with error capture, building, saving, handles.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "qvr/xml/xml.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using qvr::XmlDocumentRef;
using qvr::XmlNodeRef;
using qvr::XmlText;
namespace fs = std::filesystem;

std::string text_of(char* allocated) {
    XmlText owned(allocated);
    return owned ? std::string(owned.get()) : std::string("<null>");
}

std::string name_of(XmlNode* node) {
    return text_of(xml_getName(node));
}

// Runs `body` with standard error sent to a file; returns what was written there.
template <class Body>
std::string stderr_during(Body body) {
    std::fflush(stderr);
    char path[] = "/tmp/xml_stderr_XXXXXX";
    int file = ::mkstemp(path);
    int saved = ::dup(2);
    ::dup2(file, 2);
    body();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::string out = qvr_test::read_file(path);
    ::close(file);
    ::unlink(path);
    return out;
}

// Files of this process may grow to `bytes` only while it lives; a write past it fails
// with EFBIG, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        old_signal_ = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        const rlimit bound{bytes, old_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &bound);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, old_signal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit old_{};
    sighandler_t old_signal_{};
};

// Acts as the unprivileged user "nobody" while it lives, when the test runs as root (who
// ignores permission bits).
class Unprivileged {
  public:
    Unprivileged() : root_(::geteuid() == 0) {
        if (root_) {
            EXPECT_EQ(::seteuid(65534), 0);
        }
    }
    ~Unprivileged() {
        if (root_) {
            EXPECT_EQ(::seteuid(0), 0);
        }
    }
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;

  private:
    bool root_;
};

class XmlDocumentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        doc_.reset(xml_NewDocument());
        ASSERT_NE(doc_, nullptr);
    }
    XmlDocument* doc() { return doc_.get(); }

    // Loads `content` from a file of the test folder into the fixture's document.
    int load(const std::string& content, const std::string& name = "in.xml") {
        qvr_test::write_file(dir_ / name, content);
        return xml_LoadFile(doc(), (dir_ / name).c_str());
    }
    std::string saved(const std::string& name = "out.xml") {
        EXPECT_EQ(xml_SaveFile(doc(), (dir_ / name).c_str()), 0) << xml_GetErrorText();
        return qvr_test::read_file(dir_ / name);
    }
    XmlNodeRef root() { return XmlNodeRef(xml_GetRootElement(doc())); }

    qvr_test::TempDir dir_;
    XmlDocumentRef doc_;
};

TEST_F(XmlDocumentTest, TheFirstFailureStopsEveryLaterCallAndKeepsItsMessage) {
    ASSERT_EQ(load("<Configs><Config/></Configs>"), 0);
    XmlNodeRef r = root();
    xml_SetSubject("tolva_3");
    xml_SetOperation("Dev/Proc Config");
    EXPECT_EQ(xml_FindByName(r.get(), "Bad[1]"), nullptr);
    EXPECT_EQ(xml_GetStatus(), kXmlStatusInvalidArgument);

    EXPECT_EQ(xml_CreateElement(doc(), "Fresh"), nullptr);
    EXPECT_EQ(xml_AddChildElement(doc(), "Fresh", r.get()), nullptr);
    EXPECT_EQ(xml_CreateAndAddTextNode(doc(), "x", r.get()), -1);
    EXPECT_EQ(xml_SaveFile(doc(), (dir_ / "never.xml").c_str()), -1);
    EXPECT_FALSE(fs::exists(dir_ / "never.xml"));
    EXPECT_STREQ(xml_GetErrorText(), "tolva_3Dev/Proc Config - xml_FindByName('Bad[1]') failed 0x80070057");

    xml_ResetStatus();
    EXPECT_EQ(saved(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configs><Config/></Configs>\n");
}

TEST_F(XmlDocumentTest, EachThreadHasItsOwnStatus) {
    xml_SetStatus(kXmlStatusFailed, "failed here");
    int other = 1;
    std::thread([&] { other = xml_GetStatus(); }).join();
    EXPECT_EQ(other, kXmlStatusGood);
    EXPECT_EQ(xml_GetStatus(), kXmlStatusFailed);
}

TEST_F(XmlDocumentTest, AMissingFileIsReportedBeforeParsing) {
    std::string path = (dir_ / "absent.xml").string();
    EXPECT_EQ(xml_LoadFile(doc(), path.c_str()), 1);
    EXPECT_EQ(static_cast<unsigned>(xml_GetStatus()), 0x800C0006u);
    xml_SetSubject("");
    xml_SetOperation("");
    EXPECT_EQ(std::string(xml_GetErrorText()), " - Xml Load Failed (" + path + "), File Not Found");
    // A missing folder on the way is the same.
    xml_ResetStatus();
    EXPECT_EQ(xml_LoadFile(doc(), (dir_ / "none" / "x.xml").c_str()), 1);
}

TEST_F(XmlDocumentTest, AMalformedFileGivesTheParsersFirstErrorWithItsLineAndPrintsNothing) {
    std::string err = stderr_during([&] { EXPECT_EQ(load("<a>\n<b>\n</a>\n", "bad.xml"), -1); });
    EXPECT_EQ(err, "");
    unsigned status = static_cast<unsigned>(xml_GetStatus());
    EXPECT_EQ(status & 0xFFFF0000u, kXmlStatusParseBase);
    xml_SetSubject("");
    xml_SetOperation("");
    std::string text = xml_GetErrorText();
    std::string head = " - Xml Load Failed (" + (dir_ / "bad.xml").string() + ") line 3: ";
    ASSERT_EQ(text.substr(0, head.size()), head) << text;
    EXPECT_NE(text.find("mismatch"), std::string::npos) << text;
    char code[16];
    std::snprintf(code, sizeof code, " 0x%8x", status);
    EXPECT_EQ(text.substr(text.size() - std::string(code).size()), code) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
    // The document keeps what it had.
    EXPECT_EQ(xml_GetRootElement(doc()), nullptr);
}

TEST_F(XmlDocumentTest, OtherBrokenInputsFailCleanly) {
    for (const char* content :
         {"", "<a>", "<a></b>", "<?xml version='1.0'?><a/><b/>", "<p:a/>", "\xff\xfe<"}) {
        xml_ResetStatus();
        std::string err = stderr_during([&] { EXPECT_EQ(load(content), -1) << content; });
        EXPECT_EQ(err, "");
        EXPECT_LT(xml_GetStatus(), 0);
        EXPECT_NE(std::string(xml_GetErrorText()).find("Xml Load Failed"), std::string::npos);
    }
}

TEST_F(XmlDocumentTest, ExternalEntitiesAreNeitherReadNorFetched) {
    qvr_test::write_file(dir_ / "secret.txt", "SECRET");
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.2");
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::string url = "http://127.0.0.2:" + std::to_string(ntohs(address.sin_port));

    std::string content = "<!DOCTYPE r SYSTEM \"" + url + "/r.dtd\" [\n<!ENTITY file SYSTEM \"file://" +
                          (dir_ / "secret.txt").string() + "\">\n<!ENTITY web SYSTEM \"" + url +
                          "/e\">\n]>\n<r><a>&file;</a><b>&web;</b><c>plain</c></r>";
    std::string err = stderr_during([&] { EXPECT_EQ(load(content), 0) << xml_GetErrorText(); });
    EXPECT_EQ(err, "");
    XmlNodeRef r = root();
    XmlNodeRef a(xml_FindByName(r.get(), "a"));
    XmlNodeRef c(xml_FindByName(r.get(), "c"));
    EXPECT_EQ(text_of(xml_getText(a.get())), "");
    EXPECT_EQ(text_of(xml_getText(c.get())), "plain");
    EXPECT_EQ(saved().find("SECRET"), std::string::npos);
    pollfd p{listener, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "the parser connected to the network";
    ::close(listener);
}

TEST_F(XmlDocumentTest, ElementsAreFoundByLocalNameUnderTheDefaultNamespace) {
    ASSERT_EQ(load("<?xml version='1.0' encoding='UTF-8'?>\n"
                   "<Configs xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xmlns='urn:q/tolva' "
                   "xmlns:p='urn:p' xsi:schemaLocation='urn:q/tolva ../SCHEMA/tolva.xsd'>\n"
                   "\t<Config>\n\t\t<AutoEnable>On</AutoEnable>\n\t\t<p:Extra>1</p:Extra>\n\t</Config>\n"
                   "</Configs>\n"),
              0)
        << xml_GetErrorText();
    XmlNodeRef r = root();
    XmlNodeRef config(xml_FindByName(r.get(), "Config"));
    ASSERT_NE(config, nullptr);
    XmlNodeRef enable(xml_FindByName(config.get(), "AutoEnable"));
    EXPECT_EQ(text_of(xml_getText(enable.get())), "On");
    XmlNodeRef extra(xml_FindByName(config.get(), "p:Extra"));
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(name_of(extra.get()), "p:Extra");
    XmlNodeRef extra_local(xml_FindByName(config.get(), "Extra"));
    EXPECT_EQ(extra_local.get(), extra.get()) << "one handle per node";
    EXPECT_EQ(xml_FindByName(config.get(), "xsi:Extra"), nullptr);
    EXPECT_EQ(text_of(xml_getAttribute(r.get(), "xsi:schemaLocation")), "urn:q/tolva ../SCHEMA/tolva.xsd");
    EXPECT_EQ(xml_getAttribute(r.get(), "missing"), nullptr);
    EXPECT_EQ(xml_GetStatus(), kXmlStatusGood);
}

TEST_F(XmlDocumentTest, AttributeValuesThatReadAsNumbersCompareAsNumbers) {
    ASSERT_EQ(load("<Channels xmlns='urn:c'><Channel id='1'/><Channel id='05'/><Channel id=' 7 '/>"
                   "<Other id='9'/><Channel id='9'/><Channel id='abc'/><Channel/></Channels>"),
              0);
    XmlNodeRef r = root();
    struct Case {
        const char* value;
        const char* found_id;  // null: nothing found
    } cases[] = {
        {"1", "1"},       {"5", "05"},        {"05", "05"},   {"5.0", "05"},
        {"7", " 7 "},     {"9", "9"},         {"abc", "abc"}, {"'abc'", "abc"},
        {"\"05\"", "05"}, {"\"5\"", nullptr}, {"2", nullptr}, {"-0", nullptr},
    };
    for (const Case& c : cases) {
        XmlNodeRef found(xml_FindByAttribute(r.get(), "Channel", "id", c.value));
        if (c.found_id == nullptr) {
            EXPECT_EQ(found, nullptr) << c.value;
        } else {
            ASSERT_NE(found, nullptr) << c.value;
            EXPECT_EQ(text_of(xml_getAttribute(found.get(), "id")), c.found_id) << c.value;
        }
    }
    EXPECT_EQ(xml_GetStatus(), kXmlStatusGood);
    // Names that no XML name could match are an error, not an injection.
    EXPECT_EQ(xml_FindByAttribute(r.get(), "Channel", "id]|//*[@id", "1"), nullptr);
    EXPECT_STREQ(xml_GetErrorText(), " - xml_FindByAttribute('Channel[@id]|//*[@id=1]') failed 0x80070057");
}

TEST_F(XmlDocumentTest, SearchesByAttributeStayExactWhileTheTreeChanges) {
    ASSERT_EQ(load("<T><C id='1' n='a'/><C id='2' n='b'/><C id='02' n='c'/><C id='3' n='d'/></T>"), 0);
    XmlNodeRef t = root();
    auto found = [&](const char* id) {
        XmlNodeRef c(xml_FindByAttribute(t.get(), "C", "id", id));
        return c ? text_of(xml_getAttribute(c.get(), "n")) : std::string("-");
    };
    EXPECT_EQ(found("3"), "d");
    EXPECT_EQ(found("2"), "b") << "the first of two equal ids, found after a later one";
    EXPECT_EQ(found("7"), "-");
    XmlNodeRef first(xml_FindByAttribute(t.get(), "C", "id", "1"));
    ASSERT_EQ(xml_RemoveChild(t.get(), first.get()), 0);
    EXPECT_EQ(found("1"), "-");
    XmlNodeRef b(xml_FindByAttribute(t.get(), "C", "id", "2"));
    ASSERT_EQ(xml_CreateAndAddAttributeNode(doc(), "id", "9", b.get()), 0);
    EXPECT_EQ(found("2"), "c");
    EXPECT_EQ(found("9"), "b");
    XmlNodeRef added(xml_AddChildElement(doc(), "C", t.get()));
    xml_CreateAndAddAttributeNode(doc(), "id", "4", added.get());
    xml_CreateAndAddAttributeNode(doc(), "n", "e", added.get());
    EXPECT_EQ(found("4"), "e");
    ASSERT_EQ(xml_InsertBefore(first.get(), b.get()), 0);
    xml_CreateAndAddAttributeNode(doc(), "id", "3", first.get());
    EXPECT_EQ(found("3"), "a") << "a child put in front comes first";
    EXPECT_EQ(found("'3'"), "a") << "the same child by text";
    EXPECT_EQ(xml_GetStatus(), kXmlStatusGood);
}

TEST_F(XmlDocumentTest, LayoutWhitespaceIsDroppedButABlankValueStays) {
    ASSERT_EQ(load("<Channels>\n  <Channel id='1'>\n    <Tag>T1</Tag>\n    <Units> </Units>\n"
                   "    <Empty></Empty>\n  </Channel>\n</Channels>\n"),
              0);
    XmlNodeRef r = root();
    XmlNodeRef channel(xml_FindByAttribute(r.get(), "Channel", "id", "1"));
    XmlNameText pairs[4] = {};
    ASSERT_EQ(xml_IterateChan(channel.get(), pairs, 4), 3);
    EXPECT_STREQ(pairs[0].name, "Tag");
    EXPECT_STREQ(pairs[0].text, "T1");
    EXPECT_STREQ(pairs[1].text, " ");
    EXPECT_STREQ(pairs[2].text, "");
    for (XmlNameText& p : pairs) {
        std::free(p.name);
        std::free(p.text);
    }
    // Saving, loading and indenting again gives the same file: nothing accumulates.
    ASSERT_EQ(xml_IndentTree(doc(), r.get(), 0), 0);
    std::string first = saved();
    r.reset();
    channel.reset();
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(xml_LoadFile(doc(), (dir_ / "out.xml").c_str()), 0);
        XmlNodeRef again = root();
        ASSERT_EQ(xml_IndentTree(doc(), again.get(), 0), 0);
        ASSERT_EQ(xml_IndentTree(doc(), again.get(), 0), 0);
        EXPECT_EQ(saved(), first);
    }
}

TEST_F(XmlDocumentTest, IterationStopsAtAChildThatIsNoElement) {
    ASSERT_EQ(load("<c><a>1</a><!-- note --><b>2</b></c>"), 0);
    XmlNodeRef r = root();
    XmlNameText pairs[4] = {};
    EXPECT_EQ(xml_IterateChan(r.get(), pairs, 4), -1);
    EXPECT_EQ(pairs[0].name, nullptr);
    EXPECT_EQ(xml_GetStatus(), kXmlStatusGood);
}

TEST_F(XmlDocumentTest, IndentationPutsTabsBeforeEachChildAndCloses) {
    xml_CreateAndAddPINode(doc(), "xml", "version='1.0' encoding='UTF-8'");
    XmlNodeRef r(xml_CreateElement(doc(), "R"));
    ASSERT_EQ(xml_AppendChildToParent(r.get(), doc()), 0);
    XmlNodeRef a(xml_AddChildElement(doc(), "A", r.get()));
    XmlNodeRef a1(xml_AddChildElement(doc(), "A1", a.get()));
    XmlNodeRef b(xml_AddChildElement(doc(), "B", r.get()));
    xml_CreateAndAddTextNode(doc(), "text", b.get());
    ASSERT_EQ(xml_IndentTree(doc(), r.get(), 0), 0);
    EXPECT_EQ(
        saved(),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R>\n\t<A>\n\t\t<A1/>\n\t</A>\n\t<B>text</B>\n</R>\n");
}

TEST_F(XmlDocumentTest, TheDeclarationIsTheDocumentsOwnAndNamespacesAreDeclared) {
    ASSERT_EQ(xml_CreateAndAddPINode(doc(), "xml", "version='1.0' encoding='UTF-8' standalone='yes'"), 0);
    ASSERT_EQ(xml_CreateAndAddCommentNode(doc(), "Created Automatically by Velmora."), 0);
    XmlNodeRef schema(xml_CreateElement(doc(), "xs:schema"));
    ASSERT_EQ(xml_AppendChildToParent(schema.get(), doc()), 0);
    ASSERT_EQ(
        xml_CreateAndAddAttributeNode(doc(), "xmlns:xs", "http://www.w3.org/2001/XMLSchema", schema.get()),
        0);
    ASSERT_EQ(xml_CreateAndAddAttributeNode(doc(), "xmlns", "urn:q/tolva", schema.get()), 0);
    XmlNodeRef element(xml_AddChildElement(doc(), "xs:element", schema.get()));
    ASSERT_EQ(xml_CreateAndAddAttributeNode(doc(), "name", "Configs", element.get()), 0);
    XmlNodeRef plain(xml_AddChildElement(doc(), "Plain", schema.get()));
    ASSERT_EQ(xml_CreateAndAddAttributeNode(doc(), "xs:note", "n", plain.get()), 0);
    // A second declaration only replaces the first.
    ASSERT_EQ(xml_CreateAndAddPINode(doc(), "xml", "version='1.0' encoding='UTF-8' standalone='yes'"), 0);
    EXPECT_EQ(xml_CreateAndAddPINode(doc(), "xml", "version='1.0' bogus='x'"), -1);
    xml_ResetStatus();
    std::string file = saved();
    EXPECT_EQ(file,
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<!--Created Automatically by Velmora.-->\n"
              "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns=\"urn:q/tolva\">"
              "<xs:element name=\"Configs\"/><Plain xs:note=\"n\"/></xs:schema>\n");
    ASSERT_EQ(xml_LoadFile(doc(), (dir_ / "out.xml").c_str()), 0) << xml_GetErrorText();
    XmlNodeRef again = root();
    EXPECT_EQ(name_of(again.get()), "xs:schema");
    XmlNodeRef first(xml_FirstChild(again.get()));
    EXPECT_EQ(name_of(first.get()), "xs:element");
}

TEST_F(XmlDocumentTest, RecordTextsCrossAsWindows1252AndIllegalTextIsReplaced) {
    XmlNodeRef r(xml_CreateElement(doc(), "Channel"));
    xml_AppendChildToParent(r.get(), doc());
    struct Case {
        const char* element;
        std::string text;     // Windows-1252
        std::string in_file;  // UTF-8 as written
        std::string read_back;
    } cases[] = {
        {"Units",
         "\xb0"
         "C",
         "\xc2\xb0"
         "C",
         "\xb0"
         "C"},
        {"Euro", "\x80 5", "\xe2\x82\xac 5", "\x80 5"},
        {"Odd",
         "a\x81"
         "b",
         "a\xc2\x81"
         "b",
         "a\x81"
         "b"},
        {"Tag",
         "TAG\x01"
         "1",
         kXmlIllegalCharacters, kXmlIllegalCharacters},
        {"Tabs", "a\tb", "a\tb", "a\tb"},
        {"Marks", "<&>", "&lt;&amp;&gt;", "<&>"},
    };
    for (const Case& c : cases) {
        XmlNodeRef e(xml_AddChildElement(doc(), c.element, r.get()));
        ASSERT_EQ(xml_CreateAndAddTextNode(doc(), c.text.c_str(), e.get()), 0);
    }
    ASSERT_EQ(xml_CreateAndAddAttributeNode(doc(), "unit",
                                            "\xb0"
                                            "F",
                                            r.get()),
              0);
    EXPECT_EQ(xml_GetStatus(), kXmlStatusGood);
    std::string file = saved();
    for (const Case& c : cases) {
        std::string written = std::string("<") + c.element + ">" + c.in_file + "</" + c.element + ">";
        EXPECT_NE(file.find(written), std::string::npos) << c.element << " in " << file;
    }
    r.reset();
    ASSERT_EQ(xml_LoadFile(doc(), (dir_ / "out.xml").c_str()), 0) << xml_GetErrorText();
    XmlNodeRef again = root();
    for (const Case& c : cases) {
        XmlNodeRef e(xml_FindByName(again.get(), c.element));
        EXPECT_EQ(text_of(xml_getText(e.get())), c.read_back) << c.element;
    }
    EXPECT_EQ(text_of(xml_getAttribute(again.get(), "unit")),
              "\xb0"
              "F");
    // Characters outside Windows-1252 read back as '?'.
    ASSERT_EQ(load("<a>\xe2\x84\xa2\xe2\x88\x9e</a>"), 0);
    XmlNodeRef a = root();
    EXPECT_EQ(text_of(xml_getText(a.get())), "\x99?");
}

TEST_F(XmlDocumentTest, ContentThatWouldMakeAnUnreadableFileIsRefused) {
    XmlNodeRef r(xml_CreateElement(doc(), "R"));
    xml_AppendChildToParent(r.get(), doc());
    struct Case {
        const char* what;
        std::function<int()> call;
        const char* message;
    } cases[] = {
        {"attribute control", [&] { return xml_CreateAndAddAttributeNode(doc(), "a", "x\x02", r.get()); },
         "xml_CreateAndAddAttributeNode('a','x\x02') failed 0x80070057"},
        {"attribute name", [&] { return xml_CreateAndAddAttributeNode(doc(), "1a", "x", r.get()); },
         "xml_CreateAndAddAttributeNode('1a','x') failed 0x80070057"},
        {"comment", [&] { return xml_CreateAndAddCommentNode(doc(), "a--b"); },
         "xml_CreateAndAddCommentNode('a--b') failed 0x80070057"},
        {"cdata", [&] { return xml_CreateAndAddCDATANode(doc(), "a]]>b", r.get()); },
         "xml_CreateAndAddCDATANode('a]]>b') failed 0x80070057"},
        {"pi", [&] { return xml_CreateAndAddPINode(doc(), "go", "a?>b"); },
         "xml_CreateAndAddPINode('go','a?>b') failed 0x80070057"},
        {"second root",
         [&] {
             XmlNodeRef other(xml_CreateElement(doc(), "Other"));
             return xml_AppendChildToParent(other.get(), doc());
         },
         "xml_AppendChildToParent() failed 0x80004005"},
        {"element name", [&] { return xml_CreateElement(doc(), "a b") == nullptr ? -1 : 0; },
         "xml_CreateElement('a b') failed 0x80070057"},
    };
    for (const Case& c : cases) {
        xml_ResetStatus();
        EXPECT_EQ(c.call(), -1) << c.what;
        xml_SetSubject("");
        xml_SetOperation("");
        EXPECT_EQ(std::string(xml_GetErrorText()), std::string(" - ") + c.message) << c.what;
    }
    xml_ResetStatus();
    EXPECT_EQ(saved(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<R/>\n");
}

TEST_F(XmlDocumentTest, ReplaceOrAppendKeepsThePlaceOfTheFirstSameNamedChild) {
    ASSERT_EQ(load("<Config xmlns='urn:x'><A>1</A><B>2</B><B>3</B></Config>"), 0);
    XmlNodeRef r = root();
    XmlNodeRef old_b(xml_FindByName(r.get(), "B"));
    XmlNodeRef b(xml_ReplaceOrAppendChild(doc(), "B", r.get()));
    xml_CreateAndAddTextNode(doc(), "new", b.get());
    XmlNodeRef c(xml_ReplaceOrAppendChild(doc(), "C", r.get()));
    xml_CreateAndAddTextNode(doc(), "c", c.get());
    EXPECT_EQ(saved(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<Config xmlns=\"urn:x\"><A>1</A><B>new</B><B>3</B><C>c</C></Config>\n");
    // The replaced element is still there for whoever holds it.
    EXPECT_EQ(text_of(xml_getText(old_b.get())), "2");
}

TEST_F(XmlDocumentTest, HandlesOutliveRemovalReloadAndTheDocumentHandle) {
    ASSERT_EQ(load("<r><a><x>1</x></a><b/></r>"), 0);
    XmlNodeRef r = root();
    XmlNodeRef a(xml_FindByName(r.get(), "a"));
    XmlNodeRef x(xml_FirstChild(a.get()));
    ASSERT_EQ(xml_RemoveChild(r.get(), a.get()), 0);
    EXPECT_EQ(xml_RemoveChild(r.get(), a.get()), -1) << "no longer its child";
    xml_ResetStatus();
    a.reset();  // x still holds the removed tree
    EXPECT_EQ(text_of(xml_getText(x.get())), "1");
    ASSERT_EQ(load("<other/>"), 0);
    EXPECT_EQ(name_of(r.get()), "r");
    doc_.reset();
    XmlNodeRef b(xml_FirstChild(r.get()));
    EXPECT_EQ(name_of(b.get()), "b");
    EXPECT_EQ(name_of(x.get()), "x");
}

TEST_F(XmlDocumentTest, NodesCannotFormCyclesOrCrossDocuments) {
    XmlNodeRef r(xml_CreateElement(doc(), "r"));
    xml_AppendChildToParent(r.get(), doc());
    XmlNodeRef a(xml_AddChildElement(doc(), "a", r.get()));
    EXPECT_EQ(xml_AppendChildToParent(r.get(), a.get()), -1);
    xml_ResetStatus();
    EXPECT_EQ(xml_AppendChildToParent(a.get(), a.get()), -1);
    xml_ResetStatus();
    XmlDocumentRef other(xml_NewDocument());
    XmlNodeRef foreign(xml_CreateElement(other.get(), "f"));
    EXPECT_EQ(xml_AppendChildToParent(foreign.get(), a.get()), -1);
    xml_ResetStatus();
    // Moving a child elsewhere and inserting before a sibling are fine.
    XmlNodeRef b(xml_AddChildElement(doc(), "b", r.get()));
    ASSERT_EQ(xml_InsertBefore(b.get(), a.get()), 0);
    ASSERT_EQ(xml_InsertTextBefore(doc(), "t", a.get()), 0);
    XmlNodeRef c(xml_CreateElement(doc(), "c"));
    ASSERT_EQ(xml_AppendChildToParent(c.get(), a.get()), 0);
    ASSERT_EQ(xml_CreateAndAddCDATANode(doc(), "<raw>", c.get()), 0);
    EXPECT_EQ(saved(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r><b/>t<a><c><![CDATA[<raw>]]></c></a></r>\n");
    XmlNodeRef last(xml_LastChild(r.get()));
    XmlNodeRef previous(xml_PreviousSibling(last.get()));
    EXPECT_EQ(name_of(previous.get()), "#text");
    EXPECT_EQ(text_of(xml_getText(previous.get())), "t");
}

TEST_F(XmlDocumentTest, ASaveThatFailsLeavesTheOldFileWhole) {
    XmlNodeRef r(xml_CreateElement(doc(), "r"));
    xml_AppendChildToParent(r.get(), doc());
    fs::path target = dir_ / "config.xml";
    qvr_test::write_file(target, "<old/>");
    int status = 0;
    {
        FileSizeLimit full(10);  // the new file cannot be written whole
        status = xml_SaveFile(doc(), target.c_str());
    }
    EXPECT_EQ(static_cast<unsigned>(status), kXmlStatusOsBase | EFBIG);
    EXPECT_EQ(xml_GetStatus(), status);
    xml_SetSubject("");
    xml_SetOperation("");
    char expected[512];
    std::snprintf(expected, sizeof expected, " - Save XML File (%s) failed, Error 0x%x", target.c_str(),
                  static_cast<unsigned>(status));
    EXPECT_STREQ(xml_GetErrorText(), expected);
    EXPECT_EQ(qvr_test::read_file(target), "<old/>");

    xml_ResetStatus();
    ASSERT_EQ(xml_SaveFile(doc(), target.c_str()), 0);
    EXPECT_EQ(qvr_test::read_file(target), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r/>\n");
    // Neither the failed save nor the good one left a temporary file behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
    // Backslashes are folder separators.
    std::string windows_style = dir_.str() + "\\copy.xml";
    ASSERT_EQ(xml_SaveFile(doc(), windows_style.c_str()), 0);
    EXPECT_TRUE(fs::exists(dir_ / "copy.xml"));
    EXPECT_EQ(xml_SaveFile(doc(), (dir_ / "no" / "x.xml").c_str()),
              static_cast<int>(kXmlStatusOsBase | ENOENT));
    xml_ResetStatus();
    // Paths are not limited to 128 characters.
    fs::path deep = dir_ / std::string(120, 'd') / std::string(120, 'e');
    fs::create_directories(deep);
    ASSERT_EQ(xml_SaveFile(doc(), (deep / "config.xml").c_str()), 0);
    EXPECT_EQ(xml_LoadFile(doc(), (deep / "config.xml").c_str()), 0);
}

TEST_F(XmlDocumentTest, ARewrittenFileKeepsItsMode) {
    XmlNodeRef r(xml_CreateElement(doc(), "r"));
    xml_AppendChildToParent(r.get(), doc());
    const fs::path target = dir_ / "config.xml";
    qvr_test::write_file(target, "<old/>");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(xml_SaveFile(doc(), target.c_str()), 0);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(qvr_test::read_file(target), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r/>\n");
}

// Failures a root process still meets, each made with real files: the text names the class
// of the system error, and the status carries the error itself.
TEST_F(XmlDocumentTest, SaveFailuresNameTheirClass) {
    XmlNodeRef r(xml_CreateElement(doc(), "r"));
    xml_AppendChildToParent(r.get(), doc());
    qvr_test::write_file(dir_ / "plain", "x");
    fs::create_symlink("loop.xml", dir_ / "loop.xml");
    // A folder only its owner may write, tried as another user.
    fs::create_directory(dir_ / "locked");
    fs::permissions(dir_ / "locked", fs::perms(0555));
    fs::permissions(dir_.path(), fs::perms(0755));
    struct Case {
        fs::path path;
        int error;
        const char* reason;
        bool unprivileged = false;
        rlim_t size_limit = RLIM_INFINITY;
    };
    const Case cases[] = {
        {dir_ / "plain" / "x.xml", ENOTDIR, "Invalid filename"},
        {dir_ / "loop.xml", ELOOP, "Invalid filename"},
        {dir_ / "locked" / "x.xml", EACCES, "Access Denied", true},
        {dir_ / "full.xml", EFBIG, "Error", false, 10},
    };
    for (const Case& c : cases) {
        xml_ResetStatus();
        int status = 0;
        {
            std::optional<Unprivileged> user;
            if (c.unprivileged) user.emplace();
            FileSizeLimit limit(c.size_limit);
            status = xml_SaveFile(doc(), c.path.c_str());
        }
        EXPECT_EQ(static_cast<unsigned>(status), kXmlStatusOsBase | static_cast<unsigned>(c.error)) << c.reason;
        xml_SetSubject("");
        xml_SetOperation("");
        char expected[512];
        std::snprintf(expected, sizeof expected, " - Save XML File (%s) failed, %s 0x%x", c.path.c_str(), c.reason,
                      static_cast<unsigned>(status));
        EXPECT_STREQ(xml_GetErrorText(), expected);
        EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(c.path)));
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "locked"));
}

}  // namespace
