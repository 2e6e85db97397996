// RecordRing: the wrap rules, fullness, the lossy progress rings, and one
// producer against one consumer on real threads.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/pipeline_control.h"
#include "pipeline/record_ring.h"

namespace qex {
namespace {

// A name of one unit makes a (2 + 33) & ~7 = 32-byte record: 4,095 of them
// fill the buffer up to 32 bytes before its end (4,095 x 32 = 0x1FFE0).
constexpr uint32_t kSmallRecord = 32;
constexpr uint32_t kSmallRecordsToNearEnd = (kRecordRingBytes - kSmallRecord) / kSmallRecord;

std::unique_ptr<RecordRing> newRing() { return std::make_unique<RecordRing>(); }

void pushSmallRecords(RecordRing& ring, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(push(ring, u"a", i, nullptr), PushResult::accepted);
}

TEST(RecordRing, PeekShowsRecordsInPushOrderUntilPopped) {
    auto ring = newRing();
    FileEntry entry;
    RingRecord record;
    EXPECT_FALSE(peek(*ring, record));
    ASSERT_EQ(push(*ring, u"/tmp/first", (uint64_t{0xABu} << 32) | 0x12345678u, &entry), PushResult::accepted);
    ASSERT_EQ(push(*ring, u"", 0, nullptr), PushResult::accepted);  // a job, however empty
    ASSERT_EQ(pushEndOfJobs(*ring), PushResult::accepted);

    ASSERT_TRUE(peek(*ring, record));
    EXPECT_EQ(record.name, u"/tmp/first");
    EXPECT_EQ(record.size, 0xAB12345678u);
    EXPECT_EQ(record.entry, &entry);
    EXPECT_FALSE(record.endOfJobs);
    ASSERT_TRUE(peek(*ring, record));  // peeking again shows the same record
    EXPECT_EQ(record.name, u"/tmp/first");

    pop(*ring);
    ASSERT_TRUE(peek(*ring, record));
    EXPECT_FALSE(record.endOfJobs);
    pop(*ring);
    ASSERT_TRUE(peek(*ring, record));
    EXPECT_TRUE(record.endOfJobs);
    pop(*ring);
    EXPECT_FALSE(peek(*ring, record));
    pop(*ring);  // popping an empty ring changes nothing
    EXPECT_EQ(ring->readPos.load(), ring->writePos.load());
}

TEST(RecordRing, RecordEndingAtBufferEndMovesToNextLapOnceItFits) {
    auto ring = newRing();
    // 4,095 records fill 0x1FFE0 bytes; the next would end exactly at the
    // end of the buffer, so it moves to 0x20000 and then lies 0x20020 bytes
    // beyond readPos 0: refused, nothing changed.
    pushSmallRecords(*ring, kSmallRecordsToNearEnd);
    const uint32_t writePos = ring->writePos.load();
    EXPECT_EQ(push(*ring, u"b", 7, nullptr), PushResult::full);
    EXPECT_EQ(ring->writePos.load(), writePos);
    RingRecord record;
    ASSERT_TRUE(peek(*ring, record));
    EXPECT_EQ(record.size, 0u);
    EXPECT_EQ(record.position, 0u);

    pop(*ring);  // readPos 32: the moved record now ends exactly 0x20000 beyond it
    ASSERT_EQ(push(*ring, u"b", 7, nullptr), PushResult::accepted);
    EXPECT_EQ(ring->writePos.load(), kRecordRingBytes + kSmallRecord);
    // The consumer reaches it through the link of the record before it.
    for (uint32_t i = 1; i < kSmallRecordsToNearEnd; ++i) pop(*ring);
    ASSERT_TRUE(peek(*ring, record));
    EXPECT_EQ(record.position, kRecordRingBytes);
    EXPECT_EQ(record.size, 7u);
    EXPECT_EQ(record.name, u"b");
}

TEST(RecordRing, LongestNameFitsAnEmptyRingWhereverItStands) {
    // The longest record is half the ring; a longer one could be refused
    // by an empty ring forever once it had to move (skipped tail + record
    // beyond 0x20000), and its producer would wait for nothing.
    EXPECT_EQ(recordLength(kMaxRecordNameUnits), kRecordRingBytes / 2);
    const std::u16string longest(kMaxRecordNameUnits, u'x');
    for (uint32_t at : {0u, 8u, 0x10000u, 0x10008u, 0x1FFF8u}) {
        auto ring = newRing();
        ring->readPos = ring->writePos = at;
        EXPECT_EQ(push(*ring, std::u16string(kMaxRecordNameUnits + 1, u'x'), 0, nullptr), PushResult::tooLong);
        ASSERT_EQ(push(*ring, longest, 1, nullptr), PushResult::accepted) << at;
        RingRecord record;
        ASSERT_TRUE(peek(*ring, record));
        EXPECT_EQ(record.name.size(), kMaxRecordNameUnits);
    }
}

TEST(RecordRing, EmptiedRingThenMovedPushIsFoundByNextPeek) {
    auto ring = newRing();
    pushSmallRecords(*ring, kSmallRecordsToNearEnd);
    for (uint32_t i = 0; i < kSmallRecordsToNearEnd; ++i) pop(*ring);
    // The last pop found no link and took readPos to writePos (0x1FFE0).
    ASSERT_EQ(ring->readPos.load(), kRecordRingBytes - kSmallRecord);
    ASSERT_EQ(push(*ring, u"moved", (uint64_t{1} << 32) | 42, nullptr), PushResult::accepted);

    RingRecord record;
    ASSERT_TRUE(peek(*ring, record));
    EXPECT_EQ(record.position, kRecordRingBytes);
    EXPECT_EQ(record.name, u"moved");
    EXPECT_EQ(record.size, (uint64_t{1} << 32) | 42);
    pop(*ring);
    EXPECT_FALSE(peek(*ring, record));
    ASSERT_EQ(push(*ring, u"after", 43, nullptr), PushResult::accepted);
    ASSERT_TRUE(peek(*ring, record));
    EXPECT_EQ(record.name, u"after");
}

TEST(RecordRing, PositionsWrapAt2To32WithoutLosingARecord) {
    auto ring = newRing();
    // 256 bytes before 2^32: eight 32-byte records, the eighth of which
    // would end exactly at 2^32 and so moves to position 0.
    ring->readPos = ring->writePos = 0xFFFFFF00u;
    pushSmallRecords(*ring, 8);
    EXPECT_EQ(ring->writePos.load(), 32u);
    RingRecord record;
    for (uint32_t i = 0; i < 8; ++i) {
        ASSERT_TRUE(peek(*ring, record)) << i;
        EXPECT_EQ(record.size, i);
        pop(*ring);
    }
    EXPECT_EQ(record.position, 0u);
    EXPECT_FALSE(peek(*ring, record));
}

TEST(RecordRing, ProgressRingKeepsAcceptingWhenNobodyTakes) {
    auto ring = newRing();
    constexpr uint32_t kPushes = 20000;  // about five times what the ring holds
    for (uint32_t i = 0; i < kPushes; ++i) {
        ASSERT_EQ(pushDiscardingOldest(*ring, u"file-" + std::u16string(i % 50, u'n'), i, nullptr),
                  PushResult::accepted);
    }
    // What is left is the newest records, oldest first, ending with the last.
    TakenRecord taken;
    uint32_t expected = 0;
    uint32_t count = 0;
    while (takeOldest(*ring, taken)) {
        if (count > 0) {
            EXPECT_EQ(taken.size, expected);
        }
        expected = static_cast<uint32_t>(taken.size) + 1;
        EXPECT_EQ(taken.name.size(), 5 + taken.size % 50);
        ++count;
    }
    EXPECT_EQ(expected, kPushes);
    EXPECT_GT(count, 1000u);
    EXPECT_LT(count, kPushes);
}

// In a log every finished file goes to the run's sink, on the thread that
// finished it: four times what the ring holds, with nobody draining the
// ring, all arrive in order, nothing waits, and the ring stays empty.
TEST(FinishedFiles, GoToTheSinkOnTheThreadThatFinishedThemWhenOneIsSet) {
    constexpr uint64_t kFiles = 64;  // 8 KiB records (4,000-unit names) against a 128 KiB ring
    struct Taken {
        std::vector<uint64_t> sizes;
        std::thread::id producer;
        bool allOnProducer = true;
    } taken;
    const FinishedFileSink sink{[](void* owner, std::u16string_view name, uint64_t size, FileEntry*) {
                                    Taken& t = *static_cast<Taken*>(owner);
                                    EXPECT_EQ(name.size(), 4000u);
                                    t.sizes.push_back(size);
                                    t.allOnProducer &= t.producer == std::this_thread::get_id();
                                },
                                &taken};
    auto control = std::make_unique<PipelineControl>();
    auto ring = newRing();
    control->finishedFileSink.store(&sink);
    std::thread producer([&] {
        taken.producer = std::this_thread::get_id();
        for (uint64_t i = 0; i < kFiles; ++i)
            recordFinishedFile(*control, *ring, std::u16string(4000, u'n'), i, nullptr);
    });
    producer.join();
    ASSERT_EQ(taken.sizes.size(), kFiles);
    for (uint64_t i = 0; i < kFiles; ++i) EXPECT_EQ(taken.sizes[i], i);
    EXPECT_TRUE(taken.allOnProducer);
    TakenRecord left;
    EXPECT_FALSE(takeOldest(*ring, left));
}

// Names of varying lengths so that records move at the end of the buffer on
// many laps.
std::u16string nameFor(uint32_t i) { return std::u16string(1 + (i * 7919u) % 300, static_cast<char16_t>(u'a' + i % 26)); }

TEST(RecordRing, ConsumerThreadSeesEveryRecordIntactAndInOrder) {
    auto ring = newRing();
    constexpr uint32_t kRecords = 60000;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kRecords; ++i) {
            while (push(*ring, nameFor(i), (uint64_t{i % 256} << 32) | i, nullptr) != PushResult::accepted) std::this_thread::yield();
        }
    });
    uint32_t next = 0;
    while (next < kRecords) {
        RingRecord record;
        if (!peek(*ring, record)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(record.size, (uint64_t{next % 256} << 32) | next);
        ASSERT_EQ(record.name, nameFor(next));
        pop(*ring);
        ++next;
    }
    producer.join();
    RingRecord record;
    EXPECT_FALSE(peek(*ring, record));
}

TEST(RecordRing, PrinterAndDiscardingProducerNeverTearARecord) {
    auto ring = newRing();
    constexpr uint32_t kRecords = 60000;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint32_t i = 0; i < kRecords; ++i) pushDiscardingOldest(*ring, nameFor(i), i, nullptr);
        done = true;
    });
    int64_t last = -1;
    for (;;) {
        const bool finished = done.load();
        TakenRecord taken;
        bool any = false;
        while (takeOldest(*ring, taken)) {
            any = true;
            ASSERT_GT(static_cast<int64_t>(taken.size), last);  // never backwards, never twice
            last = static_cast<int64_t>(taken.size);
            ASSERT_EQ(taken.name, nameFor(static_cast<uint32_t>(taken.size)));
        }
        if (finished && !any) break;
        std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(last, kRecords - 1);
}

}  // namespace
}  // namespace qex
