#include "resultFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bytes an OutputFile gathers before it writes them.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

// write() until every byte has gone; the error number, or 0.
int writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return errno;
        if (put == 0) return EIO;  // no progress and no reason: never seen on a regular file
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return 0;
}

void flush(OutputFile& file) {
    if (file.error == 0 && !file.buffer.empty())
        file.error = writeAll(file.descriptor, file.buffer.data(), file.buffer.size());
    file.buffer.clear();
}

}  // namespace

std::string failureText(const FileFailure& failure) {
    return failure.path + " could not be written: " + std::strerror(failure.error);
}

OutputFile::~OutputFile() {
    if (descriptor >= 0) ::close(descriptor);
}

void openOutputFile(OutputFile& file, const std::string& path) {
    file.descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    file.error = file.descriptor < 0 ? errno : 0;
    file.buffer.clear();
}

void putBytes(OutputFile& file, const char* bytes, std::size_t size) {
    if (file.error != 0) return;
    file.buffer.append(bytes, size);
    if (file.buffer.size() >= kBufferBytes) flush(file);
}

int closeOutputFile(OutputFile& file) {
    if (file.descriptor < 0) return file.error;
    flush(file);
    // Some file systems (network ones) report a failed write only here.
    if (::close(file.descriptor) != 0 && file.error == 0) file.error = errno;
    file.descriptor = -1;
    return file.error;
}

int writeWholeFile(const std::string& path, const std::string& bytes) {
    OutputFile file;
    openOutputFile(file, path);
    putBytes(file, bytes);
    return closeOutputFile(file);
}

int probeDirectory(const std::string& dir) {
    const std::string probe = dir + ".writeProbe." + std::to_string(::getpid());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    int error = writeAll(fd, "\n", 1);  // a full file system may take the name but not a byte
    if (::close(fd) != 0 && error == 0) error = errno;
    ::unlink(probe.c_str());
    return error;
}

namespace {

// What a path held before its temporary was renamed onto it.
enum class Kept { kNothing, kLinked, kMoved };

std::string backupOf(const PendingFile& file) { return file.path + ".previous"; }

// Keeps the present file at `file.path` under its backup name.
int keep(const PendingFile& file, Kept& kept) {
    kept = Kept::kNothing;
    struct stat status;
    if (::lstat(file.path.c_str(), &status) != 0) return errno == ENOENT ? 0 : errno;
    // A directory cannot be kept, and the rename onto it fails below.
    if (S_ISDIR(status.st_mode)) return 0;
    const std::string backup = backupOf(file);
    ::unlink(backup.c_str());  // left by a run that was killed here
    if (::link(file.path.c_str(), backup.c_str()) == 0) {
        kept = Kept::kLinked;
        return 0;
    }
    // A file system without hard links: the file itself moves aside.
    if (::rename(file.path.c_str(), backup.c_str()) == 0) {
        kept = Kept::kMoved;
        return 0;
    }
    return errno;
}

}  // namespace

FileFailure replaceTogether(const std::vector<PendingFile>& files) {
    const std::size_t count = files.size();
    std::vector<Kept> kept(count, Kept::kNothing);
    FileFailure failure;
    for (std::size_t k = 0; k < count && failure.error == 0; ++k) {
        if (const int error = keep(files[k], kept[k])) failure = {files[k].path, error};
    }
    std::size_t renamed = 0;
    while (failure.error == 0 && renamed < count) {
        if (::rename(files[renamed].temporary.c_str(), files[renamed].path.c_str()) != 0) {
            failure = {files[renamed].path, errno};
        } else {
            ++renamed;
        }
    }
    for (std::size_t k = 0; k < count; ++k) {
        const std::string backup = backupOf(files[k]);
        if (failure.error == 0) {
            if (kept[k] != Kept::kNothing) ::unlink(backup.c_str());
            continue;
        }
        // Back to the state before: a renamed path gets its old file back; a
        // path not renamed still has it, unless it was moved aside.
        const bool replaced = k < renamed;
        if (kept[k] == Kept::kMoved || (replaced && kept[k] == Kept::kLinked)) {
            ::rename(backup.c_str(), files[k].path.c_str());
        } else if (kept[k] == Kept::kLinked) {
            ::unlink(backup.c_str());
        } else if (replaced) {
            ::unlink(files[k].path.c_str());
        }
        if (!replaced) ::unlink(files[k].temporary.c_str());
    }
    return failure;
}

void removeTemporaries(const std::vector<PendingFile>& files) {
    for (const PendingFile& file : files) ::unlink(file.temporary.c_str());
}
