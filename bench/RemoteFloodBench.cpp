// One second of a flooding receiver (10,000 key records) read through the remote driver, against
// the reference of only decoding the same records. The goal: the whole second's work takes a
// small share of a second (under 5 %), so the interface keeps answering during a flood.
#include "platform/hid/EvdevKeyTable.h"
#include "platform/hid/SimulatedHidBackend.h"
#include "remote/RemoteDriver.h"
#include "remote/RemoteDriverDelegate.h"
#include "support/LoopbackNotificationCenter.h"
#include "support/ManualRemoteScheduler.h"

#include <benchmark/benchmark.h>

namespace {
constexpr int recordsPerSecond = 10000;

std::vector<input_event> floodRecords()
{
    const uint16_t keys[] = {KEY_MENU, KEY_FORWARD, KEY_BACK, KEY_PLAYPAUSE, KEY_VOLUMEUP};
    std::vector<input_event> records;
    for (int i = 0; i < recordsPerSecond / 2; ++i) {
        for (int32_t value : {1, 0}) {
            input_event record{};
            record.type = EV_KEY;
            record.code = keys[i % 5];
            record.value = value;
            records.push_back(record);
        }
    }
    return records;
}

class CountingDelegate : public RemoteDriverDelegate {
public:
    void remoteDriverEventWithButton(RemoteDriver&, RemoteButtonCode, bool, const PlistPtr&) override
    {
        ++events;
    }
    int64_t events = 0;
};

void decodeOnly(benchmark::State& state)
{
    const auto records = floodRecords();
    for (auto _ : state) {
        int64_t events = 0;
        for (const auto& record : records)
            events += EvdevKeyTable::eventFor(record).has_value();
        benchmark::DoNotOptimize(events);
    }
    state.SetItemsProcessed(state.iterations() * recordsPerSecond);
}

void throughTheDriver(benchmark::State& state)
{
    SimulatedHidBackend hid;
    LoopbackNotificationCenter bus;
    ManualRemoteScheduler clock;
    const std::vector<uint32_t> keys{KEY_MENU,     KEY_PLAYPAUSE,  KEY_FORWARD, KEY_BACK,
                                     KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_ENTER};
    auto receiver = hid.attach(
        "AppleIRController", {},
        EvdevKeyTable::elements(
            [&keys](uint32_t code) { return std::find(keys.begin(), keys.end(), code) != keys.end(); },
            true));
    RemoteDriverEnvironment environment;
    environment.hid = &hid;
    environment.notifications = &bus;
    environment.scheduler = &clock;
    environment.processIdentifier = 1;
    environment.observeApplication = false;
    RemoteDriver driver(environment);
    CountingDelegate delegate;
    driver.setDelegate(&delegate);
    driver.setSimulateHoldEvents(false);
    driver.startRemoteControl(RemoteModeExclusive);
    const auto records = floodRecords();
    for (auto _ : state)
        receiver->injectInputRecordsForTesting(records);
    state.SetItemsProcessed(state.iterations() * recordsPerSecond);
    state.counters["share_of_a_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    driver.stopRemoteControl();
}
} // namespace

BENCHMARK(decodeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(throughTheDriver)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
