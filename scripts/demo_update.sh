#!/usr/bin/env bash
# The self-update end to end, headless, on a scratch copy of the runnable root (the update
# replaces its bin/): pack the build's bin/ into an update package signed with the build's
# throwaway key (build/keys/; the root's localconfig/ holds its public key), let the test
# gateway's update server offer it as version 1.31.00 together with a newer flag model, then
#   vantrel-cli update check   (flag model replaced, newer program found)
#   vantrel-cli update apply   (travex --headless downloads, checks the digest and the
#                               signature, and installs it)
#   vantrel-cli update check   (up to date)
# Usage: demo_update.sh BUILD_DIR [SCRATCH_DIR]
set -euo pipefail

build=${1:?usage: demo_update.sh BUILD_DIR [SCRATCH_DIR]}
work=${2:-$build/demo-update}
bin="$build/root/bin"

rm -rf "$work"
mkdir -p "$work/root" "$work/serve/flags"
cp -a "$bin" "$work/root/bin"
cp -r "$build/root/localconfig" "$work/root/localconfig"
root="$work/root"

key="$build/keys/package-signing.key"
[ -s "$key" ] && [ -s "$root/localconfig/package-signing.pub" ] ||
  { echo "demo: no signing key pair in the build (build the package-keys target)" >&2; exit 1; }
"$bin/vantrel-package" --key "$key" "$bin" "$work/serve/vantrel-131.pkg"
cp "$root/localconfig/flagmodel.conf" "$work/serve/flags/flagmodel.conf"
echo "signed update package: $work/serve/vantrel-131.pkg ($(stat -c %s "$work/serve/vantrel-131.pkg") bytes)"

"$bin/vantrel-testgateway" --ports-file "$work/ports" --update-root "$work/serve" \
  --update-value moduleversion=1.31.00 --update-value packagename=vantrel-131.pkg \
  --update-value flagversion=20261209 > "$work/gateway.log" 2>&1 &
gateway_pid=$!
trap 'kill "$gateway_pid" 2>/dev/null || true; wait "$gateway_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$work/ports" ] && break
  kill -0 "$gateway_pid" 2>/dev/null || { cat "$work/gateway.log" >&2; exit 1; }
  sleep 0.1
done
port=$(sed -n 's/^update=//p' "$work/ports")
gateway_port=$(sed -n 's/^gateway=//p' "$work/ports")
[ -n "$port" ] || { echo "demo: the test gateway did not report its update port" >&2; exit 1; }

ini="$root/localconfig/Client.ini"
sed -i "s/^GateIP1=.*/GateIP1=127.0.0.1/; s/^GatePort1=.*/GatePort1=$gateway_port/; s/^FtpPort1=.*/FtpPort1=$port/; s/^moduleversion=.*/moduleversion=1.30.00/;
        s/^install=.*/install=1/; s/^flagmoduleversion=.*/flagmoduleversion=20261201/;
        s/^flagservpath=.*/flagservpath=flags/" "$ini"

echo "Update server on 127.0.0.1:$port"
cli() { echo "\$ vantrel-cli $*"; "$root/bin/vantrel-cli" --root "$root" "$@"; }
cli update check
cli update apply
cmp "$bin/vantrel-cli" "$root/bin/vantrel-cli"
[ -d "$root/bin.old" ] && echo "installed; the previous program is kept in $root/bin.old"
cli update check
grep -i '^moduleversion=\|^install=' "$ini"
