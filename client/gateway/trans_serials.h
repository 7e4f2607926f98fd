#pragma once
// Transaction serial numbers: 16-digit numbers the gateway hands out in blocks, kept per
// route in a pool of CTransIdM blocks. A pool belongs to one handle and its owning thread;
// it has no lock of its own.

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "client/gateway/gateway_records.h"
#include "platform/status.h"

namespace vantrel {

// Where a transaction goes: organisation code, service name, function code.
struct Route {
    std::string organisation;
    std::string service;
    std::string function;
    // The three codes, each trimmed, concatenated.
    std::string key() const;
    bool operator==(const Route&) const = default;
};

// One route's serial numbers: the block in use and at most one received block waiting.
// Numbers are kept as exact integers (0 = none).
struct CTransIdM {
    std::uint64_t base = 0;          // first number of the block in use
    int count = 0;                   // numbers per block, from the last answer
    int used = 0;                    // numbers taken from the block in use
    std::uint64_t pendingStart = 0;  // first number of the block received last
    int pendingFlag = 0;             // 1 while a received block waits
    std::string text;                // the answer's 8-character text
    Route route;
    char serialFlag = '0';
};

// Route key → block.
using SerialPool = std::map<std::string, CTransIdM>;

// 0 with the next 16-digit serial and its flag character; -1 when none is available.
int TakeSerial(SerialPool& pool, const Route& route, std::string& serial, char& flag);
// True when the route has no block yet, or no block waits and fewer than 6 numbers remain.
bool NeedsSerials(const SerialPool& pool, const Route& route);
// Files the block of a "0000" serial answer as the route's waiting block. Fails, leaving
// the pool as it was, when the route key is empty or the answer's first number (16 digits)
// or count (1..9999) are not decimal numbers.
Status AddSerialBlock(SerialPool& pool, const Route& route, const SerialAnswerRecord& answer);

// SerialSupply: the serial numbers of one connection: its pool, and the routes of the
// blocks asked for without waiting whose answers are still to come, oldest first (the
// gateway answers in order, and an answer names no route). Numbers of one connection are
// void on the next, so the supply is forgotten at every connect and disconnect. Owned by
// one handle; no lock of its own.
class SerialSupply {
  public:
    SerialPool& pool() { return pool_; }
    const SerialPool& pool() const { return pool_; }
    // A new or closed connection: nothing of the old one is kept.
    void forget() {
        pool_.clear();
        awaited_.clear();
    }
    // The gateway declared the numbers void; blocks still on their way are awaited still.
    void emptyPool() { pool_.clear(); }
    // A block was asked for on `route` without waiting.
    void awaitBlock(Route route) { awaited_.push_back(std::move(route)); }
    std::size_t awaitedBlocks() const { return awaited_.size(); }
    // The route an arriving block answers: the oldest one awaited, which then waits no
    // more; `current` when none is awaited.
    Route answeredRoute(const Route& current) {
        if (awaited_.empty()) return current;
        Route route = std::move(awaited_.front());
        awaited_.pop_front();
        return route;
    }

  private:
    SerialPool pool_;
    std::deque<Route> awaited_;
};

}  // namespace vantrel
