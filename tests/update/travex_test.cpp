// travex run as a program against the test update server: install, refusals, and a SIGKILL
// in the middle of the download. Also the package format's refusals.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/child_process.h"
#include "platform/ini_file.h"
#include "tests/update/update_fixture.h"
#include "updater/package_archive.h"
#include "updater/package_signature.h"
#include "updater/travex_run.h"

namespace vantrel::testing {
namespace {

constexpr const char* kPackage = "vantrel-131.pkg";

class TravexTest : public UpdateServerFixture {
  protected:
    void SetUp() override {
        putFile(bin() / "vantrel", "old program");
        putFile(inst() / "data" / "20261208-FLAG.flg", "day list");
        putFile(inst() / "log" / "sys.log", "log");
        putFile(ini(), "[update]\nmoduleversion=1.30.00\ndllpath=" KORRIM_LIBRARY "\n");
        putFile(root.path() / "newbin" / "vantrel", "new program");
        putFile(root.path() / "newbin" / "lib" / "big.so", randomBytes(100000, 9));
        putFile(publicKey(), fileBytes(PACKAGE_PUBLIC_KEY));
        ASSERT_TRUE(
            updater::writePackage(root.path() / "newbin", serveRoot() / kPackage, PACKAGE_KEY)
                .isOk());
    }
    std::filesystem::path publicKey() const {
        return inst() / "localconfig" / updater::kPublicKeyFile;
    }
    std::filesystem::path inst() const { return root.path() / "inst"; }
    std::filesystem::path bin() const { return inst() / "bin"; }
    std::filesystem::path ini() const { return inst() / "localconfig" / "Client.ini"; }
    std::string setting(const char* key) const {
        return platform::IniFile(ini()).getString("update", key, "");
    }
    platform::ChildOptions travex() const {
        platform::ChildOptions o;
        o.program = TRAVEX;
        o.arguments = {"--headless", ini().string(), "HMRQ0001", "1.30.00",
                       "127.0.0.1",  port(),         "5"};
        o.quiet = true;
        return o;
    }
    int runTravex() {
        Result<int> exit = platform::runAndWait(travex(), std::chrono::seconds(60));
        EXPECT_TRUE(exit.isOk()) << exit.status().text();
        return exit.isOk() ? *exit : -1;
    }
    void expectOldProgramInPlace() {
        EXPECT_EQ(fileBytes(bin() / "vantrel"), "old program");
        EXPECT_FALSE(std::filesystem::exists(inst() / "installdir" / kPackage));
        EXPECT_EQ(setting("install"), "0");
        EXPECT_EQ(setting("moduleversion"), "1.30.00");
    }
};

TEST_F(TravexTest, headlessRunInstallsThePackageAndRecordsTheVersion) {
    startServer({{"moduleversion", "1.31.00"}, {"packagename", kPackage}});
    ASSERT_EQ(runTravex(), 0);
    EXPECT_EQ(fileBytes(bin() / "vantrel"), "new program");
    EXPECT_EQ(fileBytes(bin() / "lib" / "big.so"), randomBytes(100000, 9));
    // The previous program stays for one roll-back; settings, logs and data are untouched.
    EXPECT_EQ(fileBytes(inst() / "bin.old" / "vantrel"), "old program");
    EXPECT_EQ(fileBytes(inst() / "data" / "20261208-FLAG.flg"), "day list");
    EXPECT_EQ(fileBytes(inst() / "log" / "sys.log"), "log");
    EXPECT_TRUE(std::filesystem::exists(inst() / "installdir" / kPackage));
    EXPECT_EQ(setting("moduleversion"), "1.31.00");
    EXPECT_EQ(setting("install"), "1");
    // An empty servpath still puts "/" before the name, as for the flag model.
    EXPECT_EQ(server->counters().lastFastPath(), std::string("/") + kPackage);
}

// Presses 取消 as soon as the first piece of the package has come.
class CancellingReporter final : public updater::Reporter {
  public:
    void caption(const std::string&) override {}
    void text(const std::string&) override {}
    void status(const std::string&) override {}
    void progress(std::int64_t done, std::int64_t) override {
        if (done > 0 && run != nullptr) run->cancel();
    }
    updater::UpdateRun* run = nullptr;
};

TEST_F(TravexTest, aCancelledRunIsNoFailedUpdateAndLeavesTheInstallStateAsItWas) {
    // setup: an installed program and a newer version on the server
    startServer({{"moduleversion", "1.31.00"}, {"packagename", kPackage}});
    ASSERT_TRUE(platform::IniFile(ini()).setString("update", "install", "1").isOk());
    CancellingReporter reporter;
    updater::UpdateRun run({ini(), "HMRQ0001", "1.30.00", "127.0.0.1", port(), 5}, reporter);
    reporter.run = &run;
    // act
    EXPECT_EQ(run.run(), updater::UpdateRun::kCancelled);
    // verify: nothing for the client's next start to report, nothing installed
    EXPECT_EQ(setting("lastfailure"), "");
    EXPECT_EQ(setting("failedversion"), "");
    EXPECT_EQ(setting("install"), "1");
    EXPECT_EQ(setting("moduleversion"), "1.30.00");
    EXPECT_EQ(fileBytes(bin() / "vantrel"), "old program");
}

TEST_F(TravexTest, restartAskedMidwayThroughADownloadFromZeroInstallsByteExact) {
    // setup: the package below a server directory; "6008" after the third packet of the
    // first request, which started at 0
    std::filesystem::create_directories(serveRoot() / "pkgs");
    std::filesystem::rename(serveRoot() / kPackage, serveRoot() / "pkgs" / kPackage);
    ASSERT_TRUE(platform::IniFile(ini()).setString("update", "servpath", "pkgs\\").isOk());
    startServer({{"moduleversion", "1.31.00"}, {"packagename", kPackage}});
    server->faults().fastRestartAfterPackets = 3;
    // act
    ASSERT_EQ(runTravex(), 0);
    // verify
    EXPECT_EQ(server->counters().fastDownloads, 2);
    EXPECT_EQ(server->counters().lastFastOffset, 0);
    EXPECT_EQ(server->counters().lastFastPath(), std::string("pkgs/") + kPackage);
    EXPECT_EQ(fileBytes(bin() / "lib" / "big.so"), randomBytes(100000, 9));
    EXPECT_EQ(fileBytes(inst() / "installdir" / kPackage),
              fileBytes(serveRoot() / "pkgs" / kPackage));
}

TEST_F(TravexTest, wrongDigestLeavesTheProgramAndTheNextRunStartsAfresh) {
    startServer({{"moduleversion", "1.31.00"}, {"packagename", kPackage}});
    server->faults().fastCorruptPacket = true;
    EXPECT_EQ(runTravex(), 1);
    expectOldProgramInPlace();
    ASSERT_EQ(runTravex(), 0);
    EXPECT_EQ(server->counters().lastFastOffset, 0);
    EXPECT_EQ(fileBytes(bin() / "vantrel"), "new program");
}

// A fresh Ed25519 key pair the installation knows nothing of → the private key's file.
std::filesystem::path strangerKey(const std::filesystem::path& dir) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    const std::filesystem::path file = dir / "stranger.key";
    std::FILE* out = std::fopen(file.c_str(), "wb");
    EXPECT_TRUE(key && out &&
                PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr));
    if (out) std::fclose(out);
    EVP_PKEY_free(key);
    return file;
}

std::string sha256(const std::string& bytes) {
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

TEST_F(TravexTest, unsignedStrangelySignedOrTamperedPackagesAreRefusedLeavingAllAsItWas) {
    startServer({{"moduleversion", "1.31.00"}, {"packagename", kPackage}});
    const std::string good = fileBytes(serveRoot() / kPackage);
    // A tamperer who changes a byte of the program and mends the digest after it.
    std::string tampered = good.substr(0, good.size() - 32);
    tampered[tampered.size() - 1000] ^= 0x20;
    tampered += sha256(tampered);
    // The format before signing: the entries right after the magic.
    const std::string header = std::string("VTPKG1\n");
    const std::size_t signatureEntry =
        1 + 4 + 2 + std::string(updater::kSignatureEntry).size() + 8 + 64;
    std::string unsignedPackage = header + good.substr(header.size() + signatureEntry);
    unsignedPackage.resize(unsignedPackage.size() - 32);
    unsignedPackage += sha256(unsignedPackage);
    ASSERT_TRUE(updater::writePackage(root.path() / "newbin", root.path() / "stranger.pkg",
                                      strangerKey(root.path()))
                    .isOk());
    const std::string stranger = fileBytes(root.path() / "stranger.pkg");
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"unsigned", unsignedPackage, "拒绝安装:安装包未签名"},
        {"signed by a stranger", stranger, "拒绝安装:安装包签名不正确"},
        {"tampered", tampered, "拒绝安装:安装包签名不正确"},
    };
    for (const Case& c : cases) {
        putFile(serveRoot() / kPackage, c.bytes);
        EXPECT_EQ(runTravex(), 1) << c.what;
        expectOldProgramInPlace();
        EXPECT_EQ(setting("lastfailure"), c.reason) << c.what;
        EXPECT_FALSE(std::filesystem::exists(inst() / "bin.new")) << c.what;
        EXPECT_TRUE(std::filesystem::is_empty(inst() / "tmp")) << c.what;
    }
    // Without the public key nothing can be trusted.
    putFile(serveRoot() / kPackage, good);
    std::filesystem::rename(publicKey(), root.path() / "kept.pub");
    EXPECT_EQ(runTravex(), 1);
    expectOldProgramInPlace();
    EXPECT_EQ(setting("lastfailure").rfind("拒绝安装:缺少安装包验证公钥", 0), 0u)
        << setting("lastfailure");
    // With it back, the same package installs and the failure record goes.
    std::filesystem::rename(root.path() / "kept.pub", publicKey());
    ASSERT_EQ(runTravex(), 0);
    EXPECT_EQ(fileBytes(bin() / "vantrel"), "new program");
    EXPECT_FALSE(std::filesystem::exists(bin() / updater::kSignatureEntry));
    EXPECT_EQ(setting("lastfailure"), "");
}

TEST_F(TravexTest, hostileNamesAndWrongArgumentsAreRefused) {
    startServer({{"moduleversion", "1.31.00"}, {"packagename", "../bin/vantrel"}});
    EXPECT_EQ(runTravex(), 1);
    expectOldProgramInPlace();
    EXPECT_EQ(server->counters().fastDownloads, 0);
    platform::ChildOptions five = travex();
    five.arguments.pop_back();
    Result<int> exit = platform::runAndWait(five, std::chrono::seconds(60));
    ASSERT_TRUE(exit.isOk());
    EXPECT_EQ(*exit, 1);
}

TEST_F(TravexTest, killedMidDownloadKeepsTheOldProgramAndTheNextRunResumes) {
    startServer({{"moduleversion", "1.31.00"}, {"packagename", kPackage}});
    server->faults().fastStallAfterPackets = 3;
    Result<int> pid = platform::startDetached(travex());
    ASSERT_TRUE(pid.isOk());
    const auto partial = inst() / "tmp" / (std::string(kPackage) + "_1.31.00");
    const auto size = [&] {
        std::error_code ec;
        const auto n = std::filesystem::file_size(partial, ec);
        return ec ? 0u : n;
    };
    for (int i = 0; i < 600 && size() < 3u * 8192; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(size(), 3u * 8192);
    ::kill(*pid, SIGKILL);
    int status = 0;
    ::waitpid(*pid, &status, 0);
    expectOldProgramInPlace();
    ASSERT_EQ(runTravex(), 0);
    EXPECT_EQ(server->counters().lastFastOffset, 3 * 8192 - 100);
    EXPECT_EQ(fileBytes(bin() / "vantrel"), "new program");
}

TEST(TravexUsage, helpOrWrongArgumentsWithoutADisplayPrintTheUsageWithoutAWindow) {
    TempDir dir;
    const std::filesystem::path err = dir.path() / "err";
    struct Case {
        const char* arguments;
        const char* begins;
    };
    for (const Case c : {Case{"--help", "usage: travex"}, Case{"", "参数错误!\nusage: travex"},
                         Case{"a b", "参数错误!\nusage: travex"}}) {
        // No display and no platform chosen: a QApplication would abort here.
        const std::string command =
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" TRAVEX "' " +
            std::string(c.arguments) + " </dev/null >/dev/null 2>'" + err.string() + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.arguments;
        EXPECT_EQ(WEXITSTATUS(status), 1) << c.arguments;
        EXPECT_EQ(fileBytes(err).rfind(c.begins, 0), 0u) << fileBytes(err);
    }
}

// A signed archive written by hand from doc/formats/package.md: the signature entry (over
// the SHA-512 of the magic, the file entry and the end mark), one file entry, the end mark
// and the SHA-256 digest.
std::string handArchive(const std::string& name) {
    const std::string magic = "VTPKG1\n";
    std::string entries = "F";
    entries += std::string("\0\0\x01\xa4", 4);  // mode 0644
    entries += static_cast<char>(name.size() >> 8);
    entries += static_cast<char>(name.size());
    entries += name;
    entries += std::string("\0\0\0\0\0\0\0\x02", 8);
    entries += "hi";
    entries += 'E';
    unsigned char digest[64];
    unsigned int length = 0;
    const std::string covered = magic + entries;
    EVP_Digest(covered.data(), covered.size(), digest, &length, EVP_sha512(), nullptr);
    Result<std::string> signature =
        updater::signMessage(std::string(reinterpret_cast<char*>(digest), length), PACKAGE_KEY);
    EXPECT_TRUE(signature.isOk());
    const std::string out = magic + "F" + std::string("\0\0\x01\xa4\0\x0b", 6) + "package.sig" +
                            std::string("\0\0\0\0\0\0\0\x40", 8) + signature.value() + entries;
    return out + sha256(out);
}

TEST(PackageArchive, refusesEscapingNamesAndBrokenBytesBeforeWritingAnything) {
    TempDir dir;
    putFile(dir.path() / "ok.pkg", handArchive("sub/ok.txt"));
    ASSERT_TRUE(updater::unpackPackage(dir.path() / "ok.pkg", dir.path() / "ok", PACKAGE_PUBLIC_KEY)
                    .isOk());
    EXPECT_EQ(fileBytes(dir.path() / "ok" / "sub" / "ok.txt"), "hi");

    for (const char* name :
         {"../x", "a/../../x", "/etc/x", "a//b", "./a", "a\\..\\x", "a/", "package.sig"}) {
        putFile(dir.path() / "bad.pkg", handArchive(name));
        const Status s =
            updater::unpackPackage(dir.path() / "bad.pkg", dir.path() / "out", PACKAGE_PUBLIC_KEY);
        EXPECT_EQ(s.kind(), ErrorKind::Corruption) << name;
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "out")) << name;
    }
    std::string flipped = handArchive("ok.txt");
    flipped[20] ^= 1;
    putFile(dir.path() / "flipped.pkg", flipped);
    EXPECT_EQ(updater::verifyPackage(dir.path() / "flipped.pkg", PACKAGE_PUBLIC_KEY).kind(),
              ErrorKind::Corruption);
    std::string cut = handArchive("ok.txt");
    cut.resize(cut.size() - 1);
    putFile(dir.path() / "cut.pkg", cut);
    EXPECT_EQ(updater::verifyPackage(dir.path() / "cut.pkg", PACKAGE_PUBLIC_KEY).kind(),
              ErrorKind::Corruption);
}

}  // namespace
}  // namespace vantrel::testing
