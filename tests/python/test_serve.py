"""``kovra610-cli serve`` as another program starts it: its answer lines and
what it does when nobody reads them."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

CLI = os.environ.get("KOVRA610_CLI", "kovra610-cli")
DEFAULT_SETUP = os.environ["KOVRA610_DEFAULT_SETUP"]
USB_LIB = os.environ["KOVRA610_USB_LIB"]


class Serve(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="kovra610-serve-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.mkdir(os.path.join(self.folder, "Dac"))
        shutil.copy(DEFAULT_SETUP, os.path.join(self.folder, "Dac"))

    def start(self, board="virtual", **environment):
        """serve with SIGPIPE ignored, as Python's own signal setting leaves it."""
        env = dict(os.environ, KOVRA610_BOARD=board, **environment)
        process = subprocess.Popen([CLI, "serve"], cwd=self.folder, env=env,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, restore_signals=False)
        self.addCleanup(process.stderr.close)
        return process

    def chip_words(self, commands, close_answers):
        """The words the emulated USB board's chip saw in a session given
        `commands` after its hello line, and the exit status; with
        `close_answers` the answers' reader has gone by then."""
        chip_file = os.path.join(self.folder, "chip.txt")
        process = self.start("usb", LD_LIBRARY_PATH=USB_LIB, KOVRA610_USB_CHIP_FILE=chip_file)
        hello = json.loads(process.stdout.readline())
        self.assertTrue(hello["ok"], hello)
        if close_answers:
            process.stdout.close()
        process.stdin.write(commands)
        process.stdin.close()
        status = process.wait(timeout=60)
        if not close_answers:
            process.stdout.close()
        with open(chip_file) as chip:
            return [line.split()[1:] for line in chip if line.startswith("word ")], status

    def test_a_session_nobody_reads_ends_before_the_next_command(self):
        commands = b"write 1 1 5 1234\nlevel 0 1.5\nread 1 0\nreset\n"
        start_up, status = self.chip_words(b"", close_answers=False)
        self.assertEqual(status, 0)
        self.assertGreater(len(start_up), 0)
        sent, status = self.chip_words(commands, close_answers=True)
        self.assertNotEqual(status, 0)
        self.assertEqual(sent, start_up)
        # The same commands with the answers read do reach the chip.
        sent, status = self.chip_words(commands + b"quit\n", close_answers=False)
        self.assertEqual(status, 0)
        self.assertIn(["1", "05", "1", "04D2"], sent[len(start_up):])

    def test_every_answer_line_is_utf8_json(self):
        process = self.start()
        lines = [b"frob\xed\xa0\x80 \xe0\x80\x80",     # a surrogate, an overlong form
                 b"load \xff\xf4\x90\x80\x80.sbus",     # past U+10FFFF
                 b"save Dac/\xc3(\xf0\x9f\x98\x80.sbus",  # a lone lead byte, then U+1F600
                 b"quit"]
        out, err = process.communicate(b"\n".join(lines) + b"\n", timeout=60)
        self.assertEqual(process.returncode, 0, err)
        answers = [json.loads(line.decode("utf-8", "strict")) for line in out.splitlines()]
        self.assertEqual(len(answers), len(lines) + 1)
        self.assertEqual(answers[1]["step"], "frob\ufffd\ufffd\ufffd \ufffd\ufffd\ufffd")
        self.assertEqual(answers[2]["error"], "no such file")
        self.assertTrue(answers[3]["saved"].endswith("Dac/\ufffd(\U0001F600.sbus"), answers[3])
        self.assertTrue(os.path.exists(os.path.join(os.fsencode(self.folder),
                                                    b"Dac/\xc3(\xf0\x9f\x98\x80.sbus")))


if __name__ == "__main__":
    unittest.main()
