#!/usr/bin/python3
# The texts a status bar shows, as the accessibility bus gives them: one line per label of
# the application named on the command line (bar-labels.py waybar).
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi


def labels(node):
    if node.get_role() == Atspi.Role.LABEL:
        yield node.get_name()
    for i in range(node.get_child_count()):
        yield from labels(node.get_child_at_index(i))


desktop = Atspi.get_desktop(0)
for i in range(desktop.get_child_count()):
    app = desktop.get_child_at_index(i)
    if app.get_name() == sys.argv[1]:
        for text in labels(app):
            print(text)
