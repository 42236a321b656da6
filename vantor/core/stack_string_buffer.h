#pragma once
// Collects characters without touching the heap for texts up to 1024 bytes; longer texts move
// into a heap string. One thread at a time.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vantor {

class stack_string_buffer {
public:
    static constexpr std::size_t capacity = 1024;

    stack_string_buffer() = default;
    stack_string_buffer(const stack_string_buffer&) = delete;
    stack_string_buffer& operator=(const stack_string_buffer&) = delete;

    void push_back(char c);

    // The characters collected so far; valid until the next push_back.
    std::string_view view() const noexcept;
    std::string str() const { return std::string(view()); }
    bool spilled() const noexcept { return spill_ != nullptr; }

private:
    char storage_[capacity];
    std::size_t position_ = 0;
    std::unique_ptr<std::string> spill_;
};

}  // namespace vantor
