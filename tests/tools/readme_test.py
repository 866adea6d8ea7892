#!/usr/bin/env python3
"""Checks README.md's claims against the programs (the ctest Readme.Examples).

    readme_test.py --source DIR --parlex2 PATH --sim PATH

1. The lists the README keeps of the repository: the fuzz targets (and their
   count and the long run's minutes), the folders of "Layout", and the
   ThreadSanitizer filters scripts/test.sh runs.
2. Every fenced block whose info string is "sh readme-test", run line by line
   as a user would type it: "CMD &" starts CMD in the background (for
   parlex2-sim: waits for its "ready"), "kill %N ..." stops those jobs and
   expects a clean end, "# exit N" is the status expected (0 otherwise),
   "# prints: TEXT" a text expected in the output. "sudo apt install" lines
   are skipped and the .deb's /usr/share/doc/parlex2/ is read from the source
   tree, where the same files are.
3. The exit-status table of parlex2: for every cell that gives a status, a
   command line that ends with it (CELLS below); a cell the table leaves "—"
   must have none, and a cell that gives a status must have one (or be in
   NOT_REACHED with the reason).

Checks 2 and 3 run on loopback in a network namespace of their own (unshare
-rn), so the README's 127.0.0.1 and the broadcast of `find` stay inside it
and nothing else on the machine is touched. Without one (no user namespaces,
no root) they are skipped with exit status 77 after check 1 passed.
"""
import argparse
import ctypes
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
failures = []


def fail(message):
    failures.append(message)
    print("FAILED: " + message, flush=True)


def section(text, heading):
    """The text of the section that begins with `heading` (up to the next
    heading of the same or a higher level)."""
    lines = text.split("\n")
    level = len(heading) - len(heading.lstrip("#"))
    for i, line in enumerate(lines):
        if line.strip() == heading:
            out = []
            for later in lines[i + 1:]:
                m = re.match(r"^(#+) ", later)
                if m and len(m.group(1)) <= level:
                    break
                out.append(later)
            return "\n".join(out)
    fail("README has no section " + heading)
    return ""


def table_rows(text):
    """The rows of the first Markdown table in `text`, as lists of cells."""
    rows = []
    for line in text.split("\n"):
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if not all(re.fullmatch(r":?-+:?", c) for c in cells):
                rows.append(cells)
        elif rows:
            break
    return rows


# ---------------------------------------------------------------------------
# 1. The repository's lists

def tracked_folders(source):
    try:
        names = subprocess.run(["git", "-C", source, "ls-files"], check=True,
                               capture_output=True, text=True).stdout.split("\n")
    except (OSError, subprocess.CalledProcessError):
        names = []
        for root, dirs, files in os.walk(source):
            dirs[:] = [d for d in dirs if d not in ("build", ".git")]
            names += [os.path.relpath(os.path.join(root, f), source) for f in files]
    folders = set()
    for name in names:
        parts = name.split("/")[:-1]
        for depth in (1, 2):
            if len(parts) >= depth:
                folders.add("/".join(parts[:depth]))
    return folders


def check_lists(readme, source):
    # Fuzz targets: every fuzz/fuzz_*.cpp named, no other, and the count.
    fuzzing = section(readme, "### Fuzzing")
    targets = {f[:-4] for f in os.listdir(os.path.join(source, "fuzz"))
               if f.startswith("fuzz_") and f.endswith(".cpp") and f != "fuzz_check.cpp"}
    named = set(re.findall(r"`(fuzz_[a-z0-9_]+)`", fuzzing))
    if named != targets:
        fail("Fuzzing names %s; fuzz/ holds %s" % (sorted(named - targets) or "no others",
                                                   sorted(targets - named) or "no others"))
    counts = {int(n) for n in re.findall(r"(\d+) (?:libFuzzer )?targets", fuzzing)}
    if counts != {len(targets)}:
        fail("Fuzzing counts %s targets; fuzz/ holds %d" % (sorted(counts), len(targets)))
    long_run = re.search(r"(\d+) minutes a target, \d+ targets, (\d+) minutes on two cores", fuzzing)
    if not long_run or int(long_run.group(2)) != int(long_run.group(1)) * math.ceil(len(targets) / 2):
        fail("Fuzzing: the long run's minutes do not follow from the targets")

    # Layout: every top folder named (itself or one below it), every folder
    # below src/, tools/ and tests/ named, and every folder named exists.
    layout = table_rows(section(readme, "## Layout"))[1:]
    named = set()
    for row in layout:
        named |= {n.rstrip("/") for n in re.findall(r"`([^`]+)`", row[0])}
    folders = tracked_folders(source)
    for folder in sorted(folders):
        top = folder.split("/")[0]
        needed = "/" not in folder or top in ("src", "tools", "tests")
        if needed and folder not in named and not any(n.startswith(folder + "/") for n in named):
            fail("Layout does not name the folder " + folder)
    for name in sorted(named):
        if not os.path.isdir(os.path.join(source, name)):
            fail("Layout names a folder that does not exist: " + name)

    # ThreadSanitizer: the filters shown are the filters test.sh runs.
    shown = re.findall(r"--gtest_filter='([^']*)'", section(readme, "### ThreadSanitizer"))
    with open(os.path.join(source, "scripts", "test.sh")) as f:
        run = re.findall(r"--gtest_filter='([^']*)'", f.read())
    if sorted(shown) != sorted(run):
        fail("ThreadSanitizer shows %s; scripts/test.sh runs %s" % (shown, run))


# ---------------------------------------------------------------------------
# 2. The marked blocks

def die_with_this_test():
    """In a child before it runs its program: the child is killed when this
    test's process ends, however it ends (a test that is killed itself must
    not leave a simulator serving behind it)."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Shell:
    """Runs command lines as a user's shell would, in `work`, with the
    programs under test first on the PATH."""

    def __init__(self, work, env):
        self.work = work
        self.env = env
        self.jobs = {}  # number: (Popen, output file, line)
        self.next_job = 1

    def run(self, command, stdin=""):
        done = subprocess.run(["bash", "-c", command], cwd=self.work, env=self.env,
                              input=stdin, capture_output=True, text=True, timeout=180,
                              preexec_fn=die_with_this_test)
        return done.returncode, done.stdout + done.stderr

    def start(self, command):
        number = self.next_job
        self.next_job += 1
        out = os.path.join(self.work, "job%d.out" % number)
        with open(out, "w") as sink:
            job = subprocess.Popen(["bash", "-c", "exec " + command], cwd=self.work, env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT,
                                   preexec_fn=die_with_this_test)
        self.jobs[number] = (job, out, command)
        if command.split()[0] == "parlex2-sim":
            deadline = time.time() + 10
            while time.time() < deadline:
                with open(out) as f:
                    if "ready\n" in f.read():
                        return True
                if job.poll() is not None:
                    break
                time.sleep(0.02)
            with open(out) as f:
                fail("%s: no \"ready\" (%s)" % (command, f.read().strip()))
            return False
        return True

    def stop(self, number):
        if number not in self.jobs:
            fail("kill %%%d: no such job" % number)
            return
        job, out, command = self.jobs.pop(number)
        if job.poll() is None:
            job.send_signal(signal.SIGTERM)
        try:
            status = job.wait(timeout=10)
        except subprocess.TimeoutExpired:
            job.kill()
            status = job.wait()
            fail("%s did not end on SIGTERM" % command)
            return
        if status != 0:
            with open(out) as f:
                fail("%s ended with %d: %s" % (command, status, f.read().strip()))

    def stop_all(self):
        for number in list(self.jobs):
            job = self.jobs[number][0]
            if job.poll() is None:
                job.kill()
            job.wait()
        self.jobs.clear()


def marked_blocks(readme):
    return re.findall(r"^```sh readme-test\n(.*?)^```$", readme, re.S | re.M)


def run_block(block, shell, source):
    for raw in block.split("\n"):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("sudo apt install"):
            print("  (skipped) " + line)
            continue
        m = re.match(r"^(.*?)\s+#\s*(.*)$", line)
        command, note = (m.group(1), m.group(2)) if m else (line, "")
        command = command.replace("/usr/share/doc/parlex2/", source + "/")
        print("  $ " + command, flush=True)
        kill = re.fullmatch(r"kill((?: %\d+)+)", command)
        if kill:
            for number in re.findall(r"%(\d+)", kill.group(1)):
                shell.stop(int(number))
            continue
        if command.endswith("&"):
            shell.start(command[:-1].strip())
            continue
        expected = 0
        status_note = re.match(r"exit (\d+)", note)
        if status_note:
            expected = int(status_note.group(1))
        status, output = shell.run(command)
        if status != expected:
            fail("%s: exit %d, the README says %d\n%s" % (command, status, expected, output))
        printed = re.match(r"prints: (.*)$", note)
        if printed and printed.group(1) not in output:
            fail("%s: the output holds no %r\n%s" % (command, printed.group(1), output))
    if shell.jobs:
        fail("a block leaves running: " + ", ".join(j[2] for j in shell.jobs.values()))
        shell.stop_all()


# ---------------------------------------------------------------------------
# 3. The exit-status table

# The simulators the cells' command lines talk to: a sound one, a silent one
# and one that drops the connection after two lines; nothing answers at
# 127.0.0.9.
SIMULATORS = ["parlex2-sim", "parlex2-sim --tcp 127.0.0.3 --mode silent",
              "parlex2-sim --tcp 127.0.0.4 --drop-after 2"]

# (command, status): (command line, standard input). {work} is the scratch
# folder; "config" and "afile" in it are a settings folder and a plain file.
CELLS = {
    ("send", 0): ("parlex2 --lan 127.0.0.1 send volt?", ""),
    ("send", 1): ("parlex2 --lan 127.0.0.4 send volt? curr? temp?", ""),
    ("send", 2): ("parlex2 --lan nonsense send volt?", ""),
    ("identify", 0): ("parlex2 --lan 127.0.0.1 identify", ""),
    ("identify", 1): ("parlex2 --lan 127.0.0.3 identify", ""),
    ("identify", 2): ("parlex2 identify --bogus", ""),
    ("find", 0): ("FIND", ""),
    ("find", 1): ("parlex2 find", ""),
    ("find", 2): ("parlex2 find --bogus", ""),
    ("set-clock", 0): ("parlex2 --lan 127.0.0.1 set-clock", ""),
    ("set-clock", 1): ("parlex2 --lan 127.0.0.4 set-clock", ""),
    ("set-clock", 2): ("parlex2 set-clock", ""),
    ("save-default", 0): ("XDG_CONFIG_HOME={work}/config/new parlex2 --lan 127.0.0.1 save-default"
                          " && XDG_CONFIG_HOME={work}/config/new parlex2 send volt?", ""),
    ("save-default", 1): ("XDG_CONFIG_HOME={work}/afile parlex2 --lan 127.0.0.1 save-default", ""),
    ("save-default", 2): ("parlex2 save-default", ""),
    ("run", 0): ("parlex2 --lan 127.0.0.1 run examples/identify.txt", ""),
    ("run", 1): ("parlex2 --lan 127.0.0.9 run examples/identify.txt", ""),
    ("run", 2): ("parlex2 --lan 127.0.0.1 run examples/no-such-script.txt", ""),
    ("run", 3): ("parlex2 --lan 127.0.0.1 run examples/limit_test.txt", ""),
    ("run", 4): ("PTY", ""),
    ("run", 5): ("parlex2 --lan 127.0.0.1 run --interactive examples/reply_wait_print.txt", "q\n"),
    ("run", 6): ("parlex2 --lan 127.0.0.1 run examples/identify.txt --junit {work}/afile/r.xml", ""),
    ("upgrade", 0): ("parlex2 --lan 127.0.0.1 upgrade --yes examples/firmware/demo.upg", ""),
    ("upgrade", 1): ("parlex2 --lan 127.0.0.9 upgrade --yes examples/firmware/demo.upg", ""),
    ("upgrade", 2): ("parlex2 --lan 127.0.0.1 upgrade --yes examples/firmware/no-such.upg", ""),
    ("upgrade", 3): ("parlex2 --lan 127.0.0.1 upgrade --yes examples/firmware/A1_DEMO.HEX", ""),
}
NOT_REACHED = {}

# Below the table: with many instruments, the largest status of any.
MANY = ("parlex2 --lan 127.0.0.1 --lan 127.0.0.9 run examples/limit_test.txt", 3)


def run_find(shell):
    """`find` with an instrument answering: a veth pair inside this
    namespace carries the broadcast to a simulator with --discovery."""
    for step in ("ip link add p2r0 type veth peer name p2r1", "ip addr add 10.9.0.1/24 dev p2r0",
                 "ip addr add 10.9.0.2/24 dev p2r1", "ip link set p2r0 up", "ip link set p2r1 up",
                 "ip route add default dev p2r0"):
        status, output = shell.run(step)
        if status != 0:
            return -1, step + ": " + output
    if not shell.start("parlex2-sim --tcp 10.9.0.2 --discovery"):
        return -1, "no simulator"
    number = shell.next_job - 1
    status, output = shell.run("parlex2 find")
    shell.stop(number)
    if "10.9.0.2\tVeltmark,VXM66" not in output:
        return -1, output
    return status, output


def run_on_pty(shell):
    """A send that fails on a connection that holds: a pseudo-terminal that
    nobody reads takes a long script until its buffers are full."""
    script = os.path.join(shell.work, "long.txt")
    with open(script, "w") as f:
        f.write("#fast\n" + ("\"" + "x" * 250 + "\n") * 2000)
    master, slave = os.openpty()
    try:
        return shell.run("parlex2 --usb %s run %s" % (os.ttyname(slave), script))
    finally:
        os.close(slave)
        os.close(master)


def check_status_table(readme, shell):
    rows = table_rows(section(readme, "## Exit statuses of `parlex2`"))
    commands = [re.sub(r"`", "", c) for c in rows[0][1:]]
    claimed = set()
    for row in rows[1:]:
        for command, cell in zip(commands, row[1:]):
            if cell not in ("—", "-", ""):
                claimed.add((command, int(row[0])))
    for cell in sorted(set(CELLS) - claimed):
        fail("the table says %s never exits %d, yet %r does" % (cell[0], cell[1], CELLS[cell][0]))
    for cell in sorted(claimed - set(CELLS) - set(NOT_REACHED)):
        fail("no command line here reaches %s's status %d, which the table gives" % cell)
    for cell in sorted(claimed & set(NOT_REACHED)):
        print("  (not reached here) %s %d: %s" % (cell[0], cell[1], NOT_REACHED[cell]))

    with open(os.path.join(shell.work, "afile"), "w") as f:
        f.write("a plain file where a folder would be\n")
    jobs = []
    for command in SIMULATORS:
        shell.start(command)
        jobs.append(shell.next_job - 1)
    for cell in sorted(claimed & set(CELLS)):
        command, stdin = CELLS[cell]
        command = command.format(work=shell.work)
        print("  %s %d: $ %s" % (cell[0], cell[1], command), flush=True)
        if command == "FIND":
            status, output = run_find(shell)
        elif command == "PTY":
            status, output = run_on_pty(shell)
        else:
            status, output = shell.run(command, stdin)
        if status != cell[1]:
            fail("%s: exit %d, expected %d\n%s" % (command, status, cell[1], output))
    status, output = shell.run(MANY[0])
    if status != MANY[1]:
        fail("%s: exit %d, expected the largest, %d\n%s" % (MANY[0], status, MANY[1], output))
    for number in jobs:
        shell.stop(number)


# ---------------------------------------------------------------------------

def in_own_namespace(arguments):
    """Re-runs this script in a network namespace of its own; the status of
    that run, or None when no namespace can be made."""
    if os.environ.get("PARLEX2_README_NETNS") == "1":
        return None
    if not shutil.which("unshare") or subprocess.run(
            ["unshare", "-rn", "true"], capture_output=True).returncode != 0:
        return SKIP
    env = dict(os.environ, PARLEX2_README_NETNS="1")
    return subprocess.run(["unshare", "-rn", sys.executable, os.path.abspath(__file__)] +
                          arguments, env=env, preexec_fn=die_with_this_test).returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--parlex2", required=True)
    parser.add_argument("--sim", required=True)
    args = parser.parse_args()
    source = os.path.abspath(args.source)
    with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
        readme = f.read()

    if os.environ.get("PARLEX2_README_NETNS") != "1":
        print("== the README's lists of the repository", flush=True)
        check_lists(readme, source)
        status = in_own_namespace(sys.argv[1:])
        if status == SKIP:
            print("SKIPPED: the examples need a network namespace (unshare -rn failed: no user "
                  "namespaces and not root)")
        return 1 if failures else status

    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    work = tempfile.mkdtemp(prefix="parlex2-readme-")
    try:
        bin_dir = os.path.join(work, "bin")
        os.mkdir(bin_dir)
        os.symlink(os.path.abspath(args.parlex2), os.path.join(bin_dir, "parlex2"))
        os.symlink(os.path.abspath(args.sim), os.path.join(bin_dir, "parlex2-sim"))
        # The blocks run from the source tree's top folder: what they read of it.
        for folder in ("examples", "tests", "docs"):
            os.symlink(os.path.join(source, folder), os.path.join(work, folder))
        # A settings folder of its own: no saved default unless a cell saves one.
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""),
                   HOME=os.path.join(work, "home"), XDG_CONFIG_HOME=os.path.join(work, "config"))
        blocks = marked_blocks(readme)
        if not blocks:
            fail("README has no block marked readme-test")
        for number, block in enumerate(blocks, 1):
            print("== readme-test block %d" % number, flush=True)
            shell = Shell(work, env)
            try:
                run_block(block, shell, source)
            finally:
                shell.stop_all()
        print("== the exit-status table", flush=True)
        shell = Shell(work, env)
        try:
            check_status_table(readme, shell)
        finally:
            shell.stop_all()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failed" % len(failures) if failures else "all README claims hold")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
