"""The session: one ``kovra610-cli serve`` process and its line protocol.

Every command is one line and the tool answers every line with exactly one
line, in order. Each command is a *question* object; a writer thread sends
the questions in order and records each one as asked just before its line
goes out, and a reader thread hands the n-th answer line to the n-th question
asked. The caller only waits for its own question, so an answer can never
reach another command: one whose caller stopped waiting (interrupted or timed
out) is dropped when it comes.

The threads hold the tool, never the :class:`Session`, so a session dropped
without ``close()`` is collected and its finaliser ends the tool.
"""

import collections
import json
import os
import queue
import signal
import subprocess
import threading
import weakref

# Start-up resets the chip, loads and sends the default setup file and waits
# for the link: well under a second on the virtual board, more on a loaded
# machine or in a sanitized build.
START_TIMEOUT = 60.0
COMMAND_TIMEOUT = 30.0
# How long a tool told to end (its input closed) may take before it is killed.
END_GRACE = 10.0

# The tool's line splitter breaks words at these blanks and reads a word
# starting with "#" as the start of a comment.
_BLANKS = " \t\v\f"
# How the tool's own lines on standard error start (its progress lines do not).
_COMPLAINT = "kovra610-cli: "


class Error(Exception):
    """A command the tool refused or failed, or a session that is gone.

    ``str(error)`` is the tool's own message; ``step`` names the command it
    answered (``"start-up"`` when the session could not start, None when the
    session itself failed); ``answer`` is the whole answer object, when there
    was one.
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
    """One word of a command line, quoted where the tool would split it or
    read it as a comment (blanks, "#"). A double quote, a line break or a NUL
    cannot be passed in a word: ValueError."""
    if isinstance(value, (bytes, os.PathLike)):
        text = os.fsdecode(value)
    else:
        text = str(value)
    if not text:
        raise ValueError("an empty word cannot be passed on a command line")
    for c in '"\r\n\0':
        if c in text:
            raise ValueError("cannot pass %r on a command line: it holds %r" % (text, c))
    if "#" in text or any(c in _BLANKS or c.isspace() for c in text):
        return '"%s"' % text
    return text


def _program(program):
    """The tool to run: `program`, else $KOVRA610_CLI, else kovra610-cli
    from the PATH. A path relative to the current folder is made absolute
    here, as the session's `cwd` would otherwise be where it is looked for."""
    program = os.fspath(program or os.environ.get("KOVRA610_CLI") or "kovra610-cli")
    return os.path.abspath(program) if os.sep in program else program


class _Question:
    """One command line (bytes, with its line end) and, once it comes, its
    answer line (None when the tool ended first)."""

    __slots__ = ("line", "answer", "answered")

    def __init__(self, line):
        self.line = line.encode("utf-8", "surrogateescape") + b"\n"
        self.answer = None
        self.answered = threading.Event()

    def give(self, answer):
        self.answer = answer
        self.answered.set()


_END = object()  # in the outbox: close the tool's input, which ends it


class _Tool:
    """The serve process, its questions in flight and the threads that
    write and read its pipes. Nothing here refers to the Session."""

    def __init__(self, process, first):
        self.process = process
        self.outbox = queue.Queue()
        self.asked = collections.deque([first])  # sent, in order, not yet answered
        self.stderr = collections.deque(maxlen=20)
        self.gone = False  # its answers have ended
        self.lock = threading.Lock()  # `asked` against `gone`
        self.threads = [
            threading.Thread(target=_write_questions, args=(self,), daemon=True),
            threading.Thread(target=_read_answers, args=(self,), daemon=True),
            threading.Thread(target=_read_stderr, args=(self,), daemon=True)]
        for thread in self.threads:
            thread.start()

    def ask(self, question):
        self.outbox.put(question)

    def end(self):
        """Closes the tool's input once the questions before are sent: the
        tool ends after answering them. The writer kills it if it has not
        ended within END_GRACE. Also the finaliser of a dropped Session."""
        self.outbox.put(_END)

    def status(self, wait):
        """The exit status, waiting up to `wait` seconds; None if running."""
        try:
            return self.process.wait(timeout=wait)
        except subprocess.TimeoutExpired:
            return None

    def reason(self, status):
        """Why the tool ended with `status`, from its standard error: the
        last line it complained with, else, when it failed without saying
        why (an exit status above 0), its last line. Its progress lines are
        no reason for an end without a failure or by a signal."""
        self.threads[2].join(timeout=2)
        lines = [line.strip() for line in self.stderr if line.strip()]
        for line in reversed(lines):
            if line.startswith(_COMPLAINT):
                return line
        return lines[-1] if lines and status > 0 else ""


def _write_questions(tool):
    stdin = tool.process.stdin
    while True:
        question = tool.outbox.get()
        if question is _END:
            break
        with tool.lock:
            sending = not tool.gone
            if sending:
                tool.asked.append(question)  # asked before it can be answered
        if not sending:
            question.give(None)
            continue
        try:
            stdin.write(question.line)
            stdin.flush()
        except (OSError, ValueError):
            pass  # the tool has gone; the reader fails what was asked
    try:
        stdin.close()
    except OSError:
        pass
    try:
        tool.process.wait(timeout=END_GRACE)
    except subprocess.TimeoutExpired:
        tool.process.kill()
        tool.process.wait()


def _read_answers(tool):
    with tool.process.stdout as stream:
        for raw in stream:
            if not raw.strip():
                continue
            try:
                question = tool.asked.popleft()
            except IndexError:
                continue  # a line nobody asked for
            question.give(raw.decode("utf-8", "replace"))
    with tool.lock:
        tool.gone = True
        waiting = list(tool.asked)
        tool.asked.clear()
    for question in waiting:
        question.give(None)


def _read_stderr(tool):
    with tool.process.stderr as stream:
        for raw in stream:
            tool.stderr.append(raw.decode("utf-8", "replace").rstrip("\n"))


class Session:
    """One ``kovra610-cli serve`` process, as a context manager.

    ``board`` is what ``KOVRA610_BOARD`` is set to: ``"virtual"``, ``"usb"``,
    ``"usb:serial=SN"`` or ``"virtual:serial=NAME"`` (a :class:`Board`'s
    ``board``). ``log`` is a file the tool appends its session log to
    (``--log``); one that cannot be written fails the start. With ``attach=True`` the tool opens the link
    without resetting the chip or sending the default setup file, and fills
    its image from what the chip holds. ``program`` is the tool to run (by
    default ``$KOVRA610_CLI``, else ``kovra610-cli`` from the ``PATH``),
    ``cwd`` its working folder (its ``Dac/`` holds the setup files).

    Every method sends one command and returns the answer object without its
    ``"ok"`` member (``read_all`` and ``verify`` return their lists), or
    raises :class:`Error`. A start-up that fails raises :class:`Error` with
    ``step == "start-up"`` and the tool's reason.

    Every answer belongs to its command. A command interrupted while it waits
    (``KeyboardInterrupt``, an exception from a signal handler) or timed out
    (no answer within ``timeout`` seconds: :class:`Error`) has still been
    sent and may still act on the board; its answer is dropped when it comes,
    and the session goes on: the next command waits behind it and gets its
    own answer. A Ctrl-C at the terminal interrupts the script, never the
    tool: it runs in a session of its own.

    A session dropped without ``close()`` ends its tool when it is collected:
    the tool's input is closed, it ends after the commands already sent, and
    it is killed if it has not ended within ten seconds.
    """

    def __init__(self, board="virtual", attach=False, program=None, cwd=None,
                 timeout=COMMAND_TIMEOUT, start_timeout=START_TIMEOUT, log=None):
        self.board = board
        self.attach = attach
        # Named from the caller's folder, as the program is, not from `cwd`.
        self.log = None if log is None else os.path.abspath(os.fspath(log))
        self.program = _program(program)
        self.cwd = cwd
        self.timeout = timeout
        self.start_timeout = start_timeout
        self.hello = None
        self._tool = None
        self._finalizer = None

    # -- life cycle -----------------------------------------------------

    def __enter__(self):
        self.open()
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def open(self):
        """Starts the tool and reads its hello line; returns the hello object."""
        if self._tool is not None:
            raise Error("the session is already open")
        command = [self.program]
        if self.log is not None:
            command += ["--log", self.log]
        command += ["serve"] + (["--attach"] if self.attach else [])
        env = dict(os.environ, KOVRA610_BOARD=self.board)
        try:
            # The tool runs in a session of its own: a Ctrl-C at the terminal
            # (SIGINT to the whole foreground job) interrupts the script, not
            # the tool, which ends when the session is closed or the script's
            # end closes its input.
            process = subprocess.Popen(
                command, cwd=self.cwd, env=env, stdin=subprocess.PIPE,
                stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        except OSError as error:
            raise Error("cannot start %s: %s" % (self.program, error), "start-up") from error
        hello_question = _Question("")
        tool = self._tool = _Tool(process, hello_question)
        self._finalizer = weakref.finalize(self, tool.end)
        try:
            hello = self._answer(hello_question, "start-up", self.start_timeout)
        except BaseException:  # no hello in time, or interrupted: no session
            process.kill()
            self._end(wait=True)
            raise
        if not hello.get("ok"):
            self._end(wait=True)
            raise Error(hello.get("error") or "the tool refused to start", "start-up", hello)
        self.hello = {k: v for k, v in hello.items() if k != "ok"}
        return self.hello

    def close(self):
        """Ends the session: the tool's input is closed, so it ends once it
        has answered the commands sent. Returns its exit status."""
        return self._end(wait=True)

    quit = close

    @property
    def version(self):
        """The tool's version from its hello line."""
        return (self.hello or {}).get("version")

    @property
    def serial(self):
        """The serial number of the board opened, from the hello line; None
        for the plain virtual board or before the session is open."""
        device = (self.hello or {}).get("device")
        return device.get("serial") if isinstance(device, dict) else None

    # -- commands ---------------------------------------------------------

    def command(self, *words):
        """Sends one command of the given words (each quoted as it needs);
        returns its answer."""
        line = " ".join(_word(w) for w in words)
        question = _Question(line)  # a line that cannot be encoded fails here
        tool = self._tool
        if tool is None:
            raise Error("the session is not open", line)
        tool.ask(question)
        answer = self._answer(question, line, self.timeout)
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
        return self.command("set", field, value)

    def get(self, field):
        """A register field's value in the image: a dict of field, value and
        caption (for the channel the panel shows) and ch0, ch1."""
        return self.command("get", field)

    def load(self, path):
        """Loads a setup file, shows it and sends it."""
        return self.command("load", path)

    def save(self, path):
        """Saves the image to a setup file."""
        return self.command("save", path)

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
        return self.command("bits", bitstring)

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

    def _answer(self, question, step, timeout):
        """The answer object of `question`. A caller interrupted here leaves
        the question behind; its answer goes to it and nowhere else."""
        if not question.answered.wait(timeout):
            raise Error("no answer within %g s (the command was sent; its answer "
                        "will be dropped when it comes)" % timeout, step)
        line = question.answer
        if line is None:
            raise Error(self._ended("the tool ended"), step)
        try:
            answer = json.loads(line)
        except ValueError:
            answer = None
        if not isinstance(answer, dict):
            raise Error("not an answer object: %r" % line.rstrip("\n"), step)
        return answer

    def _ended(self, what):
        tool = self._tool
        if tool is None:
            return what
        status = tool.status(wait=1)
        if status is None:
            return what
        if status < 0:
            try:
                text = "%s (killed by %s)" % (what, signal.Signals(-status).name)
            except ValueError:
                text = "%s (killed by signal %d)" % (what, -status)
        else:
            text = "%s (exit status %d)" % (what, status)
        reason = tool.reason(status)
        return text + ": " + reason if reason else text

    def _end(self, wait):
        tool, self._tool = self._tool, None
        if tool is None:
            return None
        self._finalizer.detach()
        tool.end()
        if not wait:
            return None
        status = tool.status(wait=END_GRACE + 5)
        if status is None:  # the writer's kill did not take: kill it here
            tool.process.kill()
            status = tool.process.wait()
        for thread in tool.threads:
            thread.join(timeout=1)  # the readers close their streams at their end
        return status


class Board(collections.namedtuple(
        "Board", "serial description bus address board chip virtual")):
    """One evaluation board attached: its FT2232H's serial number,
    description, USB bus and address (None for a virtual board), ``board``
    the ``KOVRA610_BOARD`` setting that opens it (``Session(board=...)``),
    ``chip`` and ``virtual``."""

    __slots__ = ()


Board.__module__ = "kovra610"


def boards(program=None, timeout=COMMAND_TIMEOUT):
    """The FT2232H boards attached, in the order the USB bus lists them, as
    ``kovra610-cli devices --json`` lists them (one :class:`Board` per
    device, from its interface A). With ``KOVRA610_BOARD=virtual:serial=NAME``
    in the environment the list ends with that virtual board. Raises
    :class:`Error` (``step == "devices"``) when the USB bus cannot be read."""
    program = _program(program)
    try:
        done = subprocess.run([program, "devices", "--json"], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Error("cannot run %s devices: %s" % (program, error), "devices") from error
    if done.returncode != 0:
        lines = done.stderr.decode("utf-8", "replace").strip().splitlines()
        raise Error(lines[-1] if lines else "%s devices failed (exit status %d)"
                    % (program, done.returncode), "devices")
    found = []
    for raw in done.stdout.splitlines():
        try:
            port = json.loads(raw)
        except ValueError:
            raise Error("not a device line: %r" % raw.decode("utf-8", "replace"), "devices")
        if port.get("chip") != "FT2232H" or port.get("interface") != "A":
            continue
        serial = port.get("serial") or None
        virtual = bool(port.get("virtual"))
        if virtual:
            setting = "virtual:serial=%s" % serial
        else:
            setting = "usb:serial=%s" % serial if serial else None
        found.append(Board(serial, port.get("description"), port.get("bus"),
                           port.get("address"), setting, port.get("chip"), virtual))
    return found
