#!/usr/bin/python3
"""Finds the command button named NAME in the application APP through AT-SPI
and presses it. Exits 0 when pressed, 1 with a reason when it cannot."""
import sys
import time

import pyatspi

app_name, button_name, timeout = sys.argv[1], sys.argv[2], float(sys.argv[3])


def find_button(node, depth=0):
    if node is None or depth > 12:
        return None
    try:
        if node.getRoleName() == "push button" and node.name == button_name:
            return node
        for i in range(node.childCount):
            found = find_button(node.getChildAtIndex(i), depth + 1)
            if found is not None:
                return found
    except Exception:  # an object can vanish while it is walked
        return None
    return None


deadline = time.monotonic() + timeout
seen = set()
while time.monotonic() < deadline:
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None:
            continue
        seen.add(app.name)
        if app.name != app_name:
            continue
        button = find_button(app)
        if button is None:
            continue
        action = button.queryAction()
        names = [action.getName(k) for k in range(action.nActions)]
        index = names.index("Press") if "Press" in names else 0
        if action.doAction(index):
            print(f"pressed '{button_name}' in {app_name} (actions {names})")
            sys.exit(0)
    time.sleep(0.2)

print(f"FAIL: no push button '{button_name}' in application '{app_name}' "
      f"within {timeout:.0f} s; applications seen: {sorted(seen)}")
sys.exit(1)
