#pragma once
// What a whole run leaves for a differential test to compare: its exit
// status, its console and every file it wrote in temp/ and output/.

#include "testProject.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

struct RunRecord {
    int status = 0;
    std::string console;
    std::map<std::string, std::string> files;  // path under the project -> bytes
};

// The record of `run`, which has just ended in the current directory.
inline RunRecord recordRun(const RunResult& run) {
    RunRecord record{run.status, run.output, {}};
    for (const char* top : {"temp", "output"})
        for (const auto& entry : std::filesystem::recursive_directory_iterator(top))
            if (entry.is_regular_file()) record.files[entry.path().string()] = readFile(entry.path().string());
    return record;
}

// Asserts that `got` is `expected`: the exit status, the console and every file, byte for byte.
// Call it under ASSERT_NO_FATAL_FAILURE, with a SCOPED_TRACE naming the run.
inline void assertSameRun(const RunRecord& got, const RunRecord& expected) {
    ASSERT_EQ(got.status, expected.status);
    ASSERT_EQ(got.console, expected.console);
    ASSERT_EQ(got.files.size(), expected.files.size());
    for (const auto& [path, bytes] : expected.files)
        ASSERT_TRUE(got.files.count(path) && got.files.at(path) == bytes) << path << " differs";
}
