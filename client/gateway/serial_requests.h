#pragma once
// SerialRequests: the exchanges that ask the gateway for transaction serial numbers, for
// a route of the caller's choice: a block waited for, one number by itself, or a block for
// the current route asked for without waiting (filed by the transaction client when its
// answer arrives among the transfer's answers).
//
// Results: Ok done, Failed (text in the link), Refused by the gateway (text in the link).

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
    GatewayOutcome requestBlock(const Route& route, int count, SerialPool& pool);
    // One number by its own exchange.
    GatewayOutcome requestOne(const Route& route, std::string& serial, char& flag);
    // A block of 20 for the current route, not waited for → Ok or Failed.
    GatewayOutcome requestBlockAsync();

  private:
    GatewayOutcome exchangeBlock(const Route& route, int count, SerialPool& pool);
    GatewayOutcome receiveAnswer(std::string& answerPacket);
    GatewayOutcome failBadAnswer(const std::string& route);

    TransactionClient& transactions_;
    FrameChannel& channel_;
    CSocketConnect& link_;
    SerialSupply& serials_;
    const SessionIdentity& identity_;
    std::function<void()> drop_;
    std::mutex batchLock_;
};

}  // namespace vantrel
