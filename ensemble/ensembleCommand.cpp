#include "ensembleCommand.h"

#include "dischargeFiles.h"
#include "ensembleInputs.h"
#include "ensembleNetcdf.h"
#include "ensembleProducts.h"
#include "ensembleRun.h"
#include "eventPlan.h"
#include "inputError.h"
#include "resultFiles.h"
#include "warmStart.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>

namespace fs = std::filesystem;

namespace {

// "./output/ensemble/007/": where member 7's discharge files go.
std::string memberDirectory(std::size_t member) {
    char name[48];
    std::snprintf(name, sizeof name, "./output/ensemble/%03zu/", member);
    return name;
}

// The event's calendar: input/event.txt of prepareRainfall, else the first
// record of a text rainfall, else none.
EventStart eventStart(const Event& event) {
    EventStart start = findEventStart("", 2, ".");
    if (!start.start) start = findEventStart("", event.params.rainFormat, ".");
    if (!start.start) start.source = "unknown: times count minutes since the start of the event";
    return start;
}

// Opens one set of discharge files per member under output/ensemble/MMM/,
// creating the directories; a directory that cannot be made is an InputError.
std::vector<std::unique_ptr<DischargeFiles>> openMemberFiles(const Event& event, std::size_t members) {
    std::vector<std::unique_ptr<DischargeFiles>> files;
    // Batches share the room runoffSim gives one set of files.
    const std::size_t batchBytes =
        std::max<std::size_t>(std::size_t{1} << 18, dischargeBatchBytes(event.grid.cellCount()) / members);
    for (std::size_t m = 0; m < members; ++m) {
        const std::string dir = memberDirectory(m);
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec) throw InputError("Error: " + dir + " cannot be created: " + ec.message() + ".\n");
        files.push_back(std::make_unique<DischargeFiles>());
        openDischargeFiles(*files.back(), event.grid, event.riverNumList, event.params, batchBytes, dir);
        // A disk without room for them shows now, not after the members have run.
        const FileFailure failure = dischargeFailure(*files.back());
        if (failure.error != 0) throw InputError("Error: " + failureText(failure) + ".\n");
    }
    return files;
}

std::size_t computedCells(const Event& event) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < event.grid.cellCount(); ++i)
        count += computesCell(event.grid.cell(static_cast<int32_t>(i)), event.riverNumList) ? 1 : 0;
    return count;
}

}  // namespace

int runEnsembleProgram(const EnsembleOptions& options, std::ostream& out, std::ostream& err) {
    Event event = loadEvent(".", LoadOptions{false});
    // Every member starts from the saved state, checked as runoffSim --initial-state checks it.
    if (!options.initialState.empty()) startFromState(event, options.initialState);
    const ModelParams& p = event.params;
    const std::vector<std::string> paths = findMemberFiles();
    const std::vector<Threshold> thresholds = readThresholds(event, options.thresholds);
    const std::vector<SeriesSite> sites = seriesSites(event, options.points);
    const EventStart start = eventStart(event);
    if (const int error = probeDirectory("./output/"))
        throw InputError("Error: no result can be written into ./output/: " + std::string(std::strerror(error)) + ".\n");
    const std::vector<RainGrid> members = readMembers(event, paths);
    out << "Project: " << p.ncols << " x " << p.nrows << " cells, " << computedCells(event) << " computed, "
        << p.days << (p.days == 1 ? " day" : " days") << " of " << p.stepSeconds << " s steps\n"
        << "Members: " << members.size() << " in " << kMembersDir << '\n';
    out.flush();

    std::vector<std::unique_ptr<DischargeFiles>> files;
    if (options.memberFiles) files = openMemberFiles(event, members.size());
    EnsembleSetup setup;
    setup.threads = options.threads;
    for (const Threshold& t : thresholds) setup.thresholds.push_back(&t.cells);
    for (const SeriesSite& s : sites) setup.seriesCells.push_back(s.cell);
    setup.memberFiles = &files;
    const MemberResults results = runMembers(event, members, setup);

    for (std::size_t m = 0; m < results.stops.size(); ++m) {
        if (results.stops[m].stopped) err << "Member " << m << " (" << paths[m] << ") stopped: " << results.stops[m].message;
    }
    err.flush();
    const EnsembleProducts products = makeProducts(event, results, thresholds, sites.size());
    if (products.counted.empty()) throw InputError("Error: every member stopped; nothing is written.\n");

    // The file and every finished member's discharge files take their names
    // together, or none does.
    std::vector<PendingFile> pending = {{kEnsembleFile, std::string(kEnsembleFile) + ".partial"}};
    out << "Write " << kEnsembleFile << '\n';
    FileFailure failure;
    for (std::size_t m = 0; m < files.size(); ++m) {
        if (results.stops[m].stopped) continue;  // its temporary files go with it, as in runoffSim
        closeDischargeFiles(*files[m]);
        if (failure.error == 0) failure = dischargeFailure(*files[m]);
        for (const DischargeFiles::File& f : files[m]->files) pending.push_back({f.path, f.temporary});
        out << "Write " << memberDirectory(m) << " (the three discharge files of member " << m << ")\n";
    }
    try {
        writeEnsembleNetcdf(EnsembleFile{event, start, paths, thresholds, sites, results, products},
                            pending.front().temporary, kEnsembleFile);
    } catch (const InputError&) {
        removeTemporaries(pending);
        throw;
    }
    if (failure.error == 0) failure = replaceTogether(pending);
    else removeTemporaries(pending);
    for (std::size_t m = 0; m < files.size(); ++m) {
        if (results.stops[m].stopped) continue;
        for (DischargeFiles::File& file : files[m]->files) file.temporary.clear();  // renamed or removed
    }
    if (failure.error != 0) throw InputError("Error: " + failureText(failure) + ".\n");
    out << "Members counted: " << products.counted.size() << " of " << members.size() << '\n';
    for (std::size_t t = 0; t < thresholds.size(); ++t) {
        const std::vector<int32_t>& count = products.thresholds[t].count;
        const int32_t most = count.empty() ? 0 : *std::max_element(count.begin(), count.end());
        std::size_t cells = 0;
        for (const int32_t c : count) cells += c * 2 >= static_cast<int32_t>(products.counted.size()) && c > 0 ? 1 : 0;
        out << "Threshold " << thresholds[t].name << " (" << thresholds[t].source << "): exceeded by up to "
            << std::max(most, 0) << " members; " << cells << " cells with a probability of 50 % or more\n";
    }
    out.flush();
    return 0;
}
