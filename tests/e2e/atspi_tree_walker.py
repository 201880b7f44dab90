#!/usr/bin/python3
"""A second accessibility client for the end-to-end runs: walks the whole accessibility tree of
one program over the accessibility bus, round after round without a pause, as a screen reader
does, until a stop file appears. On every part it reads what a screen reader reads (name, role,
state, interfaces, place in its parent, children) and asks what a client that keeps counts may
ask: the child at -1, at the count, past it and far past it, and at the count the part had on the
round before; of a table, cells, rows and columns out of range; of a text, the character, word,
sentence and line at, before and after its edges (the caret, -1, 0, the end, past it, the end it
had on the round before), as a screen reader asks while the user types. It speaks D-Bus directly,
so nothing between it and the program checks an index first.

Of a part that shows words (a label, a button, a tab, an item), whose text "say all" reads where
it lists one, it reads the text instead and compares it with the part's name, and asks past its
end.

Writes a JSON report after each round and when it stops: rounds, parts, tables, calls, errors by name, children
answered past a count read a moment before (the tree changes under the walk), the texts asked at
their edges ("role:name" and the longest text each was asked with), answers of a password field
that gave more than its mask, the parts showing words whose text was read and those whose text was not their
words ("role:name" and the text), and whether the program stopped answering.
"""
import argparse
import json
import os
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

NULL_PATH = "/org/a11y/atspi/null"
ROOT_PATH = "/org/a11y/atspi/accessible/root"
ACCESSIBLE = "org.a11y.atspi.Accessible"
TABLE = "org.a11y.atspi.Table"
TEXT = "org.a11y.atspi.Text"
INT_MAX = 2 ** 31 - 1
# AT-SPI's text boundaries: character, word start and end, sentence start and end, line start and end.
BOUNDARIES = range(7)
# Parts whose name is the words they show, and whose text, where they list one, is those words.
SHOWING_WORDS = {"label", "push button", "toggle button", "check box", "radio button", "page tab", "list item",
                 "menu item", "link"}
# The program is gone, or its bus is.
LOST = ("org.freedesktop.DBus.Error.NoReply", "org.freedesktop.DBus.Error.ServiceUnknown",
        "org.freedesktop.DBus.Error.Disconnected", "org.freedesktop.DBus.Error.NameHasNoOwner")


class Lost(Exception):
    pass


def role_name(answer):
    """A part's role named from its number, as clients name it: the program's own GetRoleName
    calls a password field a text."""
    try:
        return Atspi.role_get_name(Atspi.Role(answer[0])) if answer else ""
    except ValueError:
        return str(answer[0])


class Walker:
    def __init__(self, pid):
        self.pid = pid
        self.bus = self.connect()
        self.name = None
        self.counts = {}
        self.text_counts = {}
        self.report = {"rounds": 0, "parts": 0, "tables": 0, "calls": 0, "errors": {}, "lost": None,
                       "answers_out_of_range": 0, "texts": {}, "password_text_given": 0, "words_read": 0,
                       "texts_not_shown": {}}

    @staticmethod
    def connect():
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                    GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        return Gio.DBusConnection.new_for_address_sync(address, flags, None, None)

    def call(self, path, interface, method, signature=None, args=(), name=None):
        self.report["calls"] += 1
        parameters = GLib.Variant(signature, args) if signature else None
        try:
            return self.bus.call_sync(name or self.name, path, interface, method, parameters, None,
                                      Gio.DBusCallFlags.NONE, 10000, None).unpack()
        except GLib.Error as error:
            remote = Gio.DBusError.get_remote_error(error) or error.message
            if remote in LOST or (name is None and "Timeout" in remote):
                raise Lost(remote)
            self.report["errors"][remote] = self.report["errors"].get(remote, 0) + 1
            return None

    def prop(self, path, interface, name):
        value = self.call(path, "org.freedesktop.DBus.Properties", "Get", "(ss)", (interface, name))
        return value[0] if value else None

    def find_program(self):
        """The program's name on the accessibility bus, by its process."""
        apps = self.call(ROOT_PATH, ACCESSIBLE, "GetChildren", name="org.a11y.atspi.Registry") or [[]]
        for name, _ in apps[0]:
            try:
                pid = self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                         "GetConnectionUnixProcessID", GLib.Variant("(s)", (name,)), None,
                                         Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
            except GLib.Error:
                continue
            if pid == self.pid:
                return name
        return None

    def ask_children(self, path, count):
        asked = {-1, count, count + 1, count + 100, INT_MAX}
        before = self.counts.get(path)
        if before is not None:
            asked |= {before - 1, before, before + 1}
        for index in sorted(asked):
            child = self.call(path, ACCESSIBLE, "GetChildAtIndex", "(i)", (index,))
            if child and child[0][1] != NULL_PATH and not 0 <= index < count:
                # The tree changes under the walk: a child may have come since the count was read.
                self.report["answers_out_of_range"] += 1

    def ask_table(self, path):
        self.report["tables"] += 1
        rows = self.prop(path, TABLE, "NRows") or 0
        columns = self.prop(path, TABLE, "NColumns") or 0
        for method, signature, args in (
                ("GetAccessibleAt", "(ii)", (-1, -1)), ("GetAccessibleAt", "(ii)", (rows, columns)),
                ("GetIndexAt", "(ii)", (-1, -1)), ("GetIndexAt", "(ii)", (rows + 1, 0)),
                ("GetRowAtIndex", "(i)", (INT_MAX,)), ("GetColumnAtIndex", "(i)", (rows * columns + 5,)),
                ("GetRowExtentAt", "(ii)", (-1, -1)), ("GetColumnExtentAt", "(ii)", (rows, 0)),
                ("IsSelected", "(ii)", (rows + 1, columns + 1)), ("GetRowHeader", "(i)", (-1,)),
                ("GetColumnHeader", "(i)", (columns + 3,)), ("GetRowColumnExtentsAtIndex", "(i)", (-1,)),
                ("GetRowColumnExtentsAtIndex", "(i)", (INT_MAX,)), ("GetRowDescription", "(i)", (rows,)),
                ("GetColumnDescription", "(i)", (-1,)), ("IsRowSelected", "(i)", (-1,)),
                ("IsColumnSelected", "(i)", (columns,))):
            self.call(path, TABLE, method, signature, args)

    def ask_text(self, path, role, name):
        length = self.prop(path, TEXT, "CharacterCount") or 0
        caret = self.prop(path, TEXT, "CaretOffset")
        offsets = {-1, 0, length - 1, length, length + 1, INT_MAX}
        if caret is not None:
            offsets.add(caret)
        if path in self.text_counts:
            offsets.add(self.text_counts[path])
        answers = [self.call(path, TEXT, "GetText", "(ii)", (0, -1))]
        for offset in sorted(offsets):
            for boundary in BOUNDARIES:
                for method in ("GetTextAtOffset", "GetTextBeforeOffset", "GetTextAfterOffset"):
                    answers.append(self.call(path, TEXT, method, "(iu)", (offset, boundary)))
            self.call(path, TEXT, "GetCharacterAtOffset", "(i)", (offset,))
        if role == "password text":
            # Its mask, one character drawn for each typed, and nothing else.
            mask = answers[0][0] if answers[0] else ""
            if len(set(mask)) > 1 or any(character.isalnum() for character in mask):
                self.report["password_text_given"] += 1
            self.report["password_text_given"] += sum(
                1 for answer in answers if answer and any(character not in mask for character in answer[0]))
        key = "%s:%s" % (role, name)
        self.report["texts"][key] = max(self.report["texts"].get(key, 0), length)
        self.text_counts[path] = length

    def read_words(self, path, role, name):
        """The text a part showing words lists, as "say all" reads it, and past its end."""
        answer = self.call(path, TEXT, "GetText", "(ii)", (0, -1))
        if answer is None:
            return
        self.report["words_read"] += 1
        if answer[0] != (name or ""):
            self.report["texts_not_shown"]["%s:%s" % (role, name)] = answer[0]
        length = len(answer[0])
        for offset in (length + 1, INT_MAX):
            past = self.call(path, TEXT, "GetTextAtOffset", "(iu)", (offset, 1))
            if past and past[0]:
                self.report["texts_not_shown"]["%s:%s past its end" % (role, name)] = past[0]

    def visit(self, path):
        count = self.prop(path, ACCESSIBLE, "ChildCount")
        if count is None:
            return []
        self.report["parts"] += 1
        self.call(path, ACCESSIBLE, "GetRoleName")
        role = role_name(self.call(path, ACCESSIBLE, "GetRole"))
        for method in ("GetState", "GetIndexInParent", "GetAttributes", "GetRelationSet"):
            self.call(path, ACCESSIBLE, method)
        name = self.prop(path, ACCESSIBLE, "Name")
        interfaces = (self.call(path, ACCESSIBLE, "GetInterfaces") or [[]])[0]
        self.ask_children(path, count)
        if TABLE in interfaces:
            self.ask_table(path)
        if TEXT in interfaces and role in SHOWING_WORDS:
            self.read_words(path, role, name)
        elif TEXT in interfaces:
            self.ask_text(path, role, name)
        if "org.a11y.atspi.Component" in interfaces:
            self.call(path, "org.a11y.atspi.Component", "GetExtents", "(u)", (0,))
        self.counts[path] = count
        children = self.call(path, ACCESSIBLE, "GetChildren")
        return [child_path for _, child_path in (children[0] if children else []) if child_path != NULL_PATH]

    def round(self):
        seen = set()
        stack = [ROOT_PATH]
        while stack:
            path = stack.pop()
            if path in seen:
                continue
            seen.add(path)
            stack.extend(reversed(self.visit(path)))
        self.report["rounds"] += 1

    def write(self, path):
        with open(path + ".new", "w") as out:
            json.dump(self.report, out)
        os.replace(path + ".new", path)

    def run(self, stop_file, report_file):
        while not os.path.exists(stop_file):
            try:
                if self.name is None:
                    self.name = self.find_program()
                    if self.name is None:
                        time.sleep(0.2)
                        continue
                self.round()
                self.write(report_file)
            except Lost as lost:
                # The program answers no more: it ended (the test tells whether it should have).
                self.report["lost"] = str(lost)
                self.write(report_file)
                self.name = None
                time.sleep(0.2)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--stop-file", required=True)
    parser.add_argument("--report", required=True)
    args = parser.parse_args()
    walker = Walker(args.pid)
    try:
        walker.run(args.stop_file, args.report)
    finally:
        walker.write(args.report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
