#!/usr/bin/python3
"""What a screen reader reads of the running program, through AT-SPI (what Orca reads): each
window's role and name, each frame named by its own caption, the focus at start on the selected
option button, and the lines About and Help print, as printed. Presses "A propos" and "Aide" as
a screen reader's user would. Exit 1 with the reasons on any difference."""
import sys
import time

import pyatspi

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def wait_for(what, find, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    failures.append(f"no {what}")
    report()


def report():
    for failure in failures:
        print(f"screenreader: FAILED: {failure}")
    sys.exit(1 if failures else 0)


def walk(accessible):
    for child in accessible:
        if child is not None:
            yield child
            yield from walk(child)


def named(root, role, name):
    return next((a for a in walk(root) if a.getRole() == role and a.name == name), None)


def program():
    desktop = pyatspi.Registry.getDesktop(0)
    return next((app for app in desktop if app is not None and app.name == "redim"), None)


def window(name):
    app = program()
    return app and next((w for w in app if w is not None and w.name == name), None)


def printed(dialog):
    labels = [a for a in walk(dialog) if a.getRole() == pyatspi.ROLE_LABEL]
    return labels[0].name.split("\n") if len(labels) == 1 and labels[0].name else None


main = wait_for("the main window", lambda: window(" Redimensionnement d'images  Jpeg"))
check(main.getRole() == pyatspi.ROLE_FRAME, f"the main window is a {main.getRoleName()}")

# Each frame by its own caption: the one around the option buttons, the one around the slider,
# and the one around both.
frames = {child.getRole(): frame.name for frame in walk(main) if frame.getRole() == pyatspi.ROLE_PANEL
          for child in frame if child is not None}
check(frames.get(pyatspi.ROLE_RADIO_BUTTON) == "Type de redimensionnement",
      f"the options' frame is named {frames.get(pyatspi.ROLE_RADIO_BUTTON)!r}")
check(frames.get(pyatspi.ROLE_SLIDER) == "Taux de redimensionnement (10 à 200 %)",
      f"the rate's frame is named {frames.get(pyatspi.ROLE_SLIDER)!r}")
check(named(main, pyatspi.ROLE_PANEL, "Options") is not None, "no frame is named 'Options'")

focused = wait_for("a control with the focus", lambda: next(
    (a for a in walk(main) if a.getState().contains(pyatspi.STATE_FOCUSED)), None))
check(focused.name == "Toutes les images d'un dossier à la suite",
      f"the focus starts on {focused.getRoleName()} {focused.name!r}")

for button, title, lines in (("A propos", " A propos", 6), ("Aide", " Aide", 31)):
    named(main, pyatspi.ROLE_PUSH_BUTTON, button).queryAction().doAction(0)
    dialog = wait_for(f"the window {title!r}", lambda: window(title))
    check(dialog.getRole() == pyatspi.ROLE_DIALOG, f"{title!r} is a {dialog.getRoleName()}")
    text = wait_for(f"text in {title!r}", lambda: printed(dialog))
    check(len(text) == lines, f"{title!r} reads {len(text)} lines: {text}")
    if len(text) != lines:
        continue
    if title == " A propos":
        check(text[1].startswith("      ©") and "@" in text[3], f"{title!r} reads {text}")
    else:
        check(text[2:5] == ["   ConvertImg (freeware).", "",
                            "   Il permet de lire des fichiers jpeg (*.jpg), de les redimensionner et de les"],
              f"{title!r} reads {text[:6]}")

report()
