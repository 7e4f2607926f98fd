#pragma once
// A temporary installation root with an update server on 127.0.0.1 that serves files from
// <root>/serve, plus helpers to write and read files.

#include <fstream>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tools/testgateway/test_gateway.h"

namespace vantrel::testing {

inline std::string randomBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 rng(seed);
    for (auto& c : bytes) c = static_cast<char>(rng());
    return bytes;
}

inline void putFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class UpdateServerFixture : public ::testing::Test {
  protected:
    // Starts the server with the given values; call once per test.
    void startServer(std::vector<std::pair<std::string, std::string>> values = {},
                     bool restart6008 = false) {
        testgateway::TestGatewaySettings settings;
        settings.updateRoot = serveRoot();
        settings.updateValues = std::move(values);
        settings.updateRestart6008 = restart6008;
        server = std::make_unique<testgateway::TestGateway>(settings);
        ASSERT_TRUE(server->start().isOk());
    }
    std::filesystem::path serveRoot() const { return root.path() / "serve"; }
    std::string port() const { return std::to_string(server->updatePort()); }

    TempDir root;
    std::unique_ptr<testgateway::TestGateway> server;
};

}  // namespace vantrel::testing
