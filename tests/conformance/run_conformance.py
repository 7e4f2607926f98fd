#!/usr/bin/env python3
"""Drives vantrel-cli against the independently written reference gateway on 127.0.0.1:
login, permissions, list, download, upload, rename, delete and a wrong password, with every
transferred file compared byte for byte and the gateway's log free of protocol violations.

Usage: run_conformance.py --cli VANTREL_CLI --gateway REFGATEWAY_PY --root-template ROOT
                          --work DIR
Every step has a time-out; the gateways are killed on the way out, however the run ends."""

import argparse
import datetime
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

OPERATOR = "CONF0001"
PASSWORD = "pw0815"
USER_CODE = "UC123456"
BUSINESS_DATE = "20261207"
STEP_TIMEOUT = 90
GATEWAY_LIFETIME = 600
MIB = 1024 * 1024

MAILBOX_NAMES = {
    "FTP_A_QS": "A股信箱", "FTP_B_QS": "B股信箱", "FTP_SG": "上市公司信箱",
    "FTP_A_BULLET": "A股公告", "FTP_B_BULLET": "B股公告", "FTP_SG_BULLET": "上市公司公告",
    "FTP_TZ_BULLET": "投资人公告",
}


class Failed(Exception):
    pass


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for piece in iter(lambda: f.read(MIB), b""):
            digest.update(piece)
    return digest.hexdigest()


def write_random(path, size, seed):
    """Deterministic pseudo-random content, so a failure can be repeated."""
    out = bytearray()
    block = hashlib.sha256(f"{seed}".encode()).digest()
    while len(out) < size:
        block = hashlib.sha256(block).digest()
        out += block * 64  # 2 KiB per round keeps this quick for a few MiB
    with open(path, "wb") as f:
        f.write(bytes(out[:size]))


def set_ini(path, values):
    """values: {(section, key): value}; replaces keys inside their sections, keeps the rest."""
    lines = open(path, encoding="utf-8").read().splitlines()
    section = None
    out = []
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            section = stripped[1:-1].lower()
        elif "=" in line and section is not None:
            key = line.split("=", 1)[0].strip().lower()
            if (section, key) in values:
                line = f"{line.split('=', 1)[0]}={values.pop((section, key))}"
        out.append(line)
    if values:
        raise Failed(f"Client.ini lacks {sorted(values)}")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


class Gateway:
    """One reference gateway process on 127.0.0.1 with its own log."""

    def __init__(self, script, work, name, mailbox_root, extra, operator=OPERATOR,
                 password=PASSWORD):
        self.log_path = os.path.join(work, f"{name}.log")
        port_file = os.path.join(work, f"{name}.port")
        command = [sys.executable, script, "--mailbox-root", mailbox_root,
                   "--operator", operator, "--password", password, "--user-code", USER_CODE,
                   "--business-date", BUSINESS_DATE, "--port-file", port_file,
                   "--log", self.log_path, "--lifetime", str(GATEWAY_LIFETIME)] + extra
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                        stderr=open(self.log_path + ".err", "w"))
        deadline = time.monotonic() + 15
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise Failed(f"gateway {name} did not start: "
                             f"{open(self.log_path + '.err').read()}")
            time.sleep(0.05)
        self.port = int(open(port_file).read())

    def violations(self):
        with open(self.log_path, encoding="utf-8") as f:
            return [line.rstrip() for line in f if " VIOLATION " in line]

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)


class Client:
    """vantrel-cli on one installation root."""

    def __init__(self, cli, root, transcript, password=PASSWORD):
        self.cli, self.root, self.transcript, self.password = cli, root, transcript, password

    def start(self, *args, password=None):
        env = dict(os.environ, VANTREL_PASSWORD=password or self.password, LC_ALL="C.UTF-8")
        return subprocess.Popen([self.cli, "--root", self.root, *args], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL)

    def finish(self, process, args):
        try:
            out, err = process.communicate(timeout=STEP_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise Failed(f"vantrel-cli {' '.join(args)} took longer than {STEP_TIMEOUT} s")
        out, err = out.decode("utf-8", "replace"), err.decode("utf-8", "replace")
        self.transcript.write(f"$ vantrel-cli {' '.join(args)}\n{out}{err}"
                              f"[exit {process.returncode}]\n")
        self.transcript.flush()
        # In a sanitizer build a report counts even where the command was meant to fail.
        if "ERROR: AddressSanitizer" in err or "ERROR: LeakSanitizer" in err \
                or "runtime error:" in err:
            raise Failed(f"vantrel-cli {' '.join(args)}: sanitizer report:\n{err}")
        return process.returncode, out, err

    def run(self, *args, password=None):
        return self.finish(self.start(*args, password=password), args)

    def ok(self, *args):
        code, out, err = self.run(*args)
        if code != 0:
            raise Failed(f"vantrel-cli {' '.join(args)} failed ({code}): {out}{err}")
        return out


def make_root(template, path, port, operator=OPERATOR):
    os.makedirs(path)
    shutil.copytree(os.path.join(template, "localconfig"), os.path.join(path, "localconfig"))
    set_ini(os.path.join(path, "localconfig", "Client.ini"), {
        ("gatemultiple", "gatetype"): "0",
        ("gatemultiple", "gateip1"): "127.0.0.1",
        ("gatemultiple", "gateport1"): str(port),
        ("userinfo", "opertid"): operator,
    })
    return path


def make_mailboxes(root):
    """A multi-block file (blocks are 10 MiB), files whose answers fill exactly one cipher
    piece or spill one byte into a second, a Chinese name, an empty file, a sub folder and
    a file dated yesterday (left out of today's list)."""
    a = os.path.join(root, "FTP_A_QS")
    for mailbox in MAILBOX_NAMES:
        os.makedirs(os.path.join(root, mailbox))
    os.makedirs(os.path.join(a, "sub"))
    write_random(os.path.join(a, "clearing.dat"), 21 * MIB + 54321, "clearing")
    with open(os.path.join(a, "quotes.txt"), "wb") as f:
        f.write(b"600000|2026-12-08|10.52\r\n600004|2026-12-08|8.12\r\n")
    # A download answer is 2 + 126 + 14 + N1 bytes plus the data: these sizes make it
    # 16384 and 16385 bytes with 13-character names (N1 = 26).
    write_random(os.path.join(a, "edge16384.bin"), 16384 - 142 - 26, "e1")
    write_random(os.path.join(a, "edge16385.bin"), 16385 - 142 - 26, "e2")
    with open(os.path.join(a, "行情_20261208.txt"), "wb") as f:
        f.write("行情数据\r\n".encode("gbk"))
    open(os.path.join(a, "empty.txt"), "wb").close()
    with open(os.path.join(a, "sub", "summary.txt"), "wb") as f:
        f.write(b"settlement summary\r\n")
    # A list answer of several cipher pieces, and the longest name the wire can carry.
    many = os.path.join(a, "many")
    os.makedirs(many)
    for i in range(300):
        name = f"daily_report_{i:04d}_with_a_rather_long_name.txt"
        with open(os.path.join(many, name), "wb") as f:
            f.write(b"x" * i)
    with open(os.path.join(a, "L" * 123 + ".txt"), "wb") as f:
        f.write(b"longest name\r\n")
    old = os.path.join(a, "old_20261201.txt")
    with open(old, "wb") as f:
        f.write(b"a week old\r\n")
    week_ago = time.time() - 7 * 86400
    os.utime(old, (week_ago, week_ago))


LIST_LINE = re.compile(r"^(DIR)?\s*(\d+) (\d{8}) (\d\d:\d\d:\d\d) (.+)$")


def parse_listing(out):
    rows = {}
    for line in out.splitlines():
        match = LIST_LINE.match(line)
        if not match:
            raise Failed(f"unexpected list line {line!r}")
        is_dir, size, date, clock, name = match.groups()
        rows[name] = (bool(is_dir), int(size), date, clock)
    return rows


def expected_listing(directory, today_only=False):
    rows = {}
    today = datetime.date.today()
    for name in os.listdir(directory):
        path = os.path.join(directory, name)
        stamp = datetime.datetime.fromtimestamp(os.stat(path).st_mtime)
        is_dir = os.path.isdir(path)
        if today_only and (is_dir or stamp.date() != today):
            continue
        rows[name] = (is_dir, 0 if is_dir else os.path.getsize(path),
                      stamp.strftime("%Y%m%d"), stamp.strftime("%H:%M:%S"))
    return rows


def expect(condition, text):
    if not condition:
        raise Failed(text)


def check_session_and_listing(client, mailboxes, work):
    password_file = os.path.join(work, "password")
    with open(password_file, "w") as f:
        f.write(PASSWORD + "\n")
    out = client.ok("login", "--password-file", password_file)
    expect(f"用户代码: {USER_CODE}" in out, f"login does not show the user code: {out}")
    expect(f"业务日期: {BUSINESS_DATE}" in out, f"login does not show the business date: {out}")
    expect(re.search(r"网关时间: \d{6}\b", out), f"login does not show the gateway time: {out}")

    out = client.ok("permissions")
    for code, name in MAILBOX_NAMES.items():
        expect(f"{name}({code}): 可用" in out, f"mailbox {code} not open with '**': {out}")

    a = os.path.join(mailboxes, "FTP_A_QS")
    for args, directory, today_only in ((("ls", "FTP_A_QS"), a, False),
                                        (("ls", "FTP_A_QS", "sub"), os.path.join(a, "sub"), False),
                                        (("ls", "FTP_A_QS", "many"), os.path.join(a, "many"),
                                         False),
                                        (("ls", "FTP_A_QS", "--today"), a, True),
                                        (("ls", "FTP_SG"), os.path.join(mailboxes, "FTP_SG"),
                                         False)):
        got = parse_listing(client.ok(*args))
        want = expected_listing(directory, today_only)
        expect(got == want, f"{' '.join(args)}: listed {got}, mailbox holds {want}")


def check_downloads(client, mailboxes, work):
    received = os.path.join(work, "received")
    os.makedirs(received)
    a = os.path.join(mailboxes, "FTP_A_QS")
    for remote, local_name in (("clearing.dat", "clearing.dat"), ("quotes.txt", "quotes.txt"),
                               ("edge16384.bin", "edge16384.bin"),
                               ("edge16385.bin", "edge16385.bin"),
                               ("行情_20261208.txt", "行情_20261208.txt"),
                               ("empty.txt", "empty.txt"),
                               ("sub\\summary.txt", "summary.txt"),
                               ("L" * 123 + ".txt", "L" * 123 + ".txt")):
        client.ok("get", "FTP_A_QS", remote, received)
        source = os.path.join(a, *remote.split("\\"))
        copy = os.path.join(received, local_name)
        expect(os.path.isfile(copy), f"get {remote}: nothing arrived")
        expect(file_digest(copy) == file_digest(source), f"get {remote}: content differs")


def check_uploads(client, mailboxes, work):
    outgoing = os.path.join(work, "outgoing")
    os.makedirs(outgoing)
    b = os.path.join(mailboxes, "FTP_B_QS")
    cases = (("report.bin", 1234567, None, "report.bin"),
             # An upload request is 2 + 126 + 14 + N2 bytes plus the data; N2 = 26 here.
             ("up_16384.data", 16384 - 142 - 26, None, "up_16384.data"),
             ("up_16385.data", 16385 - 142 - 26, None, "up_16385.data"),
             ("blank.txt", 0, None, "blank.txt"),
             ("申报_20261208.txt", 777, None, "申报_20261208.txt"),
             ("nested.bin", 40000, "sub\\nested.bin", os.path.join("sub", "nested.bin")))
    os.makedirs(os.path.join(b, "sub"))
    for local_name, size, remote, stored in cases:
        local = os.path.join(outgoing, local_name)
        write_random(local, size, local_name)
        client.ok("put", "FTP_B_QS", local, *([remote] if remote else []))
        target = os.path.join(b, stored)
        expect(os.path.isfile(target), f"put {local_name}: the gateway stored nothing")
        expect(file_digest(target) == file_digest(local),
               f"put {local_name}: stored content differs")


def check_parallel_transfers(client, mailboxes, work):
    """A download and an upload at the same time, each on its own connection."""
    received = os.path.join(work, "parallel")
    os.makedirs(received)
    local = os.path.join(work, "parallel-upload.bin")
    write_random(local, 5 * MIB + 3, "parallel")
    get_args = ("get", "FTP_A_QS", "clearing.dat", received)
    put_args = ("put", "FTP_SG", local)
    getting, putting = client.start(*get_args), client.start(*put_args)
    for process, args in ((getting, get_args), (putting, put_args)):
        code, out, err = client.finish(process, args)
        expect(code == 0, f"{' '.join(args)} failed ({code}): {out}{err}")
    expect(file_digest(os.path.join(received, "clearing.dat"))
           == file_digest(os.path.join(mailboxes, "FTP_A_QS", "clearing.dat")),
           "parallel get: content differs")
    expect(file_digest(os.path.join(mailboxes, "FTP_SG", "parallel-upload.bin"))
           == file_digest(local), "parallel put: stored content differs")


def check_rename_and_delete(client, mailboxes):
    b = os.path.join(mailboxes, "FTP_B_QS")
    before = file_digest(os.path.join(b, "report.bin"))
    client.ok("mv", "FTP_B_QS", "report.bin", "report_renamed.bin")
    expect(not os.path.exists(os.path.join(b, "report.bin")), "mv: the old name is still there")
    expect(file_digest(os.path.join(b, "report_renamed.bin")) == before,
           "mv: the new name does not hold the file")
    client.ok("mv", "FTP_B_QS", "申报_20261208.txt", "申报_已改名.txt")
    expect(os.path.isfile(os.path.join(b, "申报_已改名.txt")), "mv with Chinese names failed")

    client.ok("rm", "FTP_B_QS", "report_renamed.bin")
    expect(not os.path.exists(os.path.join(b, "report_renamed.bin")), "rm: the file is still there")
    # The gateway's refusal comes back as return code, message and route.
    code, out, err = client.run("rm", "FTP_B_QS", "report_renamed.bin")
    expect(code != 0 and "0015-文件不存在[VRELKA-FTP_B_QS-01]" in out + err,
           f"rm of a missing file: ({code}) {out}{err}")


def check_wrong_password(client):
    code, out, err = client.run("login", password="wrong!!")
    expect(code != 0, f"a wrong password logged in: {out}{err}")
    expect("网关主动关闭连接（用户名或密码不正确）" in out + err,
           f"a wrong password gives another text: {out}{err}")


def check_restricted_operator(client, mailboxes):
    """Only list and download on FTP_A_QS; a FTP_B_QS entry of a kind that grants nothing.
    The operator code is short (blank-padded on the wire) and list answers begin with a
    version record, which is no file."""
    out = client.ok("permissions")
    expect("A股信箱(FTP_A_QS): 可用" in out, f"FTP_A_QS should be open: {out}")
    for code, name in MAILBOX_NAMES.items():
        if code != "FTP_A_QS":
            expect(f"{name}({code}): 可用" not in out, f"{code} should be closed: {out}")
    a = os.path.join(mailboxes, "FTP_A_QS")
    got = parse_listing(client.ok("ls", "FTP_A_QS"))
    expect(got == expected_listing(a), f"ls FTP_A_QS behind a version record: {got}")
    refusals = ((("ls", "FTP_B_QS"), "该操作员无此信箱获取文件列表权限！"),
                (("put", "FTP_A_QS", os.path.join(mailboxes, "FTP_A_QS", "quotes.txt"), "x.txt"),
                 "该操作员无此信箱文件上传权限！"),
                (("rm", "FTP_A_QS", "quotes.txt"), "该操作员无此信箱文件删除权限！"),
                (("mv", "FTP_A_QS", "quotes.txt", "y.txt"), "该操作员无此信箱文件重命名权限！"))
    for args, text in refusals:
        code, out, err = client.run(*args)
        expect(code != 0 and text in out + err,
               f"{' '.join(args)}: want refusal {text}, got ({code}) {out}{err}")
    expect(os.path.isfile(os.path.join(mailboxes, "FTP_A_QS", "quotes.txt")),
           "a refused operation changed the mailbox")


def wait_for_log_lines(gateway, marker, count, seconds):
    """Bounded wait until the gateway has logged count lines holding marker."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with open(gateway.log_path, encoding="utf-8") as f:
            if sum(marker in line for line in f) >= count:
                return True
        time.sleep(0.02)
    return False


def check_resume_after_kill(client, gateway, mailboxes, work):
    """A get and a put killed part-way, then run again: the second run resumes and the
    file is whole (the gateway answers slowly so that the kill lands mid-transfer)."""
    received = os.path.join(work, "resumed")
    os.makedirs(received)
    local = os.path.join(work, "resumed-upload.bin")
    write_random(local, 6 * MIB + 5, "resume")
    for args, marker, source, copy in (
            (("get", "FTP_A_QS", "clearing.dat", received), "download 'clearing.dat' @",
             os.path.join(mailboxes, "FTP_A_QS", "clearing.dat"),
             os.path.join(received, "clearing.dat")),
            (("put", "FTP_SG", local, "resumed.bin"), "upload 'resumed.bin' @", local,
             os.path.join(mailboxes, "FTP_SG", "resumed.bin"))):
        process = client.start(*args)
        landed = wait_for_log_lines(gateway, marker, 8, STEP_TIMEOUT)
        process.kill()
        client.finish(process, args)
        expect(landed, f"{' '.join(args)}: no transfer seen before the kill")
        client.ok(*args)
        expect(file_digest(copy) == file_digest(source),
               f"{' '.join(args)} resumed: content differs")
        with open(gateway.log_path, encoding="utf-8") as f:
            starts = sum(f"{marker}0 " in line for line in f)
        expect(starts == 1, f"{' '.join(args)}: the second run started again from 0")


FAULTS = ("E999:04:3", "0014:04:9", "DROP:04:15", "E998:04:20",
          "E999:03:2", "0014:03:8", "DROP:03:11", "0015:03:14")


def check_answers_with_error_codes(client, gateway, mailboxes, work):
    """Error answers and a dropped connection in the middle of windowed transfers (others
    still in flight, so their answers come back for packets the client has already reset):
    the files must still arrive whole, if need be by running the command again, which
    resumes."""
    received = os.path.join(work, "after-faults")
    os.makedirs(received)
    local = os.path.join(work, "fault-upload.bin")
    write_random(local, 5 * MIB + 777, "faults")
    for args, source, copy in (
            (("get", "FTP_A_QS", "clearing.dat", received),
             os.path.join(mailboxes, "FTP_A_QS", "clearing.dat"),
             os.path.join(received, "clearing.dat")),
            (("put", "FTP_SG", local, "fault-upload.bin"), local,
             os.path.join(mailboxes, "FTP_SG", "fault-upload.bin"))):
        for _ in range(3):
            code, _, _ = client.run(*args)
            if code == 0:
                break
        expect(code == 0, f"{' '.join(args)} did not succeed in 3 runs")
        expect(file_digest(copy) == file_digest(source), f"{' '.join(args)}: content differs")
    with open(gateway.log_path, encoding="utf-8") as f:
        delivered = sum("injected fault" in line for line in f)
    expect(delivered == len(FAULTS), f"{delivered} of {len(FAULTS)} error answers were asked for; "
                                     "the transfers were shorter than planned")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--gateway", required=True)
    parser.add_argument("--root-template", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    mailboxes = os.path.join(args.work, "mailboxes")
    make_mailboxes(mailboxes)
    transcript = open(os.path.join(args.work, "transcript.txt"), "w", encoding="utf-8")
    gateways = []
    step = "start"
    try:
        full = Gateway(args.gateway, args.work, "gateway", mailboxes, [])
        gateways.append(full)
        client = Client(args.cli, make_root(args.root_template,
                                            os.path.join(args.work, "root"), full.port),
                        transcript)
        for step, check in (("login, permissions, ls",
                             lambda: check_session_and_listing(client, mailboxes, args.work)),
                            ("get", lambda: check_downloads(client, mailboxes, args.work)),
                            ("put", lambda: check_uploads(client, mailboxes, args.work)),
                            ("get and put at once",
                             lambda: check_parallel_transfers(client, mailboxes, args.work)),
                            ("mv, rm", lambda: check_rename_and_delete(client, mailboxes)),
                            ("wrong password", lambda: check_wrong_password(client))):
            check()
            print(f"ok: {step}", flush=True)

        step = "restricted operator"
        restricted = Gateway(args.gateway, args.work, "restricted", mailboxes,
                             ["--grant", "VRELKA:FTP_A_QS:00", "--grant", "VRELKA:FTP_A_QS:04",
                              "--grant", "VRELKA:FTP_B_QS:**:X", "--list-version-entry"],
                             operator="OP7", password="secret12")
        gateways.append(restricted)
        check_restricted_operator(Client(args.cli, make_root(
            args.root_template, os.path.join(args.work, "root-restricted"), restricted.port,
            operator="OP7"), transcript, password="secret12"), mailboxes)
        print(f"ok: {step}", flush=True)

        step = "login refused by the gateway"
        refusing = Gateway(args.gateway, args.work, "refusing", mailboxes,
                           ["--refuse-login", "操作员已被锁定"])
        gateways.append(refusing)
        code, out, err = Client(args.cli, make_root(
            args.root_template, os.path.join(args.work, "root-refusing"), refusing.port),
            transcript).run("login")
        expect(code != 0 and "操作员已被锁定" in out + err,
               f"a refused login: want the gateway's reason, got ({code}) {out}{err}")
        print(f"ok: {step}", flush=True)

        step = "error answers during transfers"
        faulty = Gateway(args.gateway, args.work, "faults", mailboxes,
                         ["--login-status", "s"] + [a for f in FAULTS for a in ("--fault", f)])
        gateways.append(faulty)
        check_answers_with_error_codes(Client(args.cli, make_root(
            args.root_template, os.path.join(args.work, "root-faults"), faulty.port),
            transcript), faulty, mailboxes, args.work)
        print(f"ok: {step} (and a lower-case login status)", flush=True)

        step = "resume after a kill"
        slow = Gateway(args.gateway, args.work, "slow", mailboxes, ["--answer-delay", "0.05"])
        gateways.append(slow)
        check_resume_after_kill(Client(args.cli, make_root(
            args.root_template, os.path.join(args.work, "root-slow"), slow.port), transcript),
            slow, mailboxes, args.work)
        print(f"ok: {step}", flush=True)

        step = "gateway logs"
        violations = [v for g in gateways for v in g.violations()]
        expect(not violations, "the gateway saw messages that do not match the tables:\n"
               + "\n".join(violations))
        print("ok: no protocol violations in the gateway logs")
        return 0
    except Failed as failure:
        print(f"FAILED at {step}: {failure}", file=sys.stderr)
        print(f"(transcript and gateway logs in {args.work})", file=sys.stderr)
        return 1
    finally:
        for gateway in gateways:
            gateway.stop()
        transcript.close()


if __name__ == "__main__":
    sys.exit(main())
