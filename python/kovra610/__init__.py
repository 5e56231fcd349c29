"""Scripting the KOVRA610 evaluation board from Python.

A :class:`Session` runs ``kovra610-cli serve`` and talks to it one line at a
time: each command is one line on the tool's standard input, each answer one
JSON object on its standard output. Pure Python 3, standard library only::

    import kovra610

    with kovra610.Session(board="virtual") as bench:
        bench.level(0, 3.3)
        print(bench.read(1, 0))

Many boards: :func:`boards` lists the FT2232H boards attached; the pytest
plugin :mod:`kovra610.pytest_plugin` runs a test suite on each of them.
"""

from ._session import Board, Error, Session, boards

__all__ = ["Board", "Error", "Session", "boards"]
