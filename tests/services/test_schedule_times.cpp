// When schedules are in force, on a clock the test sets: daylight-saving days in two zones,
// windows across midnight and the week's end, leap days, overlaps, whole days, and the
// clock or the zone changing under a running book.
#include <gtest/gtest.h>

#include "schedule_book.h"

namespace schedules {
namespace {

Seconds utc(const char* text) { return parse_utc(text).value(); }

Window window(const char* days, const char* start, const char* end) {
    std::string why;
    return Window{parse_days(days, why).value(), parse_time(start, why).value(), parse_time(end, why).value()};
}

Timetable table(const char* zone, std::vector<Window> windows) {
    std::string why;
    return Timetable{find_zone(zone, why), std::move(windows)};
}

struct Case {
    const char* what;
    const char* zone;
    std::vector<Window> windows;
    const char* now;
    bool active;
    const char* next;  // the next change
};

TEST(ScheduleTimes, InForceAndNextChange) {
    const Case cases[] = {
        // Brussels springs from 02:00 to 03:00 at 01:00Z: a window starting at 02:30 starts
        // with the jump.
        {"start in the skipped hour", "Europe/Brussels", {window("Sun", "02:30", "04:00")}, "2026-03-29T00:59:59Z",
         false, "2026-03-29T01:00:00Z"},
        {"after the jump into it", "Europe/Brussels", {window("Sun", "02:30", "04:00")}, "2026-03-29T01:00:00Z", true,
         "2026-03-29T02:00:00Z"},
        // New York skips 02:00-03:00 on 8 March: a window wholly inside never opens that day.
        {"wholly skipped", "America/New_York", {window("Sun", "02:15", "02:45")}, "2026-03-08T06:59:00Z", false,
         "2026-03-15T06:15:00Z"},
        // Brussels repeats 02:00-03:00 on 25 October (first CEST, then CET): in force twice.
        {"repeated hour, first pass", "Europe/Brussels", {window("Sun", "02:15", "02:45")}, "2026-10-25T00:20:00Z",
         true, "2026-10-25T00:45:00Z"},
        {"repeated hour, between", "Europe/Brussels", {window("Sun", "02:15", "02:45")}, "2026-10-25T00:50:00Z", false,
         "2026-10-25T01:15:00Z"},
        // Out at 02:30 summer time, and in again when the clock falls back to 02:00.
        {"set back into a window", "Europe/Brussels", {window("Sun", "01:00", "02:30")}, "2026-10-25T00:45:00Z", false,
         "2026-10-25T01:00:00Z"},
        {"repeated hour, New York", "America/New_York", {window("Sun", "01:00", "01:30")}, "2026-11-01T05:30:00Z",
         false, "2026-11-01T06:00:00Z"},
        // Sunday's overnight window runs into Monday, the first day of the week.
        {"across the week's end", "UTC", {window("Sun", "21:00", "07:00")}, "2026-03-30T06:59:00Z", true,
         "2026-03-30T07:00:00Z"},
        {"sunday evening", "UTC", {window("Sun", "21:00", "07:00")}, "2026-03-29T20:00:00Z", false,
         "2026-03-29T21:00:00Z"},
        {"leap day's night", "UTC", {window("Tue", "23:00", "01:00")}, "2028-03-01T00:30:00Z", true,
         "2028-03-01T01:00:00Z"},
        {"leap day's evening", "UTC", {window("Tue", "23:00", "01:00")}, "2028-02-29T22:00:00Z", false,
         "2028-02-29T23:00:00Z"},
        {"overlapping windows", "UTC", {window("Mon", "08:00", "12:00"), window("Mon", "10:00", "14:00")},
         "2026-03-30T11:59:00Z", true, "2026-03-30T14:00:00Z"},
        {"whole saturday", "UTC", {window("Sat", "00:00", "00:00")}, "2026-03-28T00:00:00Z", true,
         "2026-03-29T00:00:00Z"},
        {"two whole days in a row", "UTC", {window("Sat,Sun", "12:00", "12:00")}, "2026-03-28T13:00:00Z", true,
         "2026-03-30T12:00:00Z"},
        {"every day, all day", "UTC", {window("Mon,Tue,Wed,Thu,Fri,Sat,Sun", "00:00", "00:00")},
         "2026-03-28T13:00:00Z", true, "2026-04-04T13:00:00Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Timetable t = table(c.zone, c.windows);
        ASSERT_NE(t.zone, nullptr);
        EXPECT_EQ(t.active_at(utc(c.now)), c.active);
        EXPECT_EQ(t.next_change(utc(c.now)), utc(c.next));
    }
}

TEST(ScheduleTimes, RefusesMalformedTexts) {
    std::string why;
    for (const char* days : {"", "Mon,", "mon", "Mon,Mon", "Monday", "Mon Tue", ",Tue"}) {
        EXPECT_FALSE(parse_days(days, why)) << days;
    }
    for (const char* time : {"", "24:00", "7:00", "07:60", "07-00", "07:00 ", "0a:00"}) {
        EXPECT_FALSE(parse_time(time, why)) << time;
    }
    for (const char* time : {"2027-02-29T00:00:00Z", "2026-03-30 07:00:00Z", "2026-03-30T24:00:00Z", "2026-3-30T07:00:00Z"}) {
        EXPECT_FALSE(parse_utc(time)) << time;
    }
    EXPECT_EQ(find_zone("Mars/Olympus", why), nullptr);
    EXPECT_NE(why.find("Mars/Olympus"), std::string::npos);
}

// A book as the service drives it: verdicts are reported only when they change, and the
// clock may jump back across a window. Zones changing, an unsynchronised clock and a disabled
// schedule are golden cases (schedule windows).
TEST(ScheduleTimes, BookReportsOnlyChanges) {
    ScheduleBook book(UnsyncedPolicy::inactive);
    book.set(1, Plan{true, table("UTC", {window("Mon", "21:00", "22:00")}), ""});
    book.set(2, Plan{true, std::nullopt, "Window.1: Days is empty"});

    auto changes = book.recompute(utc("2026-03-30T21:30:00Z"), true, false);
    ASSERT_EQ(changes.size(), 2U);
    EXPECT_EQ(changes[0].second, (Verdict{"Active", ""}));
    EXPECT_EQ(changes[1].second, (Verdict{"Error", "Window.1: Days is empty"}));
    EXPECT_EQ(book.next_due(), utc("2026-03-30T22:00:00Z"));
    EXPECT_TRUE(book.recompute(utc("2026-03-30T21:40:00Z"), true, true).empty());

    // Backwards across the window: out at once, and due at its start again.
    changes = book.recompute(utc("2026-03-30T20:00:00Z"), true, true);
    ASSERT_EQ(changes.size(), 1U);
    EXPECT_EQ(changes[0].second, (Verdict{"Inactive", ""}));
    EXPECT_EQ(book.next_due(), utc("2026-03-30T21:00:00Z"));
}

}  // namespace
}  // namespace schedules
