"""A bench test file as a lab writes it, run by the suite on many boards:
each test asks for the board with the plugin's ``kovra610_board`` fixture."""

import os

import pytest


@pytest.fixture(autouse=True)
def worker(kovra610_board, record_property):
    """Which pytest-xdist worker ran the test, for the suite to check."""
    record_property("worker", os.environ.get("PYTEST_XDIST_WORKER", "main"))


def test_the_session_is_on_the_board_named(kovra610_board, request):
    assert kovra610_board.serial == request.node.callspec.id


def test_a_level_reaches_the_chip(kovra610_board):
    kovra610_board.level(0, 3.3)  # DVH_Ch0
    assert kovra610_board.read(1, 0)["data"] == 38010


def test_the_driver_forces_vh_on_both_channels(kovra610_board):
    kovra610_board.set("DRVFORCE", "Vh")
    assert kovra610_board.get("DRVFORCE")["caption"] == "Vh"
    assert kovra610_board.verify() == []


def test_every_entry_reads_back(kovra610_board):
    assert len(kovra610_board.read_all()) == 40
