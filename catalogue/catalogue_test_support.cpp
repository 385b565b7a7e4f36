#include "catalogue_test_support.h"

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "test_environment.h"
#include "vendor_url.h"

VendorServer::VendorServer()
    : m_server(std::make_unique<testsupport::LoopbackServer>(
          [this](net::Socket& connection) { Handle(connection); })) {
    SetEnvironment(kVendorUrlVariable, BaseUrl());
}

VendorServer::~VendorServer() {
    m_closing = true;
    m_server.reset();
}

std::string VendorServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(Port());
}

void VendorServer::Answer(const std::string& path, const std::string& response) {
    std::lock_guard lock(m_mutex);
    m_responses[path] = response;
}

void VendorServer::AnswerBody(const std::string& path, const std::string& body) {
    Answer(path, testsupport::HttpResponse(body, "Connection: close\r\n"));
}

std::vector<std::string> VendorServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int VendorServer::RequestsFor(const std::string& path) const {
    int count = 0;
    for (const std::string& head : Requests()) {
        count += RequestPath(head) == path ? 1 : 0;
    }
    return count;
}

std::string RequestPath(const std::string& head) {
    std::size_t start = head.find(' ');
    std::size_t end = head.find(' ', start + 1);
    if (start == std::string::npos || end == std::string::npos) {
        return {};
    }
    std::string target = head.substr(start + 1, end - start - 1);
    if (std::size_t scheme = target.find("://"); scheme != std::string::npos) {
        std::size_t slash = target.find('/', scheme + 3);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    return target;
}

void VendorServer::Handle(net::Socket& connection) {
    const std::string head = testsupport::ReceiveRequest(connection);
    if (head.empty()) {
        return;
    }
    std::string response = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot Found";
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(head);
        auto it = m_responses.find(RequestPath(head));
        if (it != m_responses.end()) {
            response = it->second;
        }
    }
    if (m_hold) {
        ++m_held;
        // Bounded, so a test that forgets to release cannot hang.
        testsupport::WaitFor([this] { return !m_hold || m_closing; }, 20000);
        --m_held;
        if (m_closing) {
            return;
        }
    }
    // A trickled body goes out a byte every interval, after the head.
    const std::size_t body = response.find("\r\n\r\n");
    const std::size_t atOnce =
        m_trickleMs > 0 && body != std::string::npos ? body + 4 : response.size();
    testsupport::SendText(connection, response.substr(0, atOnce));
    for (std::size_t at = atOnce; at < response.size() && !m_closing; ++at) {
        testsupport::WaitFor([this] { return m_closing.load(); }, m_trickleMs);
        testsupport::SendText(connection, response.substr(at, 1));
    }
    net::ShutdownBoth(connection.Get());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string TestImage() {
    return ReadFile(std::string(QUILLON_VENDOR_FILES) + "/images/quillonimg.jpg");
}

std::string PeerFile(const std::string& name) {
    return ReadFile(std::string(QUILLON_VENDOR_PEERS) + "/" + name);
}

TestFolder::TestFolder() {
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("quillon-catalogue-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TestFolder::~TestFolder() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string TestFolder::AppPath() const {
    std::string path = m_path.string();
    path += static_cast<char>(std::filesystem::path::preferred_separator);
    return path;
}

std::string TestFolder::Read(const std::string& name) const {
    return ReadFile((m_path / name).string());
}

void TestFolder::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(m_path / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool TestFolder::Exists(const std::string& name) const {
    return std::filesystem::exists(m_path / name);
}
