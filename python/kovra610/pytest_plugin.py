"""pytest plugin: one test suite run on many KOVRA610 evaluation boards.

Load it with ``pytest -p kovra610.pytest_plugin`` or, in the ``conftest.py``
at the top of the tests, ``pytest_plugins = ["kovra610.pytest_plugin"]``.

``--kovra610-board BOARD`` (repeatable) names the boards: ``usb:serial=SN``,
``virtual:serial=NAME`` or ``all-usb`` (every FT2232H attached, as
:func:`kovra610.boards` lists them). A test asking for the fixture
``kovra610_board`` gets an open :class:`kovra610.Session` and runs once per
board, the board's serial number in its id (``test_level[KV610002]``) and,
in JUnit XML, in the property ``kovra610_serial``.

The session is opened once per board and kept for the whole run: what one
test leaves on the board (levels, registers, the image) is what the next
one finds. A test that needs a known state sets it itself, e.g. with an
autouse fixture that loads a setup file.

Under pytest-xdist (``-n N``) the tests go to the workers by board, with
xdist's own ``loadgroup`` distribution: each board's tests form one group
(their ids end in ``@SERIAL``), so every board is driven by one worker, which
keeps it for the run, and every test still runs once per board. A board that cannot be
opened fails each of its tests with the tool's reason; the other boards go
on.

``--kovra610-log-dir DIR`` gives each board its session log,
``DIR/SERIAL.jsonl``.

Without ``--kovra610-board`` the fixture opens the one board that
``KOVRA610_BOARD`` names (``usb`` when unset), and the tests are not
parametrised.
"""

import os
import re

import pytest

import kovra610

_FORMS = ("usb:serial=", "virtual:serial=")
_PROPERTY = "kovra610_serial"


class _Board:
    """A board given on the command line: its KOVRA610_BOARD setting and
    serial number (the test id)."""

    def __init__(self, setting, serial):
        self.setting = setting
        self.serial = serial

    def __repr__(self):
        return self.setting


def pytest_addoption(parser):
    group = parser.getgroup("kovra610", "KOVRA610 evaluation boards")
    group.addoption(
        "--kovra610-board", action="append", default=[], metavar="BOARD",
        dest="kovra610_boards",
        help="run the tests using the kovra610_board fixture on this board: "
             "usb:serial=SN, virtual:serial=NAME or all-usb (every FT2232H "
             "attached); repeat for more boards")
    group.addoption(
        "--kovra610-log-dir", metavar="DIR", dest="kovra610_log_dir", default=None,
        help="write each board's session log to DIR/SERIAL.jsonl")


def _serial_problem(serial):
    """Why `serial` is no serial number the tool takes, or None."""
    if not serial:
        return "the board's serial number is missing after the \"=\""
    if len(serial) > 64 or any(not ("!" <= c <= "~") for c in serial):
        return "%r is not a serial number (up to 64 printable characters, no spaces)" % serial
    return None


def _resolve(values):
    """The boards the options name, in order, each once."""
    found = []
    for value in values:
        if value == "all-usb":
            try:
                attached = kovra610.boards()
            except kovra610.Error as error:
                raise pytest.UsageError("--kovra610-board all-usb: %s" % error)
            usable = [b for b in attached if not b.virtual]
            if not usable:
                raise pytest.UsageError("--kovra610-board all-usb: no FT2232H is attached")
            for board in usable:
                if board.board is None:
                    raise pytest.UsageError(
                        "--kovra610-board all-usb: the FT2232H at bus %03d address %03d "
                        "gives no serial number (is the udev rule installed?)"
                        % (board.bus, board.address))
                found.append(_Board(board.board, board.serial))
            continue
        form = next((f for f in _FORMS if value.startswith(f)), None)
        if form is None:
            raise pytest.UsageError(
                "--kovra610-board %s: use usb:serial=SN, virtual:serial=NAME or all-usb"
                % value)
        serial = value[len(form):]
        problem = _serial_problem(serial)
        if problem:
            raise pytest.UsageError("--kovra610-board %s: %s" % (value, problem))
        found.append(_Board(value, serial))
    boards = []
    for board in found:
        same = [b for b in boards if b.serial == board.serial]
        if any(b.setting == board.setting for b in same):
            continue
        if same:
            raise pytest.UsageError(
                "--kovra610-board: %s and %s share the serial number %s"
                % (same[0].setting, board.setting, board.serial))
        boards.append(board)
    return boards


class _Sessions:
    """The session of each board, opened at its first test and kept until
    the run ends, or why it could not be opened. pytest keeps one value of a
    session fixture's parameter at a time: when it orders a board's tests
    among another's (another session fixture with parameters does), it
    would end a board's session and start it again, resetting the chip."""

    def __init__(self, config):
        self.config = config
        self.boards = {}  # setting: the open Session, or the failure's text

    def session(self, setting, serial):
        if setting not in self.boards:
            session = kovra610.Session(board=setting,
                                       log=_log_path(self.config, serial or setting))
            try:
                session.open()
                self.boards[setting] = session
            except kovra610.Error as error:
                self.boards[setting] = "%s: %s" % (setting, error)
        return self.boards[setting]

    def close(self):
        boards, self.boards = self.boards, {}
        for session in boards.values():
            if isinstance(session, kovra610.Session):
                session.close()


def _given_boards(config):
    return getattr(config, "_kovra610_boards", [])


@pytest.hookimpl(tryfirst=True)
def pytest_configure(config):
    config._kovra610_boards = _resolve(config.getoption("kovra610_boards"))
    config._kovra610_sessions = _Sessions(config)
    config.add_cleanup(config._kovra610_sessions.close)
    if not config._kovra610_boards or hasattr(config, "workerinput"):
        return
    # Spread by board with xdist's loadgroup (set before xdist, trylast,
    # makes its session from the option): a group goes whole to one worker.
    dist = getattr(config.option, "dist", "no")
    if dist == "load":
        config.option.dist = "loadgroup"
    elif dist not in ("no", "loadgroup"):
        raise pytest.UsageError(
            "--dist %s would drive one board from several workers; with --kovra610-board "
            "the tests go to the workers by board (--dist loadgroup, the default with -n)"
            % dist)


@pytest.hookimpl(optionalhook=True)
def pytest_configure_node(node):
    """Tells each xdist worker to group its tests by board."""
    if _given_boards(node.config) and node.config.getoption("dist") == "loadgroup":
        node.workerinput["kovra610_group_by_board"] = True


def pytest_generate_tests(metafunc):
    if "kovra610_board" not in metafunc.fixturenames:
        return
    boards = _given_boards(metafunc.config)
    if not boards:
        return
    metafunc.parametrize("kovra610_board",
                         [pytest.param(board, id=board.serial) for board in boards],
                         indirect=True, scope="session")


@pytest.hookimpl(trylast=True)
def pytest_collection_modifyitems(config, items):
    grouped = getattr(config, "workerinput", {}).get("kovra610_group_by_board", False)
    for item in items:
        callspec = getattr(item, "callspec", None)
        board = callspec.params.get("kovra610_board") if callspec is not None else None
        if not isinstance(board, _Board):
            continue
        item.user_properties.append((_PROPERTY, board.serial))
        if grouped:
            # xdist's loadgroup sends the tests whose ids end in the same
            # "@GROUP" to one worker, the group whole.
            item._nodeid = "%s@%s" % (item.nodeid, board.serial)


def pytest_sessionfinish(session):
    """Ends the boards' sessions when the tests are done: under pytest-xdist
    before the worker says it has finished, so that the run ends after its
    tools and their session logs."""
    sessions = getattr(session.config, "_kovra610_sessions", None)
    if sessions is not None:
        sessions.close()


def _log_path(config, serial):
    folder = config.getoption("kovra610_log_dir")
    if folder is None:
        return None
    os.makedirs(folder, exist_ok=True)
    name = re.sub(r"[^A-Za-z0-9._-]", "_", serial or "board")
    return os.path.join(folder, name + ".jsonl")


@pytest.fixture(scope="session")
def kovra610_board(request):
    """An open :class:`kovra610.Session` on the board this test runs on,
    kept open for the whole run."""
    board = getattr(request, "param", None)
    if board is None:
        workers = int(os.environ.get("PYTEST_XDIST_WORKER_COUNT", "1") or 1)
        if workers > 1:
            pytest.fail("under pytest-xdist name the boards with --kovra610-board "
                        "(one worker drives each board)", pytrace=False)
        setting = os.environ.get("KOVRA610_BOARD") or "usb"
        serial = setting.split("=", 1)[1] if setting.startswith(_FORMS) else None
    else:
        setting, serial = board.setting, board.serial
    session = request.config._kovra610_sessions.session(setting, serial)
    if not isinstance(session, kovra610.Session):
        # Each of the board's tests fails with it.
        pytest.fail(session, pytrace=False)
    return session
