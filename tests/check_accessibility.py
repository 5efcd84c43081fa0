"""The program as a screen reader meets it, through AT-SPI (run by check-accessibility.sh, which
provides the buses): what each window is, what the controls that hold the focus are called,
the labels read during a test, every button pressed through its Press action, and how often
the changing labels announce a change, with their window shown and with it out of sight on
another desktop. Exits 0 when all holds, 1 with the failures listed otherwise."""

import os
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

warnings.simplefilter("ignore", DeprecationWarning)

PROGRAM = sys.argv[1]
FRAME_RATE = 40  # the labels are shown at most 40 times a second
TWIPS_PER_PIXEL = 15
KINDS = ("Arctangent", "Sine", "Logarithmic")

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok


def pump(seconds):
    """Lets AT-SPI deliver its events for `seconds`."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not context.iteration(False):
            time.sleep(0.005)


def wait_for(find, seconds, what):
    """The first true value `find` gives within `seconds`, or None (a failure)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = find()
        except GLib.Error:
            found = None
        if found:
            return found
        pump(0.05)
    check(False, what)
    return None


def children(acc):
    return [c for c in (acc.get_child_at_index(i) for i in range(acc.get_child_count())) if c]


def application():
    for app in children(Atspi.get_desktop(0)):
        if app.get_name() == "Kelvarion1":
            return app
    return None


def window(title):
    app = application()
    for w in children(app) if app else []:
        if w.get_name() == title:
            return w
    return None


def control_at(win, kind, left_twips, top_twips):
    """The control of a window whose top-left corner the layout puts at (left, top) twips."""
    origin = win.get_extents(Atspi.CoordType.SCREEN)
    want = (left_twips // TWIPS_PER_PIXEL, top_twips // TWIPS_PER_PIXEL)
    for c in children(win):
        e = c.get_extents(Atspi.CoordType.SCREEN)
        if c.get_role_name() == kind and (e.x - origin.x, e.y - origin.y) == want:
            return c
    return None


def button(win, name):
    for c in children(win):
        if c.get_role_name() == "push button" and c.get_name() == name:
            return c
    return None


def focused(win):
    for c in children(win):
        if c.get_state_set().contains(Atspi.StateType.FOCUSED):
            return c
    return None


def press(win, name):
    b = button(win, name)
    if not check(b is not None, "no button %r in %r" % (name, win.get_name())):
        return False
    names = [b.get_action_name(i) for i in range(b.get_n_actions())]
    if not check("Press" in names, "%r has no Press action: %s" % (name, names)):
        return False
    return check(b.do_action(names.index("Press")), "Press on %r failed" % name)


def window_manager_runs():
    out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True,
                         text=True, timeout=10).stdout
    return "window id" in out


def count(label):
    try:
        return int(label.get_name())
    except (ValueError, GLib.Error):
        return -1


def main():
    Atspi.set_timeout(5000, 15000)
    events = []  # (when, source) of every name change
    listener = Atspi.EventListener.new(lambda e: events.append((time.monotonic(), e.source)))
    listener.register("object:property-change:accessible-name")

    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    env.pop("QT_QPA_PLATFORM", None)
    program = subprocess.Popen([PROGRAM], env=env)
    try:
        run(program, events)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait(10)


def run(program, events):
    main_window = wait_for(lambda: window("Kelvarion 1.0"), 30, "the main window never appeared")
    if not main_window:
        return
    check(main_window.get_role_name() == "frame",
          "the main window is a %r, not a frame" % main_window.get_role_name())
    first = wait_for(lambda: focused(main_window), 10, "nothing holds the focus in the main window")
    check(first and first.get_name() == "Begin Fractal Testing!",
          "the main window opens with the focus on %r" % (first and first.get_name()))

    # About: a dialog whose picture, holding the focus, has a name.
    press(main_window, "About...")
    about = wait_for(lambda: window("About Kelvarion"), 10, "About did not open the About window")
    if about:
        check(about.get_role_name() == "dialog",
              "the About window is a %r, not a dialog" % about.get_role_name())
        picture = wait_for(lambda: focused(about), 10, "nothing holds the focus in About")
        if picture:
            check(picture == control_at(about, picture.get_role_name(), 120, 120),
                  "the About window opens with the focus on %r, not its picture"
                  % picture.get_name())
            check(picture.get_name() != "", "the About picture has no name")
            print("About picture: %s %r" % (picture.get_role_name(), picture.get_name()))
        press(about, "OK")
        wait_for(lambda: window("About Kelvarion") is None, 10, "OK did not close About")

    # A test: a frame whose canvas, holding the focus, has a name; its labels read live.
    press(main_window, "Begin Fractal Testing!")
    test = wait_for(lambda: window("Generating Fractals..."), 10, "Begin did not open the test")
    if not test:
        return
    check(test.get_role_name() == "frame",
          "the test window is a %r, not a frame" % test.get_role_name())
    canvas = wait_for(lambda: focused(test), 10, "nothing holds the focus in the test window")
    if canvas:
        check(canvas == control_at(test, canvas.get_role_name(), 0, 0),
              "the test window opens with the focus on %r, not its canvas" % canvas.get_name())
        check(canvas.get_name() != "", "the canvas has no name")
        print("canvas: %s %r" % (canvas.get_role_name(), canvas.get_name()))
    when = control_at(test, "label", 2280, 5160)
    num = control_at(test, "label", 2280, 5520)
    kind = control_at(test, "label", 2280, 5880)
    if not check(when and num and kind, "the value labels are not where the layout puts them"):
        return
    first_count = wait_for(lambda: count(num) >= 1 and count(num), 30, "lblNum never counted")
    check(any(ch.isdigit() for ch in when.get_name()) and when.get_name() != "$$$",
          "lblWhen reads %r, not the start time" % when.get_name())
    check(kind.get_name() in KINDS, "lblType reads %r" % kind.get_name())
    wait_for(lambda: count(num) > (first_count or 0), 30, "lblNum stopped counting")

    # Announcements while shown: no more than the labels' repaints, one a frame at most.
    seconds = 4.0
    start = time.monotonic()
    pump(seconds)
    shown = {name: sum(1 for t, s in events if t >= start and s == label)
             for name, label in (("lblNum", num), ("lblType", kind))}
    for name, n in shown.items():
        print("%s: %.1f name changes a second with its window shown" % (name, n / seconds))
        check(n >= 1, "%s announced nothing while it counted" % name)
        # A few events of the frame before may arrive late: 5 % to spare.
        check(n <= FRAME_RATE * seconds * 1.05 + 2,
              "%s announced %.1f changes a second, more than its %d frames"
              % (name, n / seconds, FRAME_RATE))
    print("both: %.1f a second" % (sum(shown.values()) / seconds))

    # Out of sight on another desktop the labels are not repainted, so they announce nothing;
    # back in sight they tell the count reached meanwhile.
    if window_manager_runs():
        before = count(num)
        subprocess.run(["xdotool", "set_desktop", "1"], timeout=10, check=True)
        pump(0.5)
        start = time.monotonic()
        pump(2.0)
        hidden = {name: sum(1 for t, s in events if t >= start and s == label)
                  for name, label in (("lblNum", num), ("lblType", kind))}
        for name, n in hidden.items():
            print("%s: %d name changes in 2 s out of sight" % (name, n))
            check(n <= 2, "%s announced %d changes in 2 s with its window out of sight" % (name, n))
        subprocess.run(["xdotool", "set_desktop", "0"], timeout=10, check=True)
        wait_for(lambda: count(num) > before + 2, 10,
                 "lblNum did not tell the count reached out of sight")
    else:
        print("no window manager: the out-of-sight check is left out")

    press(test, "Stop!!")
    wait_for(lambda: window("Generating Fractals...") is None, 10, "Stop did not end the test")
    check(program.poll() is None, "the program ended with the test")
    press(main_window, "Exit")
    try:
        code = program.wait(10)
        check(code == 0, "the program ended with status %d" % code)
    except subprocess.TimeoutExpired:
        check(False, "Exit did not end the program")


main()
if failures:
    print("%d failure(s)" % len(failures))
    sys.exit(1)
print("all checks passed")
