# Reads the running program's controls through AT-SPI, as a screen reader does, and checks that each has a
# name and a description, and that the Action at once is told of. usage: accessibility_probe.py APPLICATION
import sys
import time

import pyatspi


def find_application(name, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for application in pyatspi.Registry.getDesktop(0):
            if application is not None and application.name == name:
                return application
        time.sleep(0.5)
    sys.exit(f"FAIL: no application {name} on the accessibility bus")


def controls(node):
    for child in node:
        if child is None:
            continue
        yield child
        yield from controls(child)


window = next(iter(find_application(sys.argv[1], 60)))
found = [(c.getRoleName(), c.name, c.description) for c in [window, *controls(window)]]
unnamed = [f for f in found if not f[1] or not f[2]]
if unnamed:
    sys.exit(f"FAIL: controls without a name or a description: {unnamed}")
remaining = [f for f in found if f[0] == "text" and f[1] == "Remaining"]
if len(remaining) != 1 or "F5" not in remaining[0][2]:
    sys.exit(f"FAIL: Remaining does not tell of the Action at once: {remaining}")
if len(found) < 45:
    sys.exit(f"FAIL: only {len(found)} controls seen: {found}")
print(f"PASS: {len(found)} controls named and described")
