// The fast-transfer client against the test update server: resume, restarts, digest check.

#include "client/transfer/fast_ftp.h"

#include "tests/update/update_fixture.h"

namespace vantrel::testing {
namespace {

class FastFtpTest : public UpdateServerFixture {
  protected:
    // A logged-in client.
    void connect() {
        ftp.init({{"127.0.0.1", "0"}, {"127.0.0.1", port()}}, KORRIM_LIBRARY, 5);
        std::vector<FastLoginValue> values;
        ASSERT_GE(ftp.login({"moduleversion"}, "HMRQ0001", "1.30.00", values), 0) << ftp.status();
    }
    CFastFtp ftp;
};

TEST(FastFtpFormats, digestTextPutsTheFirstHexDigitsBeforeTheSecond) {
    // MD5("") = d4 1d 8c d9 8f 00 b2 04 e9 80 09 98 ec f8 42 7e.
    const unsigned char md5[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                   0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    EXPECT_EQ(splitDigestText(md5),
              "d18d80b0e809ef47"
              "4dc9f0249098c82e");
}

TEST(FastFtpFormats, requestAndPacketSizeMessagesHaveTheirFixedBytes) {
    Result<std::string> request = fastDownloadRequest("p/a", 0x01020304);
    ASSERT_TRUE(request.isOk());
    const std::string& r = *request;
    ASSERT_EQ(r.size(), 159u + 6);
    EXPECT_EQ(r.substr(0, 9), std::string("\0\0\0\x94"
                                          "0\0\0\0\x94",
                                          9));  // 165 - 17 = 148
    EXPECT_EQ(r.substr(9, 8), std::string(8, ' '));
    EXPECT_EQ(r.substr(17, 2), "40");
    EXPECT_EQ(r.substr(19, 26), std::string(26, '0'));
    EXPECT_EQ(r.substr(45, 16), "VRELKA          ");
    EXPECT_EQ(r.substr(61, 16), "FASTER_FTP      ");
    EXPECT_EQ(r.substr(77, 2), "02");
    EXPECT_EQ(r.substr(95, 10), "0000000200");  // body length 20, then "0"
    EXPECT_EQ(r.substr(145, 2), std::string("\x06\0", 2));
    EXPECT_EQ(r.substr(147, 12), std::string("\0\0\0\0\x01\x02\x03\x04\0\0\x20\0", 12));
    EXPECT_EQ(r.substr(159), std::string("p\0/\0a\0", 6));

    const std::string m = packetSizeMessage(32768);
    ASSERT_EQ(m.size(), 145u);
    EXPECT_EQ(m.substr(0, 17), std::string("\0\0\0\x80"
                                           "0\0\0\0\x80        ",
                                           17));
    EXPECT_EQ(m.substr(17, 2), "83");
    EXPECT_EQ(m.substr(75, 9), "000032768");
    EXPECT_EQ(m.substr(84), std::string(61, ' '));
}

TEST_F(FastFtpTest, downloadCutOffMidwayResumesAtTheLocalLengthLessOneHundred) {
    // setup
    startServer();
    const std::string content = randomBytes(50000, 1);
    putFile(serveRoot() / "pkg" / "a.bin", content);
    connect();
    server->faults().fastDropAfterPackets = 2;
    const auto local = root.path() / "a.bin";
    // act: the first attempt loses the connection after two packets
    EXPECT_EQ(ftp.download("pkg/a.bin", local), -1);
    ASSERT_EQ(std::filesystem::file_size(local), 2u * kFastPacketField);
    connect();
    // verify
    ASSERT_EQ(ftp.download("pkg/a.bin", local), 0) << ftp.status();
    EXPECT_EQ(server->counters().lastFastOffset, 2 * kFastPacketField - 100);
    EXPECT_EQ(fileBytes(local), content);
}

TEST_F(FastFtpTest, startOffsetIsZeroUpToOneHundredBytesAndLengthLessOneHundredAbove) {
    startServer();
    const std::string content = randomBytes(9000, 2);
    putFile(serveRoot() / "b.bin", content);
    connect();
    struct Case {
        std::size_t localLength;
        std::int64_t offset;
    };
    for (const Case c : {Case{0, 0}, Case{100, 0}, Case{101, 1}, Case{5000, 4900}}) {
        const auto local = root.path() / ("b" + std::to_string(c.localLength));
        putFile(local, content.substr(0, c.localLength));
        ASSERT_EQ(ftp.download("b.bin", local), 0) << ftp.status();
        EXPECT_EQ(server->counters().lastFastOffset, c.offset) << c.localLength;
        EXPECT_EQ(fileBytes(local), content);
    }
}

TEST_F(FastFtpTest, corruptedPacketFailsTheDigestAndTheNextAttemptStartsFromZero) {
    startServer();
    const std::string content = randomBytes(20000, 3);
    putFile(serveRoot() / "c.bin", content);
    connect();
    server->faults().fastCorruptPacket = true;
    const auto local = root.path() / "c.bin";
    EXPECT_EQ(ftp.download("c.bin", local), -4);
    EXPECT_NE(ftp.status().find("Md5检验码不一致!"), std::string::npos) << ftp.status();
    // The known-bad bytes are not resumed on.
    EXPECT_EQ(std::filesystem::file_size(local), 0u);
    ASSERT_EQ(ftp.download("c.bin", local), 0) << ftp.status();
    EXPECT_EQ(server->counters().lastFastOffset, 0);
    EXPECT_EQ(fileBytes(local), content);
}

TEST_F(FastFtpTest, answer6008RestartsTheFileFromTheStart) {
    startServer({}, /*restart6008=*/true);
    const std::string content = randomBytes(12000, 4);
    putFile(serveRoot() / "d.bin", content);
    connect();
    const auto local = root.path() / "d.bin";
    // A stale local copy longer than the remote file, with wrong bytes.
    putFile(local, randomBytes(15000, 5));
    ASSERT_EQ(ftp.download("d.bin", local), 0) << ftp.status();
    EXPECT_EQ(server->counters().fastDownloads, 2);
    EXPECT_EQ(server->counters().lastFastOffset, 0);
    EXPECT_EQ(fileBytes(local), content);
}

TEST_F(FastFtpTest, secondDigestHalfIsUsedWhenTheFirstDoesNotDecrypt) {
    startServer();
    const std::string content = randomBytes(3000, 6);
    putFile(serveRoot() / "e.bin", content);
    server->faults().fastBrokenFirstHalf = true;
    connect();
    ASSERT_EQ(ftp.download("e.bin", root.path() / "e.bin"), 0) << ftp.status();
    EXPECT_EQ(fileBytes(root.path() / "e.bin"), content);
}

TEST_F(FastFtpTest, missingCryptoLibraryFailsTheCheck) {
    startServer();
    putFile(serveRoot() / "f.bin", randomBytes(500, 7));
    ftp.init({{"127.0.0.1", port()}}, root.path() / "no-such-library.so", 5);
    std::vector<FastLoginValue> values;
    ASSERT_GE(ftp.login({}, "HMRQ0001", "1.30.00", values), 0);
    EXPECT_EQ(ftp.download("f.bin", root.path() / "f.bin"), -4);
    EXPECT_NE(ftp.status().find("加载解密动态库失败"), std::string::npos) << ftp.status();
}

}  // namespace
}  // namespace vantrel::testing
