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
    folder.Write(kProxyListFileName, "a:1\nb:2\r\nc:3\r\r\n");
    EXPECT_EQ(Load().items, Items{"a:1\nb:2\nc:3"});
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

// A list file someone else wrote: every byte is read and listed as it is
// (entries are what ends in CR CR LF), a zero byte ends the data like Ctrl-Z,
// and nothing is refused for its size.
TEST_F(ProxyListTest, OddBytesInTheListFileAreListedQuietlyAsTheyAre) {
    folder.Write(kProxyListFileName, "a:1\r\r\nb:\0x:2\r\r\nc:3\r\r\n"s);
    EXPECT_EQ(Load().items, Items{"a:1"});
    folder.Write(kProxyListFileName, "\0a:1\r\r\n"s);
    EXPECT_TRUE(Load().items.empty());
    // Lone CRs and LFs stay inside their entry.
    folder.Write(kProxyListFileName, "a:1\rb:2\r\r\nc:3\nd:4\r\r\n\r\r\n\n\r");
    EXPECT_EQ(Load().items, (Items{"a:1\rb:2", "c:3\nd:4", ""}));
    // Not ASCII: UTF-8, Latin-1, a byte-order mark, bytes up to 0xFF.
    const std::string odd =
        "\xEF\xBB\xBFh\xC3\xA9.example:80\r\r\n\xE9:81\r\r\n\x80\xFF\x7F:1\r\r\n";
    folder.Write(kProxyListFileName, odd);
    EXPECT_EQ(Load().items,
              (Items{"\xEF\xBB\xBFh\xC3\xA9.example:80", "\xE9:81", "\x80\xFF\x7F:1"}));

    // A line of a mebibyte, then 20 MiB in long lines: more than a download
    // may bring.
    const std::string longLine(1 << 20, 'h');
    folder.Write(kProxyListFileName, "a:1\r\r\n" + longLine + ":8080\r\r\nb:2\r\r\n");
    EXPECT_EQ(Load().items, (Items{"a:1", longLine + ":8080", "b:2"}));
    std::string huge;
    const std::string entry = std::string(65536 - 3, 'e') + "\r\r\n";
    while (huge.size() < 20u << 20) {
        huge += entry;
    }
    folder.Write(kProxyListFileName, huge);
    RecordingList list = Load();
    EXPECT_EQ(list.items.size(), huge.size() / entry.size());
    EXPECT_EQ(list.items.back(), entry.substr(0, entry.size() - 3));
    EXPECT_TRUE(messages.shown.empty());
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

}  // namespace
