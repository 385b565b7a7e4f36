// Sole owner of a POSIX file descriptor (pipes, signalfd, a namespace),
// closed when destroyed.
#pragma once

#include <unistd.h>

#include <utility>

namespace testsupport {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        Reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd = -1) {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0) {
            ::close(old);
        }
    }

private:
    int m_fd = -1;
};

}  // namespace testsupport
