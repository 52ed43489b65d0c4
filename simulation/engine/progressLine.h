#pragma once
// A one-line progress display on standard error for long runs: cells done out
// of cells, the elapsed time and an estimate of the time left. Shown only when
// standard error is a terminal, redrawn at most four times a second, and
// cleared at the end; standard output is never touched.

#include <chrono>
#include <cstdint>
#include <string>

struct ProgressLine {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn{};
    bool visible = false;
    bool sharesTerminal = false;  // standard output is the same kind of terminal: clear before it prints
};

// "h:mm:ss", or "m:ss" below an hour.
std::string durationText(double seconds);

// Whether standard error is a terminal, i.e. whether a progress line should be kept.
bool progressWanted();

// A progress line starting now.
ProgressLine startProgress();

// Redraws the line with `done` of `total` cells (or other `units`), unless it
// was drawn less than a quarter of a second ago.
void showProgress(ProgressLine& line, int64_t done, int64_t total, const char* units = "cells");

// Clears the line if it is visible and standard output shares the terminal,
// so that console text never lands inside it.
void clearBeforeOutput(ProgressLine& line);

// Clears the line if it is visible.
void clearProgress(ProgressLine& line);
