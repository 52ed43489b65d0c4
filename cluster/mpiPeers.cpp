#include "mpiPeers.h"

#include <limits>
#include <stdexcept>

namespace {

constexpr int kTag = 17;

// Frees the sends that have completed. Requires the mutex.
void completeSends(MpiPeers& t) {
    for (auto it = t.sending.begin(); it != t.sending.end();) {
        int done = 0;
        MPI_Test(&it->first, &done, MPI_STATUS_IGNORE);
        it = done ? t.sending.erase(it) : std::next(it);
    }
}

}  // namespace

Peers makeMpiPeers(MpiPeers& t) {
    Peers peers;
    MPI_Comm_rank(t.comm, &peers.rank);
    MPI_Comm_size(t.comm, &peers.ranks);
    peers.send = [&t](int to, std::vector<char> bytes) {
        if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
            throw std::length_error("message too long for MPI");
        std::lock_guard<std::mutex> lock(t.mutex);
        t.sending.emplace_back(MPI_REQUEST_NULL, std::move(bytes));
        auto& [request, held] = t.sending.back();
        MPI_Isend(held.data(), static_cast<int>(held.size()), MPI_BYTE, to, kTag, t.comm, &request);
        completeSends(t);
    };
    peers.poll = [&t](const std::function<void(int, std::vector<char>&)>& deliver) {
        std::vector<std::pair<int, std::vector<char>>> arrived;
        {
            std::lock_guard<std::mutex> lock(t.mutex);
            for (;;) {
                int flag = 0;
                MPI_Status status;
                MPI_Iprobe(MPI_ANY_SOURCE, kTag, t.comm, &flag, &status);
                if (!flag) break;
                int count = 0;
                MPI_Get_count(&status, MPI_BYTE, &count);
                std::vector<char> bytes(static_cast<std::size_t>(count));
                MPI_Recv(bytes.data(), count, MPI_BYTE, status.MPI_SOURCE, kTag, t.comm, MPI_STATUS_IGNORE);
                arrived.emplace_back(status.MPI_SOURCE, std::move(bytes));
            }
            completeSends(t);
        }
        for (auto& [from, bytes] : arrived) deliver(from, bytes);
    };
    peers.flush = [&t] {
        std::lock_guard<std::mutex> lock(t.mutex);
        for (auto& sending : t.sending) MPI_Wait(&sending.first, MPI_STATUS_IGNORE);
        t.sending.clear();
    };
    peers.minimum = [&t](int64_t value) {
        std::lock_guard<std::mutex> lock(t.mutex);
        int64_t result = value;
        MPI_Allreduce(&value, &result, 1, MPI_INT64_T, MPI_MIN, t.comm);
        return result;
    };
    peers.broadcast = [&t](int from, const std::string& text) {
        std::lock_guard<std::mutex> lock(t.mutex);
        unsigned long long size = text.size();
        MPI_Bcast(&size, 1, MPI_UNSIGNED_LONG_LONG, from, t.comm);
        std::string result(text);
        result.resize(static_cast<std::size_t>(size));
        MPI_Bcast(result.data(), static_cast<int>(size), MPI_CHAR, from, t.comm);
        return result;
    };
    return peers;
}
