#pragma once
// A text with "$name$" variables; "$$" stands for one "$". Names are integer keys.
#include <map>
#include <string>

namespace vantor {

class var_text {
public:
    void assign(std::string text)
    {
        text_ = std::move(text);
        assigned_ = true;
    }
    void set(int key, std::string value) { values_[key] = std::move(value); }
    std::string expand() const;

private:
    std::string text_;
    bool assigned_ = false;
    std::map<int, std::string> values_;
};

}  // namespace vantor
