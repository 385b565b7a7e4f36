#include "autostart.h"
#include "registry_string.h"

namespace {

// The per-machine Run list's value, handled like any other setting: Set
// writes only when the text differs from what the value holds.
class RunValueEntry final : public IAutostartEntry {
public:
    explicit RunValueEntry(IRegistryStore& store) : m_store(store) {}

    void Update(std::string_view command) override {
        RegistryString run("\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Quillon", "",
                           false, RegistryRoot::LocalMachine, m_store);
        run.Set(command);
    }

private:
    IRegistryStore& m_store;
};

}  // namespace

std::unique_ptr<IAutostartEntry> SystemAutostartEntry(IRegistryStore& store) {
    return std::make_unique<RunValueEntry>(store);
}
