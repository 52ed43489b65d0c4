#pragma once
// The trace of a calibration, DIR/trace.csv: a comment line with the hash of
// the configuration, a header, and one line per finished evaluation:
//
//     # calibrateModel trace; configuration 0123456789abcdef
//     evaluation,Ns,Ka,kge_sample_18_3,aggregate,failed
//     1,0.41234567890123451,0.0012345678901234567,0.81234567890123456,0.81234567890123456,0
//
// Numbers carry 17 significant digits, so a run reading them back continues
// from the same bits; a failed evaluation's scores are -inf. The lines of a
// batch are appended with one write and flushed to the disk before the next
// batch starts, so a kill at any moment loses at most the batch under way and
// leaves at most one torn line, the last.

#include "evaluation.h"

#include <cstdint>
#include <string>
#include <vector>

std::string traceHeader(const Calibration& calibration);
std::string traceLine(int64_t number, const Outcome& outcome);

// What an existing trace holds: the evaluations of its complete lines.
struct TraceContents {
    bool headerComplete = false;  // false: nothing of worth (a kill while the file was made)
    std::vector<Outcome> outcomes;
    std::size_t completeBytes = 0;  // the header and the complete lines
};

// Reads the trace at `path` for a resumed calibration. Throws InputError when
// it belongs to another configuration, holds a malformed line before its
// last, or more evaluations than the budget; a last line without its line
// end (torn by a kill) is left out.
TraceContents readTrace(const std::string& path, const Calibration& calibration);

// The trace opened for appending batches.
struct TraceWriter {
    std::string path;
    int fd = -1;
    TraceWriter() = default;
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;
    ~TraceWriter();
};

// Makes a new trace holding the header (under a temporary name, renamed
// when complete), or cuts an existing one back to `keepBytes`; then opens it
// for appending. Throws InputError naming the file.
void openTrace(TraceWriter& writer, const std::string& path, const std::string& header, bool fresh, std::size_t keepBytes);

// Appends `text` (whole lines) and flushes it to the disk.
void appendTrace(TraceWriter& writer, const std::string& text);
