#pragma once
// Peers over MPI: each message is one MPI message of bytes under one tag, so
// the messages from one process arrive in the order it sent them. Requires
// MPI initialised with at least MPI_THREAD_SERIALIZED; every MPI call made
// here is serialised by one mutex.

#include "peers.h"

#include <mpi.h>

#include <list>
#include <memory>
#include <mutex>
#include <utility>

struct MpiPeers {
    MPI_Comm comm = MPI_COMM_WORLD;
    std::mutex mutex;
    std::list<std::pair<MPI_Request, std::vector<char>>> sending;  // sends under way, with their bytes
};

// The Peers of this process in `transport.comm`.
Peers makeMpiPeers(MpiPeers& transport);
