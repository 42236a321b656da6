#include "kova/protocol/desktop_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kova/protocol/monitor_regions.h"
#include "kova/protocol/tests/region_test_util.h"
#include "kova/protocol/tests/settings_test_util.h"
#include "vantor/core/netbuf.h"

using kova::desktop_frame;
using kova::monitor_entry;
using kova::monitor_regions;
using kova::Region;
using vantor_abi::Point;
using vantor_abi::Rect;
using namespace region_test;

namespace {

// A grabber's frame over a small pixel block; tells when it is destroyed.
class test_frame final : public desktop_frame {
public:
    explicit test_frame(bool* destroyed) : destroyed_(destroyed) {}

    std::uint8_t* pixel_buffer(std::int32_t& stride) override
    {
        stride = 3 * 4;
        return pixels_;
    }

private:
    ~test_frame() override { *destroyed_ = true; }

    bool* destroyed_;
    std::uint8_t pixels_[3 * 2 * 4] = {};
};

}  // namespace

TEST(FrameTest, NewFrameHasNothingYetAndDiesWithItsLastReference)
{
    bool destroyed = false;
    {
        vantor::refc_obj<test_frame> frame(new test_frame(&destroyed));
        EXPECT_EQ(frame->focus_rect(), nullptr);
        EXPECT_FALSE(frame->keep_alive());
        EXPECT_FALSE(frame->has_position);
        EXPECT_FALSE(frame->shape_changed);
        EXPECT_EQ(frame->shape.width, 0);
        EXPECT_EQ(frame->shape.pixels.data(), nullptr);
        EXPECT_TRUE(frame->clipboard_text.empty());
        EXPECT_FALSE(frame->clipboard_changed);
        EXPECT_EQ(frame->frame_rect, (Rect{-1, -1, -1, -1}));
        EXPECT_FALSE(frame->frame_rect.is_valid());
        EXPECT_TRUE(frame->format.equals(kova::pixel_format{}));
        EXPECT_EQ(frame->format.bpp, 32);
        EXPECT_TRUE(frame->frame_region.is_empty());
        EXPECT_TRUE(frame->monitors.monitors.empty());
        EXPECT_TRUE(frame->changed().is_empty());
        EXPECT_TRUE(frame->copy_enabled());
        std::int32_t stride = 0;
        EXPECT_NE(frame->pixel_buffer(stride), nullptr);
        EXPECT_EQ(stride, 12);
        vantor::refc_obj<desktop_frame> second(frame);
        frame.reset();
        EXPECT_FALSE(destroyed);
    }
    EXPECT_TRUE(destroyed);
}

TEST(FrameTest, ResetClearsOneGrabsMarksAndKeepsTheLayout)
{
    bool destroyed = false;
    vantor::refc_obj<test_frame> frame(new test_frame(&destroyed));
    frame->monitors.monitors.push_back(monitor_entry{Rect{0, 0, 1920, 1080}, true});
    frame->format.bpp = 16;
    frame->frame_rect = Rect{0, 0, 1920, 1080};
    frame->has_position = true;
    frame->shape_changed = true;
    frame->clipboard_text = "copied";
    frame->clipboard_changed = true;

    // A grabber reports through a wrapper in monitor coordinates; the frame's tracker collects.
    kova::change_tracker_off to_frame(frame.get(), 1920, 0);
    Region damage(Rect{10, 10, 5, 5});
    to_frame.add_changed(damage);
    EXPECT_EQ(rects_of(frame->changed()), "{1930,10,5,5}");
    Region moved(Rect{0, 100, 50, 50});
    to_frame.add_copied(moved, Point{0, 20});

    frame->reset();
    EXPECT_FALSE(frame->has_position || frame->shape_changed || frame->clipboard_changed);
    EXPECT_TRUE(frame->clipboard_text.empty());
    EXPECT_TRUE(frame->changed().is_empty());
    EXPECT_TRUE(frame->copied().is_empty());
    EXPECT_EQ(frame->monitors.monitors.size(), 1u);
    EXPECT_EQ(frame->format.bpp, 16);
    EXPECT_EQ(frame->frame_rect, (Rect{0, 0, 1920, 1080}));
}

TEST(FrameMonitorsTest, SwapBoundsAndPackedEntries)
{
    monitor_regions a;
    a.names = {"\\\\.\\DISPLAY1", "\\\\.\\DISPLAY2"};
    a.monitors = {monitor_entry{Rect{0, 0, 1920, 1080}, true}, monitor_entry{Rect{1920, -200, 1280, 1024}, true}};
    monitor_regions b;
    b.names = {"x"};
    b.monitors = {monitor_entry{Rect{0, 0, 800, 600}, false}};
    const monitor_regions a0 = a;
    const monitor_regions b0 = b;
    a.swap(b);
    EXPECT_EQ(a.names, b0.names);
    EXPECT_EQ(b.monitors, a0.monitors);
    a.swap(b);
    EXPECT_EQ(a.names, a0.names);
    EXPECT_EQ(a.monitors, a0.monitors);
    EXPECT_EQ(b.monitors, b0.monitors);

    Rect bounds;
    a.selected_bounds(bounds);
    EXPECT_EQ(text_of(bounds), "{0,-200,3200,1280}");
    b.selected_bounds(bounds);
    EXPECT_EQ(text_of(bounds), "{0,0,0,0}");
    kova::rect_list_bounds({Rect{5, 5, 10, 10}, Rect{-5, 0, 1, 1}}, bounds);
    EXPECT_EQ(text_of(bounds), "{-5,0,20,15}");

    // Appended as selected, h, w, y, x; read back as x, y, w, h, selected.
    netbuf p;
    monitor_regions::write_entry(p, monitor_entry{Rect{1920, -200, 1280, 1024}, true});
    EXPECT_EQ(settings_test::hex_of(p), "54 00 04 02 00 05 02 c8 81 80 07 02");
    monitor_entry back;
    monitor_regions::read_entry(p, back);
    EXPECT_EQ(back, (monitor_entry{Rect{1920, -200, 1280, 1024}, true}));
    EXPECT_TRUE(p.is_empty());
}
