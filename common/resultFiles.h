#pragma once
// Results written under temporary names and put in place together: either
// every file of a run takes its new bytes, or every one keeps what it held,
// so a run that fails while writing never leaves old and new results mixed.
// Every system call is checked, and a failure keeps the system's reason.

#include <cstddef>
#include <string>
#include <vector>

// A result on its way: its bytes go to `temporary`, which takes the name
// `path` when every result of the run is complete.
struct PendingFile {
    std::string path;
    std::string temporary;
};

// The first file that could not be written or put in place, and the system's
// error number; `error` 0 means no failure.
struct FileFailure {
    std::string path;
    int error = 0;
};

// "<path> could not be written: <the system's text for error>".
std::string failureText(const FileFailure& failure);

// A file written through a buffer. The first failing call's error number is
// kept and every later write is dropped; the descriptor is closed on
// destruction if closeOutputFile was not called.
struct OutputFile {
    int descriptor = -1;
    int error = 0;
    std::string buffer;

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();
};

// Creates or truncates `path` for writing.
void openOutputFile(OutputFile& file, const std::string& path);
void putBytes(OutputFile& file, const char* bytes, std::size_t size);
inline void putBytes(OutputFile& file, const std::string& bytes) { putBytes(file, bytes.data(), bytes.size()); }
// Writes what is buffered and closes the file; returns the first error (0: none).
int closeOutputFile(OutputFile& file);

// Writes `bytes` to `path` (created or truncated); returns the first error (0: none).
int writeWholeFile(const std::string& path, const std::string& bytes);

// Whether files can be created in directory `dir` (ending in '/'): a probe
// file is created, given one byte and removed. Returns the error of the first
// step that failed (0: none), for example ENOENT for a missing directory,
// ENOTDIR for a plain file in its place, EACCES or EROFS for a read-only one.
int probeDirectory(const std::string& dir);

// Renames every temporary onto its path, all or none. Each path that exists
// is first kept under a backup name (a second link to the same file, or the
// file itself renamed where the file system has no links); when a rename
// fails, the paths already renamed get their backups back (or are removed
// where nothing was there), so every path holds what it held before. At the
// end no temporary and no backup is left. Returns the first failure.
FileFailure replaceTogether(const std::vector<PendingFile>& files);

// Removes the temporaries (a run that stops before they are complete).
void removeTemporaries(const std::vector<PendingFile>& files);
