#pragma once
// SerialRequests: the exchanges that ask the gateway for transaction serial numbers, for
// a route of the caller's choice: a block waited for, one number by itself, or a block for
// the current route asked for without waiting (filed by the transaction client when its
// answer arrives among the transfer's answers).
//
// Results: 0 done, -1 failed (text in the link), -5 the gateway refused.

#include <mutex>
#include <string>

#include "client/gateway/transaction_client.h"

namespace vantrel {

// The serial-number request ("22") before encryption; counts above 9999 are sent as 9999.
std::string serialRequestPacket(const std::string& loginCode, const Route& route, int count,
                                const std::string& sequence);

class SerialRequests {
  public:
    SerialRequests(TransactionClient& transactions, FrameChannel& channel, CSocketConnect& link,
                   SerialSupply& serials, const SessionIdentity& identity,
                   std::function<void()> drop);

    // Asks for a block of `count` numbers for `route` and files it in `pool`.
    int requestBlock(const Route& route, int count, SerialPool& pool);
    // One number by its own exchange.
    int requestOne(const Route& route, std::string& serial, char& flag);
    // A block of 20 for the current route, not waited for → 0 or -1.
    int requestBlockAsync();

  private:
    int exchangeBlock(const Route& route, int count, SerialPool& pool);
    int receiveAnswer(std::string& answerPacket);
    int failBadAnswer(const std::string& route);

    TransactionClient& transactions_;
    FrameChannel& channel_;
    CSocketConnect& link_;
    SerialSupply& serials_;
    const SessionIdentity& identity_;
    std::function<void()> drop_;
    std::mutex batchLock_;
};

}  // namespace vantrel
