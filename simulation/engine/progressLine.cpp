#include "progressLine.h"

#include <cstdio>
#include <unistd.h>

namespace {

// "h:mm:ss", or "m:ss" below an hour.
void formatDuration(double seconds, char* text, std::size_t size) {
    const long total = seconds < 0.0 ? 0 : static_cast<long>(seconds + 0.5);
    if (total >= 3600) {
        std::snprintf(text, size, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, size, "%ld:%02ld", total / 60, total % 60);
    }
}

}  // namespace

std::string durationText(double seconds) {
    char text[32];
    formatDuration(seconds, text, sizeof text);
    return text;
}

bool progressWanted() { return ::isatty(STDERR_FILENO) == 1; }

ProgressLine startProgress() {
    ProgressLine line;
    line.sharesTerminal = ::isatty(STDOUT_FILENO) == 1;
    return line;
}

void showProgress(ProgressLine& line, int64_t done, int64_t total, const char* units) {
    const auto now = std::chrono::steady_clock::now();
    if (now - line.lastDrawn < std::chrono::milliseconds(250)) return;
    line.lastDrawn = now;
    const double elapsed = std::chrono::duration<double>(now - line.start).count();
    char spent[32], left[32] = "?";
    formatDuration(elapsed, spent, sizeof spent);
    if (done > 0) formatDuration(elapsed * static_cast<double>(total - done) / static_cast<double>(done), left, sizeof left);
    std::fprintf(stderr, "\r\033[K%lld/%lld %s, %s elapsed, about %s left", static_cast<long long>(done),
                 static_cast<long long>(total), units, spent, left);
    std::fflush(stderr);
    line.visible = true;
}

void clearBeforeOutput(ProgressLine& line) {
    if (line.sharesTerminal) clearProgress(line);
}

void clearProgress(ProgressLine& line) {
    if (!line.visible) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    line.visible = false;
}
