// The Settings page and the Add Proxy dialog with a recording view, a vendor
// server on loopback and a list folder of the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "catalogue_test_support.h"
#include "fake_connection_options.h"
#include "fake_message_box.h"
#include "fake_registry_store.h"
#include "fake_settings_page_view.h"
#include "settings_page.h"
#include "socket_shim.h"
#include "vendor_url.h"

namespace {

using namespace std::string_literals;
using Items = std::vector<std::string>;

using PageView = FakeSettingsPageView;
using Host = FakeSettingsPageHost;

class Probe final : public IProxyProbe {
public:
    std::optional<ProbeFigures> Measure(const std::string& host, int, std::stop_token) override {
        return host == "good" ? std::optional(ProbeFigures{42, 0.5}) : std::nullopt;
    }
};

class SettingsPageTest : public testing::Test {
protected:
    SettingsPageTest() {
        m_vendor.AnswerBody("/licensing/ProxyGenerator/proxylist.txt", "a:1\nb:2\n");
    }
    CSettingsPage Page(const std::string& appPath) {
        return CSettingsPage(m_settings, m_store, appPath, m_browser, m_messages, m_probe, m_host,
                             {&m_results, nullptr, {}});
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const auto& m : m_messages.shown) {
            texts.push_back(m.caption + ": " + m.text.substr(0, m.text.find('\r')));
        }
        return texts;
    }

    VendorServer m_vendor;
    TestFolder m_folder;
    FakeRegistryStore m_store;
    SettingsCatalogue m_settings{m_store};
    FakeConnectionOptions m_browser;
    FakeMessageBox m_messages;
    Probe m_probe;
    Host m_host;
    PageView m_view;
    ProxyCheckResults m_results;
};

// The fetch and the load that follows it bring the same entries: each is
// listed once.
TEST_F(SettingsPageTest, FirstRunFetchesOnceAndListsEveryEntryOnce) {
    m_settings.UseProxy.Set(1);
    m_settings.ProxyName.Set("b:2");
    m_host.on = true;
    CSettingsPage page = Page(m_folder.AppPath());
    EXPECT_TRUE(page.OnInitDialog(m_view));
    // On at start, through the stored proxy: the browser stays pointed at
    // what runs.
    EXPECT_TRUE(m_browser.Calls().empty());
    EXPECT_EQ(m_view.items, (Items{"a:1", "b:2"}));
    EXPECT_EQ(m_host.log, (Items{"generator"}));
    EXPECT_EQ(m_settings.RunFirst.Get(), 1u);
    EXPECT_EQ(m_folder.Read("proxylist.txt"), "a:1\r\r\nb:2\r\r\n");
    EXPECT_TRUE(m_view.checked);
    EXPECT_EQ(m_view.edit, "b:2");
    EXPECT_EQ(page.EnableFlag(), 1);

    // A later start only loads the file. The box shows what runs, not
    // what UseProxy says.
    m_host.on = false;
    PageView later;
    CSettingsPage again = Page(m_folder.AppPath());
    again.OnInitDialog(later);
    EXPECT_EQ(later.items, (Items{"a:1", "b:2"}));
    EXPECT_FALSE(later.checked);
    EXPECT_EQ(again.EnableFlag(), 0);
    EXPECT_TRUE(m_browser.Calls().empty());
    EXPECT_EQ(m_vendor.RequestsFor("/licensing/ProxyGenerator/proxylist.txt"), 1);
}

TEST_F(SettingsPageTest, ListFileErrorOnFirstRunLeavesItForTheNextStart) {
    CSettingsPage page = Page(m_folder.AppPath() + "missing/folder/");
    page.OnInitDialog(m_view);
    // Off: the first download goes direct.
    ASSERT_EQ(m_browser.Calls().size(), 1u);
    EXPECT_EQ(m_browser.Calls()[0].operation, "Disable");
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Stop);
    EXPECT_EQ(m_settings.RunFirst.Get(), 0u);
    EXPECT_TRUE(m_host.log.empty());
    EXPECT_TRUE(m_view.items.empty());
    EXPECT_EQ(m_view.edit, "");
}

TEST_F(SettingsPageTest, EachUpdateAddsWhatIsNewAndStartsTheGenerator) {
    m_settings.RunFirst.Set(1);
    // Duplicates in the file too, the empty entry among them.
    m_folder.Write("proxylist.txt", "old:1\r\r\na:1\r\r\n\r\r\nold:1\r\r\n\r\r\n");
    CSettingsPage page = Page(m_folder.AppPath());
    page.OnInitDialog(m_view);
    EXPECT_EQ(m_view.items, (Items{"", "a:1", "old:1"}));
    page.OnUpdateProxyList(m_view);
    page.OnUpdateProxyList(m_view);
    EXPECT_EQ(m_view.items, (Items{"", "a:1", "b:2", "old:1"}));
    EXPECT_EQ(m_view.shown, 2);  // the second update brought nothing new
    EXPECT_EQ(m_host.log, (Items{"generator", "generator"}));
    EXPECT_EQ(Texts(), (Items{": Proxy List Updated", ": Proxy List Updated"}));
    // The reads at start (the last check's results, the list), each
    // update's download and building of entries: each in the window's
    // wait, never on its thread.
    EXPECT_EQ(m_host.wait.runs, 2 + 2 + 2);
}

// Told to end while it waits, the page ends its operation without a word:
// no verdict, no list, no generator.
TEST_F(SettingsPageTest, AnEndWhileWaitingEndsTheOperationSilently) {
    m_settings.RunFirst.Set(1);
    m_folder.Write("proxylist.txt", "a:1\r\r\n");
    CSettingsPage page = Page(m_folder.AppPath());
    page.OnInitDialog(m_view);
    m_host.wait.ending = true;
    page.OnUpdateProxyList(m_view);
    m_view.selected = "good:1";
    page.OnPick(m_view);
    EXPECT_EQ(Texts(), (Items{": Testing the proxy you selected. This may take a few seconds"}));
    EXPECT_TRUE(m_host.log.empty());
    EXPECT_EQ(m_settings.RunFirst.Get(), 1u);
}

TEST_F(SettingsPageTest, PickAndAddTestTheProxyAndOnlyAnAvailableAddedOneIsShown) {
    m_settings.RunFirst.Set(1);
    CSettingsPage page = Page(m_folder.AppPath());
    page.OnPick(m_view);  // the empty item
    EXPECT_TRUE(m_messages.shown.empty());
    m_view.selected = "bad:1";
    page.OnPick(m_view);
    EXPECT_EQ(Texts(),
              (Items{": Testing the proxy you selected. This may take a few seconds",
                     "Error: Proxy Server is NOT Available - Please select a different proxy"}));

    // Add Proxy: cancelled, then OK with a good proxy, then OK with nothing,
    // which warns and tests the previous text again.
    m_messages.shown.clear();
    page.OnAddNewProxy(m_view);
    EXPECT_TRUE(m_messages.shown.empty());
    CAddProxyDialog dialog(m_store, m_messages);
    std::string typed = "good:80";
    m_view.addProxy = [&] { return dialog.OnOK(typed); };
    page.OnAddNewProxy(m_view);
    EXPECT_EQ(m_view.edit, "good:80");
    EXPECT_EQ(TMPProxy(m_store).Get(), "good:80");
    m_view.edit = "x";
    typed = "";
    page.OnAddNewProxy(m_view);
    EXPECT_EQ(m_view.edit, "good:80");
    EXPECT_EQ(Texts(),
              (Items{": Testing the proxy you selected. This may take a few seconds",
                     ": Proxy Server good:80 is Available", "WARNING: Please enter a proxy address",
                     ": Testing the proxy you selected. This may take a few seconds",
                     ": Proxy Server good:80 is Available"}));
    // An unavailable added proxy leaves the edit field alone.
    typed = "bad:2";
    m_view.edit = "kept";
    page.OnAddNewProxy(m_view);
    EXPECT_EQ(m_view.edit, "kept");
}

// Add Proxy keeps whatever was typed; the real probe then finds nothing to
// connect to and says so. The port is taken by its low 16 bits, as proxy
// switching takes it, so the text tested is the text that would be used.
TEST_F(SettingsPageTest, AddedTextsWithoutAUsableEndpointAreReportedNotAvailable) {
    m_settings.RunFirst.Set(1);
    ProxyProbe probe;
    CSettingsPage page(m_settings, m_store, m_folder.AppPath(), m_browser, m_messages, probe,
                       m_host);
    CAddProxyDialog dialog(m_store, m_messages);
    std::string typed;
    m_view.addProxy = [&] { return dialog.OnOK(typed); };
    const int closed = testsupport::FreePort();
    for (const std::string& text :
         {"no colon"s, ":80"s, "127.0.0.1:"s, "127.0.0.1:abc"s, "127.0.0.1:4294967296"s,
          "127.0.0.1:-" + std::to_string(65536 - closed), "127.0.0.1:1" + std::string(5000, '0'),
          std::string(100000, 'h') + ":80", "127.0.0.1\r\n:80"s, "\x01\xFF:\x7F"s}) {
        m_messages.shown.clear();
        m_view.edit = "kept";
        typed = text;
        page.OnAddNewProxy(m_view);
        EXPECT_EQ(TMPProxy(m_store).Get(), text);
        EXPECT_EQ(Texts(),
                  (Items{": Testing the proxy you selected. This may take a few seconds",
                         "Error: Proxy Server is NOT Available - Please select a different proxy"}))
            << text.substr(0, 40);
        EXPECT_EQ(m_view.edit, "kept");
    }
    // The vendor stands in for a proxy that relays the test image.
    m_vendor.AnswerBody(std::string(kTestImageUrlPath), TestImage());
    typed = "127.0.0.1:" + std::to_string(4294967296LL + m_vendor.Port());
    page.OnAddNewProxy(m_view);
    EXPECT_EQ(m_view.edit, typed);
    EXPECT_TRUE(m_host.log.empty());  // nothing is switched by a test
}

// The box shows what runs after a toggle, but a tick that did not switch on
// (nothing stored yet) stays: it is the choice "Save Settings" applies.
TEST_F(SettingsPageTest, ATickThatCouldNotSwitchOnStaysForSaveSettings) {
    CSettingsPage page = Page(m_folder.AppPath());
    m_host.onToggle = [&] { page.ShowSwitchState(m_view, m_host.on); };
    m_view.checked = true;
    page.OnEnableClicked(m_view);  // no proxy stored: still off
    EXPECT_TRUE(m_view.checked);
    EXPECT_EQ(page.EnableFlag(), 1);
    m_view.edit = "picked:1";
    page.OnSaveSettings(m_view);
    EXPECT_EQ(m_host.log, (Items{"cached 1", "toggle", "cached 1", "apply picked:1"}));

    // Switched on, then a click that unticks it: off, as the box says.
    m_host.on = true;
    page.ShowSwitchState(m_view, true);
    m_view.checked = false;
    m_host.onToggle = [&] {
        m_host.on = false;
        page.ShowSwitchState(m_view, false);
    };
    page.OnEnableClicked(m_view);
    EXPECT_FALSE(m_view.checked);
    EXPECT_EQ(page.EnableFlag(), 0);
}

TEST_F(SettingsPageTest, EnableSaveAndHelpGoThroughTheMainWindow) {
    CSettingsPage page = Page(m_folder.AppPath());
    m_view.checked = true;
    page.OnEnableClicked(m_view);
    m_view.checked = false;
    m_view.edit = "typed:9";
    page.OnSaveSettings(m_view);
    page.OnHelp(m_view);
    EXPECT_EQ(m_host.log, (Items{"cached 1", "toggle", "cached 0", "apply typed:9"}));
    EXPECT_EQ(m_view.opened, (Items{"index.htm"}));
    EXPECT_EQ(page.EnableFlag(), 0);
    EXPECT_TRUE(m_messages.shown.empty());  // the page itself stores nothing

    // The switch-over box alone is the page's to store.
    m_view.autoSwitch = false;
    page.OnSaveSettings(m_view);
    EXPECT_EQ(m_settings.AutoSwitch.Get(), 0u);
    PageView shown;
    page.OnInitDialog(shown);
    EXPECT_FALSE(shown.autoSwitch);
}

TEST(EntryMarkTest, EachStateAndGradeHasItsMarkAndWords) {
    const auto now = std::chrono::system_clock::now();
    ProxyCheckResult result{
        "a:1", ProxyState::kAlive, 120, ProxyGrade::kElite, true, now - std::chrono::seconds(150)};
    EXPECT_EQ(MarkKind(&result), EntryMarkKind::kElite);
    EXPECT_EQ(MarkText(&result, now), "alive, 120 ms, elite, HTTPS yes, checked 2 minutes ago");
    result.grade = ProxyGrade::kTransparent;
    result.https = false;
    EXPECT_EQ(MarkKind(&result), EntryMarkKind::kTransparent);
    EXPECT_EQ(MarkText(&result, now),
              "alive, 120 ms, transparent, HTTPS no, checked 2 minutes ago");
    result.grade = ProxyGrade::kNone;
    EXPECT_EQ(MarkKind(&result), EntryMarkKind::kUngraded);
    result.state = ProxyState::kBad;
    result.checkedAt = now - std::chrono::hours(25);
    EXPECT_EQ(MarkKind(&result), EntryMarkKind::kBad);
    EXPECT_EQ(MarkText(&result, now), "bad: no valid answer, checked 1 day ago");
    EXPECT_TRUE(IsStale(result, now));
    result.state = ProxyState::kDead;
    result.checkedAt = now + std::chrono::hours(1);  // a clock set back: fresh
    EXPECT_EQ(MarkText(&result, now), "dead, checked just now");
    EXPECT_FALSE(IsStale(result, now));
    EXPECT_EQ(MarkKind(nullptr), EntryMarkKind::kUnchecked);
    EXPECT_EQ(MarkText(nullptr, now), "not checked yet");
    // Edges of the age's words.
    using std::chrono::seconds;
    EXPECT_EQ(AgeText(seconds(59)), "just now");
    EXPECT_EQ(AgeText(seconds(60)), "1 minute ago");
    EXPECT_EQ(AgeText(seconds(3599)), "59 minutes ago");
    EXPECT_EQ(AgeText(seconds(3600)), "1 hour ago");
    EXPECT_EQ(AgeText(seconds(86399)), "23 hours ago");
    EXPECT_EQ(AgeText(seconds(3 * 86400 + 5)), "3 days ago");
}

// The last check's results, read at start, mark the list at once; the
// texts stay the endpoints.
TEST_F(SettingsPageTest, TheLastChecksResultsMarkTheListAtStart) {
    m_settings.RunFirst.Set(1);
    m_folder.Write("proxylist.txt", "c:3\r\r\na:1\r\r\nb:2\r\r\n");
    const auto now = std::chrono::system_clock::now();
    ProxyCheckTable last;
    last.Put({"b:2", ProxyState::kAlive, 80, ProxyGrade::kAnonymous, true,
              std::chrono::floor<std::chrono::seconds>(now)});
    last.Put({"c:3", ProxyState::kDead, 0, ProxyGrade::kNone, false,
              std::chrono::floor<std::chrono::seconds>(now - std::chrono::hours(72))});
    last.Put({"gone:4", ProxyState::kBad, 0, ProxyGrade::kNone, false,
              std::chrono::floor<std::chrono::seconds>(now)});
    ASSERT_EQ(WriteProxyCheckFile(m_folder.AppPath(), last), FileError::None);
    CSettingsPage page = Page(m_folder.AppPath());
    page.OnInitDialog(m_view);
    EXPECT_EQ(m_view.items, (Items{"a:1", "b:2", "c:3"}));
    ASSERT_EQ(m_view.marks.size(), 2u);
    EXPECT_EQ(MarkKind(&m_view.marks.at(1)), EntryMarkKind::kAnonymous);
    EXPECT_EQ(MarkText(&m_view.marks.at(2), now), "dead, checked 3 days ago");
    EXPECT_TRUE(IsStale(m_view.marks.at(2), now));
    EXPECT_EQ(m_results.Snapshot().Size(), 3u);  // an entry no longer listed keeps its result
}

// Each load checks the list in the background (nothing here runs one: no
// post); a new one replaces the running check, and the end of the page
// never waits for a proxy that does not answer.
TEST_F(SettingsPageTest, EachLoadChecksTheListAndTheEndStopsTheCheckAtOnce) {
    m_settings.RunFirst.Set(1);
    net::SocketLibrary library;
    // A listener that never accepts: a check through it waits for its limit.
    net::Socket silent(net::OpenTcp());
    ASSERT_TRUE(net::BindIPv4(silent.Get(), net::kLoopbackAddress, 0));
    ASSERT_TRUE(net::Listen(silent.Get(), 8));
    const std::string hanging = "127.0.0.1:" + std::to_string(net::LocalPort(silent.Get()));
    const std::string dead = "127.0.0.1:" + std::to_string(testsupport::FreePort());
    m_folder.Write("proxylist.txt", dead + "\r\r\n");
    m_vendor.AnswerBody("/licensing/ProxyGenerator/proxylist.txt", hanging + "\n");
    const auto post = std::make_shared<QueuedPost>();
    ProxyCheckOptions options;
    options.judgeUrl = m_vendor.BaseUrl() + std::string(kJudgeUrlPath);
    options.connectLimit = kStopLimit;
    options.entryLimit = kStopLimit;
    auto page = std::make_unique<CSettingsPage>(m_settings, m_store, m_folder.AppPath(), m_browser,
                                                m_messages, m_probe, m_host,
                                                SettingsPageChecks{&m_results, post, options});
    page->OnInitDialog(m_view);
    // Refused at once: its mark, then the results file at the check's end.
    ASSERT_TRUE(testsupport::WaitFor([&] {
        post->RunPosted();
        return m_folder.Read("proxycheck.txt").find(dead + "\tdead") != std::string::npos;
    }));
    ASSERT_EQ(m_view.marks.count(0), 1u);
    EXPECT_EQ(m_view.marks[0].state, ProxyState::kDead);
    EXPECT_EQ(m_view.items, (Items{dead}));

    page->OnUpdateProxyList(m_view);
    m_view.marks.clear();  // what the load showed of the last check
    const std::size_t deadRow = dead < hanging ? 0 : 1;
    ASSERT_TRUE(testsupport::WaitFor([&] {
        post->RunPosted();
        return m_view.marks.count(deadRow) == 1;
    }));
    EXPECT_EQ(m_view.marks.size(), 1u);  // the silent one is still waited for

    std::atomic<bool> gone{false};
    std::jthread closing([&] {
        page.reset();
        gone = true;
    });
    EXPECT_TRUE(testsupport::WaitFor([&] { return gone.load(); }, kStopWithinMs));
    closing.join();
    post->RunPosted();  // what came after the end reaches nobody
    EXPECT_EQ(m_view.marks.size(), 1u);
}

}  // namespace
