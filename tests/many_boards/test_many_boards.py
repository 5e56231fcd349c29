"""The pytest plugin on many boards, as a lab runs it: real pytest runs (plain
and under pytest-xdist) of the example test file, with their JUnit XML and
session logs read back."""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
from unittest import mock

import kovra610

EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "example",
                       "test_on_each_board.py")
CLI = os.path.abspath(os.environ.get("KOVRA610_CLI", "kovra610-cli"))
DEFAULT_SETUP = os.environ["KOVRA610_DEFAULT_SETUP"]
USB_LIB = os.environ["KOVRA610_USB_LIB"]
EXAMPLE_TESTS = 4
# A virtual board is claimed by its name machine-wide: the names carry this
# run's process id, so that another run of the suite at the same time (from
# another checkout) never holds the same boards.
V1, V2, V3, P1, P2, L1, L2 = ("%s-%d" % (name, os.getpid())
                              for name in ("V1", "V2", "V3", "P1", "P2", "L1", "L2"))


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

    def pytest(self, boards, workers=None, tests=os.path.basename(EXAMPLE), **environment):
        """Runs pytest on the example with the plugin: (status, output)."""
        command = [sys.executable, "-m", "pytest", "-p", "kovra610.pytest_plugin",
                   "-p", "no:cacheprovider", "--junitxml", self.junit,
                   "--kovra610-log-dir", self.logs, tests]
        for board in boards:
            command += ["--kovra610-board", board]
        command += ["-n", str(workers)] if workers else []
        done = subprocess.run(command, cwd=self.folder, capture_output=True, timeout=240,
                              env=dict(os.environ, KOVRA610_CLI=CLI, **environment))
        return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")

    def boards(self):
        """The JUnit XML's test cases by the board serial property: for each,
        a list of (test name, worker, outcome, message)."""
        boards = {}
        for case in ElementTree.parse(self.junit).iter("testcase"):
            properties = {p.get("name"): p.get("value") for p in case.iter("property")}
            outcome = next((c for c in case if c.tag in ("failure", "error", "skipped")), None)
            boards.setdefault(properties.get("kovra610_serial"), []).append(
                (case.get("name").split("[")[0], properties.get("worker"),
                 "passed" if outcome is None else outcome.tag,
                 "" if outcome is None else outcome.get("message", "")))
        return boards

    def check_workers(self, boards):
        """Each board ran whole on one worker, and no two boards on one."""
        workers = [{worker for _, worker, _, _ in cases} for cases in boards.values()]
        self.assertTrue(all(len(used) == 1 for used in workers), workers)
        self.assertEqual(len(set.union(*workers)), len(boards), workers)

    def check_passed(self, boards, serial, setting):
        self.assertEqual([o for _, _, o, _ in boards[serial]], ["passed"] * EXAMPLE_TESTS)
        return self.check_log(serial, setting)

    def check_log(self, serial, setting, opened=True):
        """The board's log names it throughout, one session, and records the
        default setup file by its SHA-256; returns its lines."""
        with open(os.path.join(self.logs, serial + ".jsonl"), encoding="utf-8") as log:
            lines = [json.loads(line) for line in log]
        self.assertEqual((lines[0]["event"], lines[-1]["event"]), ("start", "end"))
        self.assertEqual({(l["board"], l["pid"]) for l in lines}, {(setting, lines[0]["pid"])})
        if opened:
            started = [(l["ok"], l["serial"]) for l in lines if l["event"] == "start-up"]
            self.assertEqual(started, [(True, serial)])
            with open(DEFAULT_SETUP, "rb") as setup:
                digest = hashlib.sha256(setup.read()).hexdigest()
            self.assertIn(digest, [l.get("sha256") for l in lines if l["event"] == "setup-file"])
            self.assertIn("level 0 3.3", [l.get("command") for l in lines])
        return lines


class OverUsb(PytestRun):
    """Three FT2232H behind an FT232R on the emulated USB bus; the second
    FT2232H's cable is pulled after 60 bulk transfers (a start-up takes 56,
    its first read a few more)."""

    def test_three_workers_one_board_each_and_an_unplug_fails_only_its_board(self):
        bus = {"LD_LIBRARY_PATH": USB_LIB, "KOVRA610_BOARD": "usb", "KOVRA610_USB_DEVICES":
               "ft232r:FT000001,ft2232h:KVA,ft2232h:KVB:unplug-after=60,ft2232h:KVC"}
        with mock.patch.dict(os.environ, bus):
            attached = kovra610.boards(program=CLI)
        self.assertEqual([(b.serial, b.board, b.virtual) for b in attached],
                         [("KVA", "usb:serial=KVA", False), ("KVB", "usb:serial=KVB", False),
                          ("KVC", "usb:serial=KVC", False)])
        self.assertEqual(len({(b.bus, b.address) for b in attached}), 3)

        status, output = self.pytest(["all-usb"], workers=3, **bus)
        self.assertEqual(status, 1, output)
        boards = self.boards()
        self.assertEqual(sorted(boards), ["KVA", "KVB", "KVC"], output)
        self.check_workers(boards)
        self.check_passed(boards, "KVA", "usb:serial=KVA")
        self.check_passed(boards, "KVC", "usb:serial=KVC")
        # The pulled board: its first test passed, the later ones failed
        # with the link's reason, and its log holds the refused commands.
        outcomes = {name: (o, m) for name, _, o, m in boards["KVB"]}
        self.assertEqual(outcomes.pop("test_the_session_is_on_the_board_named")[0], "passed")
        failed = [m for o, m in outcomes.values() if o == "failure"]
        self.assertTrue(failed and all("link" in m for m in failed), outcomes)
        lines = self.check_log("KVB", "usb:serial=KVB")
        self.assertTrue([l for l in lines if l["event"] == "command" and not l["answer"]["ok"]])


class OnVirtualBoards(PytestRun):
    def test_three_workers_one_board_each_and_a_board_held_elsewhere_fails_alone(self):
        # V2 is open in another session: the worker that takes it cannot open it.
        holder = subprocess.Popen([CLI, "serve"], cwd=self.folder,
                                  env=dict(os.environ, KOVRA610_BOARD="virtual:serial=" + V2),
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(holder.wait, 30)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.stdin.close)
        self.assertTrue(json.loads(holder.stdout.readline())["ok"])
        status, output = self.pytest(["virtual:serial=" + V1, "virtual:serial=" + V2,
                                      "virtual:serial=" + V3], workers=3)
        self.assertEqual(status, 1, output)
        boards = self.boards()
        self.assertEqual(sorted(boards), [V1, V2, V3])
        self.check_workers(boards)
        self.check_passed(boards, V1, "virtual:serial=" + V1)
        self.check_passed(boards, V3, "virtual:serial=" + V3)
        for _, _, outcome, message in boards[V2]:
            self.assertEqual(outcome, "error")
            self.assertIn("virtual:serial=%s: link down: " % V2, message)
            self.assertIn("open in another session", message)
        lines = self.check_log(V2, "virtual:serial=" + V2, opened=False)
        self.assertEqual([(l["event"], l.get("ok")) for l in lines],
                         [("start", None), ("start-up", False), ("end", None)])

    def test_a_plain_run_runs_each_test_on_each_board_with_one_session_each(self):
        status, output = self.pytest(["virtual:serial=" + P1, "virtual:serial=" + P2,
                                      "virtual:serial=" + P1])
        self.assertEqual(status, 0, output)
        names = [c.get("name") for c in ElementTree.parse(self.junit).iter("testcase")]
        self.assertEqual(sorted(names), sorted(
            "%s[%s]" % (name, board) for board in (P1, P2)
            for name, _, _, _ in self.boards()[board]))
        self.assertEqual(len(names), 2 * EXAMPLE_TESTS)
        for board in (P1, P2):
            self.check_passed(self.boards(), board, "virtual:serial=" + board)

    def test_a_board_keeps_its_session_when_another_fixture_interleaves_the_boards(self):
        # A session fixture with values of its own makes pytest take the boards in turns.
        with open(os.path.join(self.folder, "test_lots.py"), "w") as tests:
            tests.write("import pytest\n"
                        "@pytest.fixture(scope='session', params=['lot6', 'lot7'])\n"
                        "def lot(request): return request.param\n"
                        "def test_a_lot(lot, kovra610_board): kovra610_board.level(0, 3.3)\n"
                        "def test_the_board(kovra610_board): kovra610_board.level(0, 3.3)\n")
        status, output = self.pytest(["virtual:serial=" + L1, "virtual:serial=" + L2],
                                     tests="test_lots.py")
        self.assertEqual(status, 0, output)
        for board in (L1, L2):
            self.check_log(board, "virtual:serial=" + board)  # one session

    def test_a_bad_board_option_is_a_usage_error_before_any_board_is_opened(self):
        for boards, said in ((["virtual"], "use usb:serial=SN, virtual:serial=NAME or all-usb"),
                             (["usb:serial=X", "virtual:serial=X"], "share the serial number X")):
            status, output = self.pytest(boards)
            self.assertEqual(status, 4, output)
            self.assertIn(said, output)
            self.assertFalse(os.path.exists(self.logs), boards)


if __name__ == "__main__":
    unittest.main()
