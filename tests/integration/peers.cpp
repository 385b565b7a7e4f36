#include "peers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "loopback.h"
#include "worker_pool.h"

extern char** environ;

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "quillon-test-XXXXXX").string();
    if (char* made = ::mkdtemp(pattern.data())) {
        m_path = made;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
    std::ofstream(m_path + "/" + name, std::ios::binary) << content;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile) {
    // The child is killed when the test process dies, even by a sanitizer's
    // abort or a signal that skips this object's destructor; setpriv sets
    // that up and then runs the program in its own place (same pid).
    if (argv.empty() || ::access(argv[0].c_str(), X_OK) != 0) {
        return;  // not started
    }
    std::vector<std::string> command = argv;
    static const char* const kSetpriv = "/usr/bin/setpriv";
    if (::access(kSetpriv, X_OK) == 0) {
        command.insert(command.begin(), {kSetpriv, "--pdeathsig", "KILL", "--"});
    }
    std::vector<char*> args;
    for (const std::string& a : command) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        m_pid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    Stop();
}

int ChildProcess::Stop(int signal) {
    if (m_pid <= 0) {
        return -1;
    }
    const pid_t pid = m_pid;
    m_pid = -1;
    ::kill(pid, signal);
    int status = 0;
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(ended = ::waitpid(pid, &status, WNOHANG) == pid) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

CommandOutput RunCommand(const std::string& command) {
    CommandOutput out;
    char path[] = "/tmp/quillon-command-output-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        return out;
    }
    ::close(fd);
    const int status = std::system((command + " >" + path + " 2>&1 </dev/null").c_str());
    out.text = ReadFile(path);
    ::unlink(path);
    out.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WaitForText(const std::string& path, const std::string& text) {
    return WaitFor([&] { return ReadFile(path).find(text) != std::string::npos; }, 30000);
}

bool WaitForListener(std::uint16_t port, int timeoutMs) {
    return WaitFor([port] { return ConnectLoopback(port).Valid(); }, timeoutMs);
}

namespace {

std::string Find(std::initializer_list<const char*> candidates) {
    for (const char* c : candidates) {
        if (::access(c, X_OK) == 0) {
            return c;
        }
    }
    return *candidates.begin();
}

}  // namespace

Tinyproxy::Tinyproxy()
    : m_port(FreePort()),
      m_process(
          [this] {
              m_dir.Write("tinyproxy.conf", "Port " + std::to_string(m_port) +
                                                "\nListen 127.0.0.1\nTimeout 60\nMaxClients 2000\n"
                                                "LogLevel Critical\nAllow 127.0.0.1\n");
              return std::vector<std::string>{Find({"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"}),
                                              "-d", "-c", m_dir.Path() + "/tinyproxy.conf"};
          }(),
          m_dir.Path() + "/tinyproxy.log"),
      m_ready(m_process.Started() && WaitForListener(m_port)) {}

Nginx::Nginx()
    : m_port(FreePort()),
      m_process(
          [this] {
              const std::string& d = m_dir.Path();
              fs::create_directory(d + "/www");
              m_dir.Write("nginx.conf",
                          "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                          "pid " +
                              d + "/nginx.pid;\nerror_log " + d +
                              "/error.log;\n"
                              "events { worker_connections 4096; }\n"
                              "http {\n access_log off;\n keepalive_requests 100000;\n"
                              " client_body_temp_path " +
                              d + "/body;\n proxy_temp_path " + d + "/proxy;\n fastcgi_temp_path " +
                              d + "/fcgi;\n uwsgi_temp_path " + d + "/uwsgi;\n scgi_temp_path " +
                              d +
                              "/scgi;\n"
                              " default_type application/octet-stream;\n"
                              " types { text/html html; }\n"
                              // Compressed HTML for clients that ask for it:
                              // chunked for HTTP/1.1, until the close for 1.0.
                              " gzip on;\n gzip_types text/html;\n gzip_min_length 1;\n"
                              " gzip_http_version 1.0;\n"
                              // A date after the file's gives 304, not only the same one.
                              " if_modified_since before;\n"
                              " server {\n  listen 127.0.0.1:" +
                              std::to_string(m_port) + ";\n  root " + d +
                              "/www;\n  location = /nocontent { return 204; }\n }\n}\n");
              return std::vector<std::string>{Find({"/usr/sbin/nginx", "/usr/bin/nginx"}), "-p", d,
                                              "-c", d + "/nginx.conf"};
          }(),
          m_dir.Path() + "/nginx.log"),
      m_ready(m_process.Started() && WaitForListener(m_port)) {}

void Nginx::WriteFile(const std::string& name, const std::string& content) const {
    m_dir.Write("www/" + name, content);
}

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

bool WaitForEngineJobs(int jobs) {
    engine::WorkerPool& pool = engine::SharedWorkerPool();
    return WaitFor([&] { return static_cast<int>(pool.Threads() - pool.IdleThreads()) <= jobs; },
                   10000);
}

int Threads() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) {
        ++n;
    }
    return n;
}

}  // namespace testsupport
