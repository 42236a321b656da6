#include "kova/protocol/region.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kova/protocol/rect.h"
#include "kova/protocol/tests/region_test_util.h"

using kova::Region;
using vantor_abi::Rect;

using namespace region_test;

TEST(RegionRectTest, UniteIntersectsAndClipFollowTheirEdgeRules)
{
    struct unite_case {
        const char* label;
        Rect a, b, expected;
    };
    const unite_case unites[] = {
        {"invalid takes the other", Rect{}, Rect{5, 6, 7, 8}, Rect{5, 6, 7, 8}},
        {"invalid takes even an invalid other", Rect{}, Rect{5, 5, -3, 2}, Rect{5, 5, -3, 2}},
        {"invalid other changes nothing", Rect{1, 2, 3, 4}, Rect{}, Rect{1, 2, 3, 4}},
        {"bounding box of both", Rect{0, 0, 10, 10}, Rect{20, -5, 5, 5}, Rect{0, -5, 25, 15}},
        {"zero-size rectangle counts", Rect{10, 10, 0, 0}, Rect{0, 0, 2, 2}, Rect{0, 0, 10, 10}},
    };
    for (const auto& c : unites) {
        SCOPED_TRACE(c.label);
        Rect r = c.a;
        r.unite(c.b);
        EXPECT_EQ(text_of(r), text_of(c.expected));
    }

    struct clip_case {
        const char* label;
        Rect r, bounds;
        bool meets;
        Rect expected;
    };
    const clip_case clips[] = {
        {"inside stays", Rect{2, 2, 3, 3}, Rect{0, 0, 10, 10}, true, Rect{2, 2, 3, 3}},
        {"cut on all sides", Rect{-5, -5, 30, 30}, Rect{0, 0, 10, 10}, true, Rect{0, 0, 10, 10}},
        {"shared edge leaves width 0", Rect{0, 0, 10, 10}, Rect{10, 0, 10, 10}, true, Rect{10, 0, 0, 10}},
        {"shared edge leaves height 0", Rect{0, 0, 10, 10}, Rect{0, 10, 10, 10}, true, Rect{0, 10, 10, 0}},
        {"apart becomes none", Rect{0, 0, 10, 10}, Rect{11, 0, 10, 10}, false, Rect{}},
    };
    for (const auto& c : clips) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.r.intersects(c.bounds), c.meets);
        Rect r = c.r;
        EXPECT_EQ(r.clip_to(c.bounds), c.meets);
        EXPECT_EQ(text_of(r), text_of(c.expected));
    }
}

TEST(RegionRectTest, ValidityAreaAndContainment)
{
    EXPECT_FALSE(Rect{}.is_valid());
    EXPECT_EQ(Rect{}.area(), 0);
    const Rect point{5, 5, 0, 0};
    EXPECT_TRUE(point.is_valid());
    EXPECT_EQ(point.area(), 0);
    EXPECT_TRUE(point.contains(5, 5));
    // 64-bit area: a 65536 x 65536 rectangle does not overflow.
    EXPECT_EQ((Rect{0, 0, 65536, 65536}.area()), 4294967296LL);
    EXPECT_TRUE((Rect{0, 0, 10, 10}.contains_rect(Rect{0, 0, 10, 10})));
    EXPECT_FALSE((Rect{0, 0, 10, 10}.contains_rect(Rect{1, 1, 10, 10})));
}

TEST(RegionTest, ConstructionAndInvalidRectangles)
{
    EXPECT_TRUE(Region().is_empty());
    EXPECT_TRUE(Region(Rect{}).is_empty());
    EXPECT_TRUE(Region(Rect{3, 3, 0, 5}).is_empty());
    EXPECT_EQ(text_of(Region().bounds()), "{0,0,0,0}");

    Region r(Rect{10, 20, 30, 40});
    EXPECT_TRUE(r.not_empty());
    EXPECT_EQ(text_of(r.bounds()), "{10,20,30,40}");

    r.add_rect(Rect{});
    EXPECT_EQ(rects_of(r), "{10,20,30,40}");
    r.intersect_rect(Rect{0, 0, -1, 5});
    EXPECT_TRUE(r.is_empty());

    std::vector<Rect> list{Rect{1, 1, 1, 1}};
    EXPECT_FALSE(r.get_rects(list, true, true));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(r.rect_count(), 0);
}

TEST(RegionTest, SetOperationsKeepTheCacheInStep)
{
    Region r(Rect{0, 0, 10, 10});
    EXPECT_EQ(r.rect_count(), 1);
    // Every change drops the cached rectangles; reads see the new region.
    r.add_rect(Rect{20, 0, 10, 10});
    EXPECT_EQ(r.rect_count(), 2);
    EXPECT_EQ(text_of(r.bounds()), "{0,0,30,10}");
    r.subtract(Region(Rect{5, 0, 20, 5}));
    EXPECT_EQ(rects_of(r), "{0,0,5,5}{25,0,5,5}{0,5,10,5}{20,5,10,5}");
    r.intersect(Region(Rect{0, 5, 30, 5}));
    EXPECT_EQ(rects_of(r), "{0,5,10,5}{20,5,10,5}");
    r.translate(-1, 2);
    EXPECT_EQ(rects_of(r), "{-1,7,10,5}{19,7,10,5}");
    EXPECT_TRUE(r.intersects(Rect{8, 7, 1, 1}));
    EXPECT_FALSE(r.intersects(Rect{9, 7, 10, 5}));
    EXPECT_FALSE(r.intersects(Rect{}));

    Region copy(r);
    EXPECT_TRUE(copy.equals(r));
    copy.add_rect(Rect{100, 100, 1, 1});
    EXPECT_FALSE(copy.equals(r));
    EXPECT_EQ(r.rect_count(), 2);

    Region other;
    other.assign(copy);
    EXPECT_TRUE(other.equals(copy));
    other.clear();
    EXPECT_TRUE(other.is_empty());

    copy.swap(other);
    EXPECT_TRUE(copy.is_empty());
    EXPECT_EQ(other.rect_count(), 3);

    Region moved(std::move(other));
    EXPECT_EQ(moved.rect_count(), 3);
    // A moved-from region is still a working empty region.
    EXPECT_TRUE(other.is_empty());
    other.add_rect(Rect{0, 0, 1, 1});
    EXPECT_EQ(other.rect_count(), 1);
}

TEST(RegionTest, GetRectsWalksBandsInTheRequestedOrder)
{
    // Two bands of two rectangles, the second band of a different height.
    const Region r = region_of({Rect{0, 0, 10, 10}, Rect{20, 0, 10, 10}, Rect{0, 20, 10, 5}, Rect{20, 20, 10, 5}});
    struct order_case {
        bool left_to_right;
        bool top_to_bottom;
        const char* expected;
    };
    const order_case cases[] = {
        {true, true, "{0,0,10,10}{20,0,10,10}{0,20,10,5}{20,20,10,5}"},
        {false, true, "{20,0,10,10}{0,0,10,10}{20,20,10,5}{0,20,10,5}"},
        {true, false, "{0,20,10,5}{20,20,10,5}{0,0,10,10}{20,0,10,10}"},
        {false, false, "{20,20,10,5}{0,20,10,5}{20,0,10,10}{0,0,10,10}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("ltr ") + (c.left_to_right ? "1" : "0") + " ttb " + (c.top_to_bottom ? "1" : "0"));
        EXPECT_EQ(rects_of(r, c.left_to_right, c.top_to_bottom), c.expected);
    }
}

TEST(RegionTest, SnappedToGridGrowsAndSnapsOutwardTowardZero)
{
    struct snap_case {
        const char* label;
        Rect source;
        int margin, cell;
        const char* expected;
    };
    const snap_case cases[] = {
        {"positive", Rect{100, 30, 1, 1}, 12, 12, "{84,12,36,36}"},
        {"negative start snaps toward zero", Rect{-5, -5, 1, 1}, 12, 12, "{-12,-12,24,24}"},
        {"already on the grid still grows", Rect{16, 16, 16, 16}, 16, 16, "{0,0,48,48}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(rects_of(Region::snapped_to_grid(Region(c.source), c.margin, c.cell)), c.expected);
    }
    EXPECT_TRUE(Region::snapped_to_grid(Region(), 12, 12).is_empty());
}

TEST(RegionTest, SimplifyCoversScatteredPixelsWithinTheBoundingBox)
{
    // Four rectangles or fewer are never touched.
    Region four = region_of({Rect{0, 0, 1, 1}, Rect{100, 0, 1, 1}, Rect{200, 0, 1, 1}, Rect{300, 0, 1, 1}});
    const Region before(four);
    four.simplify();
    EXPECT_TRUE(four.equals(before));
    EXPECT_EQ(four.rect_count(), 4);

    // Five isolated pixels 100 apart stay five rectangles after both grid steps, clipped to the
    // one-pixel-high bounding box.
    Region five = region_of(
        {Rect{100, 7, 1, 1}, Rect{200, 7, 1, 1}, Rect{300, 7, 1, 1}, Rect{400, 7, 1, 1}, Rect{500, 7, 1, 1}});
    five.simplify();
    EXPECT_EQ(rects_of(five), "{100,7,44,1}{160,7,80,1}{272,7,80,1}{368,7,80,1}{464,7,37,1}");

    // Pixels close enough merge in the 12-pixel step, which then ends the simplification.
    Region close = region_of(
        {Rect{10, 10, 1, 1}, Rect{20, 10, 1, 1}, Rect{30, 10, 1, 1}, Rect{40, 10, 1, 1}, Rect{50, 10, 1, 1}});
    close.simplify();
    EXPECT_EQ(rects_of(close), "{10,10,41,1}");
}
