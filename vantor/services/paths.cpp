#include "vantor/services/paths.h"

#include <array>

#include "vantor/core/child_process_command.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/string_utils.h"

namespace vantor {
namespace {

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The names that Windows maps to devices in every folder, whatever extension follows.
constexpr std::array<std::string_view, 22> device_names = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
};

// Windows resolves a device name before the first dot and ignores blanks before that dot, so
// "nul.tar.gz" and "CON .txt" open the device just as "NUL" and "CON" do.
bool is_device_name(std::string_view name)
{
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    std::string upper = to_upper_copy(base);
    for (std::string_view device : device_names) {
        if (upper == device) {
            return true;
        }
    }
    return false;
}


}  // namespace

namespace fs {

std::string parent_path(std::string_view path)
{
    std::size_t last = path.find_last_of("/\\");
    if (last == std::string_view::npos) {
        return ".";
    }
    std::string parent(path.substr(0, last));
    bool rooted = !path.empty() && is_separator(path[0]);
    bool drive = path.size() > 1 && path[1] == ':';
    if ((rooted || drive) && parent.find_first_of("/\\") == std::string::npos) {
        if (parent.empty()) {
            // The root itself, written with the separator the path uses.
            return std::string(1, path[0]);
        }
        parent += '\\';
    }
    return parent;
}

std::string file_name(std::string_view path)
{
    std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) {
        path.remove_prefix(slash + 1);
    }
    std::size_t backslash = path.rfind('\\');
    if (backslash != std::string_view::npos) {
        path.remove_prefix(backslash + 1);
    }
    return std::string(path);
}

std::string backslashes(std::string_view path)
{
    std::string out(path);
    for (char& c : out) {
        if (c == '/') {
            c = '\\';
        }
    }
    return out;
}

bool is_safe_name(std::string_view name)
{
    if (name.empty() || name.front() == ' ' || name.back() == ' ' || name.back() == '.') {
        return false;
    }
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
            return false;
        }
        switch (c) {
            case '"':
            case '*':
            case '/':
            case ':':
            case '<':
            case '>':
            case '?':
            case '\\':
            case '|':
                return false;
            default:
                break;
        }
    }
    return !is_device_name(name);
}

bool is_safe_path(std::string_view path)
{
    // A leading separator makes the path rooted on the current drive, or a UNC or device path
    // when doubled; either leaves the folder the caller means to stay in.
    if (path.empty() || is_separator(path.front())) {
        return false;
    }
    vantor_stl::vector<std::string> parts = split_nonempty(path, "\\/");
    if (parts.empty()) {
        return false;
    }
    for (const std::string& part : parts) {
        if (!is_safe_name(part)) {
            return false;
        }
    }
    return true;
}

}  // namespace fs

std::string quote_argument(std::string_view text)
{
    // The same rule as the command lines of child processes.
    return quote_child_argument(text);
}

std::string quote_command(std::string_view program_path)
{
    const std::int32_t* program_path_switch = host().program_path_switch;
    if (program_path_switch != nullptr && *program_path_switch != 0) {
        return quote_argument(fs::file_name(program_path));
    }
    return quote_argument(program_path);
}

std::size_t split_command_line(std::string_view text, vantor_stl::vector<std::string>& out)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (is_blank(text[i])) {
            ++i;
            continue;
        }
        std::string argument;
        if (text[i] == '"') {
            ++i;
            while (i < text.size()) {
                char c = text[i];
                if (c == '"') {
                    if (!argument.empty() && argument.back() == '\\') {
                        argument.back() = '"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                argument += c;
                ++i;
            }
        } else {
            while (i < text.size() && !is_blank(text[i])) {
                argument += text[i];
                ++i;
            }
        }
        out.push_back(argument);
    }
    return out.size();
}

}  // namespace vantor
