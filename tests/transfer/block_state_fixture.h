#pragma once
// A temporary directory, a fake clock and helpers to open transfers in it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "client/transfer/file_block_info.h"
#include "platform/clock.h"
#include "tests/support/temp_dir.h"

namespace vantrel::testing {

// State files are flushed to disk after every change; on a tmpfs the tests do not wait
// for the disk. Must be constructed before any TempDir.
struct PreferMemoryTempDir {
    PreferMemoryTempDir() {
        if (std::filesystem::is_directory("/dev/shm")) ::setenv("TMPDIR", "/dev/shm", 1);
    }
};

class BlockStateFixture : public ::testing::Test, private PreferMemoryTempDir {
  protected:
    BlockStateFixture() : clock_(platform::WallTime(std::chrono::seconds(1'800'000'000))) {}

    FileBlockInfo::Options options() {
        FileBlockInfo::Options o;
        o.clock = &clock_;
        o.systemLog = [this](std::string_view line) { logLines_.emplace_back(line); };
        o.retryPause = std::chrono::milliseconds(1);
        return o;
    }

    TransferItem downloadItem(std::int64_t size, const std::string& name = "a.dat") {
        TransferItem item;
        item.remoteName = name;
        item.localName = name;
        item.localDirectory = dir_.path() / "recv";
        item.fileSize = size;
        item.taskId = "20261208093000-00042";
        return item;
    }

    TransferItem uploadItem(const std::string& content, const std::string& name = "out.dat") {
        std::filesystem::create_directories(dir_.path() / "send");
        std::ofstream(dir_.path() / "send" / name, std::ios::binary) << content;
        TransferItem item;
        item.remoteName = name;
        item.localName = name;
        item.localDirectory = dir_.path() / "send";
        item.fileSize = static_cast<std::int64_t>(content.size());
        item.taskId = "20261208093000-00042";
        return item;
    }

    std::unique_ptr<FileBlockInfo> openFile(const TransferItem& item, bool upload) {
        auto file = std::make_unique<FileBlockInfo>(options());
        EXPECT_TRUE(file->open(item, upload, "VRELKA", "FTP_A_QS", upload ? "03" : "04"))
            << file->errorText();
        return file;
    }

    static std::string readAll(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    platform::FakeClock clock_;
    TempDir dir_;
    std::vector<std::string> logLines_;
};

}  // namespace vantrel::testing
