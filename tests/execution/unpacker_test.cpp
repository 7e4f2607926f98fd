// Unpacking received files with the real unzip, and delivering them into the target.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "client/execution/runs/file_name_rule.h"
#include "client/execution/unpacking/unpacker.h"
#include "client/execution/unpacking/zip_directory.h"
#include "platform/child_process.h"
#include "platform/disk_space.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace vantrel::execution {
namespace {

namespace fs = std::filesystem;

// Writes a zip with python's zipfile: name/content pairs; a name starting with "@" is
// stored as a symbolic link whose target is the content.
const char* const kMakeZip = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name, data in zip(sys.argv[2::2], sys.argv[3::2]):
        if name.startswith('@'):
            info = zipfile.ZipInfo(name[1:])
            info.create_system = 3
            info.external_attr = 0o120777 << 16
            z.writestr(info, data)
        else:
            z.writestr(name, data)
)";

std::string zipBytes(const fs::path& scratch, const std::vector<std::string>& pairs) {
    const fs::path zip = scratch / "made.zip";
    std::vector<std::string> arguments = {"-c", kMakeZip, zip.string()};
    arguments.insert(arguments.end(), pairs.begin(), pairs.end());
    EXPECT_EQ(platform::runAndWait({"python3", arguments, {}, false}).value(), 0);
    std::string bytes = platform::readFile(zip).value();
    fs::remove(zip);
    return bytes;
}

std::string contentOf(const fs::path& path) {
    Result<std::string> bytes = platform::readFile(path);
    return bytes ? bytes.value() : "<missing>";
}

// Every path below `dir`, relative, sorted.
std::vector<std::string> tree(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().lexically_relative(dir).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class UnpackerTest : public ::testing::Test {
  protected:
    UnpackerTest() : installation(dir.path() / "root", dir.path() / "run") {
        fs::create_directories(scratch);
        fs::create_directories(work);
    }

    // Puts a received file in place, as the transfer leaves it.
    DownloadedFile receive(const std::string& name, const std::string& bytes, int kind) {
        EXPECT_TRUE(platform::writeFileAtomically(work / (name + ".tmp"), bytes));
        return DownloadedFile{work, name, kind};
    }

    Status deliver(const DownloadedFile& file, const fs::path& extraction) {
        return deliverDownloadedFile(
            file, extraction, target, [this](std::string_view line, int level) {
                lines.push_back(std::to_string(level) + " " + std::string(line));
            });
    }

    testing::TempDir dir;
    Installation installation;
    const fs::path scratch = dir.path() / "scratch";
    const fs::path work = dir.path() / "root" / "tmp" / "20260121";
    const fs::path target = dir.path() / "target";
    std::vector<std::string> lines;
};

TEST_F(UnpackerTest, anArchiveIsUnpackedApartAndDeliveredWithItsSubdirectories) {
    // setup: blanks and ";" in the name would split a shell command line
    ASSERT_EQ(unzipProgram(installation), fs::path("/usr/bin/unzip"));
    const std::string name = "day 1; report.zip";
    const DownloadedFile file =
        receive(name, zipBytes(scratch, {"a.txt", "alpha", "sub/b.txt", "beta"}), 1);
    ASSERT_TRUE(platform::createDirectories(target));
    ASSERT_TRUE(platform::writeFileAtomically(target / "a.txt", "old"));

    // act
    const UnpackResult unpacked = unpackDownloadedFile(file, true, unzipProgram(installation));

    // verify: unpacked under temp/, nothing delivered yet, the received file untouched
    ASSERT_TRUE(unpacked.status) << unpacked.status.text();
    EXPECT_EQ(unpacked.code, 0);
    EXPECT_EQ(unpacked.extractionDirectory.parent_path(), work / "temp");
    EXPECT_EQ(tree(unpacked.extractionDirectory),
              (std::vector<std::string>{"a.txt", "sub", "sub/b.txt"}));
    EXPECT_EQ(contentOf(target / "a.txt"), "old");
    EXPECT_TRUE(fs::exists(work / (name + ".tmp")));

    ASSERT_TRUE(deliver(file, unpacked.extractionDirectory));
    EXPECT_EQ(contentOf(target / "a.txt"), "alpha");
    EXPECT_EQ(contentOf(target / "sub" / "b.txt"), "beta");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "0 移动压缩文件[day 1; report.zip]解压后的文件[a.txt]开始",
                         "0 移动压缩文件[day 1; report.zip]解压后的文件[a.txt]成功",
                         "0 移动压缩文件[day 1; report.zip]解压后的文件[sub/b.txt]开始",
                         "0 移动压缩文件[day 1; report.zip]解压后的文件[sub/b.txt]成功",
                         "0 移动文件[day 1; report.zip]成功",
                     }));
    // Nothing is left behind: no copy, no extraction directory, no received file.
    EXPECT_EQ(tree(work), std::vector<std::string>{"temp"});
}

TEST_F(UnpackerTest, whatIsNotUnpackedIsDeliveredAsItCame) {
    const std::string archive = zipBytes(scratch, {"inner.txt", "x"});
    const std::vector<std::string> noUnzip = {"docx", "pptx", "xlsx"};
    struct Row {
        const char* name;
        std::string bytes;
        int kind;
    } rows[] = {
        {"notes.txt", "plain text\n", 0},  // unzip says: not an archive
        {"slides.docx", archive, 0},       // excluded by the list, though it is a zip
        {"notice.zip", archive, 2},        // bulletins are never unpacked
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        lines.clear();
        const DownloadedFile file = receive(row.name, row.bytes, row.kind);
        const UnpackResult unpacked =
            unpackDownloadedFile(file, shouldUnpack(row.name, noUnzip), unzipProgram(installation));
        ASSERT_TRUE(unpacked.status) << unpacked.status.text();
        EXPECT_EQ(unpacked.code, 9);
        EXPECT_TRUE(unpacked.extractionDirectory.empty());

        ASSERT_TRUE(deliver(file, unpacked.extractionDirectory));
        EXPECT_EQ(contentOf(target / row.name), row.bytes);
        EXPECT_EQ(lines,
                  (std::vector<std::string>{"0 移动文件[" + std::string(row.name) + "]开始",
                                            "0 移动文件[" + std::string(row.name) + "]成功"}));
    }
    EXPECT_EQ(tree(work), std::vector<std::string>{"temp"});
}

TEST_F(UnpackerTest, aCorruptArchiveFailsAndLeavesNoPartialOutput) {
    // setup: damage the first entry's compressed data; the directory stays readable, so
    // unzip writes part of the output before it fails
    std::string bytes =
        zipBytes(scratch, {"a.txt", std::string(5000, 'a'), "b.txt", std::string(5000, 'b')});
    for (std::size_t i = 40; i < 60; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0xFF);
    const DownloadedFile file = receive("broken.zip", bytes, 1);

    const UnpackResult unpacked = unpackDownloadedFile(file, true, unzipProgram(installation));

    EXPECT_FALSE(unpacked.status);
    EXPECT_EQ(unpacked.status.text(), "解压文件失败(压缩文件已损坏)");
    EXPECT_EQ(unpacked.code, 2);
    EXPECT_EQ(tree(work), (std::vector<std::string>{"broken.zip.tmp", "temp"}));
    EXPECT_EQ(contentOf(work / "broken.zip.tmp"), bytes);
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(UnpackerTest, entriesThatWouldLeaveTheExtractionDirectoryAreRefusedBeforeAnythingIsWritten) {
    const fs::path outside = dir.path() / "outside";
    ASSERT_TRUE(platform::createDirectories(outside));
    struct Row {
        std::vector<std::string> entries;
        std::string text;
    } rows[] = {
        {{"ok.txt", "fine", "../x", "evil"}, "解压文件失败(压缩文件中的[../x]会写到解压目录以外)"},
        {{"sub\\..\\..\\x", "evil"},
         "解压文件失败(压缩文件中的[sub\\..\\..\\x]会写到解压目录以外)"},
        {{(outside / "abs.txt").string(), "evil"},
         "解压文件失败(压缩文件中的[" + (outside / "abs.txt").string() + "]会写到解压目录以外)"},
        {{"@link", outside.string(), "link/x.txt", "evil"},
         "解压文件失败(压缩文件中的[link]是链接)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const DownloadedFile file = receive("hostile.zip", zipBytes(scratch, row.entries), 1);

        const UnpackResult unpacked = unpackDownloadedFile(file, true, unzipProgram(installation));

        EXPECT_FALSE(unpacked.status);
        EXPECT_EQ(unpacked.status.text(), row.text);
        EXPECT_EQ(unpacked.code, -1);
        EXPECT_TRUE(tree(outside).empty());
        EXPECT_EQ(tree(work), (std::vector<std::string>{"hostile.zip.tmp", "temp"}));
        EXPECT_FALSE(fs::exists(work / "x") || fs::exists(work / "temp" / "x"));
    }
}

TEST_F(UnpackerTest, theUnpackersOwnFailuresKeepTheirTextsAndLeaveNoOutput) {
    // setup: a stand-in unzip in the installation's bin/ that checks its command line and
    // that it has no input to wait on, writes part of its output, and ends with a code
    const fs::path bundled = installation.bin() / "unzip";
    ASSERT_TRUE(platform::createDirectories(installation.bin()));
    const DownloadedFile file = receive("data.zip", zipBytes(scratch, {"a.txt", "alpha"}), 0);
    const std::string full =
        "解压文件失败(磁盘[" + platform::mountPoint(work).string() + "]空间不足!)";
    struct Row {
        int exit;
        std::string text;
        ErrorKind kind;
    } rows[] = {
        {50, full, ErrorKind::NoSpace},
        {3, "解压文件失败，错误码[3]", ErrorKind::IoError},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.exit);
        ASSERT_TRUE(platform::writeFileAtomically(
            bundled,
            "#!/bin/sh\n[ \"$#\" = 2 ] && [ \"$1\" = -o ] && [ -f \"$2\" ] || exit 77\n"
            "read line && exit 78\necho partial > partial.txt\nexit " +
                std::to_string(row.exit) + "\n"));
        ASSERT_EQ(::chmod(bundled.c_str(), 0755), 0);
        ASSERT_EQ(unzipProgram(installation), bundled);

        const UnpackResult unpacked = unpackDownloadedFile(file, true, unzipProgram(installation));

        EXPECT_EQ(unpacked.code, row.exit);
        EXPECT_EQ(unpacked.status.text(), row.text);
        EXPECT_EQ(unpacked.status.kind(), row.kind);
        EXPECT_EQ(tree(work), (std::vector<std::string>{"data.zip.tmp", "temp"}));
    }
}

TEST_F(UnpackerTest, aFailedMoveIsTriedFourTimesAndLeftInPlaceForTheNextDelivery) {
    // setup: directories stand where two files must go, so every rename fails
    const DownloadedFile archive =
        receive("two.zip", zipBytes(scratch, {"a.txt", "alpha", "b.txt", "beta"}), 1);
    const UnpackResult unpacked = unpackDownloadedFile(archive, true, unzipProgram(installation));
    ASSERT_TRUE(unpacked.status) << unpacked.status.text();
    const DownloadedFile plain = receive("plain.txt", "text", 0);
    ASSERT_TRUE(platform::createDirectories(target / "b.txt" / "in the way"));
    ASSERT_TRUE(platform::createDirectories(target / "plain.txt" / "in the way"));

    // act
    const Status archiveFailed = deliver(archive, unpacked.extractionDirectory);
    const Status plainFailed = deliver(plain, {});

    // verify: a.txt went; b.txt and plain.txt failed four times each and stay put
    const std::string prefix = "移动文件[b.txt]失败，失败原因：";
    EXPECT_EQ(archiveFailed.text().substr(0, prefix.size()), prefix);
    EXPECT_EQ(
        plainFailed.text().substr(0, std::string("移动文件[plain.txt]失败，失败原因：").size()),
        "移动文件[plain.txt]失败，失败原因：");
    const int isDirectory = 21;  // EISDIR
    const std::string code = ",错误代码:" + std::to_string(isDirectory);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "0 移动压缩文件[two.zip]解压后的文件[a.txt]开始",
                         "0 移动压缩文件[two.zip]解压后的文件[a.txt]成功",
                         "0 移动压缩文件[two.zip]解压后的文件[b.txt]开始",
                         "1 移动压缩文件[two.zip]解压后的文件[b.txt]失败" + code,
                         "0 第(1)次重试移动压缩文件[two.zip]解压后的文件[b.txt]开始",
                         "1 第(1)次移动压缩文件[two.zip]解压后的文件[b.txt]失败" + code,
                         "0 第(2)次重试移动压缩文件[two.zip]解压后的文件[b.txt]开始",
                         "1 第(2)次移动压缩文件[two.zip]解压后的文件[b.txt]失败" + code,
                         "0 第(3)次重试移动压缩文件[two.zip]解压后的文件[b.txt]开始",
                         "1 第(3)次移动压缩文件[two.zip]解压后的文件[b.txt]失败" + code,
                         "0 移动文件[plain.txt]开始",
                         "1 移动文件[plain.txt]失败" + code,
                         "0 第(1)次重试移动文件[plain.txt]开始",
                         "1 第(1)次重试移动文件[plain.txt]失败" + code,
                         "0 第(2)次重试移动文件[plain.txt]开始",
                         "1 第(2)次重试移动文件[plain.txt]失败" + code,
                         "0 第(3)次重试移动文件[plain.txt]开始",
                         "1 第(3)次重试移动文件[plain.txt]失败" + code,
                     }));
    EXPECT_EQ(contentOf(target / "a.txt"), "alpha");
    EXPECT_EQ(tree(unpacked.extractionDirectory), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(contentOf(work / "two.zip.tmp").substr(0, 2), "PK");
    EXPECT_EQ(contentOf(work / "plain.txt.tmp"), "text");

    // act again once the way is clear: only what is left moves
    fs::remove_all(target / "b.txt");
    fs::remove_all(target / "plain.txt");
    lines.clear();
    ASSERT_TRUE(deliver(archive, unpacked.extractionDirectory));
    ASSERT_TRUE(deliver(plain, {}));
    EXPECT_EQ(lines.size(), 5u);
    EXPECT_EQ(tree(target), (std::vector<std::string>{"a.txt", "b.txt", "plain.txt"}));
    EXPECT_EQ(contentOf(target / "b.txt"), "beta");
    EXPECT_EQ(tree(work), std::vector<std::string>{"temp"});
}

TEST(ZipDirectory, theCheckReadsTheDirectoryTheUnpackerReads) {
    testing::TempDir dir;
    const std::string zip = zipBytes(dir.path(), {"a.txt", "alpha", "sub/b.txt", "beta"});
    const std::size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(end, std::string::npos);
    std::string countLies = zip;
    countLies[end + 10] = 3;  // three entries announced, two present
    std::string directoryLost = zip;
    directoryLost[end + 12] = 1;  // a directory size that points into the data
    directoryLost[end + 16] = 1;
    struct Row {
        const char* what;
        std::string bytes;
        bool ok;
        bool isArchive;
        std::size_t entries;
    } rows[] = {
        {"a plain archive", zip, true, true, 2},
        {"data in front, as a self-extractor has", std::string(100, 'x') + zip, true, true, 2},
        {"not an archive", "just text\n", true, false, 0},
        {"shorter than an end record", "PK", true, false, 0},
        {"the count does not match", countLies, false, true, 0},
        {"the directory cannot be found", directoryLost, false, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path path = dir.path() / "x.zip";
        ASSERT_TRUE(platform::writeFileAtomically(path, row.bytes));
        Result<ZipDirectory> read = readZipDirectory(path);
        ASSERT_EQ(read.isOk(), row.ok) << read.status().text();
        if (!row.ok) {
            EXPECT_EQ(read.status().kind(), ErrorKind::Corruption);
            continue;
        }
        EXPECT_EQ(read->isArchive, row.isArchive);
        ASSERT_EQ(read->entries.size(), row.entries);
        if (row.entries == 2) {
            EXPECT_EQ(read->entries[1].name, "sub/b.txt");
        }
    }
}

}  // namespace
}  // namespace vantrel::execution
