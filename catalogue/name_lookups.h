// Host names looked up beside a thread that must not block: the system's
// resolver may take many seconds and cannot be cancelled, so a few threads of
// their own wait on it, started only when a name comes up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class NameLookups {
public:
    // At most this many look-ups run at once; more wait their turn.
    static constexpr int kThreads = 4;

    // `done` runs on a look-up thread each time a look-up has ended (never
    // after this object is gone); it must not block.
    explicit NameLookups(std::function<void()> done);
    // Never waits: a look-up still running ends on its own, and its result
    // goes nowhere.
    ~NameLookups();
    NameLookups(const NameLookups&) = delete;
    NameLookups& operator=(const NameLookups&) = delete;

    // Starts looking the name up, unless it was already asked for.
    void Start(const std::string& name);
    // Nothing while the look-up runs; then its address (host order), or
    // nothing inside when the name does not resolve.
    std::optional<std::optional<std::uint32_t>> Result(const std::string& name) const;

private:
    struct Shared;
    // A thread's work: waiting names until none is left. It holds the shared
    // state, not the object, which may be gone before a look-up ends.
    static void LookUp(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> m_shared;
};
