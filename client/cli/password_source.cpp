#include "client/cli/password_source.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "platform/files.h"

namespace vantrel::cli {

namespace {

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> promptWithoutEcho(std::string& why) {
    if (!isatty(STDIN_FILENO)) {
        why = "no password: use --password-file or " + std::string(kPasswordVariable);
        return std::nullopt;
    }
    std::fprintf(stderr, "密码: ");
    std::fflush(stderr);
    termios saved{};
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fprintf(stderr, "\n");
    if (!got) {
        why = "no password entered";
        return std::nullopt;
    }
    return firstLine(line);
}

}  // namespace

std::string headlessPasswordFile() {
    if (const char* file = std::getenv("VANTREL_PASSWORD_FILE"); file && *file) return file;
    const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (!credentials || !*credentials) return {};
    const std::filesystem::path path = std::filesystem::path(credentials) / kPasswordCredential;
    std::error_code ec;
    return std::filesystem::exists(path, ec) ? path.string() : std::string();
}

std::optional<std::string> readPassword(const std::string& passwordFile, std::string& why) {
    if (!passwordFile.empty()) {
        auto text = platform::readFile(passwordFile);
        if (!text) {
            why = text.status().text();
            return std::nullopt;
        }
        return firstLine(text.value());
    }
    if (const char* value = std::getenv(kPasswordVariable)) return std::string(value);
    return promptWithoutEcho(why);
}

}  // namespace vantrel::cli
