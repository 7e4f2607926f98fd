#!/usr/bin/env bash
# Fails when a folder of client/ includes a folder above it, so the folders keep one order
# and no cycle: each may include only folders listed before it. The GUI toolkit is reached
# only from ui/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
layers=(base config gateway transfer catalogue execution app update service cli ui)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

status=0
while IFS= read -r file; do
    from=${file#client/}
    from=${from%%/*}
    [[ -n ${rank[$from]+set} ]] || { echo "$file: folder $from has no place in the layers"; status=1; continue; }
    while IFS= read -r line; do
        to=${line#*\"client/}
        to=${to%%/*}
        if [[ -z ${rank[$to]+set} ]]; then
            echo "$file: includes unknown folder $to"
            status=1
        elif (( rank[$to] > rank[$from] )); then
            echo "$file: $from includes $to, which lies above it: $line"
            status=1
        fi
    done < <(grep -h '^#include "client/' "$file" || true)
    if [[ $from != ui ]] && grep -q '^#include <Q' "$file"; then
        echo "$file: the core includes the GUI toolkit"
        status=1
    fi
done < <(git ls-files 'client/*.h' 'client/*.cpp')
exit $status
