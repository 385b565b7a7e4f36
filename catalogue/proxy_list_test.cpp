#include "proxy_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "application_name.h"
#include "catalogue_test_support.h"
#include "downloaded_text.h"
#include "fake_message_box.h"
#include "test_environment.h"
#include "vendor_url.h"

namespace {

using namespace std::string_literals;
using Items = std::vector<std::string>;

const std::string kListPath(kProxyListUrlPath);

class ProxyListTest : public ::testing::Test {
protected:
    ProxyListTest() : file(folder.AppPath(), messages) {}

    // Fetches a list the server answers with this body.
    RecordingList Fetch(const std::string& body) {
        server.AnswerBody(kListPath, body);
        RecordingList list;
        EXPECT_TRUE(file.FetchProxyList(list));
        return list;
    }
    RecordingList Load() {
        RecordingList list;
        EXPECT_TRUE(file.LoadProxyList(list));
        return list;
    }
    std::string Stored() const { return folder.Read(kProxyListFileName); }

    VendorServer server;
    TestFolder folder;
    FakeMessageBox messages;
    ProxyListFile file;
};

TEST_F(ProxyListTest, LfAndCrLfBodiesAreStoredAndListedAlike) {
    for (const std::string body : {"a:1\nb:2\n", "a:1\r\nb:2\r\n"}) {
        EXPECT_EQ(Fetch(body).items, (Items{"a:1", "b:2"})) << body;
        EXPECT_EQ(Stored(), "a:1\r\r\nb:2\r\r\n") << body;
        EXPECT_EQ(Load().items, (Items{"a:1", "b:2"})) << body;
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ProxyListTest, ALastLineWithoutLfIsStoredButNeverListed) {
    EXPECT_EQ(Fetch("a:1\nb:2").items, Items{"a:1"});
    EXPECT_EQ(Stored(), "a:1\r\r\nb:2");
    EXPECT_EQ(Load().items, Items{"a:1"});
}

TEST_F(ProxyListTest, EmptyLinesAndRepeatsAreEntriesAndAFetchPlusLoadListsTwice) {
    EXPECT_EQ(Fetch("a:1\n\nb:2\na:1\n").items, (Items{"a:1", "", "b:2", "a:1"}));
    RecordingList list;
    file.FetchProxyList(list);
    file.LoadProxyList(list);
    EXPECT_EQ(list.items, (Items{"a:1", "", "b:2", "a:1", "a:1", "", "b:2", "a:1"}));
}

TEST_F(ProxyListTest, AZeroByteInABodyLineJoinsItWithTheNextLine) {
    EXPECT_EQ(Fetch("a:1\nb:\0junk\nc:3\n"s).items, (Items{"a:1", "b:c:3"}));
    EXPECT_EQ(Load().items, (Items{"a:1", "b:c:3"}));
}

TEST_F(ProxyListTest, HandWrittenLineEndsListNothingAndCtrlZEndsTheFile) {
    folder.Write(kProxyListFileName, "a:1\r\nb:2\r\n");
    EXPECT_TRUE(Load().items.empty());
    // One piece holding LFs: no entry.
    folder.Write(kProxyListFileName, "a:1\nb:2\r\nc:3\r\r\nd:4\r\r\n");
    EXPECT_EQ(Load().items, Items{"d:4"});
    folder.Write(kProxyListFileName,
                 "a:1\r\r\nb:2\r\r\n\x1A"
                 "c:3\r\r\n");
    EXPECT_EQ(Load().items, (Items{"a:1", "b:2"}));
    folder.Write(kProxyListFileName, "a:1\r\r\nb:2\x1A\r\r\n");
    EXPECT_EQ(Load().items, Items{"a:1"});
}

TEST_F(ProxyListTest, AListOfAHundredKilobytesIsReadWhole) {
    std::string body;
    Items expected;
    for (int i = 0; body.size() < 100 * 1024; ++i) {
        std::string entry = "10." + std::to_string(i / 65536 % 256) + "." +
                            std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ":" +
                            std::to_string(1024 + i % 60000);
        body += entry + "\n";
        expected.push_back(entry);
    }
    EXPECT_EQ(Fetch(body).items, expected);
    EXPECT_EQ(Load().items, expected);
}

// A list file someone else wrote, or an older one: only lines that can be
// an endpoint's text are listed (printable ASCII, up to 255 characters), a
// zero byte ends the data like Ctrl-Z, and nothing is refused for its size.
TEST_F(ProxyListTest, OnlyEndpointTextOfAListFileIsListedQuietly) {
    folder.Write(kProxyListFileName, "a:1\r\r\nb:\0x:2\r\r\nc:3\r\r\n"s);
    EXPECT_EQ(Load().items, Items{"a:1"});
    folder.Write(kProxyListFileName, "\0a:1\r\r\n"s);
    EXPECT_TRUE(Load().items.empty());
    // Lone CRs and LFs, tabs, DEL, UTF-8, Latin-1, a byte-order mark, 0xFF.
    folder.Write(kProxyListFileName,
                 "a:1\rb:2\r\r\nc:3\nd:4\r\r\n\r\r\n\n\r\r\r\nt\t:1\r\r\nx\x7F:1\r\r\n"
                 "\xEF\xBB\xBFh.example:80\r\r\nh\xC3\xA9.example:80\r\r\n\xE9:81\r\r\n"
                 "\x80\xFF:1\r\r\n ~:2\r\r\n");
    EXPECT_EQ(Load().items, (Items{"", " ~:2"}));

    // 255 characters are listed, 256 are not; then 20 MiB in long lines:
    // more than a download may bring.
    const std::string longest(255, 'h');
    folder.Write(kProxyListFileName, "a:1\r\r\n" + longest + "\r\r\n" + longest + "h\r\r\n" +
                                         std::string(1 << 20, 'h') + ":8080\r\r\nb:2\r\r\n");
    EXPECT_EQ(Load().items, (Items{"a:1", longest, "b:2"}));
    std::string huge;
    const std::string entry = std::string(65536 - 3, 'e') + "\r\r\n";
    while (huge.size() < 20u << 20) {
        huge += entry;
    }
    folder.Write(kProxyListFileName, huge + "last:1\r\r\n");
    EXPECT_EQ(Load().items, Items{"last:1"});
    EXPECT_TRUE(messages.shown.empty());
}

// A download of garbage stores and lists only what could be an endpoint.
TEST_F(ProxyListTest, ADownloadKeepsOnlyItsEndpointLinesInTheFileAndTheList) {
    std::string body = "a:1\n";
    for (int i = 0; i < 4096; ++i) {
        body += static_cast<char>((i * 7919) % 256);
    }
    body += "\n" + std::string(300, 'x') + "\nb:2\nt\tab:3\n";
    EXPECT_EQ(Fetch(body).items, (Items{"a:1", "b:2"}));
    EXPECT_EQ(Stored(), "a:1\r\r\nb:2\r\r\n");
}

TEST_F(ProxyListTest, AFailedDownloadKeepsTheStoredList) {
    Fetch("a:1\nb:2\n");
    const std::string good = Stored();

    server.Answer(kListPath, "HTTP/1.1 404 Not Found\r\nContent-Length: 14\r\n\r\n<html>x</html>");
    RecordingList afterError;
    EXPECT_TRUE(file.FetchProxyList(afterError));
    EXPECT_TRUE(afterError.items.empty());
    EXPECT_EQ(Stored(), good);

    EXPECT_TRUE(Fetch("").items.empty());
    EXPECT_EQ(Stored(), good);
    EXPECT_EQ(Load().items, (Items{"a:1", "b:2"}));
    EXPECT_TRUE(messages.shown.empty());
}

// A vendor that cannot be reached or breaks off: nothing is stored over the
// list we have, and nothing is said. (One that never answers:
// proxy_list_linux_test.cpp.)
TEST_F(ProxyListTest, RefusedBrokenOffAndOverlargeDownloadsKeepTheStoredList) {
    Fetch("a:1\nb:2\n");
    const std::string good = Stored();
    auto expectKept = [&](const std::string& what) {
        RecordingList list;
        EXPECT_TRUE(file.FetchProxyList(list)) << what;
        EXPECT_TRUE(list.items.empty()) << what;
        EXPECT_EQ(Stored(), good) << what;
        EXPECT_TRUE(messages.shown.empty()) << what;
    };
    server.Answer(kListPath, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nc:3\nd:4\n");
    expectKept("closed after 8 of 5000 bytes");
    server.AnswerBody(kListPath, std::string(DownloadedText::kMaximumSize + 1, 'x'));
    expectKept("a byte over the limit");
    SetEnvironment(kVendorUrlVariable,
                   "http://127.0.0.1:" + std::to_string(testsupport::FreePort()));
    expectKept("refused");
}

TEST_F(ProxyListTest, AFailedFirstDownloadLeavesAnEmptyListFile) {
    EXPECT_TRUE(Fetch("").items.empty());
    ASSERT_TRUE(folder.Exists(kProxyListFileName));
    EXPECT_EQ(Stored(), "");
    EXPECT_TRUE(Load().items.empty());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ProxyListTest, AMissingFileIsReportedByItsFullPath) {
    RecordingList list;
    EXPECT_FALSE(file.LoadProxyList(list));
    EXPECT_TRUE(list.items.empty());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0], (ShownMessage{folder.AppPath() + "proxylist.txt was not found.",
                                               ApplicationName(), MessageIcon::Stop}));
}

TEST_F(ProxyListTest, AFolderThatIsNotThereEndsTheFetchWithAnInvalidPath) {
    ProxyListFile nowhere(folder.AppPath() + "missing" + folder.AppPath().back(), messages);
    server.AnswerBody(kListPath, "a:1\n");
    RecordingList list;
    EXPECT_FALSE(nowhere.FetchProxyList(list));
    EXPECT_TRUE(list.items.empty());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, nowhere.Path() + " contains an invalid path.");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Stop);
}

TEST(ProxyListFileTest, WithoutAppPathTheFileIsInTheCurrentFolder) {
    FakeMessageBox messages;
    ProxyListFile file("", messages);
    EXPECT_EQ(file.Path(), "proxylist.txt");
    EXPECT_EQ(FileErrorText(FileError::AccessDenied, "proxylist.txt"),
              "Access to " + FullPath("proxylist.txt") + " was denied.");
}

TEST(AddProxyEntriesTest, OnlyCrLfEndsAnEntry) {
    RecordingList list;
    AddProxyEntries("a:1\r\n\r\nb:2\r\rc:3", list);
    EXPECT_EQ(list.items, (Items{"a:1", ""}));
}

Items Listed(const ProxyEntries& entries) {
    return Items(entries.begin(), entries.end());
}

// The drop-down's order: case ignored by folding to lower case, so "_"
// (between the upper and the lower case letters) comes before any letter and
// "." before the digits before ":". Texts equal but for case stay in the
// order they came, the listed ones first.
TEST(ProxyEntriesTest, SortedWithCaseIgnoredAndEachTextOnce) {
    const ProxyEntries first =
        WithEntriesOf({},
                      "b:1\r\nB:1\r\na:2\r\nb:1\r\n\r\nA:3\r\n_x:1\r\n1.2.3.4:80\r\n"
                      "1.2.3.40:80\r\n1.2.3.4.5:80\r\n\r\n");
    EXPECT_EQ(Listed(first), (Items{"", "1.2.3.4.5:80", "1.2.3.40:80", "1.2.3.4:80", "_x:1", "a:2",
                                    "A:3", "b:1", "B:1"}));
    EXPECT_EQ(first.Find("B:1"), 8u);
    EXPECT_EQ(first.Find("A:2"), first.Size());

    const ProxyEntries second = WithEntriesOf(first, "B:1\r\nb:0\r\nA:2\r\nb:1\r\n");
    EXPECT_EQ(Listed(second), (Items{"", "1.2.3.4.5:80", "1.2.3.40:80", "1.2.3.4:80", "_x:1", "a:2",
                                     "A:2", "A:3", "b:0", "b:1", "B:1"}));
    EXPECT_EQ(Listed(first).size(), 9u);  // unchanged: a worker may still read it
    // Nothing new, or nothing that is an entry: the very same entries.
    EXPECT_TRUE(WithEntriesOf(second, "b:1\r\nB:1\r\nx\x01:1\r\nlast:1").SameAs(second));
}

// Case variants of one text make one long run of equal entries.
TEST(ProxyEntriesTest, ManyVariantsOfOneTextAreEachListedOnce) {
    std::string text;
    for (int copy = 0; copy < 2; ++copy) {
        for (unsigned bits = 0; bits < 4096; ++bits) {
            std::string variant = "abcdefghijkl";
            for (std::size_t i = 0; i < variant.size(); ++i) {
                if ((bits >> i) & 1u) {
                    variant[i] = static_cast<char>(variant[i] - 'a' + 'A');
                }
            }
            text += variant + "\r\n";
        }
    }
    const ProxyEntries entries = WithEntriesOf({}, text);
    ASSERT_EQ(entries.Size(), 4096u);
    EXPECT_EQ(entries[0], "abcdefghijkl");
    EXPECT_EQ(entries[4095], "ABCDEFGHIJKL");
    EXPECT_TRUE(WithEntriesOf(entries, text).SameAs(entries));
}

}  // namespace
