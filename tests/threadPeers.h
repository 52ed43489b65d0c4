#pragma once
// Peers between threads of one process, for running the processes of a
// distributed run in-process: each rank has an inbox, and the two collective
// steps meet at one rendezvous.

#include "peers.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct ThreadPeersHub {
    explicit ThreadPeersHub(int n) : ranks(n), inbox(static_cast<std::size_t>(n)) {}

    int ranks;
    std::mutex mutex;
    std::condition_variable met;
    std::vector<std::deque<std::pair<int, std::vector<char>>>> inbox;
    int arrived = 0;
    int64_t generation = 0;
    int64_t smallest = 0, result = 0;
    std::string text, resultText;

    Peers peers(int rank) {
        Peers p;
        p.rank = rank;
        p.ranks = ranks;
        p.send = [this, rank](int to, std::vector<char> bytes) {
            std::lock_guard<std::mutex> lock(mutex);
            inbox[static_cast<std::size_t>(to)].emplace_back(rank, std::move(bytes));
        };
        p.poll = [this, rank](const std::function<void(int, std::vector<char>&)>& deliver) {
            std::deque<std::pair<int, std::vector<char>>> arrivedHere;
            {
                std::lock_guard<std::mutex> lock(mutex);
                arrivedHere.swap(inbox[static_cast<std::size_t>(rank)]);
            }
            for (auto& [from, bytes] : arrivedHere) deliver(from, bytes);
        };
        p.flush = [] {};
        p.minimum = [this](int64_t value) {
            return meet([&] { smallest = arrived == 0 ? value : std::min(smallest, value); },
                        [&] { result = smallest; }, [&] { return result; });
        };
        p.broadcast = [this, rank](int from, const std::string& t) {
            return meet([&] { if (rank == from) text = t; }, [&] { resultText = text; }, [&] { return resultText; });
        };
        return p;
    }

    // Every rank adds its part; the last one to arrive completes the step and wakes the others.
    template <typename Add, typename Complete, typename Read>
    auto meet(Add add, Complete complete, Read read) -> decltype(read()) {
        std::unique_lock<std::mutex> lock(mutex);
        const int64_t step = generation;
        add();
        if (++arrived == ranks) {
            complete();
            arrived = 0;
            ++generation;
            met.notify_all();
        } else {
            met.wait(lock, [&] { return generation != step; });
        }
        return read();
    }
};
