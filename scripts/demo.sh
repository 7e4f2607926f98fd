#!/usr/bin/env bash
# The client's main job on the build tree's installation root, called by setup.sh run with
# the build directory as $1. For now: a headless start-up and shut-down without a gateway
# login (--offline), then the system log it left.
set -euo pipefail

build=${1:?usage: demo.sh BUILD_DIR}
root="$build/root"

"$root/bin/vantrel-cli" --root "$root" run --offline

today=$(date +%Y%m%d)
log="$root/log/SysLog$today.log"
echo "--- $log"
iconv -f GBK -t UTF-8 "$log"
