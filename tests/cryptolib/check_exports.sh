#!/bin/sh
# The library exports exactly the functions its header declares, 42 of them.
# Usage: check_exports.sh <libKorrim.so> <klav.h>
set -eu
library=$1
header=$2
exported=$(nm -D --defined-only "$library" | awk 'NF == 3 { print $3 }' | sort)
declared=$(grep -oE 'KLAV_API int KLAV_[A-Za-z0-9]+' "$header" | awk '{ print $3 }' | sort)
if [ "$exported" != "$declared" ]; then
    echo "exported and declared functions differ:"
    printf '%s\n' "$exported" > /tmp/korrim_exported.$$
    printf '%s\n' "$declared" | diff /tmp/korrim_exported.$$ - || true
    rm -f /tmp/korrim_exported.$$
    exit 1
fi
count=$(printf '%s\n' "$declared" | wc -l)
if [ "$count" -ne 42 ]; then
    echo "expected 42 functions, found $count"
    exit 1
fi
echo "42 KLAV_ functions exported, nothing else"
