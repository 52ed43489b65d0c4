#pragma once
// The results of a finished calibration, made from its evaluations alone (so
// a resumed calibration writes the same bytes as an uninterrupted one):
//   best.toml                              the best values and scores;
//   best/EVENT/param-hsx-event-ver400.dat  the event's parameter file with the
//                                          best values (every other byte kept),
//   best/EVENT/paramData/param_dist_KEY.dat  and for a parameter read from a
//                                          map, the map times the best multiplier;
//   best/EVENT/hydrograph-COL-ROW.svg      the best hydrograph against the gauge,
//   best/EVENT/hydrograph-COL-ROW-skill.csv  and its scores, as plotHydrograph makes them;
//   convergence.svg                        the best score against the evaluations.

#include "evaluation.h"

#include <cstdint>
#include <string>
#include <vector>

// "best/EVENT": the folder of an event's results, relative to the results' folder.
std::string eventResultFolder(const LoadedEvent& event);

// The best evaluation: the highest aggregate, the earliest of equals; -1 when every one failed.
int64_t bestEvaluation(const std::vector<Outcome>& outcomes);

std::string bestToml(const Calibration& calibration, const std::vector<Outcome>& outcomes, int64_t best);

// `text` (a parameter file or map) with the whitespace-separated tokens at
// the given places (from 0) replaced, every other byte kept.
std::string withTokens(const std::string& text, const std::vector<std::pair<std::size_t, std::string>>& replacements);

std::string convergenceSvg(const Calibration& calibration, const std::vector<Outcome>& outcomes);

// Writes every result into `directory` and lists the files on `out`. Throws InputError.
void writeCalibrationResults(const Calibration& calibration, const std::vector<Outcome>& outcomes, int64_t best,
                             const std::string& directory, std::ostream& out);
