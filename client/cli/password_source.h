#pragma once
// Where vantrel-cli gets the operator's password: never from a plain argument (it would
// show in the process list and the shell history), but from, in this order, a file named
// by --password-file, the environment variable VANTREL_PASSWORD, or a prompt on the
// terminal without echo.

#include <optional>
#include <string>

namespace vantrel::cli {

inline constexpr const char* kPasswordVariable = "VANTREL_PASSWORD";
// The name of the password among a systemd service's credentials (LoadCredential=).
inline constexpr const char* kPasswordCredential = "vantrel-password";

// The password file a headless login reads: VANTREL_PASSWORD_FILE, else the credential
// "vantrel-password" in $CREDENTIALS_DIRECTORY when systemd passed one; empty when neither.
std::string headlessPasswordFile();

// The first line of `passwordFile` (when not empty), else the variable, else the
// terminal. Nothing when none gives one; `why` then says what failed.
std::optional<std::string> readPassword(const std::string& passwordFile, std::string& why);

}  // namespace vantrel::cli
