#!/usr/bin/env bash
# Lists every file change, file stream, POSIX file call and signal call in the core, the
# window and the updater that goes around platform/, and fails when there is one. The
# file-system interface of platform/ is the one place a test can fail such a call.
# Read-only queries of std::filesystem (exists, is_directory, file_size, listings) may stay.
# Usage: scripts/check_platform_calls.sh [source root]   (-c prints counts only)
set -euo pipefail

counts_only=0
if [[ "${1:-}" == "-c" ]]; then counts_only=1; shift; fi
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"
folders=(client updater)

# A name called at global scope (`::open(`), not a member (`CFoo::open(`, `x.open(`).
posix_names='open|close|read|write|pread|pwrite|lseek|unlink|unlinkat|rmdir|mkdir|rename|renameat2|link|symlink|fsync|fdatasync|ftruncate|truncate|chmod|fchmod|chown|stat|lstat|fstat|access|opendir|readdir|closedir|utimensat|futimens'
declare -A patterns=(
    [posix]="(^|[^A-Za-z0-9_>.:])::(${posix_names})\(|(^|[^A-Za-z0-9_.>:])(std::)?(fopen|fclose|fread|fwrite|opendir|readdir)\("
    [filesystem_change]="(std::filesystem|fs)::(create_directory|create_directories|remove|remove_all|rename|copy|copy_file|copy_symlink|permissions|resize_file|create_symlink|create_hard_link|create_directory_symlink)\(|last_write_time\([^()]*,[^()]*[^c][^)]*\)"
    [stream]="\b(std::)?(ifstream|ofstream|fstream)\b|#include <fstream>"
    [signal]="\b(sigaction|sigprocmask|pthread_sigmask|sigwait|sigwaitinfo|sigtimedwait|signalfd|sigemptyset|sigaddset|std::signal)\(|(^|[^A-Za-z0-9_.>:])(::)?kill\(|(^|[^A-Za-z0-9_.>:])::raise\(|#include <(signal\.h|csignal)>"
)

total=0
for kind in posix filesystem_change stream signal; do
    hits="$(grep -rnE --include='*.cpp' --include='*.h' "${patterns[$kind]}" "${folders[@]}" \
        | grep -vE 'last_write_time\([^,]*, *ec\)' || true)"
    n=0
    [[ -n "$hits" ]] && n="$(printf '%s\n' "$hits" | wc -l)"
    total=$((total + n))
    echo "$kind: $n"
    if [[ $counts_only -eq 0 && -n "$hits" ]]; then printf '%s\n' "$hits" | sed 's/^/    /'; fi
done
echo "total: $total"
if [[ $total -ne 0 ]]; then
    echo "These go around platform/: use platform::FileSystem (platform/file_system.h) or" \
         "platform/signals.h instead." >&2
    exit 1
fi
