#include "kova/protocol/change_tracker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "kova/protocol/tests/region_test_util.h"
#include "vantor/core/exception.h"

using kova::change_tracker;
using kova::change_tracker_clip;
using kova::change_tracker_off;
using kova::Region;
using kova::tracker_changes;
using kova::update_regions;
using vantor_abi::Point;
using vantor_abi::Rect;

using namespace region_test;

namespace {

const Region everything(Rect{-10000, -10000, 20000, 20000});

void changed(change_tracker& t, const Rect& r)
{
    Region region(r);
    t.add_changed(region);
}

void copied(change_tracker& t, const Rect& dest, Point delta)
{
    Region region(dest);
    t.add_copied(region, delta);
}

// Sends a lossy update of `area` through the tracker at `now`, as the composer does.
void send_lossy(change_tracker& t, const Rect& area, std::int64_t now)
{
    changed(t, area);
    tracker_changes out;
    t.collect(out, everything, now);
    update_regions sent;
    sent.lossy.assign(out.changed);
    t.commit_sent(sent);
}

}  // namespace

TEST(TrackerTest, SuccessiveMovesOfOneWindowChainIntoOneCopy)
{
    change_tracker t;
    copied(t, Rect{110, 100, 50, 50}, Point{10, 0});
    changed(t, Rect{120, 110, 5, 5});  // drawn inside the moved window
    copied(t, Rect{115, 100, 50, 50}, Point{5, 0});

    EXPECT_EQ(rects_of(t.copied()), "{115,100,50,50}");
    EXPECT_EQ(t.copy_delta(), (Point{15, 0}));
    // The change travelled with the window; the strip the second move uncovered is a change.
    EXPECT_TRUE(t.changed().intersects(Rect{125, 110, 5, 5}));
    Region expected = region_of({Rect{110, 100, 5, 50}, Rect{120, 110, 5, 5}, Rect{125, 110, 5, 5}});
    EXPECT_EQ(rects_of(t.changed()), rects_of(expected));
}

TEST(TrackerTest, UnrelatedMovesCompeteByBoundingBoxArea)
{
    struct compete_case {
        const char* label;
        Rect second;
        bool replaces;
    };
    const compete_case cases[] = {
        {"smaller move becomes a change", Rect{500, 500, 10, 10}, false},
        {"equal area replaces the pending copy", Rect{500, 500, 25, 16}, true},
        {"larger move replaces the pending copy", Rect{500, 500, 30, 30}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        change_tracker t;
        copied(t, Rect{0, 0, 20, 20}, Point{0, 5});
        // The new move's source lies inside the changed area, whose change travels with it.
        changed(t, Rect{c.second.x + 3, c.second.y - 7, 2, 2});
        copied(t, c.second, Point{0, 7});
        if (c.replaces) {
            EXPECT_EQ(rects_of(t.copied()), text_of(c.second));
            EXPECT_EQ(t.copy_delta(), (Point{0, 7}));
            EXPECT_TRUE(t.changed().intersects(Rect{0, 0, 20, 20}));
            EXPECT_TRUE(t.changed().intersects(Rect{c.second.x + 3, c.second.y, 2, 2}));
        } else {
            EXPECT_EQ(rects_of(t.copied()), "{0,0,20,20}");
            EXPECT_EQ(t.copy_delta(), (Point{0, 5}));
            EXPECT_TRUE(t.changed().intersects(c.second));
            EXPECT_FALSE(t.changed().intersects(Rect{0, 0, 20, 20}));
        }
    }
}

TEST(TrackerTest, EmptyOrDisabledCopies)
{
    change_tracker t;
    copied(t, Rect{0, 0, 10, 10}, Point{1, 1});
    copied(t, Rect{}, Point{50, 50});
    EXPECT_EQ(rects_of(t.copied()), "{0,0,10,10}");
    EXPECT_EQ(t.copy_delta(), (Point{1, 1}));
    EXPECT_TRUE(t.changed().is_empty());

    t.set_copy_enabled(false);
    copied(t, Rect{100, 0, 30, 30}, Point{3, 3});
    EXPECT_EQ(rects_of(t.changed()), "{100,0,30,30}");
    EXPECT_EQ(rects_of(t.copied()), "{0,0,10,10}");
    EXPECT_EQ(t.copy_delta(), (Point{1, 1}));
}

TEST(TrackerTest, CollectClipsToTheRequestAndKeepsChangesOutOfTheCopy)
{
    change_tracker t;
    tracker_changes empty;
    EXPECT_FALSE(t.collect(empty, everything, 5000));
    EXPECT_TRUE(empty.changed.is_empty());
    EXPECT_TRUE(empty.copied.is_empty());
    EXPECT_TRUE(empty.idle.is_empty());

    copied(t, Rect{0, 0, 100, 100}, Point{-4, 2});
    changed(t, Rect{90, 0, 100, 10});
    tracker_changes out;
    EXPECT_TRUE(t.collect(out, Region(Rect{0, 0, 150, 150}), 5100));
    EXPECT_EQ(rects_of(out.changed), "{90,0,60,10}");
    EXPECT_EQ(rects_of(out.copied), "{0,0,90,10}{0,10,100,90}");
    EXPECT_EQ(out.copy_delta, (Point{-4, 2}));
    // The tracker's own copy lost what changed after the move.
    EXPECT_FALSE(t.copied().intersects(Rect{95, 5, 1, 1}));
}

TEST(TrackerTest, LossyAreaBecomesIdleBetween1000And1200MsAfterItsLastChange)
{
    // The change lands at different points of its 200 ms slot; collects follow every 100 ms.
    for (std::int64_t offset : {0, 100, 150, 199}) {
        SCOPED_TRACE("offset " + std::to_string(offset));
        change_tracker t;
        const std::int64_t start = 12000 + offset;
        send_lossy(t, Rect{10, 10, 64, 64}, start);
        ASSERT_EQ(rects_of(t.lossy()), "{10,10,64,64}");
        std::int64_t idle_at = -1;
        for (std::int64_t now = start + 100; now <= start + 2000 && idle_at < 0; now += 100) {
            tracker_changes out;
            bool any = t.collect(out, everything, now);
            if (out.idle.not_empty()) {
                EXPECT_TRUE(any);
                EXPECT_EQ(rects_of(out.idle), "{10,10,64,64}");
                idle_at = now;
            }
        }
        EXPECT_GT(idle_at - start, 1000);
        EXPECT_LE(idle_at - start, 1200);
    }
}

TEST(TrackerTest, LongGapEmptiesTheRecentRingInSixSteps)
{
    change_tracker t;
    for (int slot = 0; slot < change_tracker::recent_slots; ++slot) {
        changed(t, Rect{slot * 10, 0, 5, 5});
        tracker_changes out;
        t.collect(out, everything, 2400 + slot * 200);
        update_regions sent;
        sent.lossless.assign(out.changed);
        t.commit_sent(sent);
    }
    for (int slot = 0; slot < change_tracker::recent_slots; ++slot) {
        EXPECT_TRUE(t.recent(slot).not_empty()) << slot;
    }

    changed(t, Rect{500, 500, 5, 5});
    tracker_changes out;
    const std::int64_t later = 63900;  // 300 ms into its 1200 ms cycle
    t.collect(out, everything, later);
    EXPECT_EQ(t.last_time(), later);
    for (int slot = 0; slot < change_tracker::recent_slots; ++slot) {
        SCOPED_TRACE(slot);
        if (slot == 1) {
            EXPECT_EQ(rects_of(t.recent(slot)), "{500,500,5,5}");
        } else {
            EXPECT_TRUE(t.recent(slot).is_empty());
        }
    }
}

TEST(TrackerTest, ClockReadingsBelowZeroStayInsideTheRing)
{
    change_tracker t;
    changed(t, Rect{0, 0, 4, 4});
    tracker_changes out;
    EXPECT_TRUE(t.collect(out, everything, -250));
    // -250 lies 950 ms into its 1200 ms cycle: slot 4.
    EXPECT_EQ(rects_of(t.recent(4)), "{0,0,4,4}");
    changed(t, Rect{8, 0, 4, 4});
    tracker_changes later;
    EXPECT_TRUE(t.collect(later, everything, -1));
    EXPECT_TRUE(t.recent(5).intersects(Rect{8, 0, 4, 4}));
}

TEST(TrackerTest, CommitSentRetiresRefreshEntries)
{
    change_tracker t;
    send_lossy(t, Rect{0, 0, 20, 20}, 1000);    // entry A
    send_lossy(t, Rect{100, 0, 20, 20}, 1100);  // entry B
    ASSERT_EQ(t.refresh_list().size(), 2u);

    // A is overwritten losslessly: it goes without being announced. Half of B is refreshed.
    update_regions first;
    first.lossless.add_rect(Rect{0, 0, 20, 20});
    first.refreshed.add_rect(Rect{100, 0, 10, 20});
    Region sent = t.commit_sent(first);
    EXPECT_EQ(rects_of(sent), "{0,0,20,20}");
    EXPECT_TRUE(first.updated.is_empty());
    ASSERT_EQ(t.refresh_list().size(), 1u);
    EXPECT_EQ(rects_of(t.lossy()), "{110,0,10,20}");

    // The rest of B is refreshed: B is announced once and retired.
    update_regions second;
    second.refreshed.add_rect(Rect{110, 0, 10, 20});
    t.commit_sent(second);
    EXPECT_EQ(rects_of(second.updated), "{100,0,20,20}");
    EXPECT_TRUE(t.refresh_list().empty());
    EXPECT_TRUE(t.lossy().is_empty());

    update_regions third;
    third.refreshed.add_rect(Rect{100, 0, 20, 20});
    t.commit_sent(third);
    EXPECT_TRUE(third.updated.is_empty());
}

TEST(TrackerTest, CommitSentRemovesWhatWasSentAndLossyContentFollowsTheCopy)
{
    change_tracker t;
    send_lossy(t, Rect{0, 0, 10, 10}, 1000);
    changed(t, Rect{50, 50, 10, 10});
    copied(t, Rect{20, 0, 10, 10}, Point{20, 0});  // the lossy block moves right
    tracker_changes out;
    t.collect(out, everything, 1100);
    EXPECT_EQ(rects_of(t.lossy()), "{20,0,10,10}");

    update_regions sent;
    sent.copied.assign(out.copied);
    sent.lossless.assign(out.changed);
    Region all = t.commit_sent(sent);
    EXPECT_TRUE(t.changed().is_empty());
    EXPECT_TRUE(t.copied().is_empty());
    EXPECT_TRUE(all.intersects(Rect{20, 0, 10, 10}));
    EXPECT_TRUE(all.intersects(Rect{50, 50, 10, 10}));
}

TEST(TrackerTest, ClearKeepsTheDeltaAndTheTime)
{
    change_tracker t;
    send_lossy(t, Rect{0, 0, 10, 10}, 7000);
    copied(t, Rect{30, 30, 5, 5}, Point{2, 3});
    changed(t, Rect{60, 60, 5, 5});
    t.clear_all();
    EXPECT_TRUE(t.changed().is_empty());
    EXPECT_TRUE(t.copied().is_empty());
    EXPECT_TRUE(t.lossy().is_empty());
    EXPECT_TRUE(t.refresh_list().empty());
    for (int slot = 0; slot < change_tracker::recent_slots; ++slot) {
        EXPECT_TRUE(t.recent(slot).is_empty());
    }
    EXPECT_EQ(t.copy_delta(), (Point{2, 3}));
    EXPECT_EQ(t.last_time(), 7000);
}

TEST(TrackerForwardTest, ClipForwardsOnlyWhatLiesInside)
{
    change_tracker target;
    change_tracker_clip clip(&target, Region(Rect{0, 0, 100, 100}));

    Region outside(Rect{200, 200, 10, 10});
    clip.add_changed(outside);
    EXPECT_TRUE(outside.is_empty());
    EXPECT_TRUE(target.changed().is_empty());

    Region partly(Rect{90, 90, 20, 20});
    clip.add_changed(partly);
    EXPECT_EQ(rects_of(target.changed()), "{90,90,10,10}");

    // A move from outside the clip arrives as a change; the part read from inside stays a copy.
    change_tracker target2;
    clip.set_target(&target2);
    Region from_inside(Rect{0, 0, 10, 10});
    clip.add_copied(from_inside, Point{0, -50});  // source {0,50,10,10}: inside
    EXPECT_EQ(rects_of(target2.copied()), "{0,0,10,10}");
    Region dest(Rect{0, 0, 30, 10});
    change_tracker target3;
    clip.set_target(&target3);
    clip.add_copied(dest, Point{20, 0});  // source {-20..10}: only x >= 0 is inside
    EXPECT_EQ(rects_of(target3.copied()), "{20,0,10,10}");
    EXPECT_EQ(rects_of(target3.changed()), "{0,0,20,10}");
    EXPECT_EQ(target3.copy_delta(), (Point{20, 0}));

    change_tracker_clip unattached;
    Region r(Rect{0, 0, 1, 1});
    EXPECT_THROW(unattached.add_changed(r), vantor::exception);
}

TEST(TrackerForwardTest, OffsetMovesTheRegionInPlaceAndKeepsTheDelta)
{
    change_tracker target;
    change_tracker_off off(&target, 10, 20);
    Region r(Rect{0, 0, 5, 5});
    off.add_changed(r);
    EXPECT_EQ(rects_of(r), "{10,20,5,5}");
    EXPECT_EQ(rects_of(target.changed()), "{10,20,5,5}");

    Region dest(Rect{100, 0, 5, 5});
    off.add_copied(dest, Point{3, 4});
    EXPECT_EQ(rects_of(target.copied()), "{110,20,5,5}");
    EXPECT_EQ(target.copy_delta(), (Point{3, 4}));
}

TEST(TrackerForwardTest, ClipInFrontOfAnOffsetForwardsTheRightRest)
{
    // A grabber chain: clip to a monitor, then shift into frame coordinates. The offset tracker
    // moves the copy it is given in place; the clip must still send the correct rest as changed.
    change_tracker frame;
    change_tracker_off off(&frame, 1000, 0);
    change_tracker_clip clip(&off, Region(Rect{0, 0, 100, 100}));
    Region dest(Rect{0, 0, 30, 10});
    clip.add_copied(dest, Point{20, 0});
    EXPECT_EQ(rects_of(frame.copied()), "{1020,0,10,10}");
    EXPECT_EQ(rects_of(frame.changed()), "{1000,0,20,10}");
}
