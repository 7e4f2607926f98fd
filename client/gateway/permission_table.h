#pragma once
// PermissionTable: the operator's permissions as the permission query of one connection
// answered them, in the order received. It belongs to the connection that asked: a new
// login empties it, so the next check asks again. One thread at a time (the handle's owner).

#include <string>
#include <string_view>
#include <vector>

#include "client/gateway/gateway_records.h"

namespace vantrel {

class PermissionTable {
  public:
    // True once an answer with at least one entry was read (since the last clear).
    bool loaded() const { return loaded_; }
    void clear();
    // Reads the entries of a permission query's answer: `payloadLength` / 54 entries from
    // packet offset 145, never more than really arrived. Replaces what was there; true when
    // at least one entry arrived.
    bool load(std::string_view answer, std::size_t payloadLength);
    // True when an entry of kind "C"/"c" grants `function` of `service` to `organisation`
    // (case-insensitive; an entry's "**" grants every function; an empty `function` asks
    // for the service as a whole).
    bool allows(const std::string& service, const std::string& function,
                const std::string& organisation) const;
    const std::vector<PermissionRecord>& entries() const { return entries_; }

  private:
    std::vector<PermissionRecord> entries_;
    bool loaded_ = false;
};

}  // namespace vantrel
