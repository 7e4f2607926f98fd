#!/usr/bin/env bash
# Lists hand-written functions longer than a limit (default 60 lines), by ctags' start and
# end lines, longest first. Generated tables are left out.
# Usage: long_functions.sh [limit] [folder] [another folder]; the folders default to client.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
limit=${1:-60}
git ls-files "${2:-client}/*.cpp" "${2:-client}/*.h" ${3:+"$3/*.cpp" "$3/*.h"} |
    grep -v -e '_sbox' -e '_tables\.' |
    ctags --languages=C++ --kinds-C++=f --fields=+ne -x --_xformat='%N	%F	%n	%{end}' -L - |
    awk -F'\t' -v limit="$limit" '$4 != "" { n = $4 - $3 + 1; if (n > limit) print n, $1, $2 ":" $3 }' |
    sort -rn
