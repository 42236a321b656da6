#include "kova/protocol/change_tracker.h"

#include "vantor/core/clock.h"
#include "vantor/core/exception.h"

namespace kova {

namespace {

// The slot of the recent ring that time t falls into. The remainder is taken as a floored one,
// so that a clock reading below 0 (a host clock may start anywhere) still names a slot of the
// ring instead of an index before it.
int recent_slot(std::int64_t t) noexcept
{
    std::int64_t r = t % change_tracker::recent_span_ms;
    if (r < 0) {
        r += change_tracker::recent_span_ms;
    }
    return static_cast<int>(r / change_tracker::recent_slot_ms);
}

// The bounding-box area compared when two moves compete; 0 for an empty region.
std::uint64_t box_area(const Region& r)
{
    return static_cast<std::uint64_t>(r.bounds().area());
}

Region translated(const Region& r, std::int32_t dx, std::int32_t dy)
{
    Region moved(r);
    moved.translate(dx, dy);
    return moved;
}

}  // namespace

void change_tracker::add_changed(Region& changed)
{
    changed_.add(changed);
}

void change_tracker::add_copied(Region& dest, vantor_abi::Point delta)
{
    if (!copy_enabled_) {
        add_changed(dest);
        return;
    }
    if (dest.is_empty()) {
        return;
    }
    const Region source = translated(dest, -delta.x, -delta.y);
    Region chained(source);
    chained.intersect(copied_);
    if (chained.not_empty()) {
        // The new move carries pixels of the pending copy: changes inside them travel along,
        // the chained part stays one copy with the offsets added, and whatever else either move
        // touched becomes a change.
        Region carried(chained);
        carried.intersect(changed_);
        carried.translate(delta.x, delta.y);
        changed_.add(carried);
        chained.translate(delta.x, delta.y);
        Region rest(dest);
        rest.add(copied_);
        rest.subtract(chained);
        changed_.add(rest);
        copied_.swap(chained);
        copy_delta_.x += delta.x;
        copy_delta_.y += delta.y;
        return;
    }
    if (box_area(copied_) > box_area(dest)) {
        // The smaller new move is sent as a change.
        changed_.add(dest);
        return;
    }
    Region carried(source);
    carried.intersect(changed_);
    carried.translate(delta.x, delta.y);
    changed_.add(carried);
    changed_.add(copied_);
    copied_.assign(dest);
    copy_delta_ = delta;
}

bool change_tracker::collect(tracker_changes& out, const Region& requested)
{
    return collect(out, requested, vantor::monotonic_ms());
}

bool change_tracker::collect(tracker_changes& out, const Region& requested, std::int64_t now_ms)
{
    copied_.subtract(changed_);

    out.changed.assign(changed_);
    out.changed.intersect(requested);
    out.changed.simplify();

    out.copied.assign(copied_);
    out.copied.subtract(out.changed);
    out.copied.intersect(requested);
    out.copy_delta = copy_delta_;

    // Age the ring of recent changes. A long gap empties at most the six slots, one per 200 ms
    // step, whatever the gap.
    if (now_ms - last_time_ > recent_span_ms) {
        for (int step = 0; step < recent_slots && now_ms - last_time_ > recent_span_ms; ++step) {
            recent_[recent_slot(last_time_)].clear();
            last_time_ += recent_slot_ms;
        }
    } else if (recent_slot(last_time_) != recent_slot(now_ms)) {
        recent_[recent_slot(now_ms)].clear();
    }
    last_time_ = now_ms;
    recent_[recent_slot(now_ms)].add(out.changed);

    if (copied_.not_empty() && lossy_.not_empty()) {
        // Lossy content travels with the pixels the pending copy moves.
        Region moved = translated(copied_, -copy_delta_.x, -copy_delta_.y);
        moved.intersect(lossy_);
        lossy_.subtract(moved);
        moved.translate(copy_delta_.x, copy_delta_.y);
        lossy_.add(moved);
    }

    if (lossy_.not_empty()) {
        out.idle.assign(lossy_);
        for (const Region& slot : recent_) {
            if (slot.not_empty()) {
                out.idle.subtract(slot);
            }
        }
        out.idle.intersect(requested);
    }

    return out.copied.not_empty() || out.changed.not_empty() || out.idle.not_empty();
}

Region change_tracker::commit_sent(update_regions& sent_regions)
{
    Region sent(sent_regions.lossless);
    sent.add(sent_regions.copied);
    sent.add(sent_regions.lossy);

    copied_.subtract(sent);
    changed_.subtract(sent);

    lossy_.subtract(sent_regions.lossless);
    lossy_.subtract(sent_regions.refreshed);
    lossy_.add(sent_regions.lossy);

    Region drop(sent_regions.lossless);
    drop.add(sent_regions.lossy);
    const bool dropping = drop.not_empty();
    const bool refreshing = sent_regions.refreshed.not_empty();
    for (auto entry = refresh_.begin(); entry != refresh_.end();) {
        if (dropping) {
            entry->area.subtract(drop);
            entry->refreshed.subtract(drop);
        }
        if (refreshing) {
            Region part(sent_regions.refreshed);
            part.intersect(entry->area);
            if (part.not_empty()) {
                entry->refreshed.add(part);
            }
        }
        if (entry->area.is_empty()) {
            // Overwritten by newer content: nothing of it is left to announce.
            entry = refresh_.erase(entry);
        } else if (entry->refreshed.equals(entry->area)) {
            sent_regions.updated.add(entry->area);
            entry = refresh_.erase(entry);
        } else {
            ++entry;
        }
    }

    if (sent_regions.lossy.not_empty()) {
        refresh_entry& added = refresh_.emplace_back();
        added.area.assign(sent_regions.lossy);
    }
    return sent;
}

void change_tracker::clear()
{
    changed_.clear();
    copied_.clear();
    lossy_.clear();
    for (Region& slot : recent_) {
        slot.clear();
    }
    refresh_.clear();
}

void change_tracker::clear_all()
{
    clear();
}

void change_tracker_clip::add_changed(Region& changed)
{
    if (target_ == nullptr) {
        throw vantor::internal_error(__LINE__);
    }
    changed.intersect(clip_);
    if (changed.not_empty()) {
        target_->add_changed(changed);
    }
}

void change_tracker_clip::add_copied(Region& dest, vantor_abi::Point delta)
{
    if (target_ == nullptr) {
        throw vantor::internal_error(__LINE__);
    }
    dest.intersect(clip_);
    if (dest.is_empty()) {
        return;
    }
    // Destinations whose source lies inside the clip as well stay a copy; the rest of the move
    // brings in pixels from outside and arrives as a change.
    Region inside = translated(dest, -delta.x, -delta.y);
    inside.intersect(clip_);
    inside.translate(delta.x, delta.y);
    // The rest is taken before the copy is forwarded: the target may clip or shift the region
    // it is given in place.
    dest.subtract(inside);
    if (inside.not_empty()) {
        target_->add_copied(inside, delta);
    }
    if (dest.not_empty()) {
        target_->add_changed(dest);
    }
}

void change_tracker_off::add_changed(Region& changed)
{
    if (target_ == nullptr) {
        throw vantor::internal_error(__LINE__);
    }
    changed.translate(dx_, dy_);
    target_->add_changed(changed);
}

void change_tracker_off::add_copied(Region& dest, vantor_abi::Point delta)
{
    if (target_ == nullptr) {
        throw vantor::internal_error(__LINE__);
    }
    dest.translate(dx_, dy_);
    target_->add_copied(dest, delta);
}

}  // namespace kova
