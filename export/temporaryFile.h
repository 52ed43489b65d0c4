#pragma once
// A result written under a temporary name and renamed into place only when it
// is complete: a failed run never leaves half a file where a good one was.

#include "inputError.h"

#include <filesystem>
#include <string>
#include <system_error>

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
