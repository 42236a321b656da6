#include "vantor/services/lock_file.h"

#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/utf_step.h"
#include "vantor/core/win_api.h"
#include "vantor/services/files_access.h"
#include "vantor/services/files_fs.h"

namespace vantor {
namespace {

const log_context lock_log{"lock_file"};

std::wstring wide_path(const std::string& path) { return to_wide(encoding_utf8, path); }

}  // namespace

lock_file::lock_file(std::string path) : path_(std::move(path))
{
    notify_file_access(path_, file_access::write);
    handle_.reset(CreateFileW(wide_path(path_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle_) return;
    const std::string pid = std::to_string(GetCurrentProcessId());
    DWORD written = 0;
    if (!WriteFile(handle_.get(), pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr) ||
        !FlushFileBuffers(handle_.get())) {
        lock_log.log(VANTOR_FMT("cannot write %1%: %2%"), path_, last_error_message());
    }
}

lock_file::~lock_file() = default;

std::string lock_file::content() const
{
    if (held()) return std::to_string(GetCurrentProcessId());
    notify_file_access(path_, file_access::read);
    win_file_handle file(CreateFileW(wide_path(path_).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    char buffer[16];
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return {};
    return std::string(buffer, got);
}

lock_directory::lock_directory(std::unique_ptr<lock_file> lock, std::string directory, bool remove_on_release)
    : lock_(std::move(lock)), directory_(std::move(directory)), remove_on_release_(remove_on_release)
{
}

lock_directory::~lock_directory()
{
    lock_.reset();
    if (!remove_on_release_) return;
    try {
        fs::remove_directory(directory_);
    } catch (const exception& e) {
        lock_log.log(VANTOR_FMT("cannot remove %1%: %2%"), directory_, e.what());
    }
}

void xml_escape_append(std::string& out, const std::string& text)
{
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* reference = nullptr;
        switch (text[i]) {
        case '"':
            reference = "&quot;";
            break;
        case '&':
            reference = "&amp;";
            break;
        case '\'':
            reference = "&#39;";
            break;
        case '<':
            reference = "&lt;";
            break;
        case '>':
            reference = "&gt;";
            break;
        default:
            continue;
        }
        out.append(text, run, i - run);
        out += reference;
        run = i + 1;
    }
    out.append(text, run, text.size() - run);
}

std::string xml_escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    xml_escape_append(out, text);
    return out;
}

}  // namespace vantor
