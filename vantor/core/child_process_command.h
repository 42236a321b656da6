#pragma once
// The command line of a child process: the quoted program, then a blank and each quoted
// argument. The quoting is the system's (the one the shared path helpers apply): a text is
// wrapped in double quotes only when it is empty or holds a blank, tab, line feed, vertical tab
// or double quote, so that the child's parser gives back exactly the argument. The program is
// reduced to its file name first while the host's program-path switch is on.
#include <string>
#include <string_view>

#include "vantor/core/vector.h"

namespace vantor {

std::string quote_child_argument(std::string_view text);

// UTF-8 in, the writable UTF-16 text that CreateProcessW takes out.
std::wstring child_command_line(const std::string& program_path, const vantor_stl::vector<std::string>& arguments);

}  // namespace vantor
