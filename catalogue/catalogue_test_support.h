// The vendor's web server for tests: a loopback HTTP server that answers each
// path with a response of the test's and keeps every request it got. Building
// one points QUILLON_VENDOR_URL at it.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loopback.h"
#include "proxy_list.h"

class VendorServer {
public:
    VendorServer();
    ~VendorServer();

    std::uint16_t Port() const { return m_server->Port(); }
    std::string BaseUrl() const;
    // A whole response for a path ("HTTP/1.1 200 OK\r\n...").
    void Answer(const std::string& path, const std::string& response);
    // A 200 response with this body.
    void AnswerBody(const std::string& path, const std::string& body);
    // Requests wait unanswered until released (or the server goes).
    void Hold(bool hold) { m_hold = hold; }
    // Response bodies go out a byte every interval (0: at once).
    void Trickle(int intervalMs) { m_trickleMs = intervalMs; }
    // The request heads received so far, and how many asked for the path.
    std::vector<std::string> Requests() const;
    int RequestsFor(const std::string& path) const;
    // Connections that have sent a request and are being held.
    int Held() const { return m_held; }

private:
    void Handle(net::Socket& connection);

    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_responses;
    std::vector<std::string> m_requests;
    std::atomic<bool> m_hold{false};
    std::atomic<int> m_trickleMs{0};
    std::atomic<bool> m_closing{false};
    std::atomic<int> m_held{0};
    std::unique_ptr<testsupport::LoopbackServer> m_server;
};

// The path a request head asks for (an absolute URL's host part dropped).
std::string RequestPath(const std::string& head);

// For tests of a stop in the middle of a probe: the probe's limit, and how
// long the stop may take to end it, on a busy machine too. The one far
// beyond the other, so that only the stop can end the probe in time.
inline constexpr std::chrono::seconds kStopLimit{60};
inline constexpr int kStopWithinMs = 20000;

std::string ReadFile(const std::string& path);
// The vendor's test image, as vendor/ has it.
std::string TestImage();
// A file the peers fixture (testing/vendor_peers.sh) wrote: their ports, and
// nginx's access log. Empty when the peers do not run.
std::string PeerFile(const std::string& name);

// A folder of its own under the system's temporary folder, removed with its
// content.
class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    // The folder with a trailing separator, as AppPath holds it.
    std::string AppPath() const;
    std::string Read(const std::string& name) const;
    void Write(const std::string& name, const std::string& bytes) const;
    bool Exists(const std::string& name) const;

private:
    std::filesystem::path m_path;
};

// A selection list that keeps its items in the order they came.
class RecordingList final : public ISelectionList {
public:
    void AddItem(const std::string& text) override { items.push_back(text); }
    std::vector<std::string> items;
};
