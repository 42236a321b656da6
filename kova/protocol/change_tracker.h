#pragma once
// Change trackers: grabbers report what happened on the screen as areas whose pixels changed
// and areas whose pixels moved from elsewhere by a known offset (window moves and scrolls, which
// the stream sends as CopyRect). A tracker accumulates both between updates and merges
// successive moves, so that at most one pending copy (one region, one offset) exists at a time.
//
// The encoder's tracker also remembers which areas were last sent lossy and when the screen last
// changed where, so that areas that have stayed still for a while are re-sent losslessly
// (the idle region) and areas whose lossy content has been completely re-sent are announced to
// the viewer (the updated region).
//
// Trackers have no lock. A frame's tracker is fed by its grabber during a grab and read on the
// encoder's executor after that grab; the encoder's own tracker lives on its executor.
#include <cstdint>
#include <list>

#include "kova/protocol/rect.h"
#include "kova/protocol/region.h"

namespace kova {

// What a grabber reports to. Callers may find the region they passed modified: the forwarding
// trackers clip or shift it in place before they forward it.
class change_tracker_i {
public:
    virtual ~change_tracker_i() = default;
    // The region's pixels changed.
    virtual void add_changed(Region& changed) = 0;
    // The pixels now in `dest` came from `dest` moved by -delta.
    virtual void add_copied(Region& dest, vantor_abi::Point delta) = 0;
};

// What collect hands the next update: the idle region to re-send losslessly, the changed area
// and the pending copy, each within the area the viewer asked for.
struct tracker_changes {
    Region idle;
    Region changed;
    Region copied;
    vantor_abi::Point copy_delta;
};

// The regions that one update fills while it is written and that commit_sent reads: copied
// (sent as CopyRect), lossless (sent ZRLE), refreshed (idle areas re-sent ZRLE), lossy (sent
// JPEG); updated is the output, the lossy areas that are now fully refreshed.
struct update_regions {
    Region copied;
    Region lossless;
    Region refreshed;
    Region lossy;
    Region updated;
};

// An area sent lossy by one update, minus what was overwritten since, and the part of it that
// has been re-sent losslessly since.
struct refresh_entry {
    Region area;
    Region refreshed;
};

// The accumulating tracker: the base of every desktop frame and a member of the encoder.
class change_tracker : public change_tracker_i {
public:
    // Milliseconds covered by the ring of recent changes, and the width of one of its slots.
    static constexpr std::int64_t recent_span_ms = 1200;
    static constexpr std::int64_t recent_slot_ms = 200;
    static constexpr int recent_slots = 6;

    change_tracker() = default;
    change_tracker(const change_tracker&) = delete;
    change_tracker& operator=(const change_tracker&) = delete;
    ~change_tracker() override = default;

    void add_changed(Region& changed) override;
    // Merges the move with the pending copy: a move that reads pixels of the pending copy chains
    // onto it (the offsets add up); otherwise the move with the larger bounding box is kept as
    // the copy and the other becomes a change (a tie goes to the new move). With copy tracking
    // off the destination is recorded as changed.
    void add_copied(Region& dest, vantor_abi::Point delta) override;

    // Takes what the next update should send within `requested` into `out`, whose regions the
    // caller passes empty, and ages the ring of recent changes to `now_ms` (monotonic
    // milliseconds). True when out holds a copy, a change or an idle area.
    bool collect(tracker_changes& out, const Region& requested, std::int64_t now_ms);
    // The same at the current time of the monotonic clock.
    bool collect(tracker_changes& out, const Region& requested);

    // After an update was written: removes what it sent, keeps the lossy bookkeeping and adds
    // to sent.updated the lossy areas that are now fully refreshed. Returns the sent area.
    Region commit_sent(update_regions& sent);

    // Empties changed, copied, lossy and the recent ring and drops every refresh entry; the copy
    // delta and the time of the last collect stay.
    void clear();
    // The same as clear; the update composer picks one of the two under a feature flag.
    void clear_all();

    // When off, add_copied records the destination as changed.
    void set_copy_enabled(bool on) noexcept { copy_enabled_ = on; }
    bool copy_enabled() const noexcept { return copy_enabled_; }

    const Region& changed() const noexcept { return changed_; }
    const Region& copied() const noexcept { return copied_; }
    vantor_abi::Point copy_delta() const noexcept { return copy_delta_; }
    const Region& lossy() const noexcept { return lossy_; }
    std::int64_t last_time() const noexcept { return last_time_; }
    const Region& recent(int slot) const { return recent_[slot]; }
    const std::list<refresh_entry>& refresh_list() const noexcept { return refresh_; }

private:
    Region changed_;
    Region copied_;
    vantor_abi::Point copy_delta_;
    Region lossy_;
    bool copy_enabled_ = true;
    std::int64_t last_time_ = 0;
    // Slot s holds the changes collected at times t with (t mod 1200) div 200 = s.
    Region recent_[recent_slots];
    // Oldest first.
    std::list<refresh_entry> refresh_;
};

// Forwards to a target tracker what lies inside a clip region; a move whose source lies outside
// the clip arrives at the target as a change. The target is not owned and must be set before use.
class change_tracker_clip : public change_tracker_i {
public:
    change_tracker_clip() = default;
    change_tracker_clip(change_tracker_i* target, const Region& clip) : target_(target), clip_(clip) {}

    void add_changed(Region& changed) override;
    void add_copied(Region& dest, vantor_abi::Point delta) override;

    void set_target(change_tracker_i* target) noexcept { target_ = target; }
    change_tracker_i* target() const noexcept { return target_; }
    Region& clip() noexcept { return clip_; }
    const Region& clip() const noexcept { return clip_; }

private:
    change_tracker_i* target_ = nullptr;
    Region clip_;
};

// Forwards to a target tracker with every region moved by an offset (a monitor's or window's
// coordinates into frame coordinates); copy deltas pass unchanged. The target is not owned and
// must be set before use.
class change_tracker_off : public change_tracker_i {
public:
    change_tracker_off() = default;
    change_tracker_off(change_tracker_i* target, std::int32_t dx, std::int32_t dy)
        : target_(target), dx_(dx), dy_(dy)
    {
    }

    void add_changed(Region& changed) override;
    void add_copied(Region& dest, vantor_abi::Point delta) override;

    void set_target(change_tracker_i* target) noexcept { target_ = target; }
    change_tracker_i* target() const noexcept { return target_; }
    void set_offset(std::int32_t dx, std::int32_t dy) noexcept
    {
        dx_ = dx;
        dy_ = dy;
    }
    std::int32_t dx() const noexcept { return dx_; }
    std::int32_t dy() const noexcept { return dy_; }

private:
    change_tracker_i* target_ = nullptr;
    std::int32_t dx_ = 0;
    std::int32_t dy_ = 0;
};

}  // namespace kova
