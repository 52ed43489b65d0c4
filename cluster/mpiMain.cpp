// runoffSimMpi: the runoffSim of a project, run by every process of an MPI
// job; see --help. Process 0 talks on the console, the others stay silent.

#include "clusterShare.h"
#include "consoleProgram.h"
#include "driver.h"
#include "mpiPeers.h"
#include "programInfo.h"
#include "progressLine.h"

#include <mpi.h>
#include <sched.h>

#include <csignal>
#include <iostream>
#include <new>
#include <stdexcept>
#include <ostream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: runoffSimMpi [--threads T], started as mpirun -np N runoffSimMpi (or srun)\n"
    "Runs the flood event of the project in the current directory, as runoffSim\n"
    "does, on N processes (MPI ranks) of T threads each: every file and process\n"
    "0's console are those of runoffSim. The project directory must be on a file\n"
    "system that every process sees.\n"
    "\n"
    "  --threads T  compute cells on T threads in each process (T >= 1); the\n"
    "               default is every processor the process may run on.\n"
    "  --save-state FILE [--save-at HOURS], --initial-state FILE\n"
    "               save the model state, or start from a saved one, as\n"
    "               runoffSim does; a state saved by any number of processes\n"
    "               can be read by any other number.\n"
    "  --help       print this text.\n"
    "  --version    print the version.\n";

// Processors this process may run on (mpirun may bind it to a few).
int processorsOfProcess() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

// Out of memory outside the steps the processes agree on: the others cannot be
// told and would wait for this one, so the whole job ends here.
int endJobOutOfMemory(int rank) {
    std::cerr << "Error: not enough memory for this run (process " << rank << ").\n";
    std::cerr.flush();
    MPI_Abort(MPI_COMM_WORLD, 1);
    return 1;
}

// Process 0: the console of runoffSim, with its stops also on standard error
// when standard output is a log.
int runFirst(const std::vector<std::string>& args) {
    return runModelConsoleProgram(
        [&](std::ostream& out) {
            RunOptions options = parseRunOptions(args, "runoffSimMpi");
            if (options.help || options.version) {
                out << (options.help ? std::string(kUsage) : versionLine("runoffSimMpi"));
                return 0;
            }
            if (!options.threadsGiven) options.threads = processorsOfProcess();
            MpiPeers transport;
            Peers peers = makeMpiPeers(transport);
            RunShare share = processShare(peers);
            options.progress = progressWanted();
            return runSimulation(out, options, &share);
        },
        "Error: not enough memory for this run.\n");
}

int run(int argc, char** argv, int rank) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (rank == 0) return runFirst(args);
    RunOptions options;
    try {
        options = parseRunOptions(args, "runoffSimMpi");
    } catch (const InputError&) {
        return 1;  // process 0 says why
    }
    if (options.help || options.version) return 0;
    if (!options.threadsGiven) options.threads = processorsOfProcess();

    MpiPeers transport;
    Peers peers = makeMpiPeers(transport);
    RunShare share = processShare(peers);
    std::ostream silent(nullptr);  // without a buffer, a stream drops everything
    try {
        return runSimulation(silent, options, &share);
    } catch (const InputError&) {
        return 1;  // process 0 says why
    } catch (const std::bad_alloc&) {
        return endJobOutOfMemory(rank);
    } catch (const std::length_error&) {
        return endJobOutOfMemory(rank);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) then fails the write that passes it, which
    // is reported and cleaned up like a full disk, instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_SERIALIZED, &provided);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (provided < MPI_THREAD_SERIALIZED) {
        const int status = rank != 0 ? 1 : runModelConsoleProgram([](std::ostream&) -> int {
            throw InputError("Error: this MPI library cannot serve a process of several threads.\n");
        }, "");
        MPI_Finalize();
        return status;
    }
    const int status = run(argc, argv, rank);
    std::cout.flush();
    MPI_Finalize();
    return status;
}
