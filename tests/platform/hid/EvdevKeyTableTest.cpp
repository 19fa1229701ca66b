#include "platform/hid/EvdevKeyTable.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <set>

namespace {
input_event record(uint16_t type, uint16_t code, int32_t value)
{
    input_event made{};
    made.type = type;
    made.code = code;
    made.value = value;
    return made;
}

// Plays records back as libevdev would hand them over, then says there are no more (or that
// the device is gone).
struct Playback {
    std::vector<input_event> records;
    size_t next = 0;
    int end = -EAGAIN;
    int operator()(input_event& out)
    {
        if (next == records.size())
            return end;
        out = records[next++];
        return 0;
    }
};

HidQueue queueOf(const std::vector<uint32_t>& cookies)
{
    HidQueue queue(32);
    for (uint32_t cookie : cookies)
        queue.addElement(cookie);
    queue.start();
    return queue;
}

TEST(EvdevKeyTableTest, KeysMapToTheUsagesTheyStandFor)
{
    auto usage = [](uint32_t key) {
        auto found = EvdevKeyTable::usageForKeyCode(key);
        return found ? std::make_pair(found->usagePage, found->usage) : std::make_pair(0u, 0u);
    };
    EXPECT_EQ(usage(KEY_MENU), std::make_pair(0x01u, 0x86u));
    EXPECT_EQ(usage(KEY_PLAYPAUSE), std::make_pair(0x01u, 0x89u));
    EXPECT_EQ(usage(KEY_FORWARD), std::make_pair(0x01u, 0x8Au));
    EXPECT_EQ(usage(KEY_BACK), std::make_pair(0x01u, 0x8Bu));
    EXPECT_EQ(usage(KEY_VOLUMEUP), std::make_pair(0x01u, 0x8Cu));
    EXPECT_EQ(usage(KEY_VOLUMEDOWN), std::make_pair(0x01u, 0x8Du));
    EXPECT_EQ(usage(KEY_ENTER), std::make_pair(0x0Cu, 0x41u));
    EXPECT_EQ(usage(KEY_A), std::make_pair(0u, 0u));
}

TEST(EvdevKeyTableTest, AppleReceiverListsTenDistinctUsagesOthersOnlyTheirKeys)
{
    const std::set<uint32_t> apple{KEY_MENU,     KEY_PLAYPAUSE,  KEY_FORWARD, KEY_BACK,
                                   KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_ENTER};
    auto supports = [&apple](uint32_t code) { return apple.count(code) != 0; };
    auto distinct = [](const std::vector<HidElement>& elements) {
        std::set<std::pair<uint32_t, uint32_t>> usages;
        std::set<uint32_t> cookies;
        for (const auto& element : elements) {
            usages.insert({element.usagePage, element.usage});
            cookies.insert(element.cookie);
        }
        EXPECT_EQ(cookies.size(), elements.size());
        return usages.size();
    };
    EXPECT_GE(distinct(EvdevKeyTable::elements(supports, true)), 10u);
    EXPECT_EQ(distinct(EvdevKeyTable::elements(supports, false)), 7u);
}

TEST(EvdevKeyTableTest, OnlyKeyPressesAndReleasesBecomeEvents)
{
    EXPECT_FALSE(EvdevKeyTable::eventFor(record(EV_KEY, KEY_MENU, 2)));
    EXPECT_FALSE(EvdevKeyTable::eventFor(record(EV_SYN, SYN_REPORT, 0)));
    EXPECT_FALSE(EvdevKeyTable::eventFor(record(EV_MSC, MSC_SCAN, 0x87ee0002)));
    auto press = EvdevKeyTable::eventFor(record(EV_KEY, KEY_MENU, 1));
    ASSERT_TRUE(press);
    EXPECT_EQ(press->cookie, uint32_t(KEY_MENU));
    EXPECT_EQ(press->value, 1);
}

TEST(EvdevKeyTableTest, FloodIsReadInBoundedBatchesWithoutLosingAnEvent)
{
    Playback playback;
    for (int i = 0; i < 10000; ++i)
        playback.records.push_back(record(EV_KEY, KEY_MENU, i % 2 == 0 ? 1 : 0));
    HidQueue queue = queueOf({KEY_MENU});
    size_t read = 0;
    int batches = 0;
    queue.setEventCallout([&] {
        HidEvent event;
        while (queue.getNextEvent(event))
            ++read;
    });
    EvdevKeyTable::PumpResult result = EvdevKeyTable::PumpResult::More;
    while (result == EvdevKeyTable::PumpResult::More && batches < 1000) {
        result = EvdevKeyTable::pump(std::ref(playback), queue, 256);
        ++batches;
    }
    EXPECT_EQ(result, EvdevKeyTable::PumpResult::Drained);
    EXPECT_EQ(batches, 40); // 10,000 records, 256 at a time, the event loop running in between
    EXPECT_EQ(read, 10000u);
    EXPECT_LE(queue.highWaterMark(), queue.depth());
}

TEST(EvdevKeyTableTest, DeviceGoneMidReadHandsOverWhatCameBefore)
{
    Playback playback{{record(EV_KEY, KEY_MENU, 1)}, 0, -ENODEV};
    HidQueue queue = queueOf({KEY_MENU});
    std::vector<int32_t> values;
    queue.setEventCallout([&] {
        HidEvent event;
        while (queue.getNextEvent(event))
            values.push_back(event.value);
    });
    EXPECT_EQ(EvdevKeyTable::pump(std::ref(playback), queue, 256), EvdevKeyTable::PumpResult::Removed);
    EXPECT_EQ(values, std::vector<int32_t>{1});
}

TEST(EvdevKeyTableTest, ReaderClosingTheQueueEndsTheRead)
{
    Playback playback;
    for (int i = 0; i < 100; ++i)
        playback.records.push_back(record(EV_KEY, KEY_MENU, 1));
    HidQueue queue = queueOf({KEY_MENU});
    queue.setEventCallout([&] { queue.stop(); });
    EXPECT_EQ(EvdevKeyTable::pump(std::ref(playback), queue, 256), EvdevKeyTable::PumpResult::Drained);
    EXPECT_LE(playback.next, 33u);
}
} // namespace
