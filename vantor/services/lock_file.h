#pragma once
// A lock held by owning a file: the file is created for writing (others may only read it),
// holds the owner's process id, and is deleted by the system when the owner closes it. Users
// construct a lock and keep it only while held() is true.
#include <memory>
#include <string>

#include "vantor/core/win_handle.h"

namespace vantor {

class lock_file {
public:
    // Tries to take the lock; a lock that could not be taken is simply not held.
    explicit lock_file(std::string path);
    lock_file(const lock_file&) = delete;
    lock_file& operator=(const lock_file&) = delete;
    virtual ~lock_file();

    bool held() const { return handle_.valid(); }
    // The holder's process id in decimal: this process's while held, else what the file holds
    // (at most 16 bytes), or an empty text when it cannot be read.
    std::string content() const;
    const std::string& path() const { return path_; }

private:
    win_file_handle handle_;
    std::string path_;
};

// One owned lock and a directory that is removed with the lock when marked.
class lock_directory {
public:
    lock_directory(std::unique_ptr<lock_file> lock, std::string directory, bool remove_on_release);
    lock_directory(const lock_directory&) = delete;
    lock_directory& operator=(const lock_directory&) = delete;
    ~lock_directory();

    const lock_file& lock() const { return *lock_; }

private:
    std::unique_ptr<lock_file> lock_;
    std::string directory_;
    bool remove_on_release_;
};

// The text with '"', '&', '\'', '<' and '>' replaced by their XML character references; every
// other byte is copied unchanged.
std::string xml_escaped(const std::string& text);
void xml_escape_append(std::string& out, const std::string& text);

}  // namespace vantor
