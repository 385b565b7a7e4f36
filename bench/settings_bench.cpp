// The cost of the settings: reading a loaded value (a memory read, taken on
// every chunk by the content filter) and writing a changed one to the SQLite
// store (one durable transaction).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "registry_dword.h"
#include "registry_store_linux.h"
#include "registry_string.h"

namespace {

constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;

class TempStore {
public:
    TempStore() {
        char pattern[] = "/tmp/quillon-settings-bench-XXXXXX";
        m_dir = mkdtemp(pattern);
        m_store = std::make_unique<SqliteRegistryStore>(m_dir / "settings.db");
    }
    ~TempStore() { std::filesystem::remove_all(m_dir); }
    SqliteRegistryStore& Store() { return *m_store; }

private:
    std::filesystem::path m_dir;
    std::unique_ptr<SqliteRegistryStore> m_store;
};

void DwordGetLoaded(benchmark::State& state) {
    TempStore temp;
    RegistryDword value("Software\\Quillon\\EnableJS", 0, false, kHklm, temp.Store());
    value.Set(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(value.Get());
    }
}
BENCHMARK(DwordGetLoaded);

void StringGetLoaded(benchmark::State& state) {
    TempStore temp;
    RegistryString value("Software\\Quillon\\ProxyName", "", false, kHklm, temp.Store());
    value.Set("10.0.0.1:3128");
    for (auto _ : state) {
        benchmark::DoNotOptimize(value.Get());
    }
}
BENCHMARK(StringGetLoaded);

void DwordSetChanged(benchmark::State& state) {
    TempStore temp;
    RegistryDword value("Software\\Quillon\\UseProxy", 0, false, kHklm, temp.Store());
    std::uint32_t next = 1;
    for (auto _ : state) {
        value.Set(next);
        next ^= 1;
    }
    if (value.Get() != (next ^ 1)) {
        state.SkipWithError("write did not land");
    }
}
BENCHMARK(DwordSetChanged)->Unit(benchmark::kMicrosecond);

void StringSetChanged(benchmark::State& state) {
    TempStore temp;
    RegistryString value("Software\\Quillon\\ProxyName", "", false, kHklm, temp.Store());
    std::uint32_t n = 0;
    for (auto _ : state) {
        value.Set("10.0.0." + std::to_string(++n % 250) + ":3128");
    }
}
BENCHMARK(StringSetChanged)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
