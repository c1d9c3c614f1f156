// The daemon loop's pure parts: when a burst of route events is looked at,
// how long the loop sleeps, and what an inotify read holds.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/inotify.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host_events.h"

namespace {

struct Burst {
    long long first;
    long long last;
    long long look;
};

TEST(EventLook, QuietAfterTheLastEventButNeverLaterThanHalfASecond)
{
    for (const Burst& row : std::vector<Burst>{
             {1000, 1000, 1200}, // one event: 200 ms after it
             {1000, 1250, 1450}, // a short burst: 200 ms after its last event
             {1000, 1300, 1500}, // the two limits meet
             {1000, 1450, 1500}, // a long burst: half a second after its first event
             {1000, 9000, 1500}, // a storm never holds the look back
         })
        EXPECT_EQ(row.look, get_Event_Look_Ms(row.first, row.last)) << row.first << " " << row.last;
}

struct Wait {
    long long now;
    std::vector<long long> due;
    int wait;
};

TEST(LoopWait, UntilTheEarliestDueTime)
{
    for (const Wait& row : std::vector<Wait>{
             {100, {}, -1},                  // nothing to wait for: sleep until an event
             {100, {-1, -1}, -1},            // none of them due
             {100, {220, 150, -1}, 50},      // the earliest counts
             {100, {90, 500}, 0},            // one already past: at once
             {0, {5000000000LL}, 2147483647} // a far time is cut to what poll takes
         })
        EXPECT_EQ(row.wait, get_Wait_Ms(row.now, row.due)) << row.now;
}

// One record as the kernel writes it: the header, then the name padded with NULs to `padded`.
std::vector<uint8_t> get_Record(int watch, uint32_t mask, const std::string& name, uint32_t padded)
{
    struct inotify_event head = {};
    head.wd = watch;
    head.mask = mask;
    head.len = padded;
    std::vector<uint8_t> bytes(sizeof(head) + padded, 0);
    memcpy(bytes.data(), &head, sizeof(head));
    memcpy(bytes.data() + sizeof(head), name.data(), std::min<size_t>(name.size(), padded));
    return bytes;
}

TEST(WatchEvents, RecordsOfOneReadAndNothingPastItsEnd)
{
    std::vector<uint8_t> buffer = get_Record(1, IN_MOVED_TO, "trial", 16);
    std::vector<uint8_t> second = get_Record(2, IN_DELETE, "i2c-2", 8);
    std::vector<uint8_t> third = get_Record(1, IN_IGNORED, "", 0);
    buffer.insert(buffer.end(), second.begin(), second.end());
    buffer.insert(buffer.end(), third.begin(), third.end());
    std::vector<Watch_Event> events = get_Watch_Events(buffer.data(), buffer.size());
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(1, events[0].watch);
    EXPECT_EQ("trial", events[0].name);
    EXPECT_EQ(static_cast<uint32_t>(IN_DELETE), events[1].mask);
    EXPECT_EQ("i2c-2", events[1].name);
    EXPECT_EQ("", events[2].name);

    // A read cut inside a header or a name ends the list at the last whole record.
    EXPECT_EQ(1u, get_Watch_Events(buffer.data(), get_Record(1, 0, "", 16).size() + 3).size());
    EXPECT_EQ(1u, get_Watch_Events(buffer.data(), buffer.size() - third.size() - 2).size());
    // A name that fills its room without a NUL is taken to the room's end.
    std::vector<uint8_t> unpadded = get_Record(3, IN_CREATE, "abcdefgh", 8);
    EXPECT_EQ("abcdefgh", get_Watch_Events(unpadded.data(), unpadded.size()).at(0).name);
    EXPECT_TRUE(get_Watch_Events(buffer.data(), 0).empty());
}

} // namespace
