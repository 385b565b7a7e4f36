// The three filter switches held in memory, for tests and benchmarks that
// must not touch the user's settings.
#pragma once

#include <cstdint>
#include <memory>

#include "content_filter.h"
#include "fake_registry_store.h"
#include "popup_counter.h"

class FakeFilterSwitches {
public:
    FakeFilterSwitches(std::uint32_t enableJS, std::uint32_t enableActiveX,
                       std::uint32_t blockPopups) {
        Set(enableJS, enableActiveX, blockPopups);
    }
    FakeFilterSwitches(const FakeFilterSwitches&) = delete;
    FakeFilterSwitches& operator=(const FakeFilterSwitches&) = delete;

    void Set(std::uint32_t enableJS, std::uint32_t enableActiveX, std::uint32_t blockPopups) {
        m_js.Set(enableJS);
        m_activeX.Set(enableActiveX);
        m_popups.Set(blockPopups);
        m_live->Store(FilterRules::Read(m_switches));
    }
    FilterSwitches& Get() { return m_switches; }
    // The rules as the connections see them, following every Set.
    std::shared_ptr<const LiveFilterRules> Live() const { return m_live; }
    FakeRegistryStore& Store() { return m_store; }
    // The stored pop-up count after folding in what `counter` has seen.
    std::uint32_t FoldedPopups(PopupCounter& counter) {
        RegistryDword count("Software\\Quillon\\NrOfBlockPopups", 0, false,
                            RegistryRoot::LocalMachine, m_store);
        counter.FoldInto(count);
        return count.Get();
    }

private:
    static constexpr RegistryRoot kRoot = RegistryRoot::LocalMachine;
    FakeRegistryStore m_store;
    RegistryDword m_js{"Software\\Quillon\\EnableJS", 0, false, kRoot, m_store};
    RegistryDword m_activeX{"Software\\Quillon\\EnableActiveX", 0, false, kRoot, m_store};
    RegistryDword m_popups{"Software\\Quillon\\BlockPopups", 0, false, kRoot, m_store};
    FilterSwitches m_switches{m_js, m_activeX, m_popups};
    std::shared_ptr<LiveFilterRules> m_live = std::make_shared<LiveFilterRules>();
};
