// Real peers for integration tests: Debian's tinyproxy as the upstream proxy
// and nginx as the origin server, each started on a free loopback port with a
// configuration the test writes, and stopped by its pid.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    void Write(const std::string& name, const std::string& content) const;

private:
    std::string m_path;
};

// A child process, stopped (SIGTERM, then SIGKILL) by its pid when destroyed.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& logFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // Sends the signal, then waits (30 s, then SIGKILL): the exit status, or
    // 128 and the signal that ended it; -1 when nothing runs. A program that
    // gives the desktop its settings back and writes its store on the way
    // out may take seconds for it on a busy disk.
    int Stop(int signal = SIGTERM);

private:
    pid_t m_pid = -1;
};

// Waits (bounded) until something accepts connections on 127.0.0.1:port; by
// default as long as a program's start may take on a busy machine.
bool WaitForListener(std::uint16_t port, int timeoutMs = 30000);

class Tinyproxy {
public:
    Tinyproxy();
    std::uint16_t Port() const { return m_port; }
    bool Ready() const { return m_ready; }

private:
    TempDir m_dir;
    std::uint16_t m_port;
    ChildProcess m_process;
    bool m_ready;
};

// Serves the files the test writes into its folder.
class Nginx {
public:
    Nginx();
    std::uint16_t Port() const { return m_port; }
    bool Ready() const { return m_ready; }
    void WriteFile(const std::string& name, const std::string& content) const;

private:
    TempDir m_dir;
    std::uint16_t m_port;
    ChildProcess m_process;
    bool m_ready;
};

// What a shell command wrote to standard output and error, and its exit
// code (-1 when it did not exit). The output goes through a file, not a
// pipe: a command may start servers (Wine's, a program's) that keep
// whatever they inherit open long after the command has ended.
struct CommandOutput {
    int exitCode = -1;
    std::string text;
};
CommandOutput RunCommand(const std::string& command);

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Waits (bounded, thirty seconds) until the file holds `text`.
bool WaitForText(const std::string& path, const std::string& text);

// Descriptors and threads of this process right now (from /proc/self).
int OpenDescriptors();
int Threads();

// Waits (bounded) until the engine's threads run no more than `jobs` jobs:
// the listener, connections still closing. Jobs that end park their thread
// under the pool's lock, so what they did is seen by the caller afterwards.
bool WaitForEngineJobs(int jobs);

}  // namespace testsupport
