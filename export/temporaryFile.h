#pragma once
// A result written under a temporary name and renamed into place only when it
// is complete: a failed run never leaves half a file where a good one was.

#include "inputError.h"
#include "resultFiles.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

struct TemporaryFile {
    std::string finalPath;
    std::string path;  // finalPath + ".part"
    bool committed = false;

    explicit TemporaryFile(std::string target) : finalPath(std::move(target)), path(finalPath + ".part") {}
    ~TemporaryFile() {
        std::error_code ec;
        if (!committed) std::filesystem::remove(path, ec);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Renames the finished file into place; throws InputError if it cannot.
    void commit() {
        std::error_code ec;
        std::filesystem::rename(path, finalPath, ec);
        if (ec) throw InputError("Error: " + finalPath + " cannot be written: " + ec.message() + ".\n");
        committed = true;
    }
};

// Renames the finished files into place together: all of them, or none (then
// every final name keeps what it held). Throws InputError naming the file
// that could not be put in place and the reason.
inline void commitTogether(std::vector<std::unique_ptr<TemporaryFile>>& files) {
    std::vector<PendingFile> pending;
    for (const auto& file : files) pending.push_back({file->finalPath, file->path});
    const FileFailure failure = replaceTogether(pending);
    for (auto& file : files) file->committed = failure.error == 0;
    if (failure.error != 0)
        throw InputError("Error: " + failure.path + " cannot be written: " + std::strerror(failure.error) + ".\n");
}
