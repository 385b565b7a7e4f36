#include "autostart_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>

#include "config_home_linux.h"
#include "desktop_entry.h"
#include "file_posix.h"

namespace {

enum class ReadResult { Read, Absent, Failed };

ReadResult ReadWhole(const std::filesystem::path& file, std::string& out) {
    FileDescriptor f(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!f.Valid()) {
        return errno == ENOENT ? ReadResult::Absent : ReadResult::Failed;
    }
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(f.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return ReadResult::Failed;
        }
        if (n == 0) {
            return ReadResult::Read;
        }
        // An autostart file is a few lines; anything huge is not ours to edit.
        if (out.size() + static_cast<std::size_t>(n) > (1u << 20)) {
            return ReadResult::Failed;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

// A crash leaves the old file or the new one, never half of one.
void WriteEntry(const std::filesystem::path& file, std::string_view content) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    ReplaceFile(file.string(), content, 0644);
}

class DesktopFileEntry final : public IAutostartEntry {
public:
    explicit DesktopFileEntry(std::filesystem::path file) : m_file(std::move(file)) {}

    void Update(std::string_view command) override {
        if (m_file.empty()) {
            return;
        }
        std::optional<std::string> exec = EncodeDesktopExec(command);
        if (!exec) {
            return;
        }
        std::string existing;
        switch (ReadWhole(m_file, existing)) {
            case ReadResult::Failed:
                return;
            case ReadResult::Absent:
                if (!command.empty()) {
                    WriteEntry(m_file, NewDesktopEntry(*exec));
                }
                return;
            case ReadResult::Read:
                // The user's own lines (a disabled flag, a comment) stay.
                if (DesktopExecOf(existing) != *exec) {
                    WriteEntry(m_file, WithDesktopExec(existing, *exec));
                }
                return;
        }
    }

private:
    std::filesystem::path m_file;
};

}  // namespace

std::filesystem::path DefaultAutostartFile() {
    std::filesystem::path base = UserConfigHome();
    return base.empty() ? base : base / "autostart" / "quillon.desktop";
}

std::unique_ptr<IAutostartEntry> DesktopAutostartEntry(std::filesystem::path file) {
    return std::make_unique<DesktopFileEntry>(std::move(file));
}

std::unique_ptr<IAutostartEntry> SystemAutostartEntry(IRegistryStore&) {
    return DesktopAutostartEntry(DefaultAutostartFile());
}
