#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/text_convert.h"
#include "vantor/services/element.h"
#include "vantor/services/json.h"

namespace tarvojson {

namespace {

// The writer's two destinations share one shape: reserve room at the end, give unused room
// back, append a run of bytes.
class string_sink {
public:
    explicit string_sink(std::string& out) : out_(out) {}
    char* append_space(std::size_t n)
    {
        std::size_t at = out_.size();
        out_.resize(at + n);
        return out_.data() + at;
    }
    void trim_back(std::size_t n) { out_.resize(out_.size() - n); }
    void append(std::string_view bytes) { out_.append(bytes); }
    void append_block(const netbuf& block) { out_.append(block.to_string()); }

private:
    std::string& out_;
};

class netbuf_sink {
public:
    explicit netbuf_sink(netbuf& out) : out_(out) {}
    char* append_space(std::size_t n) { return reinterpret_cast<char*>(out_.append_space(n)); }
    void trim_back(std::size_t n) { out_.trim_back(n); }
    void append(std::string_view bytes) { out_.append_bytes(bytes.data(), bytes.size()); }
    // The block's chunks are shared, not copied.
    void append_block(const netbuf& block) { out_.append_shared(block); }

private:
    netbuf& out_;
};

bool plain_unit(wchar_t unit)
{
    if (unit < 0x20 || unit > 0x7E) {
        return false;
    }
    // Quotes and the backslash would end or escape the literal; < > & are escaped so that the
    // text can be embedded in markup unchanged.
    switch (unit) {
        case L'"':
        case L'\'':
        case L'\\':
        case L'<':
        case L'>':
        case L'&':
            return false;
        default:
            return true;
    }
}

// Room for the rest of a string: about three quarters of its UTF-16 bytes plus 8, so that a
// long string costs a few reservations.
std::size_t room_for(std::size_t units)
{
    return units * 2 * 3 / 4 + 8;
}

template <typename Sink>
void write_string_literal(Sink& out, std::string_view text)
{
    std::wstring wide;
    try {
        wide = vantor::to_wide(vantor::encoding_utf8, std::string(text));
    } catch (const vantor::exception&) {
        out.append("\"?\"");
        return;
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::size_t remaining = wide.size();
    std::size_t room = room_for(remaining);
    char* p = out.append_space(room);
    *p++ = '"';
    --room;
    for (wchar_t w : wide) {
        // Every unit needs at most 6 bytes, and the closing quote one more.
        if (room <= 7) {
            out.trim_back(room);
            room = room_for(remaining);
            p = out.append_space(room);
        }
        auto unit = static_cast<std::uint16_t>(w);
        if (plain_unit(w)) {
            *p++ = static_cast<char>(unit);
            --room;
        } else {
            p[0] = '\\';
            p[1] = 'u';
            p[2] = hex[(unit >> 12) & 0xF];
            p[3] = hex[(unit >> 8) & 0xF];
            p[4] = hex[(unit >> 4) & 0xF];
            p[5] = hex[unit & 0xF];
            p += 6;
            room -= 6;
        }
        --remaining;
    }
    *p = '"';
    --room;
    out.trim_back(room);
}

template <typename Sink>
void write_value(Sink& out, const element& e)
{
    switch (e.kind()) {
        case element_kind::null:
            out.append("null");
            return;
        case element_kind::string:
            write_string_literal(out, *e.string_if());
            return;
        case element_kind::array: {
            out.append("[");
            bool first = true;
            for (const element& item : *e.array_if()) {
                if (!first) {
                    out.append(",");
                }
                first = false;
                write_value(out, item);
            }
            out.append("]");
            return;
        }
        case element_kind::object: {
            out.append("{");
            bool first = true;
            for (const auto& [name, value] : *e.object_if()) {
                if (!first) {
                    out.append(",");
                }
                first = false;
                write_string_literal(out, name);
                out.append(":");
                write_value(out, value);
            }
            out.append("}");
            return;
        }
        case element_kind::int64: {
            char digits[24];
            auto result = std::to_chars(digits, digits + sizeof digits, *e.int64_if());
            out.append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
            return;
        }
        case element_kind::text:
            out.append(*e.text_if());
            return;
        case element_kind::netbuf:
            write_string_literal(out, e.netbuf_if()->to_string());
            return;
        case element_kind::json_netbuf:
            out.append_block(*e.json_netbuf_if());
            return;
    }
    throw vantor::internal_error(117);
}

}  // namespace

void write_json_string(netbuf& out, std::string_view text)
{
    netbuf_sink sink(out);
    write_string_literal(sink, text);
}

void element::write_json(netbuf& out) const
{
    netbuf_sink sink(out);
    write_value(sink, *this);
}

std::string element::to_json() const
{
    std::string text;
    string_sink sink(text);
    write_value(sink, *this);
    return text;
}

}  // namespace tarvojson
