// WinINet's per-connection options, under Wine in the test runs: the values
// WinINet keeps in the registry (read by reg.exe, as a user would), and the
// options as WinINet reports them back.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "connection_options.h"

namespace {

constexpr const char* kInternetSettings =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

struct PipeCloser {
    void operator()(FILE* pipe) const { _pclose(pipe); }
};

std::string RegQuery(const char* value) {
    std::string command = std::string("reg query \"") + kInternetSettings + "\" /v " + value;
    std::unique_ptr<FILE, PipeCloser> pipe(_popen(command.c_str(), "r"));
    std::string output;
    if (!pipe) {
        return output;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
        output += buffer;
    }
    return output;
}

struct QueriedOptions {
    bool ok = false;
    DWORD flags = 0;
    std::string proxyServer;
};

QueriedOptions Query(const char* connectionName) {
    INTERNET_PER_CONN_OPTIONA options[2]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    std::string name = connectionName != nullptr ? connectionName : "";
    INTERNET_PER_CONN_OPTION_LISTA list{};
    list.dwSize = sizeof(list);
    list.pszConnection = connectionName != nullptr ? name.data() : nullptr;
    list.dwOptionCount = 2;
    list.pOptions = options;
    DWORD size = sizeof(list);
    QueriedOptions result;
    result.ok =
        InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size) != FALSE;
    result.flags = options[0].Value.dwValue;
    if (options[1].Value.pszValue != nullptr) {
        result.proxyServer = options[1].Value.pszValue;
        GlobalFree(options[1].Value.pszValue);
    }
    return result;
}

// Sets the options as the user's control panel would.
bool SetUsersOptions(DWORD flags, const char* proxyServer) {
    std::string server = proxyServer;
    INTERNET_PER_CONN_OPTIONA options[2]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = flags;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = server.data();
    INTERNET_PER_CONN_OPTION_LISTA list{};
    list.dwSize = sizeof(list);
    list.dwOptionCount = 2;
    list.pOptions = options;
    return InternetSetOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list,
                              sizeof(list)) != FALSE;
}

TEST(ConnectionOptions, SetPointsAtTheServerAndDisableGivesTheOptionsBack) {
    const QueriedOptions before = Query(kDefaultConnectionName);
    ASSERT_TRUE(before.ok);
    ASSERT_TRUE(SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    EXPECT_NE(RegQuery("ProxyEnable").find("0x1"), std::string::npos);
    EXPECT_NE(RegQuery("ProxyServer").find("127.0.0.1:8080"), std::string::npos);
    QueriedOptions set = Query(kDefaultConnectionName);
    ASSERT_TRUE(set.ok);
    // Wine reports only the proxy bit of the 3 it was given.
    EXPECT_NE(set.flags & kProxyTypeProxy, 0u);
    EXPECT_EQ(set.proxyServer, "127.0.0.1:8080");

    ASSERT_TRUE(DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_NE(RegQuery("ProxyEnable").find("0x0"), std::string::npos);
    QueriedOptions disabled = Query(kDefaultConnectionName);
    ASSERT_TRUE(disabled.ok);
    EXPECT_EQ(disabled.flags & kProxyTypeProxy, 0u);
    EXPECT_NE(disabled.flags & kProxyTypeDirect, 0u);
    EXPECT_EQ(disabled.proxyServer, before.proxyServer);
}

TEST(ConnectionOptions, TheUsersOwnProxyComesBackButNeverTheProgramsPointer) {
    ASSERT_TRUE(SetUsersOptions(PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, "10.0.0.1:3128"));
    ASSERT_TRUE(SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    // Switched on again while on: the user's options stay the ones saved.
    ASSERT_TRUE(SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    EXPECT_EQ(Query(kDefaultConnectionName).proxyServer, "127.0.0.1:8080");
    ASSERT_TRUE(DisableConnectionProxy(kDefaultConnectionName));
    QueriedOptions restored = Query(kDefaultConnectionName);
    EXPECT_NE(restored.flags & kProxyTypeProxy, 0u);
    EXPECT_EQ(restored.proxyServer, "10.0.0.1:3128");
    EXPECT_NE(RegQuery("ProxyServer").find("10.0.0.1:3128"), std::string::npos);
    // Ending again with nothing saved leaves the user's proxy alone.
    ASSERT_TRUE(DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_NE(Query(kDefaultConnectionName).flags & kProxyTypeProxy, 0u);

    // A pointer at the program left behind by a crash ends as direct access.
    ASSERT_TRUE(SetUsersOptions(PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, "127.0.0.1:8080"));
    ASSERT_TRUE(SetConnectionOptions(kDefaultConnectionName, "127.0.0.1:8080"));
    ASSERT_TRUE(DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_EQ(Query(kDefaultConnectionName).flags & kProxyTypeProxy, 0u);
}

TEST(ConnectionOptions, TheLanConnectionAndTheServiceObjectAgree) {
    // No connection name is the LAN connection, whose options these are.
    auto options = MakeSystemConnectionOptions();
    ASSERT_TRUE(options->SetConnectionOptions(nullptr, "127.0.0.2:3128"));
    QueriedOptions set = Query(nullptr);
    EXPECT_NE(set.flags & kProxyTypeProxy, 0u);
    EXPECT_EQ(set.proxyServer, "127.0.0.2:3128");
    ASSERT_TRUE(options->DisableConnectionProxy(nullptr));
    EXPECT_EQ(Query(kDefaultConnectionName).flags & kProxyTypeProxy, 0u);
}

}  // namespace
