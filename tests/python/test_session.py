"""The Python client against the real ``kovra610-cli serve`` on the virtual board."""

import os
import shutil
import tempfile
import time
import unittest

import kovra610

CLI = os.environ.get("KOVRA610_CLI", "kovra610-cli")
DEFAULT_SETUP = os.environ["KOVRA610_DEFAULT_SETUP"]
VERSION = os.environ.get("KOVRA610_VERSION")


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

    def test_save_and_load_a_file_with_a_blank_in_its_name(self):
        with self.session() as bench:
            bench.code(1, 0x6000)
            bench.save("Dac/lot 7.sbus")
            self.assertTrue(os.path.exists(os.path.join(self.folder, "Dac", "lot 7.sbus")))
        with self.session() as bench:
            bench.load("Dac/lot 7.sbus")
            self.assertEqual(bench.read(1, 1)["data"], 0x6000)

    def test_a_line_break_in_an_argument_is_refused_before_sending(self):
        with self.session() as bench:
            with self.assertRaises(ValueError):
                bench.save("a\nreset")
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
        with self.assertRaises(kovra610.Error):
            bench.level(0, 1.0)
        self.assertLess(time.monotonic() - started, 10)
        bench.close()

    def test_a_missing_program_raises(self):
        with self.assertRaises(kovra610.Error):
            kovra610.Session(program=os.path.join(self.folder, "no-such-tool")).open()


if __name__ == "__main__":
    unittest.main()
