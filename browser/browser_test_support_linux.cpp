#include "browser_test_support_linux.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "loopback.h"

namespace browsertest {

namespace {

class PrivateDesktop : public testing::Environment {
public:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_config.Path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1);
        setenv("GSETTINGS_BACKEND", "keyfile", 1);
        setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        for (const char* proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                  "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            unsetenv(proxy);
        }
    }
    const std::string& ConfigHome() const { return m_config.Path(); }

private:
    testsupport::TempDir m_config;
    testsupport::TempDir m_runtime;
};

PrivateDesktop* const kDesktop =
    static_cast<PrivateDesktop*>(testing::AddGlobalTestEnvironment(new PrivateDesktop));

struct PipeCloser {
    int* status;
    void operator()(FILE* pipe) const { *status = pclose(pipe); }
};

}  // namespace

const std::string& ConfigHome() {
    return kDesktop->ConfigHome();
}

std::string KeyfilePath() {
    return ConfigHome() + "/glib-2.0/settings/keyfile";
}

CommandResult RunCommand(const std::string& commandLine) {
    CommandResult result;
    int status = -1;
    {
        std::unique_ptr<FILE, PipeCloser> pipe(popen(commandLine.c_str(), "r"),
                                               PipeCloser{&status});
        if (!pipe) {
            return result;
        }
        std::array<char, 4096> buffer;
        std::size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) {
            result.output.append(buffer.data(), n);
        }
    }
    result.exitCode = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!result.output.empty() && result.output.back() == '\n') {
        result.output.pop_back();
    }
    return result;
}

std::string GsettingsGet(const std::string& schema, const std::string& key) {
    return RunCommand("gsettings get " + schema + " " + key).output;
}

bool HaveProgram(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null 2>&1").exitCode == 0;
}

namespace {

// The socket file appears at bind(), a moment before the daemon listens: only
// a connection that succeeds shows it is ready.
bool AcceptsConnections(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

SessionBus::SessionBus()
    : m_address("unix:path=" + m_dir.Path() + "/bus"),
      m_process({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + m_address},
                m_dir.Path() + "/dbus.log"),
      m_ready(m_process.Started() &&
              testsupport::WaitFor([this] { return AcceptsConnections(m_dir.Path() + "/bus"); })) {}

}  // namespace browsertest
