#!/bin/bash
# Builds the .deb from the build tree into a scratch folder and checks what it holds and
# what its maintainer scripts do, the scripts run against a scratch tree with the system
# commands stubbed (nothing is installed). Usage: deb_package_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
debs=("$scratch"/out/vantrel_*_amd64.deb)
[ -f "${debs[0]}" ] || fail "no vantrel_VERSION_amd64.deb"
deb=${debs[0]}
contents=$(dpkg-deb -c "$deb")
has() { grep -qE -- "$1" <<<"$contents" || fail "the package lacks $1"; }
lacks() { ! grep -qE -- "$1" <<<"$contents" || fail "the package holds $1"; }

# The programs and the shipped root under /opt/vantrel, the templates aside.
has ' \./opt/vantrel/bin/vantrel-cli$'
has ' \./opt/vantrel/bin/Vantrel$'
has ' \./opt/vantrel/bin/travex$'
has ' \./opt/vantrel/bin/libKorrim\.so$'
has ' \./opt/vantrel/share/localconfig/Client\.ini$'
has '^-rw-r--r-- .* \./opt/vantrel/package-managed$'
# The paths the program uses lead to the settings, logs and data.
has '^l.* \./opt/vantrel/localconfig -> /etc/opt/vantrel$'
for folder in log data tmp Bullet sshbrev sshbrev_s; do
  has "^l.* \./opt/vantrel/$folder -> /var/opt/vantrel/$folder\$"
done
has '^-rw-r--r-- .* \./lib/systemd/system/vantrel-serve\.service$'
has ' \./usr/share/doc/vantrel/copyright$'
# The operator's files are made at install, never shipped; no test or build pieces.
lacks ' \./etc/'
lacks 'vantrel-testgateway'
lacks ' \./opt/vantrel/include'
lacks ' \./opt/vantrel/localconfig/'

# Control fields: the name, the architecture, and the shared libraries' packages plus unzip.
[ "$(dpkg-deb -f "$deb" Package)" = vantrel ] || fail "Package"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "Architecture"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in unzip libc6 libssl3 libsystemd0 libqt6widgets6; do
  grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

# The unit is a notify service with a watchdog, its password a credential.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./lib/systemd/system/vantrel-serve.service >"$scratch/unit"
grep -q '^Type=notify$' "$scratch/unit" || fail "unit: Type=notify"
grep -q '^WatchdogSec=' "$scratch/unit" || fail "unit: WatchdogSec"
grep -q '^LoadCredential=vantrel-password:' "$scratch/unit" || fail "unit: LoadCredential"

# The maintainer scripts, run against a scratch tree in place of /etc/opt, /var/opt and
# the shipped templates, with the system commands stubbed.
dpkg-deb -e "$deb" "$scratch/control"
for script in postinst prerm postrm; do
  [ -x "$scratch/control/$script" ] || fail "no executable $script"
  sh -n "$scratch/control/$script" || fail "$script does not parse"
done
fake=$scratch/fake
mkdir -p "$fake/bin" "$fake/share/localconfig"
printf '[userinfo]\nOpertID=\n' >"$fake/share/localconfig/Client.ini"
printf 'shipped\n' >"$fake/share/localconfig/DataSize.ini"
for stub in getent adduser chown systemctl; do
  printf '#!/bin/sh\necho %s "$@" >>"%s/calls"\n[ %s = getent ] && exit 2\nexit 0\n' \
    "$stub" "$fake" "$stub" >"$fake/bin/$stub"
  chmod +x "$fake/bin/$stub"
done
for script in postinst postrm; do
  sed -e "s#/opt/vantrel/share#$fake/share#g" -e "s#/etc/opt/vantrel#$fake/etc#g" \
    -e "s#/var/opt/vantrel#$fake/var#g" -e "s#/run/systemd/system#$fake/nosystemd#g" \
    "$scratch/control/$script" >"$fake/$script"
done
PATH="$fake/bin:$PATH" sh "$fake/postinst" configure
[ -f "$fake/etc/Client.ini" ] && [ -f "$fake/etc/DataSize.ini" ] || fail "postinst made no settings"
for folder in log data tmp Bullet sshbrev sshbrev_s; do
  [ -d "$fake/var/$folder" ] || fail "postinst made no /var/opt/vantrel/$folder"
done
grep -q '^adduser --system --group ' "$fake/calls" || fail "postinst made no system user"
grep -q "^chown vantrel:vantrel $fake/etc $fake/var$" "$fake/calls" && grep -q "^chown vantrel:vantrel $fake/etc/Client.ini$" "$fake/calls" || fail "postinst: owner"
# An upgrade keeps what the operator set, and adds a template that is new.
printf '[userinfo]\nOpertID=OPER01\n' >"$fake/etc/Client.ini"
printf 'new\n' >"$fake/share/localconfig/flagmodel.conf"
PATH="$fake/bin:$PATH" sh "$fake/postinst" configure
grep -q 'OpertID=OPER01' "$fake/etc/Client.ini" || fail "the upgrade overwrote Client.ini"
[ -f "$fake/etc/flagmodel.conf" ] || fail "the upgrade did not add the new template"
# A removal keeps settings and data; only a purge removes them.
PATH="$fake/bin:$PATH" sh "$fake/postrm" remove
[ -f "$fake/etc/Client.ini" ] && [ -d "$fake/var/log" ] || fail "remove took the settings"
PATH="$fake/bin:$PATH" sh "$fake/postrm" purge
[ ! -e "$fake/etc" ] && [ ! -e "$fake/var" ] || fail "purge left the settings or data"

echo "package checked: $(basename "$deb")"
