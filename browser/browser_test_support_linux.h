// What the browser tests share: a private desktop for the whole binary, child
// commands with their output, and a session bus of the test's own.
#pragma once

#include <cstdlib>
#include <string>

#include "peers.h"

namespace browsertest {

// The binary's own $XDG_CONFIG_HOME, with GNOME's settings in the keyfile
// backend there: nothing here reaches the user's settings or session bus.
const std::string& ConfigHome();
std::string KeyfilePath();

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output, last line end removed
};
// Runs a shell command line with the binary's environment.
CommandResult RunCommand(const std::string& commandLine);

// `gsettings get SCHEMA KEY` in a separate process.
std::string GsettingsGet(const std::string& schema, const std::string& key);

bool HaveProgram(const std::string& name);

// A dbus-daemon on a socket in a temporary folder, stopped by its pid.
class SessionBus {
public:
    SessionBus();
    bool Ready() const { return m_ready; }
    const std::string& Address() const { return m_address; }

private:
    testsupport::TempDir m_dir;
    std::string m_address;
    testsupport::ChildProcess m_process;
    bool m_ready;
};

}  // namespace browsertest
