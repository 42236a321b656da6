#include "vantor/core/child_process_command.h"

#include "vantor/core/host_hooks.h"
#include "vantor/core/text_convert.h"

namespace vantor {
namespace {

std::string_view file_name_of(std::string_view path)
{
    std::size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string quote_child_argument(std::string_view text)
{
    if (!text.empty() && text.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(text);
    }
    // Backslashes are literal except in a run before a double quote, which the child's parser
    // halves; such runs, and the run before the closing quote, are doubled.
    std::string out;
    out.reserve(text.size() + 8);
    out += '"';
    std::size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

std::wstring child_command_line(const std::string& program_path, const vantor_stl::vector<std::string>& arguments)
{
    const std::int32_t* program_path_switch = host().program_path_switch;
    std::string line = quote_child_argument(program_path_switch != nullptr && *program_path_switch != 0
                                                ? file_name_of(program_path)
                                                : std::string_view(program_path));
    for (const std::string& argument : arguments) {
        line += ' ';
        line += quote_child_argument(argument);
    }
    return to_wide(encoding_utf8, line);
}

}  // namespace vantor
