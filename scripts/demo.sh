#!/usr/bin/env bash
# The client's main job on the embedded default, called by setup.sh run with the build
# directory as $1 (and, optionally, a scratch folder as $2, build/demo by default): start the
# test gateway on 127.0.0.1 with demo mailboxes, lay out a scratch copy of the runnable root
# (programs hard-linked, settings copied) and point its Client.ini at the gateway, then open
# the Qt client when there is a display. The build's own root is never written, so the demo
# runs any number of times in a row and the build's task tables stay as installed. Without a display
# the same scenario runs headless with vantrel-cli: start-up with login, list, download,
# upload, scheduled download, upload and auto-sync tasks, and the real-time report service.
# The gateway (and a headless client) are stopped when this script ends, however it ends.
set -euo pipefail

build=${1:?usage: demo.sh BUILD_DIR [SCRATCH_DIR]}
work=${2:-$build/demo}
root="$work/root"
bin="$root/bin"
operator=DEMO0001
password=demo1234

rm -rf "$work"
mkdir -p "$work/mailboxes" "$work/received" "$root"
# Hard links keep the copy cheap and let the programs find this root from their own path.
cp -al "$build/root/bin" "$bin" 2>/dev/null || cp -a "$build/root/bin" "$bin"
cp -r "$build/root/localconfig" "$root/localconfig"

# Demo mailboxes: a few files in each mailbox, a sub folder, a multi-block file and a bulletin.
make_mailboxes() {
  local m="$work/mailboxes"
  mkdir -p "$m/FTP_A_QS/Bullet" "$m/FTP_A_QS/reports" "$m/FTP_B_QS" "$m/FTP_SG" \
           "$m/FTP_A_BULLET" "$m/FTP_B_BULLET" "$m/FTP_SG_BULLET"
  printf '600000|2026-12-08|10.52|10.61|10.47|10.58\r\n600004|2026-12-08|8.12|8.20|8.05|8.17\r\n' \
    > "$m/FTP_A_QS/quotes_20261208.txt"
  printf 'settlement summary\r\n' > "$m/FTP_A_QS/reports/summary.txt"
  head -c $((3 * 1024 * 1024 + 12345)) /dev/urandom > "$m/FTP_A_QS/clearing_20261208.dat"
  printf '900901|2026-12-08|0.612\r\n' > "$m/FTP_B_QS/quotes_b_20261208.txt"
  printf 'disclosure 2026-12-08\r\n' > "$m/FTP_SG/disclosure_20261208.txt"
  printf 'Trading hours are unchanged on 2026-12-08.\r\n' > "$m/FTP_A_QS/Bullet/notice_20261208.txt"
  cp "$m/FTP_A_QS/Bullet/notice_20261208.txt" "$m/FTP_A_BULLET/"
  # The business day's files carry its date; an earlier day lies in its own folder, as the
  # history lists of the auto-sync tasks find it.
  touch -d '2026-12-08 10:00:00' "$m"/FTP_A_QS/*_20261208.*
  mkdir -p "$m/FTP_A_QS/20261207"
  printf '600000|2026-12-07|10.40|10.55|10.38|10.52\r\n' > "$m/FTP_A_QS/20261207/quotes_20261207.txt"
  touch -d '2026-12-07 15:30:00' "$m/FTP_A_QS/20261207/quotes_20261207.txt"
}

# set_ini FILE SECTION KEY VALUE: replace KEY's value inside [SECTION] (keys are ASCII, the
# file's other bytes are left as they are).
set_ini() {
  local file=$1 section=$2 key=$3 value=$4
  LC_ALL=C awk -v s="[$section]" -v k="$key" -v v="$value" '
    /^\[/ { in_section = (tolower($0) == tolower(s)) }
    in_section && tolower(substr($0, 1, length(k) + 1)) == tolower(k "=") { print k "=" v; next }
    { print }' "$file" > "$file.new"
  mv "$file.new" "$file"
}

make_mailboxes

# The gateway publishes a real-time report every second into today's FTP_SSHB folder.
"$bin/vantrel-testgateway" --mailbox-root "$work/mailboxes" --ports-file "$work/ports" \
  --realtime-drip 1 > "$work/gateway.log" 2>&1 &
gateway_pid=$!
serve_pid=
stop_all() {
  [ -n "$serve_pid" ] && { kill "$serve_pid" 2>/dev/null || true; wait "$serve_pid" 2>/dev/null || true; }
  kill "$gateway_pid" 2>/dev/null || true
  wait "$gateway_pid" 2>/dev/null || true
}
trap stop_all EXIT

for _ in $(seq 100); do
  [ -s "$work/ports" ] && break
  kill -0 "$gateway_pid" 2>/dev/null || { cat "$work/gateway.log" >&2; exit 1; }
  sleep 0.1
done
port=$(sed -n 's/^gateway=//p' "$work/ports")
update_port=$(sed -n 's/^update=//p' "$work/ports")
[ -n "$port" ] && [ -n "$update_port" ] ||
  { echo "demo: the test gateway did not report its ports" >&2; exit 1; }

ini="$root/localconfig/Client.ini"
set_ini "$ini" GateMultiple GateType 0
set_ini "$ini" GateMultiple GateIP1 127.0.0.1
set_ini "$ini" GateMultiple GatePort1 "$port"
# The same test gateway is the update server: the checks before the login reach it there.
set_ini "$ini" GateMultiple FtpPort1 "$update_port"
# It announces the version this build is (1.30.00), which the shipped settings record as
# installed, so no update is offered and none is waiting.
set_ini "$ini" userinfo OpertID "$operator"
# The real-time service starts switched off; the headless part switches it on.
set_ini "$ini" sshbcfg runstate 0

echo "Test gateway on 127.0.0.1:$port, demo mailboxes in $work/mailboxes"
echo "Operator: $operator   Password: $password"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/Vantrel" ]; then
  "$bin/Vantrel"
  exit $?
fi

echo "No display: running the same scenario headless with vantrel-cli."
export VANTREL_PASSWORD=$password
cli() { echo "\$ vantrel-cli $*"; "$bin/vantrel-cli" --root "$root" "$@"; }

cli run
cli ls FTP_A_QS
cli ls FTP_A_QS Bullet
cli get FTP_A_QS clearing_20261208.dat "$work/received"
cmp "$work/mailboxes/FTP_A_QS/clearing_20261208.dat" "$work/received/clearing_20261208.dat"
echo "downloaded byte-exact: $work/received/clearing_20261208.dat"

printf 'order book snapshot\r\n' > "$work/outgoing_20261208.txt"
cli put FTP_SG "$work/outgoing_20261208.txt"
cmp "$work/outgoing_20261208.txt" "$work/mailboxes/FTP_SG/outgoing_20261208.txt"
cli ls FTP_SG
echo "uploaded byte-exact: $work/mailboxes/FTP_SG/outgoing_20261208.txt"

# A scheduled download task of the demo mailbox, run now through the scheduler: listed,
# fetched in blocks by the transfer workers, verified, delivered, recorded.
mkdir -p "$work/scheduled"
echo "\$ vantrel-cli tasks add download --desc 演示下载任务 --mailbox FTP_A_QS --file '*.*' ..."
task=$("$bin/vantrel-cli" --root "$root" tasks add download --desc 演示下载任务 --mailbox FTP_A_QS \
         --file '*.*' --dir "$work/scheduled" --begin 00:00 --end 23:59 --days daily --yes)
cli tasks list
cli tasks run "$task"
for f in quotes_20261208.txt clearing_20261208.dat; do
  cmp "$work/mailboxes/FTP_A_QS/$f" "$work/scheduled/$f"
done
echo "scheduled run delivered byte-exact into $work/scheduled"

# A scheduled upload task: a file of the outbox is sent once its ready marker is beside
# it, confirmed by the gateway's MD5 and moved into the sent directory.
mkdir -p "$work/outbox" "$work/outbox-sent"
printf 'closing prices\r\n' > "$work/outbox/report_20261208.txt"
cp "$work/outbox/report_20261208.txt" "$work/report.copy"
touch "$work/outbox/report_20261208.txt.rdy"
echo "\$ vantrel-cli tasks add upload --desc 演示上传任务 --mailbox FTP_SG --dir $work/outbox ..."
upload=$("$bin/vantrel-cli" --root "$root" tasks add upload --desc 演示上传任务 --mailbox FTP_SG \
           --dir "$work/outbox" --sent-dir "$work/outbox-sent" --begin 00:00 --end 23:59 --days daily --yes)
cli tasks run "$upload"
cmp "$work/report.copy" "$work/mailboxes/FTP_SG/report_20261208.txt"
ls "$work/outbox-sent"
echo "scheduled upload sent byte-exact and moved into $work/outbox-sent"

# An auto-sync task of the demo mailbox: the business day's list by its version, each file
# into the subdirectory of its date.
mkdir -p "$work/synced"
echo "\$ vantrel-cli tasks add autosync --desc 演示自动同步任务 --mailbox FTP_A_QS --dir $work/synced ..."
sync=$("$bin/vantrel-cli" --root "$root" tasks add autosync --desc 演示自动同步任务 --mailbox FTP_A_QS \
         --dir "$work/synced" --dated yes --yes)
cli tasks run "$sync"
for f in quotes_20261208.txt clearing_20261208.dat; do
  cmp "$work/mailboxes/FTP_A_QS/$f" "$work/synced/20261208/$f"
done
echo "auto-sync delivered the business day byte-exact into $work/synced/20261208"

# The real-time report service: switched on, the headless client fetches the reports the
# gateway has published so far, each complete one with its ".flag", and later ones as they come.
cli realtime on
"$bin/vantrel-cli" --root "$root" serve > "$work/serve.log" 2>&1 &
serve_pid=$!
for _ in $(seq 300); do
  [ "$(ls "$root/sshbrev" 2>/dev/null | grep -c '\.flag$')" -ge 3 ] && break
  kill -0 "$serve_pid" 2>/dev/null || { cat "$work/serve.log" >&2; exit 1; }
  sleep 0.1
done
kill -TERM "$serve_pid"
wait "$serve_pid" || true
serve_pid=
cli realtime off
ls "$root/sshbrev"
reports=$(ls "$root/sshbrev" | grep -c '\.flag$' || true)
[ "$reports" -ge 3 ] || { echo "demo: no real-time reports arrived" >&2; cat "$work/serve.log" >&2; exit 1; }
echo "real-time reports received: $reports into $root/sshbrev"

today=$(date +%Y%m%d)
echo "--- $root/log/SssjSysLog$today.log"
iconv -f GBK -t UTF-8 "$root/log/SssjSysLog$today.log" | tail -n 6
log="$root/log/SysLog$today.log"
echo "--- $log"
iconv -f GBK -t UTF-8 "$log" | tail -n 20
