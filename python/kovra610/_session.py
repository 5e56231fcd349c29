"""The session: one ``kovra610-cli serve`` process and its line protocol."""

import json
import os
import queue
import subprocess
import threading
from collections import deque

# Start-up resets the chip, loads and sends the default setup file and waits
# for the link: well under a second on the virtual board, more on a loaded
# machine or in a sanitized build.
START_TIMEOUT = 60.0
COMMAND_TIMEOUT = 30.0


class Error(Exception):
    """A command the tool refused or failed, or a session that is gone.

    ``str(error)`` is the tool's own message; ``step`` names the command it
    answered (None when the session itself failed); ``answer`` is the whole
    answer object, when there was one.
    """

    def __init__(self, message, step=None, answer=None):
        super().__init__(message)
        self.step = step
        self.answer = answer


Error.__module__ = "kovra610"


def _number(value):
    """A number as the tool reads it: decimal, never in exponent form."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError("a number is needed, not %r" % (value,))
    if isinstance(value, int):
        return str(value)
    text = repr(float(value))
    if "e" in text or "E" in text:
        text = ("%.12f" % value).rstrip("0")
    return text


def _word(value):
    """A word of a command line: file names with blanks go in double quotes."""
    text = os.fspath(value) if isinstance(value, os.PathLike) else str(value)
    if not text or any(c in text for c in '"\r\n\0'):
        raise ValueError("cannot pass %r on a command line" % (text,))
    return '"%s"' % text if any(c.isspace() for c in text) else text


class Session:
    """One ``kovra610-cli serve`` process, as a context manager.

    ``board`` is what ``KOVRA610_BOARD`` is set to: ``"virtual"``, ``"usb"``
    or ``"usb:serial=SN"``. With ``attach=True`` the tool opens the link
    without resetting the chip or sending the default setup file, and fills
    its image from what the chip holds. ``program`` is the tool to run (by
    default ``$KOVRA610_CLI``, else ``kovra610-cli`` from the ``PATH``),
    ``cwd`` its working folder (its ``Dac/`` holds the setup files).

    Every method sends one command and returns the answer object without its
    ``"ok"`` member (``read_all`` and ``verify`` return their lists), or
    raises :class:`Error`.
    """

    def __init__(self, board="virtual", attach=False, program=None, cwd=None,
                 timeout=COMMAND_TIMEOUT, start_timeout=START_TIMEOUT):
        self.board = board
        self.attach = attach
        self.program = program or os.environ.get("KOVRA610_CLI") or "kovra610-cli"
        self.cwd = cwd
        self.timeout = timeout
        self.start_timeout = start_timeout
        self.hello = None
        self._process = None
        self._answers = queue.Queue()
        self._stderr = deque(maxlen=20)
        self._lock = threading.Lock()
        self._pumps = []

    # -- life cycle -----------------------------------------------------

    def __enter__(self):
        self.open()
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def open(self):
        """Starts the tool and reads its hello line; returns the hello object."""
        if self._process is not None:
            raise Error("the session is already open")
        command = [self.program, "serve"] + (["--attach"] if self.attach else [])
        env = dict(os.environ, KOVRA610_BOARD=self.board)
        try:
            self._process = subprocess.Popen(
                command, cwd=self.cwd, env=env, stdin=subprocess.PIPE,
                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                encoding="utf-8", errors="replace", bufsize=1)
        except OSError as error:
            raise Error("cannot start %s: %s" % (self.program, error)) from error
        self._pumps = [
            threading.Thread(target=self._pump_answers, args=(self._process.stdout,), daemon=True),
            threading.Thread(target=self._pump_stderr, args=(self._process.stderr,), daemon=True)]
        for pump in self._pumps:
            pump.start()
        try:
            hello = self._answer("serve", self.start_timeout)
        except Error:
            self._stop()
            raise
        if not hello.get("ok"):
            self._stop()
            raise Error(hello.get("error", "the tool refused to start"), hello.get("step"), hello)
        self.hello = {k: v for k, v in hello.items() if k != "ok"}
        return self.hello

    def close(self):
        """Ends the session (``quit``); returns the tool's exit status."""
        if self._process is None:
            return None
        try:
            self._process.stdin.write("quit\n")
            self._process.stdin.flush()
        except (OSError, ValueError):
            pass
        return self._stop()

    quit = close

    @property
    def version(self):
        """The tool's version from its hello line."""
        return (self.hello or {}).get("version")

    # -- commands ---------------------------------------------------------

    def command(self, *words):
        """Sends one command of the given words; returns its answer."""
        line = " ".join(words)
        process = self._process
        if process is None:
            raise Error("the session is not open", line)
        with self._lock:
            try:
                process.stdin.write(line + "\n")
                process.stdin.flush()
            except (OSError, ValueError) as error:
                raise Error(self._ended("the tool is not running"), line) from error
            answer = self._answer(line, self.timeout)
        if not answer.get("ok"):
            raise Error(answer.get("error", "failed"), answer.get("step", line), answer)
        return {k: v for k, v in answer.items() if k != "ok"}

    def level(self, row, volts):
        """Commits DAC level ``row`` to ``volts``; its code is sent at once."""
        return self.command("level", _number(row), _number(volts))

    def code(self, row, code):
        """Commits DAC code ``row``; it goes out with the next transfer."""
        return self.command("code", _number(row), _number(code))

    def set(self, field, value):
        """Sets a register field by its name, to a value or its caption."""
        return self.command("set", _word(field), _word(value))

    def get(self, field):
        """A register field's value in the image: a dict of field, value and
        caption (for the channel the panel shows) and ch0, ch1."""
        return self.command("get", _word(field))

    def load(self, path):
        """Loads a setup file, shows it and sends it."""
        return self.command("load", _word(path))

    def save(self, path):
        """Saves the image to a setup file."""
        return self.command("save", _word(path))

    def read_all(self, fast=True):
        """Reads every entry in use back from the chip; returns the entries,
        each a dict of index, name, ch, addr, rw, data and volts (None for a
        register entry)."""
        answer = self.command("read-all", "--fast") if fast else self.command("read-all")
        return answer["entries"]

    def verify(self):
        """Reads every entry back; returns those whose chip data differs from
        the image, each a dict of index, name, ch, addr, image and chip (an
        empty list when the chip holds the image)."""
        return self.command("verify")["differences"]

    def read(self, ch, addr):
        """Reads one register: ``ch`` 1, 2 or 3, ``addr`` 0..127."""
        return self.command("read", _number(ch), _number(addr))

    def write(self, ch, rw, addr, data):
        """Sends one serial-bus word."""
        return self.command("write", _number(ch), _number(rw), _number(addr), _number(data))

    def bits(self, bitstring):
        """Sends one word given as 26 characters of 0/1."""
        return self.command("bits", _word(bitstring))

    def ovd_mask(self):
        """Masks the over-voltage alarm of both channels."""
        return self.command("ovd-mask")

    def reset(self):
        """Pulses the chip's reset line."""
        return self.command("reset")

    def clock(self, divisor):
        """Sets the serial clock divisor (0..59)."""
        return self.command("clock", _number(divisor))

    def reopen(self):
        """Closes and re-opens the link to the board."""
        return self.command("reopen")

    def channels(self, sel):
        """Chooses the channels register edits go to: 1, 2 or 3 (both)."""
        return self.command("channels", _number(sel))

    # -- the process --------------------------------------------------------

    def _pump_answers(self, stream):
        for line in stream:
            if line.strip():
                self._answers.put(line)
        self._answers.put(None)

    def _pump_stderr(self, stream):
        for line in stream:
            self._stderr.append(line.rstrip("\n"))

    def _answer(self, step, timeout):
        try:
            line = self._answers.get(timeout=timeout)
        except queue.Empty:
            self._stop(kill=True)
            raise Error("no answer within %g s" % timeout, step) from None
        if line is None:
            self._answers.put(None)
            raise Error(self._ended("the tool ended"), step)
        try:
            answer = json.loads(line)
        except ValueError:
            answer = None
        if not isinstance(answer, dict):
            raise Error("not an answer object: %r" % line.rstrip("\n"), step)
        return answer

    def _ended(self, what):
        status = self._process.poll() if self._process else None
        if status is None and self._process is not None:
            try:
                status = self._process.wait(timeout=1)
            except subprocess.TimeoutExpired:
                pass
        text = what if status is None else "%s (exit status %d)" % (what, status)
        if self._stderr:
            text += ": " + self._stderr[-1]
        return text

    def _stop(self, kill=False):
        process, self._process = self._process, None
        if process is None:
            return None
        if kill:
            process.kill()
        try:
            process.stdin.close()
        except (OSError, ValueError):
            pass
        try:
            status = process.wait(timeout=self.timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            status = process.wait()
        for pump, stream in zip(self._pumps, (process.stdout, process.stderr)):
            pump.join(timeout=1)
            if not pump.is_alive():  # a stream still read cannot be closed
                stream.close()
        return status
