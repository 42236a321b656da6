#include "vantor/core/var_text.h"

#include <cstdlib>

namespace vantor {

std::string var_text::expand() const
{
    std::string out;
    std::size_t i = 0;
    while (i < text_.size()) {
        char c = text_[i];
        if (c != '$') {
            out.push_back(c);
            ++i;
            continue;
        }
        std::size_t close = text_.find('$', i + 1);
        if (close == std::string::npos) {
            ++i;  // a lone "$" is dropped
            continue;
        }
        if (close == i + 1) {
            out.push_back('$');
        } else {
            int key = std::atoi(text_.substr(i + 1, close - i - 1).c_str());
            auto it = values_.find(key);
            if (it != values_.end()) {
                out += it->second;
            }
        }
        i = close + 1;
    }
    return out;
}

}  // namespace vantor
