#pragma once
// What a WMI property query hands its answers to, and the collector that turns them into one
// text per property.
#include <cstddef>
#include <string>

#include "vantor/core/vector.h"

namespace vantor {

// The result collector of a property query. Called on the COM thread that runs the query, in
// the order the objects and properties come; the collector belongs to the caller.
class get_props_adder {
public:
    // Called once before any value: one slot per requested property.
    virtual void resize(std::size_t property_count) = 0;
    // A value of the property at `index` on one object.
    virtual void add(std::size_t index, const std::string& value) = 0;
    // The property at `index` has no value (empty or null) on one object.
    virtual void add_empty(std::size_t index) = 0;

protected:
    ~get_props_adder() = default;
};

// Keeps one text per property listing its distinct non-empty values over all objects, in the
// order they came, separated by ",". A value is left out only when it equals one listed
// already: "ab" then "b" gives "ab,b".
class wmi_props_collector final : public get_props_adder {
public:
    void resize(std::size_t property_count) override;
    void add(std::size_t index, const std::string& value) override;
    void add_empty(std::size_t) override {}

    const vantor_stl::vector<std::string>& texts() const noexcept { return texts_; }
    vantor_stl::vector<std::string> take_texts() noexcept { return std::move(texts_); }

private:
    vantor_stl::vector<std::string> texts_;
    vantor_stl::vector<vantor_stl::vector<std::string>> values_;  // the distinct values per property
};

}  // namespace vantor
