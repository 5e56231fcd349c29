"""The Python client against the real ``kovra610-cli serve`` on the virtual board."""

import gc
import hashlib
import json
import os
import resource
import shutil
import signal
import tempfile
import subprocess
import sys
import threading
import time
import unittest
import weakref
from unittest import mock

import kovra610

CLI = os.environ.get("KOVRA610_CLI", "kovra610-cli")
DEFAULT_SETUP = os.environ["KOVRA610_DEFAULT_SETUP"]
VERSION = os.environ.get("KOVRA610_VERSION")
# The folder of the emulated USB bus's libusb-1.0.so.0.
USB_LIB = os.environ["KOVRA610_USB_LIB"]


class BenchFolder(unittest.TestCase):
    """Each test runs in a scratch folder whose Dac/ holds the default setup file."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="kovra610-python-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.mkdir(os.path.join(self.folder, "Dac"))
        shutil.copy(DEFAULT_SETUP, os.path.join(self.folder, "Dac"))

    def session(self, **options):
        return kovra610.Session(board="virtual", program=CLI, cwd=self.folder, **options)


class SessionCommands(BenchFolder):
    def test_hello_names_the_version_and_the_board(self):
        with self.session() as bench:
            self.assertEqual(bench.hello["hello"], "kovra610-cli")
            self.assertEqual(bench.hello["board"], "virtual")
            if VERSION:
                self.assertEqual(bench.version, VERSION)

    def test_a_level_reaches_the_chip_and_reads_back(self):
        with self.session() as bench:
            bench.level(0, 3.3)
            self.assertEqual(bench.read(1, 0)["data"], 38010)
            bench.write(1, 1, 0, 1234)
            self.assertEqual(bench.read(1, 0)["data"], 1234)

    def test_a_field_set_by_its_caption_is_what_get_answers(self):
        with self.session() as bench:
            bench.set("DRVFORCE", "Vh")
            self.assertEqual(bench.get("drvforce")["caption"], "Vh")
            bench.channels(2)
            bench.set("DRVFORCE", 1)
            field = bench.get("DRVFORCE")
            self.assertEqual((field["value"], field["ch0"], field["ch1"]), (1, 3, 1))
            self.assertEqual(bench.read(2, 0x19)["data"] & 0xE, 1 << 1)

    def test_verify_finds_what_the_chip_holds_apart_from_the_image(self):
        with self.session() as bench:
            entries = bench.read_all(fast=True)
            self.assertEqual(len(entries), 40)
            self.assertIsNone(entries[30]["volts"])
            self.assertEqual(bench.verify(), [])
            bench.write(2, 1, 0x1A, 0x0F00)  # behind the image's back
            differences = bench.verify()
            self.assertEqual([(d["index"], d["chip"]) for d in differences], [(35, 0x0F00)])

    def test_attach_reads_the_chip_instead_of_sending_the_setup(self):
        with self.session(attach=True) as bench:
            entries = bench.read_all()
            self.assertEqual(entries[0]["data"], bench.read(1, 0)["data"])
            self.assertNotEqual(entries[0]["data"], 36044)  # the default file's 3.0 V
            self.assertEqual(bench.verify(), [])

    def test_a_refused_command_raises_and_the_session_goes_on(self):
        with self.session() as bench:
            with self.assertRaises(kovra610.Error) as caught:
                bench.level(30, 1.0)
            self.assertTrue(str(caught.exception))
            self.assertIsNotNone(caught.exception.step)
            with self.assertRaises(kovra610.Error):
                bench.load("missing.sbus")
            self.assertEqual(bench.read(1, 0)["addr"], 0)

    def test_names_the_tool_would_split_or_read_as_a_comment_arrive_whole(self):
        names = ["#run1.sbus", "Dac/lot 7.sbus", "Dac/a\tb #2.sbus", b"Dac/\xff lot.sbus"]
        with self.session() as bench:
            bench.code(1, 0x6000)
            for name in names:
                bench.save(name)
                self.assertTrue(os.path.exists(os.path.join(os.fsencode(self.folder),
                                                            os.fsencode(name))), name)
        with self.session() as bench:
            for name in names:
                bench.code(1, 0)
                bench.load(name)
                self.assertEqual(bench.read(1, 1)["data"], 0x6000, name)

    def test_a_word_that_cannot_be_passed_is_refused_before_sending(self):
        with self.session() as bench:
            for word in ("a\nreset", 'Dac/"x".sbus', "a\rb", ""):
                with self.assertRaises(ValueError):
                    bench.save(word)
            with self.assertRaises(ValueError):
                bench.command("reset\nlevel", "0", "1.0")
            self.assertEqual(bench.read(1, 0)["addr"], 0)


class SessionEnds(BenchFolder):
    def test_the_context_manager_ends_the_tool(self):
        with self.session() as bench:
            process = bench._tool.process
        self.assertEqual(process.returncode, 0)

    def test_a_dead_tool_raises_instead_of_hanging(self):
        bench = self.session(timeout=10)
        bench.open()
        bench._tool.process.kill()
        started = time.monotonic()
        with self.assertRaises(kovra610.Error) as caught:
            bench.level(0, 1.0)
        self.assertLess(time.monotonic() - started, 10)
        # Named by the signal; the link's progress lines are no reason.
        self.assertEqual(str(caught.exception), "the tool ended (killed by SIGKILL)")
        bench.close()

    def test_a_dropped_session_ends_its_tool(self):
        bench = self.session()
        bench.open()
        bench.level(0, 1.0)
        process = bench._tool.process
        dropped = weakref.ref(bench)
        del bench
        gc.collect()
        self.assertIsNone(dropped())
        self.assertEqual(process.wait(timeout=20), 0)


class AnswersBelongToTheirCommand(BenchFolder):
    """A command abandoned while the tool holds its answer (the tool is
    stopped meanwhile): its answer, when it comes, goes to no other command."""

    def test_the_answer_of_an_interrupted_or_timed_out_command_is_dropped(self):
        with self.session() as bench:
            bench.level(0, 1.0)
            pid = bench._tool.process.pid
            previous = signal.signal(signal.SIGINT, signal.default_int_handler)
            interrupt = threading.Timer(0.3, signal.pthread_kill,
                                        (threading.main_thread().ident, signal.SIGINT))
            os.kill(pid, signal.SIGSTOP)
            try:
                with self.assertRaises(KeyboardInterrupt):
                    interrupt.start()
                    bench.read(1, 1)
                bench.timeout = 0.3
                with self.assertRaises(kovra610.Error) as caught:
                    bench.get("DRVFORCE")
                self.assertIn("no answer within", str(caught.exception))
                self.assertEqual(caught.exception.step, "get DRVFORCE")
            finally:
                bench.timeout = kovra610._session.COMMAND_TIMEOUT
                interrupt.cancel()
                signal.signal(signal.SIGINT, previous)
                os.kill(pid, signal.SIGCONT)
            self.assertEqual(bench.read(1, 0)["addr"], 0)
            self.assertEqual(bench.channels(2)["channels"], 2)
            self.assertEqual(bench.read(1, 0)["data"], 22937)  # level 0 at 1.0 V

    def test_ctrl_c_at_the_terminal_interrupts_the_script_not_the_tool(self):
        # A terminal's Ctrl-C goes to every process of its foreground job: a
        # script run as a job of its own gets SIGINT to its whole group.
        script = """if True:
            import json, sys, kovra610
            with kovra610.Session(board="virtual", program=sys.argv[1], cwd=sys.argv[2]) as bench:
                print("open", flush=True)
                try:
                    while True:
                        bench.read_all(fast=False)
                except KeyboardInterrupt:
                    pass
                print(json.dumps(bench.read(1, 0)), flush=True)
        """
        client = os.path.dirname(os.path.dirname(os.path.abspath(kovra610.__file__)))
        job = subprocess.Popen(
            [sys.executable, "-c", script, CLI, self.folder], stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True, start_new_session=True,
            env=dict(os.environ, PYTHONPATH=client))
        try:
            self.assertEqual(job.stdout.readline(), "open\n")
            time.sleep(0.5)
            os.killpg(job.pid, signal.SIGINT)
            out, err = job.communicate(timeout=60)
        finally:
            job.kill()
        self.assertEqual(job.returncode, 0, err)
        self.assertEqual(json.loads(out)["addr"], 0)


class StartUp(BenchFolder):
    def assertStartUpFails(self, reason, board="virtual", program=CLI, log=None, **environment):
        with mock.patch.dict(os.environ, environment):
            bench = kovra610.Session(board=board, program=program, cwd=self.folder, log=log)
            with self.assertRaises(kovra610.Error) as caught:
                bench.open()
        self.assertEqual(caught.exception.step, "start-up")
        self.assertIn(reason, str(caught.exception))
        self.assertIsNone(bench.close())  # nothing left to end

    def test_a_failed_start_up_raises_with_the_tools_reason(self):
        log = os.path.join(self.folder, "failed.jsonl")
        self.assertStartUpFails("Check Board Power", board="usb", log=log,
                                LD_LIBRARY_PATH=USB_LIB, KOVRA610_USB_DEVICES="none")
        # The log records the failed start-up as the panel's log does.
        with open(log, encoding="utf-8") as lines:
            started = [line for line in map(json.loads, lines) if line["event"] == "start-up"]
        self.assertEqual([(s["ok"], s["serial"], s["status"]) for s in started], [(False, None, 3)])
        self.assertIn("Check Board Power", started[0]["error"])
        self.assertStartUpFails('"nonsense" is not a known board', board="nonsense")
        self.assertStartUpFails("No such file", program=os.path.join(self.folder, "nothing"))

    def test_the_tool_and_the_log_named_relative_to_the_current_folder(self):
        log = os.path.join(self.folder, "run.jsonl")
        with kovra610.Session(program=os.path.relpath(CLI), cwd=os.path.join(self.folder, "Dac"),
                              log=os.path.relpath(log)) as bench:
            self.assertEqual(bench.get("DRVFORCE")["field"], "DRVFORCE")
        self.assertTrue(os.path.exists(log))


class SessionLog(BenchFolder):
    def read_log(self, path):
        with open(path, encoding="utf-8") as log:
            return [json.loads(line) for line in log]

    def test_the_log_records_the_board_each_command_its_answer_and_each_setup_file(self):
        path = os.path.join(self.folder, "lot 7.jsonl")
        name = "LOG1-%d" % os.getpid()  # claimed machine-wide: this run's own
        with kovra610.Session(board="virtual:serial=" + name, program=CLI, cwd=self.folder,
                              log=path) as bench:
            self.assertEqual(bench.serial, name)
            answer = bench.level(3, 1.25)
            with self.assertRaises(kovra610.Error):
                bench.level(30, 1.0)
            bench.save("Dac/saved.sbus")
            bench.load("Dac/saved.sbus")
        lines = self.read_log(path)
        events = [line["event"] for line in lines]
        self.assertEqual({line["board"] for line in lines}, {"virtual:serial=" + name})
        for line in lines:
            self.assertRegex(line["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
        self.assertEqual((lines[0]["tool"], lines[-1]["event"], lines[-1]["status"]),
                         ("kovra610-cli", "end", 0))
        started = lines[events.index("start-up")]
        self.assertEqual((started["ok"], started["serial"], started["device"]),
                         (True, name, bench.hello["device"]))
        # Each setup file as it is read: the default one during start-up, the
        # loaded one before the load's answer; by the SHA-256 of its bytes.
        files = [(l["path"], l["sha256"]) for l in lines if l["event"] == "setup-file"]
        expected = []
        for name in ("kovra610_defaults.sbus", "saved.sbus"):
            with open(os.path.join(self.folder, "Dac", name), "rb") as f:
                expected.append((os.path.join(self.folder, "Dac", name),
                                 hashlib.sha256(f.read()).hexdigest()))
        self.assertEqual(files, expected)
        self.assertLess(events.index("setup-file"), events.index("start-up"))
        self.assertEqual(events[-3:-1], ["setup-file", "command"])
        commands = [(l["command"], l["answer"]) for l in lines if l["event"] == "command"]
        self.assertEqual([c for c, _ in commands], ["level 3 1.25", "level 30 1.0",
                                                    "save Dac/saved.sbus", "load Dac/saved.sbus"])
        self.assertEqual(commands[0][1], dict(answer, ok=True))
        self.assertIn("no DAC entry", commands[1][1]["error"])

    def test_sessions_sharing_a_log_append_whole_lines(self):
        path = os.path.join(self.folder, "shared.jsonl")

        def run(name):
            with kovra610.Session(board="virtual:serial=" + name, program=CLI,
                                  cwd=self.folder, log=path) as bench:
                for i in range(60):
                    bench.read_all()  # a long answer: some 4 kB a line
                    bench.level(i % 30, 1.0)

        names = ["SH%d-%d" % (i, os.getpid()) for i in (1, 2, 3)]  # this run's own boards
        threads = [threading.Thread(target=run, args=(name,)) for name in names]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        lines = self.read_log(path)  # every line whole JSON
        for name in names:
            mine = [l for l in lines if l["board"] == "virtual:serial=" + name]
            self.assertEqual(sum(l["event"] == "command" for l in mine), 120)
            self.assertEqual(mine[-1]["event"], "end")

    def test_a_log_that_cannot_be_written_fails_the_start_before_the_board_is_touched(self):
        chip = os.path.join(self.folder, "chip.txt")
        log = os.path.join(self.folder, "no such folder", "run.jsonl")
        env = dict(os.environ, KOVRA610_BOARD="usb", LD_LIBRARY_PATH=USB_LIB,
                   KOVRA610_USB_CHIP_FILE=chip)
        done = subprocess.run([CLI, "--log", log, "reset"], cwd=self.folder, env=env,
                              capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertIn(b"no such folder/run.jsonl", done.stderr)
        with mock.patch.dict(os.environ, env):
            bench = kovra610.Session(board="usb", program=CLI, cwd=self.folder, log=log)
            with self.assertRaises(kovra610.Error) as caught:
                bench.open()
        self.assertEqual(caught.exception.step, "start-up")
        self.assertIn("session log", str(caught.exception))
        self.assertFalse(os.path.exists(chip))  # libusb never even started

    def test_a_file_size_limit_mid_session_fails_with_the_reason_and_tears_no_later_line(self):
        path = os.path.join(self.folder, "limited.jsonl")
        bench = self.session(log=path)
        bench.open()
        # The log may grow by part of a line; the setup file is larger.
        resource.prlimit(bench._tool.process.pid, resource.RLIMIT_FSIZE,
                         (os.path.getsize(path) + 100, resource.RLIM_INFINITY))
        with self.assertRaisesRegex(kovra610.Error, 'session log ".*": File too large'):
            bench.save("big.sbus")
        self.assertEqual(bench.close(), 4)
        self.assertEqual(sorted(os.listdir(self.folder)), ["Dac", "limited.jsonl"])
        with self.session(log=path):
            pass
        with open(path, encoding="utf-8") as log:
            lines = log.readlines()
        torn = [line for line in lines if not line.endswith("}\n")]
        self.assertEqual(len(torn), 1, lines)  # the piece the limit cut, on a line of its own
        self.assertEqual(json.loads(lines[-1])["event"], "end")

if __name__ == "__main__":
    unittest.main()
