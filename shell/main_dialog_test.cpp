// The main window's sequences with a recording view and fake services: the
// initialisation order, the start timer, the commands, Cancel and OK, Exit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_connection_options.h"
#include "fake_main_window_view.h"
#include "fake_message_box.h"
#include "fake_registry_store.h"
#include "fake_trace_stores.h"
#include "loopback.h"
#include "main_dialog.h"
#include "proxy_check_results.h"

namespace {

using Log = std::vector<std::string>;

class MainDialogTest : public testing::Test {
protected:
    MainDialogServices Services() {
        return MainDialogServices{
            m_settings, m_store,           m_browser, m_messages,
            m_probe,    m_traces.Stores(), "",        testsupport::FreePort()};
    }
    Log& Calls() { return m_view.tray.calls; }

    FakeRegistryStore m_store;
    SettingsCatalogue m_settings{m_store};
    FakeConnectionOptions m_browser;
    FakeMessageBox m_messages;
    ProxyProbe m_probe;
    FakeTraceStores m_traces;
    FakeMainWindowView m_view;
};

TEST_F(MainDialogTest, FirstStartStaysOnScreenAndLaterStartsHide) {
    {
        CMainDialog window(m_view, Services());
        EXPECT_TRUE(window.OnInitDialog());
        // No timer but the start timer: at rest the window sleeps.
        EXPECT_EQ(Calls(), (Log{"add", "about item &About Quillon...", "timer 0 1", "sheet"}));
        EXPECT_EQ(m_view.tray.last.tip, "Quillon");
        EXPECT_EQ(m_view.tray.last.icon, 0x128u);
        EXPECT_EQ(m_settings.Minimize.Get(), 1u);
        Calls().clear();
        window.OnTimer(kTimerStay);
        EXPECT_EQ(Calls(), (Log{"kill 0"}));
        EXPECT_FALSE(window.EnableChecked());
    }
    Calls().clear();
    m_view.aboutText.clear();  // no About item, no separator
    CMainDialog again(m_view, Services());
    again.OnInitDialog();
    EXPECT_EQ(Calls(), (Log{"add", "timer 998 1", "sheet"}));
    Calls().clear();
    again.OnTimer(kTimerHide);
    EXPECT_EQ(Calls(), (Log{"window hide", "kill 998"}));
}

TEST_F(MainDialogTest, CommandsCancelAndOkKeepTheProgramInTheTray) {
    CMainDialog window(m_view, Services());
    window.OnInitDialog();
    Calls().clear();
    window.OnCommand(kCommandConfiguration);
    EXPECT_EQ(Calls(), (Log{"delete", "window show"}));
    Calls().clear();
    window.OnCancel();  // always hidden with the icon
    window.OnOK();      // as Cancel: never ends past Exit
    EXPECT_EQ(Calls(), (Log{"add", "window hide", "window hide"}));
    Calls().clear();
    window.OnCommand(kCommandHideMenu);
    window.OnCommand(kCommandHideMenu);  // already gone: no call
    EXPECT_EQ(Calls(), (Log{"delete"}));
    EXPECT_EQ(window.IsTrayIconShown(), 0);

    // The system menu: About, and Close/Minimize left to the system.
    Calls().clear();
    EXPECT_TRUE(window.OnSysCommand(kSysCommandAbout));
    EXPECT_FALSE(window.OnSysCommand(kScClose));
    EXPECT_EQ(Calls(), (Log{"about box"}));

    // The first minimise is a real one; later ones hide the window behind
    // the icon, or, with the icon gone, leave it minimised.
    Calls().clear();
    window.OnMinimized();
    window.OnMinimized();
    EXPECT_EQ(Calls(), (Log{"window minimize", "window minimize"}));
    window.OnCancel();
    Calls().clear();
    window.OnMinimized();
    EXPECT_EQ(Calls(), (Log{"window hide"}));
}

// A desktop without a notification area: no icon can be shown, so nothing
// hides the window; what would hide it minimises it instead.
TEST_F(MainDialogTest, WithoutANotificationAreaTheWindowIsNeverHidden) {
    m_settings.Minimize.Set(1);  // a later start
    m_view.tray.addResult = false;
    CMainDialog window(m_view, Services());
    window.OnInitDialog();
    EXPECT_EQ(window.IsTrayIconShown(), 0);
    Calls().clear();
    window.OnTimer(kTimerHide);
    window.OnCancel();  // tries the icon again first
    window.OnOK();
    window.OnMinimized();
    window.OnMinimized();
    EXPECT_EQ(Calls(), (Log{"window minimize", "kill 998", "add", "window minimize", "add",
                            "window minimize", "window minimize", "window minimize"}));
}

TEST_F(MainDialogTest, ExitSwitchesTheBrowserToDirectAndClearsPopupBlocking) {
    m_settings.BlockPopups.Set(1);
    CMainDialog window(m_view, Services());
    window.OnInitDialog();
    Calls().clear();
    window.OnCommand(kCommandExit);
    EXPECT_EQ(Calls(), (Log{"end 0"}));
    ASSERT_FALSE(m_browser.Calls().empty());
    EXPECT_EQ(m_browser.Calls().back().operation, "Disable");
    EXPECT_EQ(SettingsCatalogue(m_store).BlockPopups.Get(), 0u);  // as the next start reads it
}

TEST_F(MainDialogTest, StoredProxyStartsTheEngineAndTheTrayCommandTurnsItOff) {
    testsupport::LoopbackServer upstream([](net::Socket&) {});
    m_settings.ProxyName.Set("127.0.0.1:" + std::to_string(upstream.Port()));
    m_settings.UseProxy.Set(1);
    CMainDialog window(m_view, Services());
    window.OnInitDialog();
    EXPECT_TRUE(window.EnableChecked());
    EXPECT_TRUE(testsupport::WaitFor([&] { return window.ProxyServer().IsRunning() == 1; }));
    window.OnCommand(kCommandEnable);
    EXPECT_FALSE(window.EnableChecked());
    EXPECT_EQ(window.ProxyServer().IsRunning(), 0);
    EXPECT_EQ(m_settings.UseProxy.Get(), 0u);
    EXPECT_EQ(m_browser.Calls().back().operation, "Disable");
}

// The stored proxy refuses every connect; the list check knows a better one.
// With AutoSwitch on, a burst of failures moves the engine there, and the
// window stores it and tells the user; with it off, the browser keeps
// getting the error page.
TEST_F(MainDialogTest, AProxyThatStopsAnsweringIsReplacedByTheBestCheckedOneWhenAllowed) {
    net::SocketLibrary library;
    net::Socket dead(net::OpenTcp());  // bound, never listening: refuses
    ASSERT_TRUE(net::BindIPv4(dead.Get(), net::kLoopbackAddress, 0));
    const std::string deadText = "127.0.0.1:" + std::to_string(net::LocalPort(dead.Get()));
    testsupport::LoopbackServer good([](net::Socket& c) {
        testsupport::ReceiveRequest(c);
        testsupport::SendText(c, testsupport::HttpResponse("fine"));
    });
    const std::string goodText = "127.0.0.1:" + std::to_string(good.Port());
    QueuedPost post;

    for (const std::uint32_t autoSwitch : {0u, 1u}) {
        SCOPED_TRACE(autoSwitch);
        m_settings.ProxyName.Set(deadText);
        m_settings.UseProxy.Set(1);
        m_settings.AutoSwitch.Set(autoSwitch);
        MainDialogServices services = Services();
        services.post = &post;
        CMainDialog window(m_view, services);
        ProxyCheckResult transparent{
            "127.0.0.1:1", ProxyState::kAlive, 1, ProxyGrade::kTransparent, false, {}};
        window.CheckResults().Put(transparent);
        window.CheckResults().Put(
            ProxyCheckResult{goodText, ProxyState::kAlive, 500, ProxyGrade::kElite, false, {}});
        window.OnInitDialog();
        Calls().clear();
        std::string last;
        for (int i = 0; i < kFailoverFailures; ++i) {
            net::Socket browser = testsupport::ConnectLoopback(
                static_cast<std::uint16_t>(window.ProxyServer().ListeningPort()));
            testsupport::SendText(browser, "GET http://example.com/ HTTP/1.1\r\n\r\n");
            last = testsupport::ReceiveToClose(browser);
        }
        post.RunPosted();
        if (autoSwitch == 0) {
            EXPECT_EQ(last.rfind("HTTP/1.1 502 ", 0), 0u);
            EXPECT_EQ(m_settings.ProxyName.Get(), deadText);
            EXPECT_TRUE(Calls().empty());
        } else {
            EXPECT_EQ(last, testsupport::HttpResponse("fine"));
            EXPECT_EQ(m_settings.ProxyName.Get(), goodText);
            EXPECT_EQ(m_settings.UseProxy.Get(), 1u);
            EXPECT_EQ(Calls(),
                      (Log{"proxy " + goodText, "notify Quillon: Quillon switched to " + goodText +
                                                    ": " + deadText + " stopped answering."}));
        }
        EXPECT_TRUE(window.EnableChecked());
    }
}

}  // namespace
