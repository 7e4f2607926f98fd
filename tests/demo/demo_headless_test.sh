#!/usr/bin/env bash
# The README's first command without a display: scripts/demo.sh on a scratch copy of the
# runnable root (programs linked, settings copied), so the build's own Client.ini is left alone.
set -euo pipefail
source_dir=${1:?usage: demo_headless_test.sh SOURCE_DIR BUILD_DIR}
build_dir=${2:?usage: demo_headless_test.sh SOURCE_DIR BUILD_DIR}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/root"
ln -s "$build_dir/root/bin" "$scratch/root/bin"
cp -r "$build_dir/root/localconfig" "$scratch/root/localconfig"

# Its own lock folder: another test's client must not make this one a "second instance".
env -u DISPLAY -u WAYLAND_DISPLAY VANTREL_RUNTIME_DIR="$scratch/run" timeout 120 bash "$source_dir/scripts/demo.sh" "$scratch" > "$scratch/out.txt" 2>&1 || {
  cat "$scratch/out.txt"
  exit 1
}
cat "$scratch/out.txt"
for expected in "Operator: DEMO0001   Password: demo1234" "No display: running the same scenario headless" \
                "系统登录成功" "downloaded byte-exact" "uploaded byte-exact" "scheduled upload sent byte-exact" \
                "auto-sync delivered the business day byte-exact" "real-time reports received" "系统退出！"; do
  grep -qF "$expected" "$scratch/out.txt" || { echo "missing from the demo's output: $expected"; exit 1; }
done
if pgrep -f "vantrel-testgateway --mailbox-root $scratch" > /dev/null; then
  echo "the demo left its test gateway running"
  exit 1
fi
