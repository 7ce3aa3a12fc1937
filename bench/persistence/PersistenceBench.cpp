// SPDX-License-Identifier: GPL-3.0-or-later
// Listing the serial ports and storing a port's settings: what one call costs.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cport/CPort.h"

namespace {

const cport::TStoredProps kAllGroups{cport::spBasic,    cport::spFlowControl, cport::spBuffer,
                                     cport::spTimeouts, cport::spParity,      cport::spOthers};

// A key of `count` published ports, named as Windows names them, in reverse order.
class ManyPorts : public cport::TSerialDeviceSource {
public:
    explicit ManyPorts(int count)
    {
        for (int i = count; i > 0; --i) {
            const std::string name = "COM" + std::to_string(i);
            m_values.push_back(cport::TRegistryValue::Text("\\Device\\Serial" + std::to_string(i), name));
        }
    }
    std::unique_ptr<cport::TSerialDeviceKey> OpenKey() override
    {
        return std::make_unique<cport::TValueListKey>(m_values);
    }

private:
    std::vector<cport::TRegistryValue> m_values;
};

void ListSerialPortsOfThisMachine(benchmark::State& state)
{
    std::vector<std::string> list;
    for (auto _ : state) {
        cport::ListSerialPorts(list);
        benchmark::DoNotOptimize(list.data());
    }
    state.counters["ports"] = static_cast<double>(list.size());
}
BENCHMARK(ListSerialPortsOfThisMachine)->Unit(benchmark::kMicrosecond);

void ListSerialPortsOfAKey(benchmark::State& state)
{
    ManyPorts source(static_cast<int>(state.range(0)));
    std::vector<std::string> list;
    for (auto _ : state) {
        cport::ListSerialPorts(list, source);
        benchmark::DoNotOptimize(list.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ListSerialPortsOfAKey)->Arg(8)->Arg(256)->Unit(benchmark::kMicrosecond);

void SaveAndLoadAllKeysInMemory(benchmark::State& state)
{
    cport::TComPort source;
    source.SetName("ComPort1");
    source.SetStoredProps(kAllGroups);
    source.SetBaudRate(cport::brCustom);
    cport::TComPort target;
    target.SetName("ComPort1");
    target.SetStoredProps(kAllGroups);
    for (auto _ : state) {
        cport::TMemIniFile ini;
        source.SaveToIniSection(ini);
        target.LoadFromIniSection(ini);
        cport::TMemoryRegistry key;
        source.SaveToRegistryKey(key);
        target.LoadFromRegistryKey(key);
    }
}
BENCHMARK(SaveAndLoadAllKeysInMemory)->Unit(benchmark::kMicrosecond);

// Every write reaches the disk at once: 29 keys are 29 replacements of the file.
void SaveAllKeysToAnIniFile(benchmark::State& state)
{
    char dir[] = "/tmp/varmio-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string file = std::string(dir) + "/port.ini";
    cport::TComPort port;
    port.SetName("ComPort1");
    port.SetStoredProps(kAllGroups);
    for (auto _ : state) {
        cport::TIniFile ini(file);
        port.SaveToIniSection(ini);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(SaveAllKeysToAnIniFile)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
