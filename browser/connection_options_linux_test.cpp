#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "browser_test_support_linux.h"
#include "connection_options_linux.h"
#include "connection_record.h"
#include "desktop_proxy.h"
#include "glib_handles_linux.h"
#include "kde_proxy_settings_linux.h"
#include "loopback.h"
#include "proxy_resolver.h"
#include "registry_store_linux.h"

namespace {

namespace fs = std::filesystem;
using browsertest::GsettingsGet;
using browsertest::RunCommand;

constexpr const char* kProxy = "org.gnome.system.proxy";
constexpr const char* kHttp = "org.gnome.system.proxy.http";
constexpr const char* kHttps = "org.gnome.system.proxy.https";
constexpr const char* kIgnoreAll = "['local', 'localhost', '127.0.0.0/8', '::1']";

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Tool(const std::string& arguments) {
    return RunCommand(std::string(QUILLON_BROWSER_PROXY_TOOL) + " " + arguments).output;
}

// The store a fresh start of the program would read.
std::optional<ConnectionRecord> StoredRecord(const char* name) {
    SqliteRegistryStore store(DefaultSettingsDatabasePath());
    return ReadConnectionRecord(store, name);
}

// Every key of GNOME's proxy settings, as a separate process prints them;
// env: assignments for that process.
std::string GnomeSettings(const std::string& env = "") {
    return RunCommand(env + "gsettings list-recursively " + kProxy).output;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(ConnectionOptions, GnomeFollowsSetAndDisable) {
    const std::string before = GnomeSettings();
    ASSERT_TRUE(SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    EXPECT_EQ(GsettingsGet(kProxy, "mode"), "'manual'");
    EXPECT_EQ(GsettingsGet(kHttp, "host"), "'127.0.0.1'");
    EXPECT_EQ(GsettingsGet(kHttp, "port"), "8080");
    EXPECT_EQ(GsettingsGet(kHttps, "host"), "'127.0.0.1'");
    EXPECT_EQ(GsettingsGet(kHttps, "port"), "8080");
    EXPECT_EQ(GsettingsGet(kProxy, "ignore-hosts"), kIgnoreAll);

    ASSERT_TRUE(DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_EQ(GnomeSettings(), before);

    // The record keeps the server while the desktop is given back.
    auto record = StoredRecord(kDefaultConnectionName);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->flags, kProxyTypeDirect);
    EXPECT_EQ(record->proxyServer, "127.0.0.1:8080");
    EXPECT_EQ(record->proxyBypass, "local");
}

TEST(ConnectionOptions, RecordSurvivesARestartBetweenSetAndDisable) {
    // Each operation in a process of its own, as across two runs.
    EXPECT_EQ(Tool("set Dialup 10.1.2.3:3128"), "1");
    auto afterSet = StoredRecord("Dialup");
    ASSERT_TRUE(afterSet);
    EXPECT_EQ(afterSet->flags, kProxyTypeDirect | kProxyTypeProxy);
    EXPECT_EQ(GsettingsGet(kHttp, "port"), "3128");

    EXPECT_EQ(Tool("disable Dialup"), "1");
    auto afterDisable = StoredRecord("Dialup");
    ASSERT_TRUE(afterDisable);
    EXPECT_EQ(afterDisable->flags, kProxyTypeDirect);
    EXPECT_EQ(afterDisable->proxyServer, "10.1.2.3:3128");
    EXPECT_EQ(afterDisable->proxyBypass, "local");
    EXPECT_EQ(GsettingsGet(kProxy, "mode"), "'none'");
    // Another connection's record is its own.
    EXPECT_FALSE(StoredRecord("Never set"));
}

// Sets GNOME's mode from this process: the keyfile backend here only sees
// what other processes write once a main loop runs.
void SetGnomeMode(const char* mode) {
    glib::Object<GSettings> settings(g_settings_new(kProxy));
    g_settings_set_string(settings.get(), "mode", mode);
    g_settings_sync();
}

TEST(ConnectionOptions, ABrokenStoreFailsTheResultButStillSwitchesTheDesktop) {
    SetGnomeMode("auto");
    testsupport::TempDir dir;
    WriteFile(dir.Path() + "/file", "not a folder");
    SqliteRegistryStore broken(dir.Path() + "/file/settings.db");
    DesktopConnectionOptions options(broken, DesktopEnvironment{});

    EXPECT_FALSE(options.SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8181"));
    EXPECT_EQ(GsettingsGet(kProxy, "mode"), "'manual'");
    EXPECT_EQ(GsettingsGet(kHttp, "port"), "8181");
    // What the store refused the object remembers, and gives back.
    EXPECT_FALSE(options.DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_EQ(GsettingsGet(kProxy, "mode"), "'auto'");
    SetGnomeMode("none");
}

TEST(ConnectionOptions, ServerTextIsReadLikeEveryProxyEndpoint) {
    auto proxyFor = [](const char* server, const char* bypass = "local") {
        return DesktopProxyFor({kProxyTypeDirect | kProxyTypeProxy, server, bypass});
    };
    DesktopProxy plain = proxyFor("127.0.0.1:8080");
    EXPECT_TRUE(plain.manual);
    EXPECT_EQ(plain.host, "127.0.0.1");
    EXPECT_EQ(plain.port, 8080);
    EXPECT_EQ(proxyFor("proxy.test: +81x").port, 81);
    // No colon: no host, the port from the whole text.
    EXPECT_EQ(proxyFor("8080").host, "");
    EXPECT_EQ(proxyFor("8080").port, 8080);
    // Ports a desktop would refuse become "no port".
    EXPECT_EQ(proxyFor("h:70000").port, 0);
    EXPECT_EQ(proxyFor("h:-1").port, 0);
    EXPECT_FALSE(DesktopProxyFor({kProxyTypeDirect, "h:1", ""}).manual);
    // Loopback is always bypassed, once.
    EXPECT_EQ(proxyFor("h:1", " a.test;b.test,,localhost ::1").ignoreHosts,
              (std::vector<std::string>{"a.test", "b.test", "localhost", "::1", "127.0.0.0/8"}));

    // GNOME takes a refused port as 0 rather than refusing the whole change.
    ASSERT_TRUE(SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:99999"));
    EXPECT_EQ(GsettingsGet(kProxy, "mode"), "'manual'");
    EXPECT_EQ(GsettingsGet(kHttp, "port"), "0");
    DisableConnectionProxy(kDefaultConnectionName);
}

TEST(ConnectionOptions, ResolverAnswersTheLocalProxyThenDirect) {
    ASSERT_TRUE(SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    EXPECT_EQ(ProxyForUrl("http://origin.test/list.txt"), "http://127.0.0.1:8080");
    EXPECT_EQ(ProxyForUrl("https://origin.test/"), "http://127.0.0.1:8080");
    EXPECT_EQ(ProxyForUrl("http://localhost:8080/"), kDirectProxy);
    EXPECT_EQ(ProxyForUrl("http://127.0.0.5/"), kDirectProxy);
    // A separate process sees the same.
    EXPECT_EQ(Tool("resolve http://origin.test/"), "http://127.0.0.1:8080");

    ASSERT_TRUE(DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_EQ(ProxyForUrl("http://origin.test/list.txt"), kDirectProxy);
    EXPECT_EQ(Tool("resolve http://origin.test/"), kDirectProxy);
}

TEST(ConnectionOptions, RealDconfUnderASessionBus) {
    if (!browsertest::HaveProgram("dbus-run-session") ||
        !fs::exists("/usr/lib/x86_64-linux-gnu/gio/modules/libdconfsettings.so")) {
        GTEST_SKIP() << "dbus-run-session or dconf missing";
    }
    testsupport::TempDir home;
    testsupport::TempDir runtime;
    ::chmod(runtime.Path().c_str(), 0700);
    const std::string env = "env -u GSETTINGS_BACKEND XDG_CONFIG_HOME=" + home.Path() +
                            " XDG_RUNTIME_DIR=" + runtime.Path() + " ";
    const std::string before = GnomeSettings(env);
    EXPECT_EQ(RunCommand(env + "dbus-run-session -- " + QUILLON_BROWSER_PROXY_TOOL +
                         " set DefaultConnectionSettings 127.0.0.1:8383 2>/dev/null")
                  .output,
              "1");
    // dconf's database file holds the change once the session is gone.
    EXPECT_TRUE(fs::exists(home.Path() + "/dconf/user"));
    EXPECT_EQ(RunCommand(env + "gsettings get " + kProxy + " mode").output, "'manual'");
    EXPECT_EQ(RunCommand(env + "gsettings get " + kHttp + " port").output, "8383");

    EXPECT_EQ(RunCommand(env + "dbus-run-session -- " + QUILLON_BROWSER_PROXY_TOOL +
                         " disable DefaultConnectionSettings 2>/dev/null")
                  .output,
              "1");
    EXPECT_EQ(GnomeSettings(env), before);
}

// Counts KIO's reparse signals on a bus, on a main context of its own.
class KioSignalWatch {
public:
    explicit KioSignalWatch(const std::string& address) : m_context(g_main_context_new()) {
        g_main_context_push_thread_default(m_context.get());
        GError* raw = nullptr;
        m_bus.reset(g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &raw));
        glib::Error error(raw);
        if (m_bus) {
            m_subscription = g_dbus_connection_signal_subscribe(
                m_bus.get(), nullptr, "org.kde.KIO.Scheduler", "reparseSlaveConfiguration",
                "/KIO/Scheduler", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &KioSignalWatch::OnSignal,
                this, nullptr);
            // A round trip, so the bus has our match rule before anyone signals.
            if (GVariant* reply = g_dbus_connection_call_sync(
                    m_bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                    "org.freedesktop.DBus", "GetId", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
                    nullptr, nullptr)) {
                g_variant_unref(reply);
            }
        }
    }
    ~KioSignalWatch() {
        if (m_bus) {
            g_dbus_connection_signal_unsubscribe(m_bus.get(), m_subscription);
            g_dbus_connection_close_sync(m_bus.get(), nullptr, nullptr);
            m_bus.reset();
        }
        while (g_main_context_iteration(m_context.get(), FALSE)) {
        }
        g_main_context_pop_thread_default(m_context.get());
    }
    KioSignalWatch(const KioSignalWatch&) = delete;
    KioSignalWatch& operator=(const KioSignalWatch&) = delete;

    bool Connected() const { return m_bus != nullptr; }
    // Waits (bounded in time) for the count to reach `count`, sleeping in the
    // main context until a signal or the time-out wakes it.
    int WaitFor(int count) {
        bool timedOut = false;
        GSource* timeout = g_timeout_source_new(testsupport::kReceiveTimeoutMs);
        g_source_set_callback(
            timeout,
            [](gpointer flag) {
                *static_cast<bool*>(flag) = true;
                return G_SOURCE_REMOVE;
            },
            &timedOut, nullptr);
        g_source_attach(timeout, m_context.get());
        while (m_received < count && !timedOut) {
            g_main_context_iteration(m_context.get(), TRUE);
        }
        g_source_destroy(timeout);
        g_source_unref(timeout);
        return m_received;
    }

private:
    static void OnSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant*, gpointer self) {
        ++static_cast<KioSignalWatch*>(self)->m_received;
    }

    struct ContextUnref {
        void operator()(GMainContext* c) const { g_main_context_unref(c); }
    };
    std::unique_ptr<GMainContext, ContextUnref> m_context;
    glib::Object<GDBusConnection> m_bus;
    guint m_subscription = 0;
    int m_received = 0;
};

class KdeProxySettings : public testing::Test {
protected:
    DesktopEnvironment Desktop(const std::string& currentDesktop, std::string bus = "") {
        return DesktopEnvironment{m_home.Path(), currentDesktop, std::move(bus)};
    }
    fs::path Kioslaverc() const { return fs::path(m_home.Path()) / "kioslaverc"; }

    testsupport::TempDir m_home;
    testsupport::TempDir m_store;
    SqliteRegistryStore m_registry{m_store.Path() + "/settings.db"};
};

TEST_F(KdeProxySettings, EditsOnlyTheProxyLinesAndSignalsKio) {
    if (!fs::exists("/usr/bin/dbus-daemon")) {
        GTEST_SKIP() << "dbus-daemon missing";
    }
    browsertest::SessionBus bus;
    ASSERT_TRUE(bus.Ready());
    KioSignalWatch watch(bus.Address());
    ASSERT_TRUE(watch.Connected());

    // The user's own file, kept in a dotfiles folder and linked.
    testsupport::TempDir dotfiles;
    const fs::path real = fs::path(dotfiles.Path()) / "kioslaverc";
    const std::string before =
        "[$Version]\nupdate_info=kio.upd:koi8r\n\n"
        "# my proxy\n[Proxy Settings]\nAuthMode=0\nProxyType=0\nhttpProxy=http://old 1\n"
        "ftpProxy=ftp://mine 21\n\n[Cache Settings]\nMaxCacheSize=5000";
    WriteFile(real, before);
    ::chmod(real.c_str(), 0640);
    fs::create_symlink(real, Kioslaverc());

    DesktopConnectionOptions options(m_registry, Desktop("KDE", bus.Address()));
    ASSERT_TRUE(options.SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    const std::string afterSet =
        "[$Version]\nupdate_info=kio.upd:koi8r\n\n"
        "# my proxy\n[Proxy Settings]\nAuthMode=0\nProxyType=1\n"
        "httpProxy=http://127.0.0.1 8080\nftpProxy=ftp://mine 21\n"
        "httpsProxy=http://127.0.0.1 8080\nNoProxyFor=local,localhost,127.0.0.0/8,::1\n"
        "\n[Cache Settings]\nMaxCacheSize=5000";
    EXPECT_EQ(ReadFile(real), afterSet);
    EXPECT_TRUE(fs::is_symlink(Kioslaverc()));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(watch.WaitFor(1), 1);

    // The user's group comes back line for line, still linked, mode kept.
    ASSERT_TRUE(options.DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_EQ(ReadFile(real), before);
    EXPECT_TRUE(fs::is_symlink(Kioslaverc()));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(watch.WaitFor(2), 2);
    // No temporary file left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dotfiles.Path()), fs::directory_iterator()), 1);
}

TEST_F(KdeProxySettings, OnlyWhereKdeIsInUse) {
    DesktopConnectionOptions gnome(m_registry, Desktop("ubuntu:GNOME"));
    ASSERT_TRUE(gnome.SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    EXPECT_FALSE(fs::exists(Kioslaverc()));
    ASSERT_TRUE(gnome.DisableConnectionProxy(kDefaultConnectionName));

    // A KDE session without a kioslaverc yet gets one for the time being,
    // and no bus is no harm.
    DesktopConnectionOptions kde(m_registry, Desktop("KDE"));
    ASSERT_TRUE(kde.SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    EXPECT_NE(ReadFile(Kioslaverc()).find("ProxyType=1\n"), std::string::npos);
    ASSERT_TRUE(kde.DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_FALSE(fs::exists(Kioslaverc()));

    // A file of the user's own says that KDE programs are used.
    WriteFile(Kioslaverc(), "[General]\nx=1\n");
    ASSERT_TRUE(gnome.SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    EXPECT_NE(ReadFile(Kioslaverc()).find("ProxyType=1\n"), std::string::npos);
    ASSERT_TRUE(gnome.DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_EQ(ReadFile(Kioslaverc()), "[General]\nx=1\n");
}

// The user's own settings in a home of the test's own, on a KDE desktop that
// GNOME's settings also reach; the program and the desktops' commands each
// run in a process of their own.
class UsersProxySettings : public testing::Test {
protected:
    std::string Env() const {
        return "env XDG_CONFIG_HOME=" + m_home.Path() + " XDG_CURRENT_DESKTOP=KDE ";
    }
    std::string Run(const std::string& command) { return RunCommand(Env() + command).output; }
    std::string Program(const std::string& arguments) {
        return Run(std::string(QUILLON_BROWSER_PROXY_TOOL) + " " + arguments + " 2>/dev/null");
    }
    void Gsettings(const std::string& arguments) { Run("gsettings set " + arguments); }
    std::string Gnome() { return GnomeSettings(Env()); }
    fs::path Kioslaverc() const { return fs::path(m_home.Path()) / "kioslaverc"; }
    std::string StorePath() const { return m_home.Path() + "/quillon/settings.db"; }

    // GNOME and KDE each set to a proxy auto-configuration file of the user's.
    void SetUsersPac() {
        Gsettings("org.gnome.system.proxy mode auto");
        Gsettings("org.gnome.system.proxy autoconfig-url 'http://wpad.test/proxy.pac'");
        Gsettings("org.gnome.system.proxy ignore-hosts \"['intranet.test', '10.0.0.0/8']\"");
        Gsettings("org.gnome.system.proxy use-same-proxy false");
        Gsettings("org.gnome.system.proxy.socks host 'socks.test'");
        Gsettings("org.gnome.system.proxy.socks port 1080");
        WriteFile(Kioslaverc(), kKdePac);
    }

    static constexpr const char* kKdePac =
        "[Cache Settings]\nMaxCacheSize=5000\n\n"
        "[Proxy Settings]\nProxyType=2\nProxy Config Script=http://wpad.test/proxy.pac\n"
        "NoProxyFor=intranet.test\nReversedException=false\n\n"
        "[$Version]\nupdate_info=kio.upd:koi8r";

    testsupport::TempDir m_home;
};

TEST_F(UsersProxySettings, APacConfigurationComesBackExactlyAfterACrash) {
    SetUsersPac();
    const std::string gnome = Gnome();
    ASSERT_NE(gnome.find("mode 'auto'"), std::string::npos);

    // Each run ends without switching off, as in a crash; the second switches
    // on again while on, which must keep what the first saved.
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(Program("set DefaultConnectionSettings 127.0.0.1:8080"), "1");
        EXPECT_EQ(Run("gsettings get org.gnome.system.proxy mode"), "'manual'");
        EXPECT_NE(ReadFile(Kioslaverc()).find("ProxyType=1\n"), std::string::npos);
    }
    EXPECT_EQ(Program("disable DefaultConnectionSettings"), "1");
    EXPECT_EQ(Gnome(), gnome);
    EXPECT_EQ(ReadFile(Kioslaverc()), kKdePac);

    // Given back once: what the user sets next is what the next run saves.
    Gsettings("org.gnome.system.proxy mode none");
    const std::string later = Gnome();
    EXPECT_EQ(Program("set DefaultConnectionSettings 127.0.0.1:8080"), "1");
    EXPECT_EQ(Program("disable DefaultConnectionSettings"), "1");
    EXPECT_EQ(Gnome(), later);
}

TEST_F(UsersProxySettings, TheProgramsOwnPointerIsNeverGivenBack) {
    // Left behind by a run that crashed before anything was saved.
    Gsettings("org.gnome.system.proxy mode manual");
    Gsettings("org.gnome.system.proxy.http host '127.0.0.1'");
    Gsettings("org.gnome.system.proxy.http port 8080");
    Gsettings("org.gnome.system.proxy ignore-hosts \"['intranet.test']\"");
    const std::string kde =
        "[Proxy Settings]\nProxyType=1\nhttpProxy=http://127.0.0.1 8080\n"
        "httpsProxy=http://127.0.0.1 8080\nNoProxyFor=intranet.test\n";
    WriteFile(Kioslaverc(), kde);
    const std::string gnome = Gnome();

    EXPECT_EQ(Program("set DefaultConnectionSettings 127.0.0.1:8080"), "1");
    EXPECT_EQ(Program("disable DefaultConnectionSettings"), "1");
    EXPECT_EQ(Gnome(), Replaced(gnome, "mode 'manual'", "mode 'none'"));
    EXPECT_EQ(ReadFile(Kioslaverc()), Replaced(kde, "ProxyType=1", "ProxyType=0"));
}

TEST_F(UsersProxySettings, AnEndWithNothingSavedRepairsOnlyTheProgramsPointer) {
    {
        // An earlier version recorded its endpoint and saved nothing.
        SqliteRegistryStore store(StorePath());
        ASSERT_TRUE(WriteConnectionRecord(store, kDefaultConnectionName,
                                          {kProxyTypeDirect, "127.0.0.1:8080", "local"}));
    }
    SetUsersPac();
    Gsettings("org.gnome.system.proxy mode manual");
    Gsettings("org.gnome.system.proxy.http host '127.0.0.1'");
    Gsettings("org.gnome.system.proxy.http port 8080");
    const std::string gnome = Gnome();

    EXPECT_EQ(Program("disable DefaultConnectionSettings"), "1");
    EXPECT_EQ(Gnome(), Replaced(gnome, "mode 'manual'", "mode 'none'"));
    EXPECT_EQ(ReadFile(Kioslaverc()), kKdePac);
}

TEST_F(UsersProxySettings, DamagedSavedSettingsNeitherStickNorHarm) {
    auto storeSaved = [this](const std::string& bytes) {
        SqliteRegistryStore store(StorePath());
        auto key =
            store.CreateKey(RegistryRoot::CurrentUser, ConnectionRecordKey(kDefaultConnectionName));
        return key && key->SetValue("SavedProxySettings", kRegBinary, bytes);
    };
    auto field = [](const std::string& text) { return std::to_string(text.size()) + ":" + text; };
    SetUsersPac();
    const std::string gnome = Gnome();

    // Unreadable: saved afresh.
    ASSERT_TRUE(storeSaved("99999999999999999999:GNOME"));
    EXPECT_EQ(Program("set DefaultConnectionSettings 127.0.0.1:8080"), "1");
    EXPECT_EQ(Program("disable DefaultConnectionSettings"), "1");
    EXPECT_EQ(Gnome(), gnome);
    EXPECT_EQ(ReadFile(Kioslaverc()), kKdePac);

    // Readable, with keys GNOME lacks, values of the wrong type or range and
    // text no desktop wrote: what fits is given back, the rest is passed over.
    ASSERT_TRUE(storeSaved(field("GNOME") +
                           field("{'mode': <42>, 'nochild/host': <'x'>, 'http/port': <99999>, "
                                 "'bogus': <1>, 'https/port': <3128>}") +
                           field("KDE") + field("x") + field("WinINet") + field("")));
    EXPECT_EQ(Program("disable DefaultConnectionSettings"), "1");
    EXPECT_EQ(Run("gsettings get org.gnome.system.proxy.https port"), "3128");
    EXPECT_EQ(Run("gsettings get org.gnome.system.proxy mode"), "'auto'");
    EXPECT_EQ(ReadFile(Kioslaverc()), kKdePac);
}

}  // namespace
