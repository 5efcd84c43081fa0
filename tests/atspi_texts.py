#!/usr/bin/python3
"""atspi_texts.py PID TITLE

Prints what assistive technology reads (through AT-SPI) in the window titled TITLE of process
PID: the name, description and text of every element in it, each non-empty one on a line of
its own. Exits with 1 if there is no such window, with 77 if AT-SPI cannot be used from Python
here (python3-gi and gir1.2-atspi-2.0 are needed).
"""
import sys

try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
except (ImportError, ValueError) as e:
    print(f"atspi_texts.py: no AT-SPI for Python: {e}", file=sys.stderr)
    sys.exit(77)


def texts(node):
    """The readable strings of node and everything below it, in tree order."""
    out = []
    for read in (lambda n: n.get_name(), lambda n: n.get_description(), text_of):
        try:
            value = read(node)
        except Exception:  # an element that went away meanwhile
            value = None
        if value and value not in out:
            out.append(value)
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            out.extend(texts(child))
    return out


def text_of(node):
    if not node.is_text():
        return None
    return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))


def main():
    pid, title = int(sys.argv[1]), sys.argv[2]
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_process_id() != pid:
            continue
        for j in range(app.get_child_count()):
            window = app.get_child_at_index(j)
            if window is not None and window.get_name() == title:
                for line in texts(window)[1:]:  # the title itself first
                    print(line.replace("\n", " "))
                return 0
    return 1


sys.exit(main())
