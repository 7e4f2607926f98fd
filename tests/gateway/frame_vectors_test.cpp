// Byte vectors worked out by hand from doc/formats/gateway-frame.md, never copied from the
// code's output. Digests were computed with md5sum and ciphertexts with the openssl
// command line (commands in the comments).

#include <gtest/gtest.h>

#include <string>

#include "client/base/context.h"
#include "client/gateway/communicate_handle.h"
#include "client/gateway/gateway_records.h"
#include "client/gateway/login_digest.h"
#include "client/gateway/packet_frame.h"
#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

using namespace std::string_literals;

std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string toHex(const unsigned char* bytes, std::size_t n) {
    std::string s;
    char buf[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
        s += buf;
    }
    return s;
}

// Operator "OPER01", password "pass", challenge "ABCDEFGHIJKLMNOP":
//   H1 = printf 'pass    ' | md5sum
//   H2 = printf '%s%s' $H1 ABCDEFGHIJKLMNOP | md5sum
//   K  = printf '%s%s%s%s' $H2 'OPER01  ' ABCDEFGHIJKLMNOP $H1 | md5sum
constexpr const char* kH1 = "bac31eca0670635b31ee1602c8f5ac2c";
constexpr const char* kH2 = "8d1927f98df37d7a223dcc24e8c5295c";
constexpr const char* kKey = "c3303333821b06143c1ef699cd606ace";

TEST(LoginDigest, matchesDigestsWorkedOutWithMd5sum) {
    LoginDigest d = computeLoginDigest("pass", "OPER01  ", "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(d.h1, kH1);
    EXPECT_EQ(d.h2, kH2);
    EXPECT_EQ(toHex(d.sessionKey.data(), 16), kKey);
}

TEST(LoginDigest, challengeEndsAtItsFirstZeroByteAndPasswordIsCutToEightBytes) {
    // C = "ABCDEFGHIJ": H2 = md5(H1 ABCDEFGHIJ), K = md5(H2 'OPER01  ' ABCDEFGHIJ H1)
    LoginDigest d = computeLoginDigest("pass", "OPER01", "ABCDEFGHIJ\0LMNOP"s);
    EXPECT_EQ(d.h2, "4bae1f5d5b15fd63b318339e8d69d984");
    EXPECT_EQ(toHex(d.sessionKey.data(), 16), "8d9a6e3976cea2c73079554df64f875e");
    // printf 'password' | md5sum: only the first 8 bytes of a longer password count.
    EXPECT_EQ(computeLoginDigest("password9", "X", "A").h1, "5f4dcc3b5aa765d61d8327deb882cf99");
}

TEST(LoginRequest, is145BytesWithLittleEndianPlainLength) {
    const std::string packet =
        loginRequestPacket(fixedWidth("OPER01", 8), kH2, "HMRQ0001", "1.30.00");
    const std::string expected =
        "\x00\x00\x00\x80"s  // 128, big-endian
        "0"                  // fixed
        "\x80\x00\x00\x00"s  // 128, little-endian (login only)
        + blanks(8) + "E0" + "OPER01  " + kH2 + "HMRQ0001" + "1.30.00" + "0" + blanks(70);
    ASSERT_EQ(packet.size(), 145u);
    EXPECT_EQ(packet, expected);
}

TEST(LoginRequest, longOperatorCodeIsCutToEight) {
    EXPECT_EQ(fixedWidth("OPERATOR12", 8), "OPERATOR");
    EXPECT_EQ(fixedWidth("OP", 8), "OP      ");
    // A Chinese character is two bytes and is never split.
    EXPECT_EQ(fixedWidth("操作员甲乙", 8), "操作员甲");
    EXPECT_EQ(fixedWidth("A操作员甲乙", 8), "A操作员 ");
}

class RequestBuilding : public ::testing::Test {
  protected:
    testing::TempDir root;
    GatewayProcessState process;
    Context context() {
        Context c;
        c.installation = Installation(root.path(), root.path());
        return c;
    }
};

TEST_F(RequestBuilding, transactionHeaderCarriesPayloadPlus128InBothLengths) {
    CCommunicateHandle handle(context(), process);
    handle.SetGatewayList({}, 0, "U0000001", "OPER01", "pass");
    handle.SetRoute(" VRELKA ", "FTP_A_QS", "04");
    std::string packet;
    ASSERT_EQ(handle.BuildRequest(frame::kFileServiceCode, "2026120800000001", '0', 30, packet),
              GatewayOutcome::Ok);
    // 30 + 128 = 158 = 0x9E
    const std::string expected =
        "\x00\x00\x00\x9e"s
        "0"
        "\x00\x00\x00\x9e"s +
        blanks(8) + "40" + "2026120800000001" + "0000000001" + "VRELKA" + blanks(10) + "FTP_A_QS" +
        blanks(8) + "04" + "U0000001" + "OPER01  " + "000000030" + "0" + blanks(40);
    ASSERT_EQ(packet.size(), 145u + 30u);
    EXPECT_EQ(packet.substr(0, 145), expected);
    EXPECT_EQ(packet.substr(145), std::string(30, '\0'));
}

TEST_F(RequestBuilding, sequenceNumbersStartAtOneAndCountUp) {
    CCommunicateHandle handle(context(), process);
    EXPECT_EQ(handle.NextSequence(), "0000000001");
    EXPECT_EQ(handle.NextSequence(), "0000000002");
}

TEST(SerialRequest, countAbove9999IsSentAs9999) {
    const std::string packet =
        serialRequestPacket("LC000001", Route{"VRELKA", "FTP_A_QS", "04"}, 12000, "0000000007");
    const std::string expected =
        "\x00\x00\x00\x80"s
        "0"
        "\x00\x00\x00\x80"s +
        blanks(8) + "22" + "LC000001" + "VRELKA" + blanks(10) + "FTP_A_QS" + blanks(8) + "04" +
        "9999" + "0000000007" + blanks(70);
    EXPECT_EQ(packet, expected);
    EXPECT_EQ(
        serialRequestPacket("LC1", Route{"ORG", "SVC", "0405"}, 20, "0000000001").substr(19, 46),
        "LC1     ORG             SVC             040020");
}

// Key 00112233445566778899aabbccddeeff (K1 = 0011..77, K2 = 8899..ff).
frame::SessionKey testKey() {
    frame::SessionKey key;
    const std::string bytes = fromHex("00112233445566778899aabbccddeeff");
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

TEST(BodyEncryption, frameCarriesEncryptedAndPlainLengths) {
    std::string packet = frame::makePacket(13);
    packet.replace(17, 13, "22ABCDEFGHIJK");
    ASSERT_TRUE(frame::encryptBody(packet, testKey()));
    // printf '22ABCDEFGHIJK\x00\x00\x02' | openssl enc -des-ede -K 0011..eeff -nopad
    const std::string expected =
        "\x00\x00\x00\x10"s
        "0"
        "\x00\x00\x00\x0d"s +
        blanks(8) + fromHex("2aa8126fb783774ea26ba81fae31a68b");
    EXPECT_EQ(packet, expected);
    ASSERT_TRUE(frame::decryptBody(packet, testKey()));
    EXPECT_EQ(packet.substr(17), "22ABCDEFGHIJK");
    EXPECT_EQ(frame::readBodyLength(packet.data()), 13u);
    EXPECT_EQ(frame::readPlainLength(packet.data()), 13u);
}

TEST(BodyEncryption, chunkSizesFollowTheEightByteRule) {
    EXPECT_EQ(frame::encryptedSize(0), 8u);
    EXPECT_EQ(frame::encryptedSize(8), 16u);
    EXPECT_EQ(frame::encryptedSize(13), 16u);
    EXPECT_EQ(frame::encryptedSize(16384), 16392u);
    EXPECT_EQ(frame::encryptedSize(16385), 16392u + 8u);
    EXPECT_EQ(frame::encryptedSize(2 * 16384 + 100), 2 * 16392u + 104u);
}

// 16,384 'a' followed by "bbbbb": one full chunk of 16,392 cipher bytes and one of 8.
//   E(aaaaaaaa)         = 3356a5b326487dbe  (openssl enc -des-ede ... -nopad)
//   E(00 00 .. 00 07)   = 64a70565b67a55c3  (the full chunk's padding block)
//   E(bbbbb 00 00 02)   = 3ff4abf5247db837
std::string twoChunkCiphertext() {
    std::string cipher;
    for (int i = 0; i < 2048; ++i) cipher += fromHex("3356a5b326487dbe");
    cipher += fromHex("64a70565b67a55c3");
    cipher += fromHex("3ff4abf5247db837");
    return cipher;
}

TEST(BodyEncryption, decryptsChunksOf16392Bytes) {
    const std::string cipher = twoChunkCiphertext();
    ASSERT_EQ(cipher.size(), 16400u);
    std::string packet(17, ' ');
    frame::writeHeader(packet.data(), 16400, 16389);
    packet += cipher;
    ASSERT_TRUE(frame::decryptBody(packet, testKey()));
    EXPECT_EQ(packet.substr(17), std::string(16384, 'a') + "bbbbb");
    EXPECT_EQ(frame::readBodyLength(packet.data()), 16389u);

    // And the other way round, byte for byte.
    std::string plain = frame::makePacket(16389);
    plain.replace(17, 16389, std::string(16384, 'a') + "bbbbb");
    ASSERT_TRUE(frame::encryptBody(plain, testKey()));
    EXPECT_EQ(plain.substr(17), cipher);
}

// A connection's scratch buffer carries a large packet's bytes into a small one and back:
// none of them may leak into a result.
TEST(BodyEncryption, reusedScratchGivesTheSameBytesForEverySize) {
    const std::string large = std::string(16384, 'a') + "bbbbb";
    std::string scratch;
    for (const std::string& body : {large, std::string("22ABCDEFGHIJK"), large}) {
        SCOPED_TRACE(body.size());
        std::string packet = frame::makePacket(body.size());
        packet.replace(17, body.size(), body);
        std::string fresh = packet;
        ASSERT_TRUE(frame::encryptBody(packet, testKey(), scratch));
        ASSERT_TRUE(frame::encryptBody(fresh, testKey()));
        EXPECT_EQ(packet, fresh);
        if (body == large) {
            EXPECT_EQ(packet.substr(17), twoChunkCiphertext());
        }
        ASSERT_TRUE(frame::decryptBody(packet, testKey(), scratch));
        EXPECT_EQ(packet.size(), 17 + body.size());
        EXPECT_EQ(packet.substr(17), body);
    }
}

// Corruption in the style of a log reader's tests: a valid frame, then one lie at a time.
TEST(BodyEncryption, rejectsDamagedCiphertextWithoutTouchingThePacket) {
    struct Case {
        const char* what;
        std::size_t cipherBytes;
        std::uint32_t plainLength;
        bool flipLastByte;
    };
    const Case cases[] = {
        {"ciphertext not whole 8-byte blocks", 16399, 16389, false},
        {"empty body", 0, 0, false},
        {"plain length larger than the ciphertext", 16400, 20000, false},
        {"plain length claims one chunk less", 16400, 16384, false},
        {"plain length claims more chunks than there are", 16400, 16392, false},
        {"last block damaged (padding count above 7)", 16400, 16389, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string packet(17, ' ');
        frame::writeHeader(packet.data(), static_cast<std::uint32_t>(c.cipherBytes), c.plainLength);
        packet += twoChunkCiphertext().substr(0, c.cipherBytes);
        if (c.flipLastByte) packet.back() ^= 0x55;
        const std::string before = packet;
        Status s = frame::decryptBody(packet, testKey());
        EXPECT_FALSE(s);
        EXPECT_EQ(s.kind(), ErrorKind::Corruption);
        EXPECT_EQ(packet, before);
    }
}

TEST(RecordCodec, parsesTheTablesOffsetsAndRefusesShortRecords) {
    // Response record: serial, sequence, org, service, function, code, length, spare, text.
    TransactionResponseRecord built{"2026120800000001", "0000000009", "VRELKA",
                                    "FTP_A_QS",         "04",         "E999",
                                    "000000000",        "会话已失效"};
    const std::string encoded = encode(built);
    ASSERT_EQ(encoded.size(), 126u);
    EXPECT_EQ(encoded.substr(60, 4), "E999");
    EXPECT_EQ(encoded.substr(74, 10),
              "\xbb\xe1\xbb\xb0\xd2\xd1\xca\xa7\xd0\xa7");  // GBK of 会话已失效
    TransactionResponseRecord parsed;
    ASSERT_TRUE(decode(encoded, parsed));
    EXPECT_EQ(parsed.returnCode, "E999");
    EXPECT_EQ(trimmed(parsed.message), "会话已失效");
    EXPECT_EQ(parsed.service, "FTP_A_QS        ");

    Status shortRecord = decode(std::string_view(encoded).substr(0, 125), parsed);
    EXPECT_EQ(shortRecord.kind(), ErrorKind::Corruption);
}

TEST(RecordCodec, permissionEntryIs54BytesWithKindLast) {
    PermissionRecord p{"VRELKA", "FTP_A_QS", "**", "C"};
    const std::string wire = encode(p);
    EXPECT_EQ(wire,
              blanks(16) + "VRELKA" + blanks(10) + "FTP_A_QS" + blanks(8) + "**" + blanks(3) + "C");
}

}  // namespace
}  // namespace vantrel
