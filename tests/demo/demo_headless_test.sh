#!/usr/bin/env bash
# The README's first command without a display, twice in a row on the same scratch folder:
# scripts/demo.sh lays out its own copy of the runnable root there, so neither run sees what
# the other added and the build's own root is left alone.
set -euo pipefail
source_dir=${1:?usage: demo_headless_test.sh SOURCE_DIR BUILD_DIR}
build_dir=${2:?usage: demo_headless_test.sh SOURCE_DIR BUILD_DIR}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
tables_before=$(cd "$build_dir/root/localconfig" && ls -l --time-style=+%s . | md5sum)

for pass in 1 2; do
  # Its own lock folder: another test's client must not make this one a "second instance".
  env -u DISPLAY -u WAYLAND_DISPLAY VANTREL_RUNTIME_DIR="$scratch/run" timeout 120 \
    bash "$source_dir/scripts/demo.sh" "$build_dir" "$scratch/demo" > "$scratch/out.txt" 2>&1 || {
    cat "$scratch/out.txt"
    echo "the demo failed on pass $pass"
    exit 1
  }
  cat "$scratch/out.txt"
  for expected in "Operator: DEMO0001   Password: demo1234" "No display: running the same scenario headless" \
                  "系统登录成功" "downloaded byte-exact" "uploaded byte-exact" "scheduled upload sent byte-exact" \
                  "auto-sync delivered the business day byte-exact" "real-time reports received" "系统退出！"; do
    grep -qF "$expected" "$scratch/out.txt" || { echo "missing from pass $pass: $expected"; exit 1; }
  done
  if pgrep -f "vantrel-testgateway --mailbox-root $scratch" > /dev/null; then
    echo "the demo left its test gateway running"
    exit 1
  fi
done
tables_after=$(cd "$build_dir/root/localconfig" && ls -l --time-style=+%s . | md5sum)
[ "$tables_before" = "$tables_after" ] || { echo "the demo wrote into the build's localconfig"; exit 1; }
