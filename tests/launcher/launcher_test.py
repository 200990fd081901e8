#!/usr/bin/env python3
"""End-to-end tests of the self-extractor launcher.

An output is built the way the packaging job builds it: launcher, the
five-line configuration block, then a 7z archive made by the real 7zz with
the job's command line. HostTests run the native launcher, WineTests the
Windows module under Wine, CliTests a real quillon-cli output under Wine.

Environment (set by CMake): QSFX_7ZZ, QSFX_MODULE, QSFX_TESTPROG, QSFX_HOST,
QSFX_CLI, QSFX_WORK (this test's own directory), QSFX_WINE_FALLBACK.
"""
import concurrent.futures
import glob
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

ENV = os.environ
WORK = ENV.get("QSFX_WORK", "/tmp/qsfx-test-work")
LAUNCHER_FAILURE = 1

# Arguments that Windows and POSIX command lines tend to mangle.
TRICKY_ARGUMENTS = [
    "plain",
    "with space",
    'quo"te',
    "back\\slash",
    "trailing\\",
    'two\\\\"quotes"',
    "",
    "  leading and trailing  ",
    "tab\there",
    "ünïcødé 中文 😀",
    "-x=1",
]


def config_block(main_exe):
    title = os.path.splitext(os.path.basename(main_exe))[0]
    return (
        ";!@Install@!UTF-8!\n"
        f'Title="{title}"\n'
        'Progress="no"\n'
        f'ExecuteFile="{main_exe}"\n'
        ";!@InstallEnd@!\n"
    ).encode("utf-8")


def make_archive(folder, archive, level="5", method="LZMA2", dictionary="16M", switches=()):
    if os.path.exists(archive):
        os.remove(archive)
    args = [ENV["QSFX_7ZZ"], "a", "-t7z", archive, os.path.join(folder, "*"), "-r",
            f"-mx={level}", f"-m0={method}"]
    if dictionary:
        args.append(f"-md={dictionary}")
    args += [*switches, "-bsp1", "-ssc"]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    return archive


def assemble(launcher, main_exe, archive, output):
    with open(output, "wb") as out:
        with open(launcher, "rb") as f:
            out.write(f.read())
        out.write(config_block(main_exe))
        with open(archive, "rb") as f:
            out.write(f.read())
    os.chmod(output, 0o755)
    return output


def corrupt(path, offset, value=None):
    with open(path, "r+b") as f:
        f.seek(offset)
        old = f.read(1)[0]
        f.seek(offset)
        f.write(bytes([value if value is not None else old ^ 0x5A]))


def fresh_dir(*parts):
    path = os.path.join(WORK, *parts)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def remove_leftovers(paths):
    for path in paths:
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.remove(path)


def wait_for_report(path, timeout=30):
    """Waits until the program has written its report (it has started)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                if "data=" in f.read():
                    return parse_report(path)
        time.sleep(0.05)
    raise AssertionError(f"the program did not start ({path})")


def lock_text(path):
    """The text of a run lock naming directory `path`, as the launcher writes it."""
    info = os.lstat(path)
    return f"quillon-sfx run {info.st_dev:x}-{info.st_ino:x}\n"


def tree_snapshot(path):
    """Every entry below `path` with its content, links as their targets."""
    found = {}
    for folder, dirs, files in os.walk(path):
        for name in dirs + files:
            full = os.path.join(folder, name)
            if os.path.islink(full):
                found[full] = "-> " + os.readlink(full)
            elif os.path.isfile(full):
                with open(full, "rb") as f:
                    found[full] = f.read()
            else:
                found[full] = "dir"
    return found


def parse_report(path):
    report = {"arg": [], "child-data": []}
    with open(path, "rb") as f:
        for raw in f.read().decode("utf-8").splitlines():
            key, _, value = raw.partition("=")
            if key == "arg":
                report["arg"].append(bytes.fromhex(value).decode("utf-8"))
            elif key == "child-data":
                report["child-data"].append(value)
            else:
                report[key] = value
    return report


class HostTests(unittest.TestCase):
    """The native launcher: same flow on POSIX calls."""

    PROGRAM = """#!/bin/sh
r="$QSFX_TEST_REPORT"
{ echo "cwd=$(pwd)"; echo "data=$(head -n1 data/input.txt 2>/dev/null || echo '<missing>')"; } > "$r"
for a in "$@"; do printf 'arg=%s\\n' "$(printf '%s' "$a" | od -An -tx1 | tr -d ' \\n')" >> "$r"; done
if [ -n "$QSFX_TEST_LINK" ]; then ln -s "$QSFX_TEST_LINK" escape; ln -s "$QSFX_TEST_LINK/keep.txt" escape-file; fi
if [ -n "$QSFX_TEST_CHILD" ]; then ( sleep 1.5; echo "child-data=$(cat data/input.txt)" >> "$r" ) & fi
if [ -n "$QSFX_TEST_SLEEP" ]; then sleep "$QSFX_TEST_SLEEP"; fi
if [ -n "$QSFX_TEST_CRASH" ]; then kill -SEGV $$; fi
exit "${QSFX_TEST_EXIT:-0}"
"""

    @classmethod
    def setUpClass(cls):
        cls.tmp = ENV.get("TMPDIR") or fresh_dir("tmp")
        os.makedirs(cls.tmp, exist_ok=True)
        cls.base = fresh_dir("host")
        app = os.path.join(cls.base, "app")
        os.makedirs(os.path.join(app, "data"))
        os.makedirs(os.path.join(app, "empty dir"))
        with open(os.path.join(app, "run.sh"), "w") as f:
            f.write(cls.PROGRAM)
        os.chmod(os.path.join(app, "run.sh"), 0o755)
        with open(os.path.join(app, "data", "input.txt"), "w") as f:
            f.write("payload-data\n")
        cls.archive = make_archive(app, os.path.join(cls.base, "app.7z"))
        cls.output = assemble(ENV["QSFX_HOST"], "run.sh", cls.archive,
                              os.path.join(cls.base, "run"))
        # Another output: a second copy of the launcher, the same application.
        cls.other = assemble(ENV["QSFX_HOST"], "run.sh", cls.archive,
                             os.path.join(cls.base, "other"))

    def leftovers(self):
        return glob.glob(os.path.join(self.tmp, "qsfx-*"))

    def start(self, output, extra_env, report):
        env = dict(ENV)
        env.pop("QUILLON_SFX_TRACE", None)
        env["QSFX_TEST_REPORT"] = report
        env.update(extra_env)
        if os.path.exists(report):
            os.remove(report)
        return subprocess.Popen([output], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)

    def running_from(self, folder):
        """True while a process has its program or working directory in `folder`."""
        for proc in glob.glob("/proc/[0-9]*"):
            for link in ("cwd", "exe"):
                try:
                    target = os.readlink(os.path.join(proc, link))
                except OSError:
                    continue
                if target == folder or target.startswith(folder + "/"):
                    return True
        return False

    def wait_until_nothing_runs_from(self, folder, timeout=30):
        deadline = time.monotonic() + timeout
        while self.running_from(folder):
            self.assertLess(time.monotonic(), deadline, f"{folder} still in use")
            time.sleep(0.05)

    def launch(self, output, args=(), extra_env=None, report=None):
        env = dict(ENV)
        env.pop("QUILLON_SFX_TRACE", None)
        env["QSFX_TEST_REPORT"] = report or os.path.join(self.base, "report.txt")
        env.update(extra_env or {})
        return subprocess.run([output, *args], env=env, capture_output=True, timeout=60)

    def setUp(self):
        self.report = os.path.join(self.base, "report.txt")
        if os.path.exists(self.report):
            os.remove(self.report)
        remove_leftovers(self.leftovers())

    def test_program_sees_files_arguments_and_returns_its_exit_code(self):
        for code in (0, 42, 255):
            with self.subTest(exit_code=code):
                result = self.launch(self.output, TRICKY_ARGUMENTS, {"QSFX_TEST_EXIT": str(code)})
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertEqual(result.stderr, b"", "the launcher is silent without trace")
                report = parse_report(self.report)
                self.assertEqual(report["arg"], TRICKY_ARGUMENTS)
                self.assertEqual(report["data"], "payload-data")
                self.assertTrue(os.path.basename(report["cwd"]).startswith("qsfx-"))
                self.assertFalse(os.path.exists(report["cwd"]), "extraction folder removed")
                self.assertEqual(self.leftovers(), [])

    def test_waits_for_processes_the_program_left_running(self):
        result = self.launch(self.output, extra_env={"QSFX_TEST_CHILD": "1"})
        self.assertEqual(result.returncode, 0, result.stderr)
        report = parse_report(self.report)
        self.assertEqual(report["child-data"], ["payload-data"],
                         "the child still found its files")
        self.assertEqual(self.leftovers(), [])

    def test_cleanup_removes_links_not_their_targets(self):
        outside = fresh_dir("host", "outside")
        keep = os.path.join(outside, "keep.txt")
        with open(keep, "w") as f:
            f.write("must survive")
        result = self.launch(self.output, extra_env={"QSFX_TEST_LINK": outside})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(keep))
        self.assertEqual(self.leftovers(), [])

    def test_two_instances_get_their_own_folders(self):
        reports = [os.path.join(self.base, f"report{i}.txt") for i in range(2)]
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            runs = list(pool.map(
                lambda r: self.launch(self.output, ["x"], {"QSFX_TEST_CHILD": "1"}, report=r),
                reports))
        self.assertEqual([r.returncode for r in runs], [0, 0])
        cwds = {parse_report(r)["cwd"] for r in reports}
        self.assertEqual(len(cwds), 2)
        for r in reports:
            self.assertEqual(parse_report(r)["child-data"], ["payload-data"])
        self.assertEqual(self.leftovers(), [])

    def test_program_crash_leaves_nothing(self):
        result = self.launch(self.output, extra_env={"QSFX_TEST_CRASH": "1"})
        self.assertEqual(result.returncode, 128 + signal.SIGSEGV, result.stderr)
        self.assertEqual(parse_report(self.report)["data"], "payload-data")
        self.assertEqual(self.leftovers(), [])

    def test_killed_runs_are_swept_by_the_next_start(self):
        # The launcher killed while its program runs (the program then ends on
        # its own), or the whole run at once as a power loss would: the next
        # start of the same output or of another one removes what is left.
        report = os.path.join(self.base, "killed.txt")
        for how, next_output in (("launcher", "same"), ("launcher", "other"),
                                 ("power loss", "same")):
            with self.subTest(killed=how, next_start=next_output):
                run = self.start(self.output, {"QSFX_TEST_SLEEP": "0.5"}, report)
                folder = wait_for_report(report)["cwd"]
                if how == "launcher":
                    os.kill(run.pid, signal.SIGKILL)
                else:
                    os.killpg(run.pid, signal.SIGKILL)
                run.wait(timeout=30)
                self.assertTrue(os.path.isdir(folder))
                self.assertTrue(os.path.isfile(folder + ".lock"))
                self.wait_until_nothing_runs_from(folder)
                result = self.launch(self.output if next_output == "same" else self.other)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.leftovers(), [])

    def test_folder_of_an_orphaned_program_is_left_while_it_runs(self):
        report = os.path.join(self.base, "orphan.txt")
        run = self.start(self.output, {"QSFX_TEST_SLEEP": "3"}, report)
        folder = wait_for_report(report)["cwd"]
        os.kill(run.pid, signal.SIGKILL)
        run.wait(timeout=30)
        before = tree_snapshot(folder)
        result = self.launch(self.other)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(tree_snapshot(folder), before, "the orphan's files untouched")
        self.assertEqual(sorted(self.leftovers()), [folder, folder + ".lock"])
        self.wait_until_nothing_runs_from(folder)
        self.assertEqual(self.launch(self.other).returncode, 0)
        self.assertEqual(self.leftovers(), [])

    def test_live_run_is_left_and_two_outputs_run_side_by_side(self):
        report = os.path.join(self.base, "live.txt")
        run = self.start(self.output, {"QSFX_TEST_SLEEP": "2"}, report)
        folder = wait_for_report(report)["cwd"]
        before = tree_snapshot(folder)
        reports = [os.path.join(self.base, f"side{i}.txt") for i in range(2)]
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            runs = list(pool.map(
                lambda pair: self.launch(pair[0], ["x"], {"QSFX_TEST_CHILD": "1"},
                                         report=pair[1]),
                zip((self.output, self.other), reports)))
        self.assertEqual([r.returncode for r in runs], [0, 0])
        for r in reports:
            self.assertEqual(parse_report(r)["child-data"], ["payload-data"])
        self.assertEqual(tree_snapshot(folder), before, "the live run's files untouched")
        self.assertEqual(run.wait(timeout=30), 0)
        self.assertEqual(self.leftovers(), [])

    def test_hangup_ends_the_program_and_cleans_up(self):
        # The end of a session: the hangup reaches the launcher and its program.
        report = os.path.join(self.base, "hangup.txt")
        run = self.start(self.output, {"QSFX_TEST_SLEEP": "20"}, report)
        wait_for_report(report)
        os.killpg(run.pid, signal.SIGHUP)
        self.assertEqual(run.wait(timeout=30), 128 + signal.SIGHUP)
        self.assertEqual(self.leftovers(), [])

    def test_nothing_foreign_is_swept(self):
        outside = fresh_dir("host", "foreign-target")
        with open(os.path.join(outside, "keep.txt"), "w") as f:
            f.write("must survive")
        planted = {}

        def plant(name, lock=None, owner=None):
            folder = os.path.join(self.tmp, name)
            os.makedirs(os.path.join(folder, "sub"))
            with open(os.path.join(folder, "sub", "file.txt"), "w") as f:
                f.write(name)
            if lock is not None:
                with open(folder + ".lock", "w") as f:
                    f.write(lock if lock else lock_text(folder))
            if owner is not None:
                for path in (folder, folder + ".lock"):
                    os.chown(path, owner, owner)
            planted[name] = folder

        # Another program's folder named like ours, without a lock or with one
        # that is not ours.
        plant("qsfx-lookal")
        plant("qsfx-badlck", lock="some other program's lock\n")
        # A lock of ours whose folder was replaced by another one (the old
        # one kept elsewhere, so that its number is not reused).
        plant("qsfx-swappd", lock="")
        kept = os.path.join(fresh_dir("host", "swapped"), "old")
        os.rename(planted["qsfx-swappd"], kept)
        plant("qsfx-swappd")
        # A link named like ours, with a lock naming the folder it points to.
        link = os.path.join(self.tmp, "qsfx-linked")
        os.symlink(outside, link)
        with open(link + ".lock", "w") as f:
            f.write(lock_text(outside))
        # Another user's folder with a lock that names it.
        if os.geteuid() == 0:
            plant("qsfx-others", lock="", owner=65534)
        before = {path: tree_snapshot(path) for path in planted.values()}
        before_outside = tree_snapshot(outside)
        entries = sorted(self.leftovers())

        result = self.launch(self.output)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(self.leftovers()), entries)
        for path, snapshot in before.items():
            self.assertEqual(tree_snapshot(path), snapshot, path)
        self.assertEqual(tree_snapshot(outside), before_outside)
        self.assertEqual(os.readlink(link), outside)

    def test_trace_reports_each_step(self):
        result = self.launch(self.output, extra_env={"QUILLON_SFX_TRACE": "1"})
        self.assertEqual(result.returncode, 0)
        trace = result.stderr.decode()
        for step in ("configuration at", "extracting into", "program ended with exit code 0",
                     "removed"):
            self.assertIn(step, trace)

    def test_not_enough_disk_space_is_said_before_extracting(self):
        # A 512 KiB temporary file system (a tmpfs in a user namespace) for an
        # application of 2 MiB.
        if not shutil.which("unshare") or subprocess.run(
                ["unshare", "-rm", "true"], capture_output=True).returncode != 0:
            self.skipTest("no user namespaces here")
        app = fresh_dir("host", "big-app")
        shutil.copy(os.path.join(self.base, "app", "run.sh"), app)
        with open(os.path.join(app, "big.bin"), "wb") as f:
            f.write(bytes(2 * 1024 * 1024))
        output = assemble(ENV["QSFX_HOST"], "run.sh",
                          make_archive(app, os.path.join(self.base, "big.7z")),
                          os.path.join(self.base, "big"))
        small = fresh_dir("host", "small")
        script = ('mount -t tmpfs -o size=512k tmpfs "$1" || exit 99; '
                  'TMPDIR="$1" "$2"; code=$?; ls -A "$1"; exit $code')
        env = dict(ENV, QSFX_TEST_REPORT=self.report)
        result = subprocess.run(["unshare", "-rm", "sh", "-c", script, "sh", small, output],
                                env=env, capture_output=True, timeout=60)
        if result.returncode == 99:
            self.skipTest("cannot mount a tmpfs in a user namespace here")
        self.assertEqual(result.returncode, LAUNCHER_FAILURE, result.stderr)
        self.assertIn("Not enough disk space", result.stderr.decode())
        self.assertEqual(result.stdout, b"", "nothing left in the temporary folder")
        self.assertFalse(os.path.exists(self.report), "the program was not started")

    def test_refusals_start_nothing_and_leave_nothing(self):
        size = os.path.getsize(self.archive)
        launcher_size = os.path.getsize(ENV["QSFX_HOST"])
        block = len(config_block("run.sh"))
        cases = [
            # (name, how to make the output, expected words in the message)
            ("no payload", lambda p: shutil.copy(ENV["QSFX_HOST"], p), "no packed application"),
            ("missing program", lambda p: assemble(ENV["QSFX_HOST"], "other.sh", self.archive, p),
             "not in the package"),
            ("unsafe program path",
             lambda p: assemble(ENV["QSFX_HOST"], "../run.sh", self.archive, p), "not a valid"),
            ("flipped start header", lambda p: corrupt(
                shutil.copy(self.output, p), launcher_size + block + 12), "damaged"),
            ("flipped packed data", lambda p: corrupt(
                shutil.copy(self.output, p), launcher_size + block + 40), "unpack"),
            ("truncated archive", lambda p: os.truncate(
                shutil.copy(self.output, p), launcher_size + block + size // 2), "damaged"),
        ]
        for name, make, words in cases:
            with self.subTest(name):
                broken = os.path.join(self.base, "broken")
                if os.path.exists(broken):
                    os.remove(broken)
                make(broken)
                os.chmod(broken, 0o755)
                result = self.launch(broken)
                self.assertEqual(result.returncode, LAUNCHER_FAILURE)
                message = result.stderr.decode()
                self.assertIn(words, message)
                # Messages carry the Title (the file name until the block is read).
                title = {"no payload": "broken", "missing program": "other"}.get(name, "run")
                self.assertTrue(message.startswith(title + ": "), message)
                self.assertFalse(os.path.exists(self.report), "the program was not started")
                self.assertEqual(self.leftovers(), [])


class ModuleTests(unittest.TestCase):
    """What outputs rely on in the module file itself."""

    # DLLs Windows always loads from its own directory (KnownDLLs): nothing a
    # file planted beside a downloaded output could replace.
    KNOWN_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"}

    def test_imports_only_known_dlls_and_is_a_gui_program(self):
        objdump = shutil.which("x86_64-w64-mingw32-objdump") or shutil.which("objdump")
        dump = subprocess.run([objdump, "-p", ENV["QSFX_MODULE"]], check=True,
                              capture_output=True).stdout.decode()
        imports = {line.split(":", 1)[1].strip().lower() for line in dump.splitlines()
                   if "DLL Name:" in line}
        self.assertTrue(imports)
        self.assertLessEqual(imports, self.KNOWN_DLLS)
        self.assertRegex(dump, r"Subsystem\s+00000002")

    def test_carries_icon_group_1_and_version_1_in_language_1033(self):
        listing = subprocess.run(["wrestool", "-l", ENV["QSFX_MODULE"]], check=True,
                                 capture_output=True).stdout.decode()
        self.assertIn("--type=14 --name=1 --language=1033", listing)
        self.assertIn("--type=16 --name=1 --language=1033", listing)
        self.assertGreaterEqual(listing.count("--type=3 "), 3, "several icon sizes")


def wine_environment():
    env = dict(ENV)
    env.setdefault("WINEPREFIX", ENV.get("QSFX_WINE_FALLBACK", os.path.join(WORK, "wine")))
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    env.pop("DISPLAY", None)  # no window can wait for a click
    env.pop("QUILLON_SFX_TRACE", None)
    env["QUILLON_SFX_NOUI"] = "1"
    if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
        subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], env=env, timeout=120, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return env


def run_wine(args, env, timeout):
    """Runs wine with its output in files: Wine's background services inherit
    pipes and would keep them open long after the program ended."""
    with open(os.path.join(WORK, "wine.out"), "w+b") as out, \
            open(os.path.join(WORK, "wine.err"), "w+b") as err:
        code = subprocess.run(["wine", *args], env=env, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=err, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, code, out.read(), err.read())


def to_windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def to_unix(env, windows_path):
    drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/")
    if drive == "z":
        return rest
    return os.path.join(env["WINEPREFIX"], f"drive_{drive}") + rest


class WineBase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = wine_environment()
        # One wine server for the whole class keeps each start cheap.
        # It outlives its last client by 30 s only, and holds none of our pipes,
        # so a failing set-up cannot keep the test run waiting.
        cls.server = subprocess.Popen(["wineserver", "-f", "-p30"], env=cls.env,
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        cls.base = fresh_dir(cls.__name__)
        cls.report = os.path.join(cls.base, "report.txt")

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, timeout=60, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.server.wait(timeout=60)

    def wine_temp(self):
        # Wine's temporary folder as a Unix path.
        result = run_wine(["cmd", "/c", "echo %TEMP%"], self.env, 60)
        return to_unix(self.env, result.stdout.decode().strip())

    def leftovers(self):
        return glob.glob(os.path.join(self.temp, "qsfx-*"))

    def run_output(self, output, args=(), extra_env=None):
        env = dict(self.env)
        env["QSFX_TEST_REPORT"] = to_windows(self.report)
        env.update(extra_env or {})
        if os.path.exists(self.report):
            os.remove(self.report)
        return run_wine([output, *args], env, 120)

    def start_output(self, output, extra_env, report):
        """Starts an output without waiting; its report goes to `report`."""
        env = dict(self.env)
        env["QSFX_TEST_REPORT"] = to_windows(report)
        env.update(extra_env)
        if os.path.exists(report):
            os.remove(report)
        return subprocess.Popen(["wine", output], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_until_nothing_runs_from(self, folder, timeout=60):
        """Waits until no Wine process runs a program from `folder`."""
        name = os.path.basename(folder).encode()
        deadline = time.monotonic() + timeout
        while True:
            running = False
            for cmdline in glob.glob("/proc/[0-9]*/cmdline"):
                try:
                    with open(cmdline, "rb") as f:
                        running = running or name in f.read()
                except OSError:
                    pass
            if not running:
                return
            self.assertLess(time.monotonic(), deadline, f"{folder} still in use")
            time.sleep(0.1)

    def assert_ran(self, result, args, code):
        self.assertEqual(result.returncode, code, result.stderr.decode(errors="replace"))
        report = parse_report(self.report)
        self.assertEqual(report["arg"], list(args))
        self.assertEqual(report["data"], "payload-data")
        cwd = to_unix(self.env, report["cwd"])
        self.assertTrue(os.path.basename(cwd).startswith("qsfx-"), cwd)
        self.assertFalse(os.path.exists(cwd), "extraction folder removed")
        self.assertEqual(self.leftovers(), [])
        return report


def make_app(folder, program="QSFX_TESTPROG"):
    deep = os.path.join(folder, "deep", "d" * 60, "e" * 60)
    os.makedirs(deep)
    with open(os.path.join(deep, "f" * 60 + ".txt"), "w") as f:
        f.write("far away")
    os.makedirs(os.path.join(folder, "data"))
    shutil.copy(ENV[program], os.path.join(folder, "app.exe"))
    with open(os.path.join(folder, "data", "input.txt"), "w") as f:
        f.write("payload-data\r\n")


class WineTests(WineBase):
    """The Windows module under Wine."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        app = os.path.join(cls.base, "app")
        make_app(app)
        cls.archive = make_archive(app, os.path.join(cls.base, "app.7z"))
        cls.output = assemble(ENV["QSFX_MODULE"], "app.exe", cls.archive,
                              os.path.join(cls.base, "app-out.exe"))

    def setUp(self):
        if not hasattr(WineTests, "temp"):
            WineTests.temp = self.wine_temp()
        remove_leftovers(self.leftovers())

    def test_program_sees_files_arguments_and_returns_its_exit_code(self):
        result = self.run_output(self.output, TRICKY_ARGUMENTS, {"QSFX_TEST_EXIT": "42"})
        self.assert_ran(result, TRICKY_ARGUMENTS, 42)
        self.assertEqual(result.stderr, b"", "the launcher is silent without trace")

    def test_waits_for_processes_the_program_started(self):
        result = self.run_output(self.output, ["x"], {"QSFX_TEST_CHILD": "1"})
        report = self.assert_ran(result, ["x"], 0)
        self.assertEqual(report["child-data"], ["payload-data"],
                         "the child ran to its end with its files in place")

    def test_console_program_ends_without_waiting_for_its_console_host(self):
        app = os.path.join(self.base, "console-app")
        if not os.path.exists(app):
            make_app(app, "QSFX_TESTPROG_CONSOLE")
        archive = make_archive(app, os.path.join(self.base, "console-app.7z"))
        output = assemble(ENV["QSFX_MODULE"], "app.exe", archive,
                          os.path.join(self.base, "console-out.exe"))
        result = self.run_output(output, ["a b", "c"], {"QSFX_TEST_EXIT": "42"})
        self.assert_ran(result, ["a b", "c"], 42)

    def test_mark_of_the_web_passes_to_the_extracted_files(self):
        marked = os.path.join(self.base, "marked.exe")
        shutil.copy(self.output, marked)
        # Wine keeps a stream as a file beside the file it belongs to.
        with open(marked + ":Zone.Identifier", "wb") as f:
            f.write(b"[ZoneTransfer]\r\nZoneId=3\r\n")
        report = self.assert_ran(self.run_output(marked), [], 0)
        self.assertEqual(report["zone"], "ZoneId=3")
        report = self.assert_ran(self.run_output(self.output), [], 0)
        self.assertEqual(report["zone"], "<none>", "no mark where the output has none")

    def test_refusals_start_nothing_and_leave_nothing(self):
        module_size = os.path.getsize(ENV["QSFX_MODULE"])
        block = len(config_block("app.exe"))
        archive_size = os.path.getsize(self.archive)
        cases = [
            ("flipped start header", module_size + block + 12, "damaged"),
            ("flipped packed data", module_size + block + 200, "unpack"),
            ("flipped end of archive", module_size + block + archive_size - 8, "damaged"),
        ]
        for name, offset, words in cases:
            with self.subTest(name):
                broken = os.path.join(self.base, "broken.exe")
                shutil.copy(self.output, broken)
                corrupt(broken, offset)
                result = self.run_output(broken)
                self.assertEqual(result.returncode, LAUNCHER_FAILURE)
                message = result.stderr.decode(errors="replace")
                self.assertTrue(message.startswith("app: "), message)
                self.assertIn(words, message)
                self.assertFalse(os.path.exists(self.report), "the program was not started")
                self.assertEqual(self.leftovers(), [])

    def test_lzma2_blocks_decoded_side_by_side(self):
        # 7zz -mmt=4 starts a block every MiB here; the module decodes them on
        # threads of their own, and a damaged later block still fails cleanly.
        app = os.path.join(self.base, "blocks-app")
        if not os.path.exists(app):
            make_app(app)
            with open(os.path.join(app, "data", "big.txt"), "w") as f:
                for i in range(200000):
                    f.write(f"{i} quillon block line {i * 7919 % 100003}\n")
        archive = make_archive(app, os.path.join(self.base, "blocks.7z"), level="1",
                               dictionary="64K", switches=["-mmt=4"])
        output = assemble(ENV["QSFX_MODULE"], "app.exe", archive,
                          os.path.join(self.base, "blocks-out.exe"))
        self.assert_ran(self.run_output(output), [], 0)
        broken = os.path.join(self.base, "blocks-broken.exe")
        shutil.copy(output, broken)
        corrupt(broken, os.path.getsize(ENV["QSFX_MODULE"]) + len(config_block("app.exe")) +
                os.path.getsize(archive) * 2 // 3)
        result = self.run_output(broken)
        self.assertEqual(result.returncode, LAUNCHER_FAILURE)
        self.assertIn("unpack", result.stderr.decode(errors="replace"))
        self.assertFalse(os.path.exists(self.report), "the program was not started")
        self.assertEqual(self.leftovers(), [])

    def test_program_that_does_not_run_is_named_in_the_error(self):
        # The system's text for "bad executable format" has an insert for the
        # file; the message must carry the program's path in its place.
        app = fresh_dir(type(self).__name__, "not-a-program")
        with open(os.path.join(app, "app.exe"), "wb") as f:
            f.write(b"this is not a program\r\n")
        archive = make_archive(app, os.path.join(self.base, "not-a-program.7z"))
        output = assemble(ENV["QSFX_MODULE"], "app.exe", archive,
                          os.path.join(self.base, "not-a-program.exe"))
        result = self.run_output(output)
        self.assertEqual(result.returncode, LAUNCHER_FAILURE)
        message = result.stderr.decode(errors="replace")
        self.assertTrue(message.startswith("app: Cannot start app.exe: "), message)
        self.assertIn("(193)", message)
        self.assertNotRegex(message, r"%[0-9]", "no insert left in the system's text")
        self.assertRegex(message, r"\\qsfx-[0-9a-f]+-[0-9a-f]+\\app\.exe", "the program's path")
        self.assertEqual(self.leftovers(), [])

    def reg_query(self, name):
        out = run_wine(["reg", "query", r"HKCU\Environment", "/v", name], self.env, 60)
        for line in out.stdout.decode("utf-8", "replace").splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == name and parts[1].startswith("REG_"):
                return parts[1], parts[2]
        return None

    def reg_set(self, name, saved):
        if saved is None:
            run_wine(["reg", "delete", r"HKCU\Environment", "/v", name, "/f"], self.env, 60)
        else:
            run_wine(["reg", "add", r"HKCU\Environment", "/v", name, "/t", saved[0], "/d",
                      saved[1], "/f"], self.env, 60)

    def test_non_ascii_deep_temp_folder(self):
        # A user name with non-ASCII letters and a deep profile path: every
        # path the launcher builds must survive wide-character calls, and the
        # fixture's deepest file lies beyond MAX_PATH once extracted there.
        temp = fresh_dir(type(self).__name__, "tmp-\u00fcser-\u4e2d\u6587-" + "x" * 40, "y" * 40)
        saved = {name: self.reg_query(name) for name in ("TEMP", "TMP")}
        try:
            for name in saved:
                self.reg_set(name, ("REG_SZ", to_windows(temp)))
            result = self.run_output(self.output, ["\u00e9"], {"QSFX_TEST_EXIT": "5"})
        finally:
            for name, value in saved.items():
                self.reg_set(name, value)
        self.assertEqual(result.returncode, 5, result.stderr.decode(errors="replace"))
        report = parse_report(self.report)
        self.assertEqual(report["data"], "payload-data")
        self.assertEqual(report["arg"], ["\u00e9"])
        self.assertTrue(report["cwd"].startswith(to_windows(temp) + "\\qsfx-"), report["cwd"])
        self.assertEqual(os.listdir(temp), [], "extraction folder removed")

    def other_output(self):
        other = os.path.join(self.base, "other-out.exe")
        if not os.path.exists(other):
            assemble(ENV["QSFX_MODULE"], "app.exe", self.archive, other)
        return other

    def test_crashed_program_leaves_nothing(self):
        result = self.run_output(self.output, [], {"QSFX_TEST_CRASH": "1"})
        self.assert_ran(result, [], 0xC0000005 & 0xFF)

    def test_killed_module_run_is_swept_by_the_next_start(self):
        report = os.path.join(self.base, "killed.txt")
        for next_output in ("same", "other"):
            with self.subTest(next_start=next_output):
                run = self.start_output(self.output, {"QSFX_TEST_SLEEP": "500"}, report)
                folder = to_unix(self.env, wait_for_report(report, 60)["cwd"])
                os.kill(run.pid, signal.SIGKILL)
                run.wait(timeout=60)
                self.assertTrue(os.path.isdir(folder))
                self.assertTrue(os.path.isfile(folder + ".lock"))
                self.wait_until_nothing_runs_from(folder)
                output = self.output if next_output == "same" else self.other_output()
                self.assert_ran(self.run_output(output), [], 0)
                self.assertFalse(os.path.exists(folder + ".lock"))

    def test_folder_of_an_orphaned_program_is_left_while_it_runs(self):
        report = os.path.join(self.base, "orphan.txt")
        run = self.start_output(self.output, {"QSFX_TEST_SLEEP": "6000"}, report)
        folder = to_unix(self.env, wait_for_report(report, 60)["cwd"])
        os.kill(run.pid, signal.SIGKILL)
        run.wait(timeout=60)
        before = tree_snapshot(folder)
        result = self.run_output(self.other_output())
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        self.assertEqual(tree_snapshot(folder), before, "the orphan's files untouched")
        self.assertEqual(sorted(self.leftovers()), [folder, folder + ".lock"])
        self.wait_until_nothing_runs_from(folder)
        self.assert_ran(self.run_output(self.other_output()), [], 0)

    def test_live_run_is_left_and_two_outputs_run_side_by_side(self):
        report = os.path.join(self.base, "live.txt")
        live = self.start_output(self.output, {"QSFX_TEST_SLEEP": "4000"}, report)
        folder = to_unix(self.env, wait_for_report(report, 60)["cwd"])
        before = tree_snapshot(folder)
        reports = [os.path.join(self.base, f"side{i}.txt") for i in range(2)]
        runs = [self.start_output(output, {"QSFX_TEST_CHILD": "1"}, r)
                for output, r in zip((self.output, self.other_output()), reports)]
        self.assertEqual([r.wait(timeout=120) for r in runs], [0, 0])
        for r in reports:
            self.assertEqual(parse_report(r)["child-data"], ["payload-data"])
        self.assertEqual(tree_snapshot(folder), before, "the live run's files untouched")
        self.assertEqual(live.wait(timeout=120), 0)
        self.assertEqual(self.leftovers(), [])

    def test_nothing_foreign_is_swept(self):
        outside = fresh_dir(type(self).__name__, "foreign-target")
        with open(os.path.join(outside, "keep.txt"), "w") as f:
            f.write("must survive")
        planted = []

        def plant(name, lock=None, owner=None):
            folder = os.path.join(self.temp, name)
            os.makedirs(os.path.join(folder, "sub"))
            with open(os.path.join(folder, "sub", "file.txt"), "w") as f:
                f.write(name)
            if lock is not None:
                with open(folder + ".lock", "w") as f:
                    f.write(lock)
            if owner is not None:
                for path in (folder, folder + ".lock"):
                    os.chown(path, owner, owner)
            planted.append(folder)

        # Named like ours: without a lock, with a lock that is not ours, with
        # a lock of ours that names another folder, another user's.
        plant("qsfx-1f-0badc0de")
        plant("qsfx-2f-0badc0de", lock="some other program's lock\n")
        plant("qsfx-3f-0badc0de", lock="quillon-sfx run 1-2\n")
        if os.geteuid() == 0:
            plant("qsfx-4f-0badc0de", lock="quillon-sfx run 1-2\n", owner=65534)
        # A link named like ours, with a lock beside it.
        link = os.path.join(self.temp, "qsfx-5f-0badc0de")
        os.symlink(outside, link)
        with open(link + ".lock", "w") as f:
            f.write("quillon-sfx run 1-2\n")
        before = {path: tree_snapshot(path) for path in planted + [outside]}
        entries = sorted(self.leftovers())

        result = self.run_output(self.output)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        self.assertEqual(sorted(self.leftovers()), entries)
        for path, snapshot in before.items():
            self.assertEqual(tree_snapshot(path), snapshot, path)
        self.assertEqual(os.readlink(link), outside)
        remove_leftovers(self.leftovers())

    def test_signed_output_still_runs(self):
        keys = fresh_dir(type(self).__name__, "signing")
        key, cert = os.path.join(keys, "key.pem"), os.path.join(keys, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        key, "-out", cert, "-subj", "/CN=Quillon test", "-days", "1"],
                       check=True, capture_output=True)
        signed = os.path.join(self.base, "signed.exe")
        if os.path.exists(signed):
            os.remove(signed)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "test",
                        "-in", self.output, "-out", signed], check=True, capture_output=True)
        self.assertGreater(os.path.getsize(signed), os.path.getsize(self.output))
        result = self.run_output(signed, ["signed run"], {"QSFX_TEST_EXIT": "3"})
        self.assert_ran(result, ["signed run"], 3)


class WineSessionTests(WineBase):
    """The end of the session under Wine, on a display of its own."""

    @classmethod
    def setUpClass(cls):
        cls.display = None
        if shutil.which("Xvfb"):
            read, write = os.pipe()
            cls.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write), "-screen", "0", "640x480x24", "-nolisten",
                 "tcp"], pass_fds=(write,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write)
            with os.fdopen(read) as f:
                number = f.readline().strip()
            if number:
                cls.display = ":" + number
        super().setUpClass()
        if cls.display:
            cls.env["DISPLAY"] = cls.display
        app = os.path.join(cls.base, "app")
        make_app(app)
        cls.archive = make_archive(app, os.path.join(cls.base, "app.7z"))
        cls.output = assemble(ENV["QSFX_MODULE"], "app.exe", cls.archive,
                              os.path.join(cls.base, "app-out.exe"))

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        if getattr(cls, "xvfb", None):
            cls.xvfb.terminate()
            cls.xvfb.wait(timeout=60)

    def setUp(self):
        if not self.display:
            self.skipTest("no Xvfb: Wine has no window to tell of the end of the session")
        if not hasattr(WineSessionTests, "temp"):
            WineSessionTests.temp = self.wine_temp()
        remove_leftovers(self.leftovers())

    def wineboot(self, switch):
        subprocess.run(["wineboot", switch], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def test_end_of_session_ends_the_program_and_cleans_up(self):
        report = os.path.join(self.base, "session.txt")
        run = self.start_output(self.output, {"QSFX_TEST_SLEEP": "60000"}, report)
        folder = to_unix(self.env, wait_for_report(report, 60)["cwd"])
        started = time.monotonic()
        self.wineboot("--end-session")
        run.wait(timeout=60)
        self.assertLess(time.monotonic() - started, 30, "the program was ended")
        self.assertFalse(os.path.exists(folder))
        self.assertEqual(self.leftovers(), [])

    def test_session_killed_without_notice_is_swept_by_the_next_start(self):
        # Every process ended at once, as a power loss would.
        report = os.path.join(self.base, "kill.txt")
        run = self.start_output(self.output, {"QSFX_TEST_SLEEP": "60000"}, report)
        folder = to_unix(self.env, wait_for_report(report, 60)["cwd"])
        self.wineboot("--kill")
        run.wait(timeout=60)
        self.assertTrue(os.path.isdir(folder))
        self.wait_until_nothing_runs_from(folder)
        self.assert_ran(self.run_output(self.output), [], 0)


class CliTests(WineBase):
    """A real quillon-cli output: module with its icon and version replaced."""

    def setUp(self):
        if not hasattr(CliTests, "temp"):
            CliTests.temp = self.wine_temp()
        remove_leftovers(self.leftovers())

    def test_cli_output_runs(self):
        app = os.path.join(self.base, "My App")
        make_app(app)
        shutil.move(os.path.join(app, "app.exe"), os.path.join(app, "tool.exe"))
        out_dir = fresh_dir(type(self).__name__, "out")
        os.makedirs(ENV.get("TMPDIR", "/tmp"), exist_ok=True)
        cli = subprocess.run([ENV["QSFX_CLI"], app, "tool.exe", out_dir, "--level", "9",
                              "--method", "LZMA2"], capture_output=True, timeout=300)
        self.assertEqual(cli.returncode, 0, cli.stdout.decode() + cli.stderr.decode())
        output = os.path.join(out_dir, "tool.exe")
        self.assertTrue(os.path.exists(output))
        result = self.run_output(output, ["a b", 'c"d'], {"QSFX_TEST_EXIT": "9"})
        self.assert_ran(result, ["a b", 'c"d'], 9)


if __name__ == "__main__":
    os.makedirs(WORK, exist_ok=True)
    if ENV.get("TMPDIR"):
        os.makedirs(ENV["TMPDIR"], exist_ok=True)
    unittest.main()
