#!/usr/bin/env python3
"""Black-box tests of UpdateModuleSetup.exe under Wine.

Each case starts the module through tessel-robot, whose transcript carries the module's full 32-bit
exit code (Wine's own exit status keeps only 8 bits). The helper exitwith.exe exits with the code it
is given and records its command line, argv and current directory in the file named by
TESSEL_EXITWITH_LOG.
"""
import argparse
import json
import os
import shutil
import sys

# The Wine session helper lives with the robot's tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "robot", "tests"))
from wine_session import WineSession, winpath  # noqa: E402

BAD_LINE = 0x20000001
CANNOT_START = 0x20000002


class Harness:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.workdir)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.module = winpath(args.module)
        self.exitwith = winpath(args.exitwith)
        self.log = os.path.join(self.work, "exitwith.jsonl")
        self.failures = []
        self.session = WineSession(args.wine_run, self.work)

    def robot(self, launch_line, cwd=None, steps=(), env_extra=None):
        cmd = []
        if not steps:
            cmd.append("run")
        if cwd:
            cmd += ["--cwd", winpath(cwd)]
        for step in steps:
            cmd += ["--step", step]
        cmd += ["--args-raw", launch_line, "--", self.module]
        env = {"TESSEL_EXITWITH_LOG": winpath(self.log)}
        env.update(env_extra or {})
        if os.path.exists(self.log):
            os.remove(self.log)
        proc = self.session.run(self.args.robot, cmd, env_extra=env)
        lines = [json.loads(l) for l in proc.stdout.decode("utf-8").splitlines() if l.strip()]
        if proc.returncode != 0 or not lines or lines[-1].get("event") != "exit":
            raise AssertionError("robot failed (%d): %s\n%s" % (proc.returncode, proc.stdout.decode(),
                                                                 proc.stderr.decode(errors="replace")))
        return lines

    def logged(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(l) for l in f if l.strip()]

    def check(self, name, condition, detail=""):
        print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": " + str(detail)))
        if not condition:
            self.failures.append(name)


def test_exit_codes_and_arguments(h):
    # Exit codes come back whole; the arguments reach the program exactly as written, bars included.
    cases = [
        ("Yes|%s|3010" % h.exitwith, 3010, ["3010"]),
        ("Yes|%s|0xC0000005" % h.exitwith, 0xC0000005, ["0xC0000005"]),
        ('Yes|%s|1603 "a b" |x| c\\ "q\\"t"' % h.exitwith, 1603, ["1603", "a b", "|x|", "c\\", 'q"t']),
        ("Yes|%s" % h.exitwith, 0, []),
    ]
    for line, code, argv in cases:
        out = h.robot(line)
        h.check("exit code of %r" % line, out[-1]["code"] == code, out[-1])
        log = h.logged()
        h.check("program ran once for %r" % line, len(log) == 1, log)
        if log:
            args_part = line.split("|", 2)[2] if line.count("|") >= 2 else None
            want_cmd = h.exitwith + (" " + args_part if args_part else "")
            h.check("command line of %r" % line, log[0]["cmdline"] == want_cmd, log[0]["cmdline"])
            h.check("argv of %r" % line, log[0]["argv"][1:] == argv, log[0]["argv"])


def test_program_path_quoting(h):
    # A program path with spaces is quoted for CreateProcessW; one given in quotes is left alone.
    spaced_dir = os.path.join(h.work, "dir with space")
    os.makedirs(spaced_dir, exist_ok=True)
    spaced = os.path.join(spaced_dir, "exit with.exe")
    shutil.copy(h.args.exitwith, spaced)
    for program in (winpath(spaced), '"%s"' % winpath(spaced)):
        out = h.robot("Yes|%s|77 x" % program)
        log = h.logged()
        h.check("exit code via %s" % program, out[-1]["code"] == 77, out[-1])
        h.check("argv[0] via %s" % program, log and log[0]["argv"] == [winpath(spaced), "77", "x"], log)
        h.check("command line via %s" % program,
                log and log[0]["cmdline"] == '"%s" 77 x' % winpath(spaced), log)


def test_current_directory(h):
    cwd = os.path.join(h.work, "cwd here")
    os.makedirs(cwd, exist_ok=True)
    out = h.robot("Yes|%s|5" % h.exitwith, cwd=cwd)
    log = h.logged()
    h.check("exit code with --cwd", out[-1]["code"] == 5, out[-1])
    h.check("program runs in the module's current directory",
            log and log[0]["cwd"].rstrip("\\").lower() == winpath(cwd).lower(), log)


def test_batch_through_cmd(h):
    # Kind "No": the host (cmd.exe) runs the batch file named in the arguments.
    bat_dir = os.path.join(h.work, "batch dir")
    os.makedirs(bat_dir, exist_ok=True)
    marker = os.path.join(bat_dir, "ran.txt")
    with open(os.path.join(bat_dir, "x.bat"), "w", newline="\r\n") as f:
        f.write('@echo off\necho ran %1 in %CD%> "%~dp0ran.txt"\nexit /b 42\n')
    cwd = os.path.join(h.work, "cwd here")
    os.makedirs(cwd, exist_ok=True)
    # The form the stub builds for a batch installer: /c, the quoted path, then the arguments.
    line = 'No|C:\\windows\\system32\\cmd.exe|/c "%s" first' % winpath(os.path.join(bat_dir, "x.bat"))
    out = h.robot(line, cwd=cwd)
    h.check("batch exit code", out[-1]["code"] == 42, out[-1])
    text = open(marker, encoding="latin-1").read().strip() if os.path.exists(marker) else None
    h.check("batch ran with its argument in the current directory",
            text is not None and text.lower() == ("ran first in " + winpath(cwd)).lower(), text)


def test_malformed_lines(h):
    lines = ["", "Yes", "No", "yes|%s" % h.exitwith, "YES|%s" % h.exitwith, "Maybe|%s" % h.exitwith,
             "Yes |%s" % h.exitwith, "Yes|", "No||/c x", "Yes|  |3"]
    for line in lines:
        out = h.robot(line)
        h.check("malformed %r gives 0x20000001" % line, out[-1]["code"] == BAD_LINE, hex(out[-1]["code"] or 0))
        h.check("malformed %r starts nothing" % line, h.logged() == [], h.logged())


def test_cannot_start(h):
    missing = [
        "Yes|%s|1" % winpath(os.path.join(h.work, "missing dir", "setup.exe")),
        "No|%s|/x" % winpath(os.path.join(h.work, "nothing.exe")),
        'Yes|"%s"' % winpath(os.path.join(h.work, "no such", "x.exe")),
    ]
    for line in missing:
        out = h.robot(line)
        h.check("missing program %r gives 0x20000002" % line, out[-1]["code"] == CANNOT_START,
                hex(out[-1]["code"] or 0))


def test_no_window(h):
    # The module shows nothing while the program runs (the helper has no window either).
    out = h.robot("Yes|%s|9" % h.exitwith, steps=["watch --interval 20 --duration 4000"],
                  env_extra={"TESSEL_EXITWITH_SLEEP_MS": "1500"})
    summary = [l for l in out if l["event"] == "watch"]
    module_pid = out[0]["pid"]
    mine = [l for l in out if l["event"] == "watch-change" and l.get("window", {}).get("pid") == module_pid]
    h.check("watch ran while the program ran", summary and summary[0]["samples"] > 10, summary)
    h.check("the module owns no window", mine == [], mine)
    h.check("no window covered a pixel", summary and not summary[0]["ever_covered_pixels"], summary)
    h.check("exit code after the wait", out[-1]["code"] == 9, out[-1])


def main():
    parser = argparse.ArgumentParser()
    for name in ("--wine-run", "--robot", "--module", "--exitwith", "--workdir"):
        parser.add_argument(name, required=True)
    h = Harness(parser.parse_args())
    try:
        for test in (test_exit_codes_and_arguments, test_program_path_quoting, test_current_directory,
                     test_batch_through_cmd, test_malformed_lines, test_cannot_start, test_no_window):
            try:
                test(h)
            except Exception as e:  # one broken case must not hide the others
                h.check(test.__name__, False, e)
    finally:
        h.session.close()
    print("%d failure(s)" % len(h.failures))
    return 1 if h.failures else 0


if __name__ == "__main__":
    sys.exit(main())
