#pragma once
// The rest of a project's event as a project of its own: the event of the
// project in the current directory cut so that it starts after hour `hour`
// of the original. Its rainfall drops the observations of the first hours,
// each kind-0 dam's recorded releases drop their first hours and are padded
// with zero releases, and its duration is the whole days that cover the rest.
// A run of it from the state saved at the end of hour `hour` of the original
// gives, hour for hour, the original's results from hour `hour` + 1 on.

#include "testProject.h"

#include <filesystem>
#include <string>
#include <vector>

// The words of `path` from word `from` on, each followed by `separator`.
inline std::string wordsFrom(const std::string& path, std::size_t from, const std::string& separator = " ") {
    const std::vector<std::string> words = wordsOf(path);
    std::string text;
    for (std::size_t k = from; k < words.size(); ++k) text += words[k] + separator;
    return text;
}

// Rewrites the project in the current directory (its parameter file, rainfall
// and recorded dam releases) to start after hour `hour`, 1 to days x 24.
// Returns the new number of days.
inline int startProjectAtHour(int hour) {
    ParamText p;
    p.values = wordsOf("param-hsx-event-ver400.dat");
    const int days = std::stoi(p[ParamText::kDays]);
    const int rest = days * 24 - hour;
    const int newDays = rest <= 0 ? 1 : (rest + 23) / 24;
    p[ParamText::kDays] = std::to_string(newDays);
    writeText("param-hsx-event-ver400.dat", p.text());

    // A rainfall file that ends early leaves the later observations at 0.
    const std::size_t dropped = static_cast<std::size_t>(hour) * static_cast<std::size_t>(60 / std::stoi(p[ParamText::kRainInterval]));
    const std::size_t points = static_cast<std::size_t>(std::stoi(p[ParamText::kRainCols]) * std::stoi(p[ParamText::kRainRows]));
    if (p[ParamText::kRainFormat] == "1") {
        writeText("input/rain10min.dat", wordsFrom("input/rain10min.dat", dropped * (7 + points)));
    } else {
        const std::string bytes = readFile("input/rain.bin");
        writeText("input/rain.bin", bytes.substr(std::min(bytes.size(), dropped * points * 4)));
    }

    // Recorded releases: two words dropped, then the release; one record an hour.
    for (const auto& entry : std::filesystem::directory_iterator("input/realDamOutflow")) {
        const std::string path = entry.path().string();
        std::string records = wordsFrom(path, static_cast<std::size_t>(hour) * 3);
        for (int h = rest > 0 ? rest : 0; h < newDays * 24; ++h) records += "0 0 0 ";
        writeText(path, records);
    }
    return newDays;
}
