#!/usr/bin/python3
"""The real kavrel under a screen reader that never stops reading: a second accessibility client
walks the whole accessibility tree without a pause (atspi_tree_walker.py), asking every part for
children out of range and at the counts it read a round before, and every text for its items at
its edges, while the user signs in, a meeting runs, the protocol panel fills and falls back to
its local text when the AI service fails, the meeting stops, and History is searched, opens a
card and deletes it. Each field typed into (the sign-in fields, History's search) must have been
read at its edges with its text in it, a password field must give only its mask, the program
must stay up and answering under the sanitizers, and Tab on a History card must reach its
"Открыть" as a named, focused button of the card. Every label's and button's text, where it lists
one, must be the words it shows (its name), as "say all" reads it.

What a screen reader is told as the keyboard goes, heard as Orca hears it (a focus event on an
object it has not spoken yet is what it speaks): the stop button, stopped with Space from the
keyboard, keeps the keyboard and is told again as "Начать прослушивание"; the sections of a
saved meeting are page tabs, and Right on them tells the section now shown.

Runs like kavrel_end_to_end.py (whose helpers it uses) inside scripts/with-test-services.
"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kavrel_end_to_end as e2e  # noqa: E402  (skips by itself without pyatspi)
from gi.repository import Atspi, GLib  # noqa: E402

Failure = e2e.Failure
pyatspi = e2e.pyatspi

LAST_TURN = e2e.LAST_TURN
PROTOCOL_NOTICE = e2e.PROTOCOL_NOTICE
# The sections of a saved meeting, in the order its tab bar shows them.
SECTIONS = ["Транскрипт", "Перевод", "Саммари"]


class FocusHeard:
    """The focus events a screen reader hears: (object path, name, role, 1 if it took the focus or 0
    if it lost it) of each, oldest first."""

    def __init__(self):
        self.events = []
        self.listener = Atspi.EventListener.new(self.heard)
        self.listener.register("object:state-changed:focused")

    def heard(self, event):
        try:
            self.events.append((event.source.path, event.source.get_name(), event.source.get_role_name(), event.detail1))
        except Exception as failure:
            self.events.append((str(failure), "", "", event.detail1))

    def take(self, seconds=0.0):
        """The events heard until now, and for `seconds` more."""
        context = GLib.MainContext.default()
        deadline = time.time() + seconds
        while True:
            while context.pending():
                context.iteration(False)
            if time.time() >= deadline:
                break
            time.sleep(0.02)
        events, self.events = self.events, []
        return events


class ScreenReaderRun(e2e.Run):
    screenshot_prefix = "reader-"

    # ---- the second client ----
    def start_walker(self):
        self.walker_stop = os.path.join(self.work, "walker.stop")
        self.walker_report = os.path.join(self.work, "walker.json")
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "atspi_tree_walker.py")
        self.walker = self.start(["/usr/bin/python3", script, "--pid", str(self.kavrel.pid),
                                  "--stop-file", self.walker_stop, "--report", self.walker_report])

    def walker_read(self):
        try:
            with open(self.walker_report) as report:
                return json.load(report)
        except (OSError, ValueError):
            return {"tables": 0}

    def stop_walker(self):
        open(self.walker_stop, "w").close()
        try:
            self.walker.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise Failure("the second accessibility client did not finish its round")
        return self.walker_read()

    def while_listening_setup_shows(self):
        # The sheet's language pickers hold the only lists with cells: the client walks them
        # before the sheet closes. A round of the whole tree takes a few seconds alone, and many
        # times that on a machine busy with other tests.
        self.wait_for("the second client at the language lists", lambda: self.walker_read()["tables"] > 0, timeout=90)

    def alive(self, what):
        if self.kavrel.poll() is not None:
            raise Failure("kavrel ended with %d while %s" % (self.kavrel.returncode, what))
        if not os.path.exists(self.walker_stop) and self.walker.poll() is not None:
            raise Failure("the second accessibility client ended while %s" % what)
        lost = self.walker_read().get("lost")
        if lost:
            raise Failure("the program stopped answering the second client (%s) while %s" % (lost, what))

    def start_backend(self, arguments=()):
        super().start_backend(arguments)
        # A reader listens before the program starts, as Orca does. (Qt's bridge asks once which
        # events are listened to, and only then hears of new listeners: one registered in between
        # is missed.)
        self.focus = FocusHeard()

    def launched(self):
        # The client reads from the start: the sign-in fields are read as the user types.
        self.start_walker()

    def hear_focus(self, what, check, timeout=20.0):
        """Waits for a focus event `check` accepts, and gives it."""
        heard = []
        deadline = time.time() + timeout
        while time.time() < deadline:
            self.alive(what)
            for event in self.focus.take(0.2):
                heard.append(event)
                if event[3] == 1 and check(event):
                    return event
        raise Failure("%s: no such focus event among %r" % (what, heard[-12:]))

    def type_into(self, node, text):
        """Types as the user does, then waits for the second client to have read the field at
        the edges of the text typed, with the caret at its end."""
        field = "%s:%s" % (node.getRoleName(), node.name)
        super().type_into(node, text)
        try:
            self.wait_for("the second client reading %s with its text" % field,
                          lambda: self.walker_read().get("texts", {}).get(field, 0) >= len(text), timeout=60)
        except Failure as failure:
            raise Failure("%s (texts it read, with their longest lengths: %s)" % (failure, self.walker_read().get("texts")))

    # ---- looking ----
    def enabled(self, node):
        try:
            return node.getState().contains(pyatspi.STATE_ENABLED)
        except Exception:
            return False

    def focused(self, node):
        try:
            return node.getState().contains(pyatspi.STATE_FOCUSED)
        except Exception:
            return False

    def wait_for(self, what, check, timeout=30.0):
        deadline = time.time() + timeout
        while time.time() < deadline:
            self.alive(what)
            value = check()
            if value:
                return value
            time.sleep(0.5)
        self.dump_tree(what)
        raise Failure(what)

    def tool(self, name):
        """The transcript column's button of an AI tool (the first of the two columns')."""
        buttons = [node for title, node in self.find_all("push button") if title == name]
        return buttons[0] if buttons else None

    def card_button(self, name, focused=False):
        """A History card's button of that name (a child of the card), the focused one if asked."""
        for node in self.nodes():
            try:
                if node.getRoleName() != "push button" or node.name != name or not self.on_card(node):
                    continue
            except Exception:
                continue
            if not focused or self.focused(node):
                return node
        return None

    def confirmation_button(self):
        """The confirmation's "Удалить" (not a card's)."""
        for name, node in self.find_all("push button"):
            if name == "Удалить" and not self.on_card(node):
                return node
        return None

    def meetings(self):
        return [meeting for meeting in self.state()["meetings"] if meeting.get("status") != "deleted"]

    # ---- the run ----
    def run(self):
        self.forget_saved_sign_in()
        self.start_backend()
        self.sign_in()

        # A meeting runs: turns fill the transcript and translation columns.
        self.start_listening_with_microphone()
        self.wait_for("turns", lambda: self.count_containing(LAST_TURN) >= 2, timeout=45)
        self.screenshot("turns")

        # The protocol panel fills, then falls back to its local text while the AI service fails.
        self.press(self.wait_for("protocol enabled", lambda: self.enabled(self.tool("Протокол")) and self.tool("Протокол")))
        self.wait_for("protocol saved", lambda: [m for m in self.meetings() if m.get("protocolText")], timeout=45)
        self.screenshot("protocol")
        self.post("/e2e/ai/failing")
        self.press(self.wait_for("protocol enabled again",
                                 lambda: self.enabled(self.tool("Протокол")) and self.tool("Протокол")))
        self.find(contains=PROTOCOL_NOTICE, timeout=60, what="local protocol notice")
        self.screenshot("protocol-fallback")
        self.post("/e2e/ai/up")

        # The meeting stops from the keyboard: the button keeps the keyboard, and the reader is
        # told of it again, under its new name, as the focus coming to an object not spoken yet.
        stop = self.find(role="push button", name="Остановить прослушивание", what="stop button")
        transcript = self.find(role="text", contains=LAST_TURN, what="transcript")

        def stop_has_the_keyboard():
            # The window comes forward with a click in it (a busy window manager may take a while).
            if not self.focused(transcript) and not self.focused(stop):
                self.click(transcript)
                time.sleep(0.5)
            stop.queryComponent().grabFocus()
            return self.focused(stop)
        self.wait_for("the stop button with the keyboard", stop_has_the_keyboard, timeout=60)
        self.focus.take(0.5)
        subprocess.run(["xdotool", "key", "space"], check=True)
        started = self.hear_focus("the start button told", lambda event: event[1] == "Начать прослушивание"
                                  and event[2] == "push button" and event[0] != stop.path, timeout=60)
        start = self.find(role="push button", name="Начать прослушивание", timeout=30, what="start button after stop")
        if not self.focused(start):
            raise Failure("the start button does not read as focused after the stop")
        print("  focus told: %r, then %r" % (stop.path, started), flush=True)
        self.alive("the meeting stopped")

        # History: a search typed and taken back, read at its edges meanwhile.
        self.press(self.find(role="push button", contains="История", what="history section"))
        self.wait_for_history_list()
        self.find(role="list item", contains="Good morning", timeout=30, what="meeting in history")
        search = self.find(role="text", what="search field")
        self.type_into(search, "morning")
        subprocess.run(["xdotool", "key", "ctrl+a", "BackSpace"], check=True)
        self.wait_for_history_list()
        self.find(role="list item", contains="Good morning", timeout=30, what="meeting in history after the search")

        # Tab goes from the search field to the card, then to its Open, which a screen reader
        # finds as the card's focused button.
        self.click(self.find(role="text", what="search field"))
        subprocess.run(["xdotool", "key", "--delay", "150", "Tab", "Tab"], check=True)
        self.wait_for("Открыть focused", lambda: self.card_button("Открыть", focused=True), timeout=15)
        self.screenshot("history-open-focused")

        # Return opens the card; its sections are page tabs, and Right tells the one now shown;
        # Escape closes it.
        subprocess.run(["xdotool", "key", "Return"], check=True)
        self.find(contains=LAST_TURN, timeout=30, what="transcript of the saved meeting")
        self.screenshot("history-detail")
        sections = self.find(role="page tab list", name="Разделы сессии", what="detail sections")
        tabs = [sections.getChildAtIndex(index) for index in range(sections.childCount)]
        if [(tab.getRoleName(), tab.name) for tab in tabs] != [("page tab", name) for name in SECTIONS]:
            raise Failure("the detail's sections read as %r" % [(tab.getRoleName(), tab.name) for tab in tabs])
        sections.queryComponent().grabFocus()
        self.hear_focus("the section shown", lambda event: event[2] == "page tab" and event[1] == SECTIONS[0], timeout=60)
        subprocess.run(["xdotool", "key", "Right"], check=True)
        self.hear_focus("the next section", lambda event: event[2] == "page tab" and event[1] == SECTIONS[1], timeout=60)
        if not sections.getChildAtIndex(1).getState().contains(pyatspi.STATE_SELECTED):
            raise Failure("the section told is not the one selected")
        self.screenshot("history-detail-translation")
        subprocess.run(["xdotool", "key", "Escape"], check=True)
        time.sleep(1)

        # The card's Delete, pressed as a screen reader presses it, asks; "Удалить" deletes.
        self.press(self.wait_for("card's delete button", lambda: self.card_button("Удалить")))
        confirm = self.wait_for("delete confirmation", self.confirmation_button)
        self.screenshot("history-delete-confirmation")
        self.press(confirm)
        self.wait_for("meeting deleted", lambda: not self.meetings(), timeout=30)
        self.wait_for("card gone", lambda: not self.find_all("list item"), timeout=30)
        self.screenshot("history-deleted")

        # The second client read the whole time; the program is still up.
        report = self.stop_walker()
        print("  second client: %s" % json.dumps(report), flush=True)
        if report["lost"]:
            raise Failure("the program stopped answering the second client: %s" % report["lost"])
        if report["rounds"] < 3 or report["parts"] < 100 or not report["tables"]:
            raise Failure("the second client read too little: %s" % report)
        if report["password_text_given"]:
            raise Failure("a password field gave more than its mask %d times" % report["password_text_given"])
        if not report["words_read"] or report["texts_not_shown"]:
            raise Failure("labels and buttons whose text is not the words they show (%d read): %r"
                          % (report["words_read"], report["texts_not_shown"]))
        self.alive("the second client stopped")

        # Quit from the tray: the program ends by itself, without a sanitizer's report.
        self.tray_menu("quit", ["Up"])
        code = self.kavrel.wait(timeout=30)
        if code != 0:
            raise Failure("kavrel ended with %d" % code)


if __name__ == "__main__":
    sys.exit(e2e.main(ScreenReaderRun))
