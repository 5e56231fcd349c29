"""The pytest plugin on many boards, as a lab runs it: real pytest runs (plain
and under pytest-xdist) of the example test file, with their JUnit XML and
session logs read back."""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import kovra610

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "example", "test_on_each_board.py")
CLI = os.environ.get("KOVRA610_CLI", "kovra610-cli")
DEFAULT_SETUP = os.environ["KOVRA610_DEFAULT_SETUP"]
USB_LIB = os.environ["KOVRA610_USB_LIB"]
EXAMPLE_TESTS = 4
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")


class PytestRun(unittest.TestCase):
    """A scratch bench folder (its Dac/ holds the default setup file) with
    the example test file, and pytest run in it."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="kovra610-boards-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.mkdir(os.path.join(self.folder, "Dac"))
        shutil.copy(DEFAULT_SETUP, os.path.join(self.folder, "Dac"))
        shutil.copy(EXAMPLE, self.folder)
        self.logs = os.path.join(self.folder, "logs")
        self.junit = os.path.join(self.folder, "results.xml")

    def pytest(self, boards, workers=None, **environment):
        """Runs pytest on the example with the plugin; returns its output."""
        command = [sys.executable, "-m", "pytest", "-p", "kovra610.pytest_plugin",
                   "-p", "no:cacheprovider", "-v", "--junitxml", self.junit,
                   "--kovra610-log-dir", self.logs]
        for board in boards:
            command += ["--kovra610-board", board]
        if workers:
            command += ["-n", str(workers)]
        env = dict(os.environ, KOVRA610_CLI=os.path.abspath(CLI), **environment)
        done = subprocess.run(command + [os.path.basename(EXAMPLE)], cwd=self.folder, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=240)
        return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")

    def results(self):
        """Per test case of the JUnit XML: (name, serial, worker, outcome, message)."""
        cases = []
        for case in ElementTree.parse(self.junit).iter("testcase"):
            properties = {p.get("name"): p.get("value") for p in case.iter("property")}
            outcome, message = "passed", ""
            for tag in ("failure", "error", "skipped"):
                found = case.find(tag)
                if found is not None:
                    outcome, message = tag, found.get("message", "")
            cases.append((case.get("name"), properties.get("kovra610_serial"),
                          properties.get("worker"), outcome, message))
        return cases

    def by_board(self, cases):
        boards = {}
        for name, serial, worker, outcome, message in cases:
            boards.setdefault(serial, []).append((name, worker, outcome, message))
        return boards

    def log(self, serial):
        with open(os.path.join(self.logs, serial + ".jsonl"), encoding="utf-8") as lines:
            return [json.loads(line) for line in lines]

    def check_log(self, serial, setting, opened=True):
        """The board's log names it throughout and records the default setup
        file by its SHA-256; returns its lines."""
        lines = self.log(serial)
        self.assertEqual(lines[0]["event"], "start")
        self.assertEqual(lines[0]["tool"], "kovra610-cli")
        for line in lines:
            self.assertRegex(line["time"], TIME)
            self.assertEqual(line["board"], setting)
        self.assertEqual(len({line["pid"] for line in lines}), 1, "one session per board")
        if not opened:
            return lines
        started = [l for l in lines if l["event"] == "start-up"]
        self.assertEqual([(l["ok"], l["serial"]) for l in started], [(True, serial)])
        with open(DEFAULT_SETUP, "rb") as setup:
            digest = hashlib.sha256(setup.read()).hexdigest()
        loaded = [l for l in lines if l["event"] == "setup-file"]
        self.assertTrue(loaded)
        self.assertEqual(loaded[0]["sha256"], digest)
        self.assertTrue(loaded[0]["path"].endswith("/Dac/kovra610_defaults.sbus"))
        commands = [l for l in lines if l["event"] == "command"]
        self.assertIn("level 0 3.3", [c["command"] for c in commands])
        self.assertEqual(lines[-1]["event"], "end")
        return lines

    def check_workers(self, boards):
        """Each board ran whole on one worker, and no two boards on one."""
        workers = {serial: {worker for _, worker, _, _ in cases}
                   for serial, cases in boards.items()}
        for serial, used in workers.items():
            self.assertEqual(len(used), 1, "%s ran on %s" % (serial, used))
        self.assertEqual(len({next(iter(w)) for w in workers.values()}), len(workers), workers)


class OverUsb(PytestRun):
    """Three FT2232H behind an FT232R on the emulated USB bus; the second
    FT2232H's cable is pulled after some traffic (a start-up takes 56 bulk
    transfers, its first read a few more)."""

    BUS = "ft232r:FT000001,ft2232h:KVA,ft2232h:KVB:unplug-after=%d,ft2232h:KVC"

    def environment(self, unplug_after):
        return {"LD_LIBRARY_PATH": USB_LIB, "KOVRA610_USB_DEVICES": self.BUS % unplug_after,
                "KOVRA610_BOARD": "usb"}

    def test_boards_lists_the_ft2232h_in_bus_order(self):
        env = self.environment(1000)
        saved = {k: os.environ.get(k) for k in env}
        os.environ.update(env)
        try:
            boards = kovra610.boards(program=CLI)
        finally:
            for key, value in saved.items():
                if value is None:
                    os.environ.pop(key)
                else:
                    os.environ[key] = value
        self.assertEqual([b.serial for b in boards], ["KVA", "KVB", "KVC"])
        self.assertEqual([b.board for b in boards],
                         ["usb:serial=KVA", "usb:serial=KVB", "usb:serial=KVC"])
        self.assertEqual(len({(b.bus, b.address) for b in boards}), 3)
        self.assertTrue(all(b.description and not b.virtual for b in boards))

    def test_three_workers_one_board_each_and_an_unplug_fails_only_its_board(self):
        status, output = self.pytest(["all-usb"], workers=3, **self.environment(60))
        self.assertEqual(status, 1, output)
        cases = self.results()
        boards = self.by_board(cases)
        self.assertEqual(sorted(boards), ["KVA", "KVB", "KVC"], output)
        self.check_workers(boards)
        for serial in ("KVA", "KVC"):
            self.assertEqual([o for _, _, o, _ in boards[serial]], ["passed"] * EXAMPLE_TESTS,
                             output)
            self.check_log(serial, "usb:serial=" + serial)
        # The pulled board: its first test passed, later ones fail with the
        # link's reason.
        outcomes = {name.split("[")[0]: (o, m) for name, _, o, m in boards["KVB"]}
        self.assertEqual(outcomes["test_the_session_is_on_the_board_named"][0], "passed")
        failed = [m for o, m in outcomes.values() if o == "failure"]
        self.assertTrue(failed, outcomes)
        self.assertTrue(all("link" in m for m in failed), failed)
        lines = self.check_log("KVB", "usb:serial=KVB")
        refused = [l for l in lines if l["event"] == "command" and not l["answer"]["ok"]]
        self.assertTrue(refused)


class OnVirtualBoards(PytestRun):
    def test_three_workers_one_board_each_and_a_board_held_elsewhere_fails_alone(self):
        # V2 is open in another session: the worker that takes it cannot open it.
        holder = subprocess.Popen([CLI, "serve"], cwd=self.folder,
                                  env=dict(os.environ, KOVRA610_BOARD="virtual:serial=V2"),
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(holder.wait, 30)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.stdin.close)
        self.assertTrue(json.loads(holder.stdout.readline())["ok"])
        status, output = self.pytest(["virtual:serial=V1", "virtual:serial=V2",
                                      "virtual:serial=V3"], workers=3)
        self.assertEqual(status, 1, output)
        boards = self.by_board(self.results())
        self.assertEqual(sorted(boards), ["V1", "V2", "V3"])
        self.check_workers(boards)
        for serial in ("V1", "V3"):
            self.assertEqual([o for _, _, o, _ in boards[serial]], ["passed"] * EXAMPLE_TESTS)
            self.check_log(serial, "virtual:serial=" + serial)
        for name, _, outcome, message in boards["V2"]:
            self.assertEqual(outcome, "error", name)
            self.assertIn("virtual:serial=V2: ", message)
            self.assertIn("open in another session", message)
        lines = self.check_log("V2", "virtual:serial=V2", opened=False)
        self.assertEqual([l["event"] for l in lines], ["start", "start-up", "end"])
        self.assertFalse(lines[1]["ok"])
        self.assertIn("open in another session", lines[1]["error"])

    def test_a_plain_run_runs_each_test_on_each_board_with_one_session_each(self):
        status, output = self.pytest(["virtual:serial=P1", "virtual:serial=P2",
                                      "virtual:serial=P1"])
        self.assertEqual(status, 0, output)
        cases = self.results()
        names = [name for name, _, _, _, _ in cases]
        self.assertEqual(len(names), 2 * EXAMPLE_TESTS)
        for board in ("P1", "P2"):
            self.assertIn("test_a_level_reaches_the_chip[%s]" % board, names)
        self.assertTrue(all(name.endswith("[%s]" % serial) for name, serial, _, _, _ in cases))
        for board in ("P1", "P2"):
            lines = self.check_log(board, "virtual:serial=" + board)
            self.assertEqual([l["event"] for l in lines].count("start"), 1)

    def test_a_bad_board_option_is_a_usage_error_before_any_board_is_opened(self):
        for boards, said in ((["virtual"], "use usb:serial=SN, virtual:serial=NAME or all-usb"),
                             (["usb:serial=A B"], "is not a serial number"),
                             (["usb:serial=X", "virtual:serial=X"], "share the serial number X")):
            status, output = self.pytest(boards)
            self.assertEqual(status, 4, output)
            self.assertIn(said, output)
            self.assertFalse(os.path.exists(self.logs), boards)


if __name__ == "__main__":
    unittest.main()
