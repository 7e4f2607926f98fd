// Throughput of the client's cipher code 0x10000 over the gateway's 16,384-byte
// chunks on each DES path the processor has, printed beside "openssl speed -evp
// des-ede" measured in the same run. Like "openssl speed", throughput is bytes
// per second of user CPU time, so other load on a shared machine does not
// count against either side. The library picks its path once per process, so
// each path is measured by a child run of this program with KORRIM_DES_PATH
// set; paths and the tool are measured in alternation over several rounds and
// the best figure of each is compared.
// Usage: korrim_bench [seconds per measurement, default 2] [rounds, default 3]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "korrim/klav.h"

namespace {

constexpr int kChunk = 16384;

using Clock = std::chrono::steady_clock;

double userSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
}

// Bytes of input processed by op per second of user CPU time, over about the
// given wall time.
template <typename Op>
double measure(double seconds, Op op) {
    const auto start = Clock::now();
    const double cpuStart = userSeconds();
    const auto until = start + std::chrono::duration<double>(seconds);
    long long bytes = 0;
    while (Clock::now() < until) {
        for (int i = 0; i < 16; ++i) {
            if (!op()) {
                std::fprintf(stderr, "cipher call failed\n");
                std::exit(1);
            }
            bytes += kChunk;
        }
    }
    const double cpu = userSeconds() - cpuStart;
    return cpu > 0 ? static_cast<double>(bytes) / cpu : 0.0;
}

// The tool's figure in bytes per second for 16,384-byte blocks, 0 if unavailable.
double opensslSpeed(double seconds, bool decrypt) {
    const std::string command = "openssl speed -evp des-ede -bytes 16384 -mr -seconds " +
                                std::to_string(static_cast<int>(seconds)) +
                                (decrypt ? " -decrypt" : "") + " 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return 0;
    char line[512];
    double figure = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        // "+F:<n>:<cipher>:<bytes per second>"
        if (std::strncmp(line, "+F:", 3) == 0) {
            const char* last = std::strrchr(line, ':');
            if (last != nullptr) figure = std::atof(last + 1);
        }
    }
    pclose(pipe);
    return figure;
}

void report(const char* what, const char* path, double ours, double theirs) {
    std::printf("%-22s %-9s %9.2f MB/s   openssl speed %9.2f MB/s   ratio %.3f\n", what, path,
                ours / 1e6, theirs / 1e6, theirs > 0 ? ours / theirs : 0.0);
}

struct Figures {
    double encrypt = 0;
    double decrypt = 0;
};

// The child's part: measures this process's path and prints both figures.
int measurePath(double seconds) {
    KLAV_SYMMETRIC_KEY key;
    std::memset(&key, 0, sizeof key);
    key.keyLen = 16;
    key.algorithm = KLAV_DES2_ECB_PAD;
    std::vector<unsigned char> plain(kChunk);
    std::vector<unsigned char> cipher(kChunk + 8);
    std::vector<unsigned char> back(kChunk + 8);
    if (KLAV_GenRandData(16, key.key) != KLAV_OK ||
        KLAV_GenRandData(kChunk, plain.data()) != KLAV_OK)
        return 1;
    int cipherLen = 0;
    int backLen = 0;
    const double encrypt = measure(seconds, [&] {
        return KLAV_Encrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, plain.data(), kChunk,
                            cipher.data(), &cipherLen) == KLAV_OK;
    });
    const double decrypt = measure(seconds, [&] {
        return KLAV_Decrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, cipher.data(), cipherLen,
                            back.data(), &backLen) == KLAV_OK;
    });
    if (backLen != kChunk || std::memcmp(back.data(), plain.data(), kChunk) != 0) {
        std::fprintf(stderr, "round trip failed\n");
        return 1;
    }
    std::printf("%.0f %.0f\n", encrypt, decrypt);
    return 0;
}

// Runs this program as a child on the given path; false if it failed.
bool measureChild(const std::string& self, const char* path, double seconds, Figures& figures) {
    const std::string command = std::string("KORRIM_DES_PATH=") + path + " '" + self +
                                "' --measure " + std::to_string(static_cast<int>(seconds));
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    double encrypt = 0;
    double decrypt = 0;
    const bool read = std::fscanf(pipe, "%lf %lf", &encrypt, &decrypt) == 2;
    const bool ok = pclose(pipe) == 0 && read;
    if (ok) {
        figures.encrypt = encrypt > figures.encrypt ? encrypt : figures.encrypt;
        figures.decrypt = decrypt > figures.decrypt ? decrypt : figures.decrypt;
    }
    return ok;
}

std::string ownPath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    buffer[n] = '\0';
    return buffer;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--measure") == 0) return measurePath(std::atof(argv[2]));
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (seconds < 1 || seconds > 60 || rounds < 1 || rounds > 20) {
        std::fprintf(stderr, "seconds per measurement: 1 to 60; rounds: 1 to 20\n");
        return 2;
    }
    const std::string self = ownPath();
    if (self.empty()) return 1;
    std::vector<const char*> paths = {"openssl", "portable"};
    if (__builtin_cpu_supports("avx2")) paths.push_back("avx2");
    if (__builtin_cpu_supports("avx512f")) paths.push_back("avx512");

    std::vector<Figures> ours(paths.size());
    double toolEncrypt = 0, toolDecrypt = 0;
    auto best = [](double& slot, double figure) {
        if (figure > slot) slot = figure;
    };
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < paths.size(); ++i) {
            if (!measureChild(self, paths[i], seconds, ours[i])) {
                std::fprintf(stderr, "measuring the %s path failed\n", paths[i]);
                return 1;
            }
        }
        best(toolEncrypt, opensslSpeed(seconds, false));
        best(toolDecrypt, opensslSpeed(seconds, true));
    }
    std::printf("16384-byte chunks, best of %d rounds of %.0f s\n", rounds, seconds);
    for (size_t i = 0; i < paths.size(); ++i)
        report("KLAV_Encrypt 0x10000", paths[i], ours[i].encrypt, toolEncrypt);
    for (size_t i = 0; i < paths.size(); ++i)
        report("KLAV_Decrypt 0x10000", paths[i], ours[i].decrypt, toolDecrypt);
    return 0;
}
