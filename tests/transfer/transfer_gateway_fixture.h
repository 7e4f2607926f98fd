#pragma once
// The gateway fixture with the mailbox file services on a tree under the temporary root,
// and helpers to fill mailboxes and move files.

#include <cstdlib>
#include <fstream>
#include <random>

#include "client/transfer/block_transfer.h"
#include "client/transfer/file_services.h"
#include "client/transfer/manual_transfer.h"
#include "tests/gateway/gateway_fixture.h"
#include "tests/transfer/block_state_fixture.h"
#include "tools/testgateway/file_services.h"

namespace vantrel::testing {

class TransferGatewayFixture : private PreferMemoryTempDir, public GatewayFixture {
  protected:
    TransferGatewayFixture()
        : files(std::make_shared<testgateway::MailboxFileService>(root.path() / "mailboxes",
                                                                  "20261208")) {}

    void SetUp() override {
        std::filesystem::create_directories(files->root() / "FTP_A_QS" / "Bullet");
        gateway.addService(files);
        GatewayFixture::SetUp();
        handle = makeHandle();
        ASSERT_TRUE(handle->LoginToGateway()) << handle->LastError();
        env.options.clock = &platform::RealClock::instance();
        env.systemLog = [this](std::string_view line) { logLines.emplace_back(line); };
    }

    // The gateway is strict: whatever the protocol does not have fails the test.
    void TearDown() override {
        for (const std::string& violation : files->takeViolations())
            ADD_FAILURE() << "protocol violation: " << violation;
        GatewayFixture::TearDown();
    }

    // A file of `size` pseudo-random bytes in a mailbox.
    std::string putRemote(const std::string& name, std::size_t size,
                          const std::string& mailbox = "FTP_A_QS") {
        std::string bytes(size, '\0');
        std::mt19937 rng(static_cast<unsigned>(size));
        for (auto& c : bytes) c = static_cast<char>(rng());
        const auto path = files->root() / mailbox / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }

    // A zip archive in the mailbox FTP_A_QS holding `entries` (name, text), made by
    // Python's zipfile; `symlinkEntry` adds a link to /etc/passwd under that name.
    void putZip(const std::string& name,
                const std::vector<std::pair<std::string, std::string>>& entries,
                const char* symlinkEntry = nullptr) {
        const std::filesystem::path script = root.path() / "zip.py";
        std::string py = "import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w')\n";
        for (const auto& [entry, text] : entries)
            py += "z.writestr('" + entry + "','" + text + "')\n";
        if (symlinkEntry) {
            py += "i=zipfile.ZipInfo('" + std::string(symlinkEntry) +
                  "')\ni.external_attr=0o120777<<16\n"
                  "z.writestr(i,'/etc/passwd')\n";
        }
        py += "z.close()\n";
        std::ofstream(script) << py;
        const std::filesystem::path target = files->root() / "FTP_A_QS" / name;
        ASSERT_EQ(
            std::system(("python3 '" + script.string() + "' '" + target.string() + "'").c_str()),
            0);
    }

    std::string readLocal(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    ManualTransferRequest downloadRequest(const std::string& name, std::int64_t size) {
        ManualTransferRequest r;
        r.mailbox = "FTP_A_QS";
        r.remoteName = name;
        r.localDirectory = root.path() / "recv";
        r.fileSize = size;
        return r;
    }

    std::shared_ptr<testgateway::MailboxFileService> files;
    std::unique_ptr<CVornFtp> handle;
    ManualTransferEnvironment env;
    std::vector<std::string> logLines;
};

}  // namespace vantrel::testing
