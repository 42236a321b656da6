#pragma once
// Shared by the tests that start the child programs of testing/children: where those programs
// are, and a scratch folder that is removed with its files.
#include <string>

#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"

namespace test_children {

// The UTF-8 path of a child program, found relative to this test executable.
inline std::string program(const char* file_name)
{
    wchar_t path[2048] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, 2048);
    std::wstring folder(path, n);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return vantor::from_wide(vantor::encoding_utf8, folder) + "..\\..\\testing\\children\\" + file_name;
}

// A new empty folder under the temporary folder, deleted (with the files in it) at the end.
class scratch_folder {
public:
    explicit scratch_folder(const char* label)
    {
        static int counter = 0;
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        path_ = vantor::from_wide(vantor::encoding_utf8, temp) + label + "_" +
                std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
        CreateDirectoryW(wide(path_).c_str(), nullptr);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    ~scratch_folder()
    {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(wide(path_ + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((wide(path_) + L"\\" + entry.cFileName).c_str());
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryW(wide(path_).c_str());
    }

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

    // The whole file, or "" when it cannot be read.
    std::string read(const std::string& name) const
    {
        HANDLE file = CreateFileW(wide(this->file(name)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return "";
        }
        std::string bytes;
        char buffer[65536];
        DWORD n = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n > 0) {
            bytes.append(buffer, n);
        }
        CloseHandle(file);
        return bytes;
    }

    bool exists(const std::string& name) const
    {
        return GetFileAttributesW(wide(file(name)).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

private:
    static std::wstring wide(const std::string& utf8) { return vantor::to_wide(vantor::encoding_utf8, utf8); }

    std::string path_;
};

}  // namespace test_children
