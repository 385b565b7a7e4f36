// The check's results beside the list, the choice of the entry to fail over
// to, and the entries a list file gives the check.
#include "proxy_check_file.h"

#include <gtest/gtest.h>

#include "catalogue_test_support.h"

namespace {

using namespace std::chrono;

ProxyCheckResult Result(const std::string& endpoint, ProxyState state, int latency = 0,
                        ProxyGrade grade = ProxyGrade::kNone, bool https = false) {
    ProxyCheckResult r;
    r.endpoint = endpoint;
    r.state = state;
    r.latencyMs = latency;
    r.grade = grade;
    r.https = https;
    r.checkedAt = sys_days(2026y / 12 / 10) + hours(17) + minutes(25) + seconds(41);
    return r;
}

TEST(ProxyCheckFileTest, ARestartReadsWhatTheCheckWrote) {
    ProxyCheckTable table;
    table.Put(Result("10.0.0.1:8080", ProxyState::kAlive, 120, ProxyGrade::kElite, true));
    table.Put(Result("proxy.example:3128", ProxyState::kDead));
    table.Put(Result("10.0.0.3:80", ProxyState::kAlive, 7, ProxyGrade::kTransparent, false));
    table.Put(Result("10.0.0.1:8080", ProxyState::kBad));  // a later check replaces it
    EXPECT_EQ(FormatProxyCheckFile(table),
              "10.0.0.1:8080\tbad\t-\t-\t-\t2026-12-10T17:25:41Z\r\n"
              "proxy.example:3128\tdead\t-\t-\t-\t2026-12-10T17:25:41Z\r\n"
              "10.0.0.3:80\talive\t7\ttransparent\tno\t2026-12-10T17:25:41Z\r\n");

    TestFolder folder;
    ProxyCheckTable read;
    EXPECT_EQ(ReadProxyCheckFile(folder.AppPath(), read), FileError::FileNotFound);
    EXPECT_EQ(WriteProxyCheckFile(folder.AppPath(), table), FileError::None);
    ASSERT_EQ(ReadProxyCheckFile(folder.AppPath(), read), FileError::None);
    EXPECT_EQ(read.All(), table.All());
    ASSERT_NE(read.Find("10.0.0.3:80"), nullptr);
    EXPECT_EQ(read.Find("10.0.0.3:80")->latencyMs, 7);
    EXPECT_EQ(read.Find("10.0.0.4:80"), nullptr);
}

TEST(ProxyCheckFileTest, LinesThatCannotBeReadArePassedOver) {
    const ProxyCheckTable table = ParseProxyCheckFile(
        "a:1\talive\t5\telite\tyes\t2026-12-10T00:00:00Z\n"    // LF alone
        "b:1\talive\t0\telite\tyes\t2026-12-10T00:00:00Z\r\n"  // no latency
        "c:1\talive\t5\tsuper\tyes\t2026-12-10T00:00:00Z\r\n"  // no grade
        "d:1\tdead\t-\t-\t-\t2026-13-10T00:00:00Z\r\n"         // no month
        "e:1\tdead\t-\t-\t-\t2026-02-29T00:00:00Z\r\n"         // no such day
        "f:1\tgone\t-\t-\t-\t2026-12-10T00:00:00Z\r\n"         // no state
        "g:1\tdead\t-\t-\t-\t2026-12-10T00:00:00Z\textra\r\n"  // a field more
        "h:1\tdead\t-\t-\t2026-12-10T00:00:00Z\r\n"            // a field less
        "\tdead\t-\t-\t-\t2026-12-10T00:00:00Z\r\n"            // no endpoint
        "i:1\tdead\t-\t-\t-\t2024-02-29T23:59:59Z"             // last, unended
    );
    ASSERT_EQ(table.Size(), 2u);
    EXPECT_EQ(table.All()[0].endpoint, "a:1");
    EXPECT_EQ(table.All()[1].endpoint, "i:1");
    EXPECT_EQ(UtcText(table.All()[1].checkedAt), "2024-02-29T23:59:59Z");
}

TEST(ProxyCheckFileTest, TheAgeOfAResultNeverGoesBelowZero) {
    const ProxyCheckResult r = Result("a:1", ProxyState::kDead);
    EXPECT_EQ(ResultAge(r, r.checkedAt + hours(2)), hours(2));
    EXPECT_EQ(ResultAge(r, r.checkedAt - hours(2)), seconds(0));
}

TEST(BestEntryTest, EliteBeforeAnonymousThenTheFastest) {
    ProxyCheckTable table;
    table.Put(Result("anonymous-fast:1", ProxyState::kAlive, 5, ProxyGrade::kAnonymous));
    table.Put(Result("transparent:1", ProxyState::kAlive, 1, ProxyGrade::kTransparent));
    table.Put(Result("ungraded:1", ProxyState::kAlive, 1, ProxyGrade::kNone));
    table.Put(Result("dead:1", ProxyState::kDead));
    table.Put(Result("bad:1", ProxyState::kBad));
    EXPECT_EQ(BestEntry(table, ""), "anonymous-fast:1");
    table.Put(Result("elite-slow:1", ProxyState::kAlive, 900, ProxyGrade::kElite));
    table.Put(Result("elite-fast:1", ProxyState::kAlive, 40, ProxyGrade::kElite));
    table.Put(Result("elite-fast-too:1", ProxyState::kAlive, 40, ProxyGrade::kElite));
    EXPECT_EQ(BestEntry(table, ""), "elite-fast:1");
    // Never the one in use, however it is written.
    EXPECT_EQ(BestEntry(table, "ELITE-fast:1"), "elite-fast-too:1");
    EXPECT_EQ(BestEntry(table, "elite-fast:65537"), "elite-fast-too:1");
    EXPECT_EQ(BestEntry(table, "elite-fast:2"), "elite-fast:1");

    ProxyCheckTable none;
    none.Put(Result("transparent:1", ProxyState::kAlive, 1, ProxyGrade::kTransparent));
    none.Put(Result("only:1", ProxyState::kAlive, 1, ProxyGrade::kElite));
    EXPECT_EQ(BestEntry(none, "only:1"), std::nullopt);
    EXPECT_EQ(BestEntry(ProxyCheckTable(), ""), std::nullopt);
}

TEST(CheckEntriesTest, AStoredListAndAPlainTextFileReadTheSame) {
    const std::vector<std::string> expected = {"10.0.0.1:80", "host.example:3128", "10.0.0.1:80"};
    EXPECT_EQ(CheckEntries("10.0.0.1:80\r\r\nhost.example:3128\r\r\n\r\r\n10.0.0.1:80\r\r\n"),
              expected);
    EXPECT_EQ(CheckEntries("10.0.0.1:80\nhost.example:3128\n\n10.0.0.1:80\r\n"), expected);
    // What no entry can be, text after the last line end, and everything
    // after a Ctrl-Z are left out, as the program leaves them out.
    EXPECT_EQ(CheckEntries("10.0.0.1:80\n\ttab:1\nbin\x01:1\n10.0.0.2:80\x1A\n10.0.0.3:80\n"),
              std::vector<std::string>{"10.0.0.1:80"});
    EXPECT_EQ(CheckEntries("10.0.0.1:80\n10.0.0.2:80"), std::vector<std::string>{"10.0.0.1:80"});
}

}  // namespace
