#pragma once
// The records of the gateway's login, transaction, serial-number and permission messages,
// with their wire layouts. Every record of a gateway packet starts at packet offset 19,
// right after the 17-byte header and the 2-character message code; each is 126 bytes but
// the 54-byte permission entry. See doc/formats/gateway-frame.md.

#include <array>
#include <string>

#include "client/gateway/record_codec.h"

namespace vantrel {

// "E0", to the gateway, not encrypted.
struct LoginRequestRecord {
    std::string operatorCode;    // 8, "%-8s"
    std::string passwordDigest;  // 32, lower-case hex
    std::string productId;       // 8
    std::string clientVersion;   // 7
    static constexpr std::array<Field<LoginRequestRecord>, 6> kLayout{{
        {8, FieldKind::Text, &LoginRequestRecord::operatorCode},
        {32, FieldKind::Text, &LoginRequestRecord::passwordDigest},
        {8, FieldKind::Text, &LoginRequestRecord::productId},
        {7, FieldKind::Text, &LoginRequestRecord::clientVersion},
        {1, FieldKind::Text, nullptr, nullptr, "0"},
        {70, FieldKind::Text},
    }};
};

// The gateway's answer to "E0" (encrypted with the new session key).
struct LoginAnswerRecord {
    std::string status;  // "S" / "s" success
    std::string businessDate;
    std::string gatewayTime;
    std::string loginCode;
    std::string userCode;
    std::string message;
    static constexpr std::array<Field<LoginAnswerRecord>, 9> kLayout{{
        {1, FieldKind::Text, &LoginAnswerRecord::status},
        {8, FieldKind::Text},
        {8, FieldKind::Text},
        {8, FieldKind::Text, &LoginAnswerRecord::businessDate},
        {6, FieldKind::Text, &LoginAnswerRecord::gatewayTime},
        {8, FieldKind::Text, &LoginAnswerRecord::loginCode},
        {8, FieldKind::Text, &LoginAnswerRecord::userCode},
        {1, FieldKind::Text},
        {78, FieldKind::Text, &LoginAnswerRecord::message},
    }};
};

// Every transaction request ("40", "E6"); the payload follows at packet offset 145.
struct TransactionRequestRecord {
    std::string serial;         // 16 digits, or blanks
    std::string sequence;       // "%010d"
    std::string organisation;   // 16
    std::string service;        // 16
    std::string function;       // 2
    std::string userCode;       // 8
    std::string operatorCode;   // 8
    std::string payloadLength;  // "%09d"
    std::string serialFlag;     // 1
    static constexpr std::array<Field<TransactionRequestRecord>, 10> kLayout{{
        {16, FieldKind::Text, &TransactionRequestRecord::serial},
        {10, FieldKind::Text, &TransactionRequestRecord::sequence},
        {16, FieldKind::Text, &TransactionRequestRecord::organisation},
        {16, FieldKind::Text, &TransactionRequestRecord::service},
        {2, FieldKind::Text, &TransactionRequestRecord::function},
        {8, FieldKind::Text, &TransactionRequestRecord::userCode},
        {8, FieldKind::Text, &TransactionRequestRecord::operatorCode},
        {9, FieldKind::Text, &TransactionRequestRecord::payloadLength},
        {1, FieldKind::Text, &TransactionRequestRecord::serialFlag},
        {40, FieldKind::Text},
    }};
};

// Every transaction answer.
struct TransactionResponseRecord {
    std::string serial;
    std::string sequence;
    std::string organisation;
    std::string service;
    std::string function;
    std::string returnCode;     // "0000" success
    std::string payloadLength;  // decimal, 9
    std::string message;        // 52
    static constexpr std::array<Field<TransactionResponseRecord>, 9> kLayout{{
        {16, FieldKind::Text, &TransactionResponseRecord::serial},
        {10, FieldKind::Text, &TransactionResponseRecord::sequence},
        {16, FieldKind::Text, &TransactionResponseRecord::organisation},
        {16, FieldKind::Text, &TransactionResponseRecord::service},
        {2, FieldKind::Text, &TransactionResponseRecord::function},
        {4, FieldKind::Text, &TransactionResponseRecord::returnCode},
        {9, FieldKind::Text, &TransactionResponseRecord::payloadLength},
        {1, FieldKind::Text},
        {52, FieldKind::Text, &TransactionResponseRecord::message},
    }};
};

// "22", to the gateway: a block of transaction serial numbers.
struct SerialRequestRecord {
    std::string loginCode;     // "%-8s"
    std::string organisation;  // "%-16.16s"
    std::string service;       // "%-16.16s"
    std::string function;      // 2
    std::string count;         // "%04d", at most 9999
    std::string sequence;      // 10
    static constexpr std::array<Field<SerialRequestRecord>, 7> kLayout{{
        {8, FieldKind::Text, &SerialRequestRecord::loginCode},
        {16, FieldKind::Text, &SerialRequestRecord::organisation},
        {16, FieldKind::Text, &SerialRequestRecord::service},
        {2, FieldKind::Text, &SerialRequestRecord::function},
        {4, FieldKind::Text, &SerialRequestRecord::count},
        {10, FieldKind::Text, &SerialRequestRecord::sequence},
        {70, FieldKind::Text},
    }};
};

// "23", from the gateway: the answer to "22".
struct SerialAnswerRecord {
    std::string text;         // 8, kept with the block
    std::string returnCode;   // 4
    std::string firstSerial;  // 16 digits
    std::string serialFlag;   // 1
    std::string count;        // 4 digits
    std::string message;      // 83
    static constexpr std::array<Field<SerialAnswerRecord>, 7> kLayout{{
        {8, FieldKind::Text, &SerialAnswerRecord::text},
        {4, FieldKind::Text, &SerialAnswerRecord::returnCode},
        {16, FieldKind::Text, &SerialAnswerRecord::firstSerial},
        {1, FieldKind::Text, &SerialAnswerRecord::serialFlag},
        {4, FieldKind::Text, &SerialAnswerRecord::count},
        {10, FieldKind::Text},
        {83, FieldKind::Text, &SerialAnswerRecord::message},
    }};
};

// One entry of the permission query's answer payload (54 bytes).
struct PermissionRecord {
    std::string organisation;  // 16
    std::string service;       // 16
    std::string function;      // 2, "**" for all
    std::string kind;          // 1, only "C"/"c" grants
    static constexpr std::array<Field<PermissionRecord>, 7> kLayout{{
        {8, FieldKind::Text},
        {8, FieldKind::Text},
        {16, FieldKind::Text, &PermissionRecord::organisation},
        {16, FieldKind::Text, &PermissionRecord::service},
        {2, FieldKind::Text, &PermissionRecord::function},
        {3, FieldKind::Text},
        {1, FieldKind::Text, &PermissionRecord::kind},
    }};
};

inline constexpr std::size_t kPermissionEntrySize = 54;

template <class Record>
std::string encode(const Record& r) {
    return encodeRecord<Record>(r, std::span<const Field<Record>>(Record::kLayout));
}
template <class Record>
Status decode(std::string_view wire, Record& r) {
    return decodeRecord<Record>(wire, std::span<const Field<Record>>(Record::kLayout), r);
}

}  // namespace vantrel
