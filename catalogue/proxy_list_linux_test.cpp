// The proxy list and the Settings page against a real full file system, and
// the list against a vendor that never answers.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "catalogue_test_support.h"
#include "fake_connection_options.h"
#include "fake_message_box.h"
#include "fake_registry_store.h"
#include "fake_settings_page_view.h"
#include "settings_page.h"
#include "test_environment.h"
#include "vendor_url.h"

namespace {

using Items = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const std::string kListPath(kProxyListUrlPath);

// Safe after fork: no allocation, plain system calls.
bool WriteText(const char* file, const char* text) {
    const int fd = ::open(file, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const auto length = static_cast<ssize_t>(std::strlen(text));
    const bool ok = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    return ::close(fd) == 0 && ok;
}

// A child process holding a mount namespace of its own with a small tmpfs
// mounted on a folder; this process reaches it through /proc/PID/root. The
// child makes system calls only, then waits, so forking a process that has
// threads is safe; it ends when this process closes the pipe, or dies.
class TinyFileSystem {
public:
    TinyFileSystem(const std::string& mountPoint, const std::string& size) {
        int ready[2];
        int done[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(done, O_CLOEXEC) != 0) {
            return;
        }
        // Everything the child needs is made here: it must not allocate.
        const uid_t uid = ::geteuid();
        const std::string uidMap = std::to_string(uid) + " " + std::to_string(uid) + " 1\n";
        const std::string gidMap =
            std::to_string(::getegid()) + " " + std::to_string(::getegid()) + " 1\n";
        const std::string options = "size=" + size + ",mode=0755";
        m_child = ::fork();
        if (m_child == 0) {
            ::close(ready[0]);
            ::close(done[1]);
            char result =
                Enter(uid == 0, uidMap.c_str(), gidMap.c_str(), mountPoint.c_str(), options.c_str())
                    ? 'y'
                    : 'n';
            (void)!::write(ready[1], &result, 1);
            char any;
            (void)!::read(done[0], &any, 1);  // until the parent closes it
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(done[0]);
        m_done = done[1];
        char result = 'n';
        if (m_child > 0 && ::read(ready[0], &result, 1) == 1 && result == 'y') {
            m_root = "/proc/" + std::to_string(m_child) + "/root" + mountPoint;
        }
        ::close(ready[0]);
    }
    ~TinyFileSystem() {
        if (m_done >= 0) {
            ::close(m_done);
        }
        if (m_child > 0) {
            int status = 0;
            ::waitpid(m_child, &status, 0);
        }
    }
    TinyFileSystem(const TinyFileSystem&) = delete;
    TinyFileSystem& operator=(const TinyFileSystem&) = delete;

    // The mounted folder as this process sees it; empty when namespaces or
    // mounts are not allowed here.
    const std::string& Root() const { return m_root; }

private:
    // Runs in the child: only calls that are safe after fork.
    static bool Enter(bool root, const char* uidMap, const char* gidMap, const char* mountPoint,
                      const char* options) {
        if (root) {
            if (::unshare(CLONE_NEWNS) != 0) {
                return false;
            }
        } else if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
                   !WriteText("/proc/self/setgroups", "deny") ||
                   !WriteText("/proc/self/uid_map", uidMap) ||
                   !WriteText("/proc/self/gid_map", gidMap)) {
            // Mapped to itself, so that files on the tmpfs are the caller's.
            return false;
        }
        // Private first: the tmpfs must never show up outside this namespace.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return false;
        }
        return ::mount("quillon-test", mountPoint, "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
    }

    pid_t m_child = -1;
    int m_done = -1;
    std::string m_root;
};

// Writes until the file system refuses another byte.
void FillUp(const std::string& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'f');
    for (int i = 0; i < 100000 && ::write(fd, block.data(), block.size()) > 0; ++i) {
    }
    for (int i = 0; i < 4096 && ::write(fd, "f", 1) > 0; ++i) {
    }
    ::close(fd);
}

// A folder on a small tmpfs and a vendor with a list too big for what is
// left of it.
class FullDiskTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string mountPoint = folder.AppPath() + "tiny";
        std::filesystem::create_directory(mountPoint);
        tiny = std::make_unique<TinyFileSystem>(mountPoint, "256k");
        if (tiny->Root().empty()) {
            GTEST_SKIP() << "no mount namespace with a tmpfs allowed here";
        }
        appPath = tiny->Root() + "/";
        ASSERT_TRUE(std::filesystem::is_directory(appPath));
        for (int i = 0; big.size() < 200 * 1024; ++i) {
            big +=
                "10.0." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ":80\n";
        }
    }
    // The list file as another copy of the program may leave it, and then
    // no room left.
    void StoreAndFillUp(const std::string& bytes) {
        std::filesystem::remove(appPath + "filler");
        std::ofstream(appPath + kProxyListFileName, std::ios::binary | std::ios::trunc) << bytes;
        FillUp(appPath + "filler");
    }

    TestFolder folder;
    std::unique_ptr<TinyFileSystem> tiny;
    std::string appPath;
    std::string big;
    VendorServer server;
    FakeMessageBox messages;
};

TEST_F(FullDiskTest, ANewListThatDoesNotFitIsReportedAndTheOldOneStays) {
    ProxyListFile file(appPath, messages);
    server.AnswerBody(kListPath, "a:1\nb:2\n");
    RecordingList first;
    ASSERT_TRUE(file.FetchProxyList(first));
    ASSERT_EQ(first.items, (Items{"a:1", "b:2"}));
    const std::string stored = ReadFile(file.Path());

    FillUp(appPath + "filler");
    server.AnswerBody(kListPath, big);
    RecordingList second;
    EXPECT_FALSE(file.FetchProxyList(second));
    EXPECT_EQ(second.items, (Items{"a:1", "b:2"}));  // the list stored before
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Disk full while accessing " + file.Path() + ".");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Stop);

    EXPECT_TRUE(ReadFile(file.Path()) == stored);
    RecordingList loaded;
    EXPECT_TRUE(file.LoadProxyList(loaded));
    EXPECT_EQ(loaded.items, (Items{"a:1", "b:2"}));
    // Nothing half-written is left behind to fill the disk further.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(appPath)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Items{"filler", "proxylist.txt"}));

    // Room again: the next update replaces the list.
    std::filesystem::remove(appPath + "filler");
    RecordingList third;
    EXPECT_TRUE(file.FetchProxyList(third));
    // Each LF is stored as CR CR LF.
    EXPECT_EQ(ReadFile(file.Path()).size(),
              big.size() + 2 * static_cast<std::size_t>(std::count(big.begin(), big.end(), '\n')));
    EXPECT_EQ(messages.shown.size(), 1u);
}

// The page: the file error, and then the list stored before, not nothing, at
// the first start and at "Update Proxy List Now".
TEST_F(FullDiskTest, ThePageShowsTheStoredListWhenTheNewOneDoesNotFit) {
    StoreAndFillUp("a:1\r\r\nb:2\r\r\n");
    server.AnswerBody(kListPath, big);
    FakeRegistryStore store;
    SettingsCatalogue settings(store);
    FakeConnectionOptions browser;
    ProxyProbe probe;
    FakeSettingsPageHost host;
    FakeSettingsPageView view;
    CSettingsPage page(settings, store, appPath, browser, messages, probe, host);
    page.OnInitDialog(view);
    EXPECT_EQ(view.items, (Items{"a:1", "b:2"}));
    EXPECT_EQ(settings.RunFirst.Get(), 0u);

    StoreAndFillUp("a:1\r\r\nb:2\r\r\nc:3\r\r\n");
    page.OnUpdateProxyList(view);
    EXPECT_EQ(view.items, (Items{"a:1", "b:2", "c:3"}));
    ASSERT_EQ(messages.shown.size(), 2u);
    for (const ShownMessage& shown : messages.shown) {
        EXPECT_EQ(shown.text, "Disk full while accessing " + appPath + "proxylist.txt.");
    }
    EXPECT_TRUE(host.log.empty());  // no generator request
}

// A vendor that never answers: the download gives up within its bound, the
// stored list stays and nothing is said. (Refused and broken-off downloads:
// proxy_list_test.cpp.)
class SilentVendorTest : public testing::Test {
protected:
    SilentVendorTest() : file(folder.AppPath(), messages) {
        folder.Write(kProxyListFileName, "a:1\r\r\nb:2\r\r\n");
    }

    TestFolder folder;
    FakeMessageBox messages;
    ProxyListFile file;
};

TEST_F(SilentVendorTest, AVendorThatNeverAnswersIsGivenUpAfterAboutAMinute) {
    std::atomic<bool> release{false};
    std::atomic<int> requests{0};
    testsupport::LoopbackServer silent([&](net::Socket& c) {
        if (!testsupport::ReceiveRequest(c).empty()) {
            ++requests;
        }
        testsupport::WaitFor([&] { return release.load(); }, 120000);
    });
    SetEnvironment(kVendorUrlVariable, "http://127.0.0.1:" + std::to_string(silent.Port()));
    const Clock::time_point start = Clock::now();
    RecordingList list;
    EXPECT_TRUE(file.FetchProxyList(list));
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
    release = true;
    EXPECT_EQ(requests.load(), 1);
    EXPECT_TRUE(list.items.empty());
    EXPECT_EQ(folder.Read(kProxyListFileName), "a:1\r\r\nb:2\r\r\n");
    EXPECT_TRUE(messages.shown.empty());
    // The stall bound is 60 s without a byte; a slow machine may add a little.
    EXPECT_GE(waited.count(), 55);
    EXPECT_LE(waited.count(), 90);
}

}  // namespace
