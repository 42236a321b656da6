#pragma once
// Path texts and command lines: the parts of a path, the safety test for names and relative
// paths received from elsewhere, and the quoting and splitting of Windows command lines. Pure
// text functions (UTF-8 in and out); none touches the file system. Any thread.
#include <cstddef>
#include <string>
#include <string_view>

#include "vantor/core/vector.h"

namespace vantor {
namespace fs {

// The text before the last "/" or "\", or "." when there is none. For a rooted path whose
// parent holds no separator the root is kept: "/name" gives "/", "\name" gives "\" and
// "C:\name" gives "C:\".
std::string parent_path(std::string_view path);

// The text after the last "/" and after the last "\".
std::string file_name(std::string_view path);

// The path with every "/" turned into "\".
std::string backslashes(std::string_view path);

// True when `name` can be used as one file or folder name on Windows without surprises: not
// empty, no leading or trailing blank, no trailing ".", no control byte and none of
// " * / : < > ? \ |, and not a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9)
// in any letter case, with or without extensions ("nul.tar.gz", "CON .txt"). Bytes from 0x80
// up are allowed.
bool is_safe_name(std::string_view name);

// The file-name check that the transfer code calls; the same test as is_safe_name.
inline bool is_valid_file_name(std::string_view name)
{
    return is_safe_name(name);
}

// True for a relative path whose components (split at "\" and "/") are all safe names, with at
// least one component. Rooted ("\x", "/x"), UNC ("\\server\share") and drive paths ("C:\x",
// "C:x") are refused: the test is meant for paths received from elsewhere that must stay below
// a folder of the caller's choice.
bool is_safe_path(std::string_view path);

}  // namespace fs

// The argument quoted so that the command-line parser of Windows programs (the runtime's and
// CommandLineToArgvW's, for every argument after the program name) gives back exactly `text`.
// A non-empty text without blank, tab, line feed, vertical tab and double quote is returned
// unchanged.
std::string quote_argument(std::string_view text);

// The program path quoted for the start of a command line; reduced to its file name first when
// the host's program-path switch is on.
std::string quote_command(std::string_view program_path);

// Splits a command line into arguments, appending them to `out`; returns out's size. A quoted
// argument runs to the next unescaped double quote ("\"" inside it stands for a double quote,
// and "" is an empty argument); an unquoted one runs to the next blank, tab, CR or LF. No other
// backslash is interpreted.
std::size_t split_command_line(std::string_view text, vantor_stl::vector<std::string>& out);

}  // namespace vantor
