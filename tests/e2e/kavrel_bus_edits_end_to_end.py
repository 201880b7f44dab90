#!/usr/bin/python3
"""The real kavrel under a client on the accessibility bus that asks what no screen reader asks:
a list item of the listening setup's language lists asked for a table's rows, cells and extents;
a dictation tool's insert with an offset or a length of 2147483647 into the sign-in e-mail field
and into "Отменить вход", which has no editable text; and every edit the bus offers (set, insert,
delete, cut, paste) on the live transcript and translation of the main window and of both panes
of the mini window, and on the language lists' items. The program must stay up without a sanitizer's
report, its memory must stay near what it was (the peak it reached, read from /proc), the e-mail
field must take a plain insert and of the huge ones only the text sent, and what the screen shows
and the server keeps must be what it was: the same texts, the same item names.

And what such a client writes where the user may type is taken as typed: the sign-in runs on
addresses, passwords and codes written through the bus (their length given in UTF-8 bytes, as the
library most clients use counts it), and History searches on a word so written ("встреча",
length 14), its clear button coming with it. While the sign-in's button waits for the server, it
keeps the keyboard, reads as not enabled and offers nothing to press.

An edit is answered with what became of it: the e-mail field lists an editable text on the bus and
its plain insert answers true; the button, the live texts and the language items list none, and
every edit of them answers false.

Runs like kavrel_end_to_end.py (whose helpers it uses) inside scripts/with-test-services.
"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kavrel_end_to_end as e2e  # noqa: E402  (skips by itself without pyatspi)
from atspi_tree_walker import ACCESSIBLE, INT_MAX, NULL_PATH, ROOT_PATH, TABLE, TEXT, Walker, role_name  # noqa: E402
from gi.repository import Atspi  # noqa: E402

Failure = e2e.Failure
LAST_TURN = e2e.LAST_TURN
EDITABLE = "org.a11y.atspi.EditableText"
ACTION = "org.a11y.atspi.Action"
COMPONENT = "org.a11y.atspi.Component"
MARKER = "[A11Y-REPLACED]"
SEARCHED = "встреча"


def spoken_lines(text):
    """The words of each line of a live text, without the speaker, language or time before them."""
    lines = []
    for line in text.split("\n"):
        words = line.split(": ", 1)[-1].strip()
        if words.startswith("[") and "] " in words:
            words = words.split("] ", 1)[1]
        if words and words != "\ufffc":
            lines.append(words)
    return lines


# What the memory's peak may grow by through the huge inserts. A length of 2147483647 no longer
# reaches Qt's bridge, which sized the text to it (4 GiB, and in the sanitizer build about 1 GiB of
# bookkeeping on top): the text sent is the text inserted.
PEAK_GROWTH_LIMIT = 256 * 1024 * 1024


class Bus(Walker):
    """A client that speaks D-Bus to the program directly, so nothing between it and the program
    checks what it sends."""

    def __init__(self, pid):
        super().__init__(pid)
        deadline = time.time() + 30
        while self.name is None and time.time() < deadline:
            self.name = self.find_program()
            if self.name is None:
                time.sleep(0.3)
        if self.name is None:
            raise Failure("the program is not on the accessibility bus")

    def parts(self):
        """(path, role, name, window name) of every part, walked from the program's root."""
        found = []
        stack = [(ROOT_PATH, None)]
        seen = set()
        while stack:
            path, window = stack.pop()
            if path in seen or path == NULL_PATH:
                continue
            seen.add(path)
            role = role_name(self.call(path, ACCESSIBLE, "GetRole"))
            name = self.prop(path, ACCESSIBLE, "Name") or ""
            if path != ROOT_PATH:
                window = window if window is not None else name
                found.append((path, role, name, window))
            children = self.call(path, ACCESSIBLE, "GetChildren")
            for _, child in reversed(children[0] if children else []):
                stack.append((child, window if path != ROOT_PATH else None))
        return found

    def children(self, path):
        children = self.call(path, ACCESSIBLE, "GetChildren")
        return [child for _, child in (children[0] if children else []) if child != NULL_PATH]

    def text(self, path):
        answer = self.call(path, TEXT, "GetText", "(ii)", (0, -1))
        return answer[0] if answer else None

    def name_of(self, path):
        return self.prop(path, ACCESSIBLE, "Name")

    def states(self, path):
        """The part's states, as Atspi.StateType numbers."""
        answer = self.call(path, ACCESSIBLE, "GetState")
        words = answer[0] if answer else []
        return {32 * word + bit for word, value in enumerate(words) for bit in range(32) if value >> bit & 1}

    def write(self, path, text):
        """What an on-screen keyboard or dictation writes into a field: the field emptied, then the
        text inserted with its length in UTF-8 bytes."""
        self.call(path, EDITABLE, "DeleteText", "(ii)", (0, self.prop(path, TEXT, "CharacterCount") or 0))
        self.call(path, EDITABLE, "InsertText", "(isi)", (0, text, len(text.encode("utf-8"))))

    def editable(self, path):
        """Whether the part lists an editable text on the bus."""
        answer = self.call(path, ACCESSIBLE, "GetInterfaces")
        return EDITABLE in (answer[0] if answer else [])

    def every_edit(self, path):
        """Every change the bus offers, each as a client may send it, on a part the user types
        nothing into: it lists no editable text, and no change answers that it was made."""
        if self.editable(path):
            raise Failure("%s (%r) lists an editable text" % (path, self.prop(path, ACCESSIBLE, "Name")))
        answers = [
            self.call(path, EDITABLE, "SetTextContents", "(s)", (MARKER + " the meeting was cancelled",)),
            self.call(path, EDITABLE, "InsertText", "(isi)", (0, MARKER, len(MARKER))),
            self.call(path, EDITABLE, "InsertText", "(isi)", (2, "\n", 1)),
            self.call(path, EDITABLE, "DeleteText", "(ii)", (0, 5)),
            self.call(path, EDITABLE, "CutText", "(ii)", (0, 5)),
        ]
        self.call(path, EDITABLE, "CopyText", "(ii)", (0, 3))
        answers.append(self.call(path, EDITABLE, "PasteText", "(i)", (0,)))
        if any(answer != (False,) for answer in answers):
            raise Failure("edits of %s (%r) answered %r" % (path, self.prop(path, ACCESSIBLE, "Name"), answers))


class BusEditsRun(e2e.Run):
    screenshot_prefix = "bus-edits-"

    def peak_memory(self):
        with open("/proc/%d/status" % self.kavrel.pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
        raise Failure("no memory peak in /proc for the program")

    def alive(self, what):
        if self.kavrel.poll() is not None:
            raise Failure("kavrel ended with %d after %s" % (self.kavrel.returncode, what))
        if self.bus.call(ROOT_PATH, ACCESSIBLE, "GetRole") is None:
            raise Failure("kavrel does not answer the accessibility bus after %s" % what)

    def part(self, role=None, name=None, timeout=15.0):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for path, part_role, part_name, _ in self.bus.parts():
                if (role is None or part_role == role) and (name is None or part_name == name):
                    return path
            time.sleep(0.5)
        self.dump_tree("bus-missing-%s-%s" % (role, name))
        raise Failure("no %s named %r on the bus" % (role, name))

    def huge_inserts(self, path, what):
        """The two inserts of 2147483647, each timed (printed, never compared: a busy machine is
        slow) and the memory's peak read around them."""
        peak = self.peak_memory()
        for position, text, length in ((INT_MAX, "x", 1), (0, "x", INT_MAX)):
            started = time.time()
            self.bus.call(path, EDITABLE, "InsertText", "(isi)", (position, text, length))
            print("  %s: InsertText(%d, %r, %d) answered in %.2f s" % (what, position, text, length,
                                                                      time.time() - started), flush=True)
            self.alive("InsertText(%d, %r, %d) on %s" % (position, text, length, what))
        growth = self.peak_memory() - peak
        print("  %s: the memory's peak grew by %d MiB" % (what, growth // (1024 * 1024)), flush=True)
        if growth > PEAK_GROWTH_LIMIT:
            raise Failure("the inserts into %s raised the memory's peak by %d MiB" % (what, growth // (1024 * 1024)))

    # ---- the sign-in window ----
    def type_into(self, node, text):
        """Written through the bus, never typed."""
        self.bus.write(node.path, text)
        time.sleep(0.3)
        shown = self.bus.text(node.path)
        # A password field tells the bus only its mask: one character drawn for each written.
        if node.getRoleName() == "password text":
            if shown and (len(shown) != len(text) or len(set(shown)) != 1 or shown[0] in text):
                raise Failure("a password field written through the bus shows %r for %d characters"
                              % (shown, len(text)))
        elif shown not in (text, ""):
            raise Failure("a field written through the bus shows %r, not %r" % (shown, text))

    def submit_email_step(self, button):
        """From the keyboard, while the server takes its time: the button keeps the keyboard, reads
        as not enabled and offers nothing to press; a screen reader's press changes nothing, and
        the sign-in is sent once."""
        enabled, sensitive, focused = (int(Atspi.StateType.ENABLED), int(Atspi.StateType.SENSITIVE),
                                       int(Atspi.StateType.FOCUSED))
        self.post("/e2e/auth/slow")
        self.click(self.find(role="password text", what="password field"))
        self.bus.call(button.path, COMPONENT, "GrabFocus")
        deadline = time.time() + 10
        while focused not in self.bus.states(button.path) and time.time() < deadline:
            time.sleep(0.1)
        subprocess.run(["xdotool", "key", "space"], check=True)
        held = None
        deadline = time.time() + 3
        while held is None and time.time() < deadline:
            # Told to a screen reader anew as it changed, it is found again by its name.
            for path, role, name, _ in self.bus.parts():
                if role == "push button" and name == "Войти по email" and enabled not in self.bus.states(path):
                    held = path
            time.sleep(0.05)
        if held is None:
            raise Failure("the sign-in button, waiting for the server, still reads as enabled")
        states = self.bus.states(held)
        if sensitive in states or focused not in states:
            raise Failure("the waiting sign-in button reads as %s" % sorted(states))
        actions = [self.bus.call(held, ACTION, "GetName", "(i)", (index,))
                   for index in range(self.bus.prop(held, ACTION, "NActions") or 0)]
        if any(action and action[0].lower() in ("press", "click", "toggle") for action in actions):
            raise Failure("the waiting sign-in button offers %r" % actions)
        # A reader presses what it read before: the button as it was, whose first action was Press.
        self.bus.call(button.path, ACTION, "DoAction", "(i)", (0,))
        for index in range(len(actions)):
            self.bus.call(held, ACTION, "DoAction", "(i)", (index,))
        self.screenshot("sign-in-waiting")
        self.post("/e2e/auth/quick")
        # The step moves on to the second factor: the password field goes.
        deadline = time.time() + 20
        while time.time() < deadline and self.find_all("password text"):
            time.sleep(0.3)
        if self.find_all("password text"):
            labels = [name for name, _ in self.find_all("label")]
            raise Failure("the sign-in did not move on from the e-mail step (labels: %r)" % labels)
        logins = self.state()["signInRequests"].get("/api/auth/email/login", 0)
        if logins != 1:
            raise Failure("the sign-in was sent %d times" % logins)

    def at_sign_in(self):
        self.bus = Bus(self.kavrel.pid)
        email = self.find(role="text", what="email field").path
        if not self.bus.editable(email):
            raise Failure("the e-mail field lists no editable text")
        # A dictation tool's plain insert still goes in, and says so.
        answer = self.bus.call(email, EDITABLE, "InsertText", "(isi)", (0, "ada", 3))
        if self.bus.text(email) != "ada" or answer != (True,):
            raise Failure("a plain insert into the e-mail field answered %r and left %r" % (answer, self.bus.text(email)))
        self.huge_inserts(email, "the e-mail field")
        # Past the end, nothing; with a length past the text, the text sent.
        if self.bus.text(email) != "xada":
            raise Failure("the huge inserts left the e-mail field holding %d characters"
                          % len(self.bus.text(email) or ""))
        self.bus.call(email, EDITABLE, "SetTextContents", "(s)", ("",))
        if self.bus.text(email) != "":
            raise Failure("the e-mail field was not emptied: %r" % self.bus.text(email))
        # Past the text sent, the length adds nothing; short of it, it cuts the text.
        self.bus.call(email, EDITABLE, "InsertText", "(isi)", (0, "ада", 6))
        self.bus.call(email, EDITABLE, "InsertText", "(isi)", (3, "@пример", 2))
        if self.bus.text(email) != "ада@п":
            raise Failure("inserts by their length in bytes left %r" % self.bus.text(email))
        self.bus.call(email, EDITABLE, "SetTextContents", "(s)", ("",))

        cancel = self.part(name="Отменить вход")
        self.huge_inserts(cancel, "Отменить вход")
        self.bus.every_edit(cancel)
        self.alive("edits of Отменить вход")
        if self.bus.name_of(cancel) != "Отменить вход":
            raise Failure("Отменить вход is now named %r" % self.bus.name_of(cancel))
        self.screenshot("sign-in-after-inserts")

    # ---- the listening setup ----
    def language_lists(self):
        """(combo box, its list items) for each language picker of the sheet."""
        lists = []
        for path, role, _, _ in self.bus.parts():
            if role != "combo box":
                continue
            items = [item for child in self.bus.children(path) for item in self.bus.children(child)]
            if items:
                lists.append((path, items))
        return lists

    def while_listening_setup_shows(self):
        lists = self.language_lists()
        if len(lists) < 2:
            self.dump_tree("bus-language-lists")
            raise Failure("the setup sheet shows %d language lists with items, not 2" % len(lists))
        for combo, items in lists:
            picked = self.bus.name_of(combo)
            names = [self.bus.name_of(item) for item in items]
            item = items[0]
            # What a table is asked, of an item that is no table.
            self.bus.prop(item, TABLE, "NRows")
            self.bus.prop(item, TABLE, "NColumns")
            self.bus.prop(item, TABLE, "Caption")
            for method, signature, args in (
                    ("GetAccessibleAt", "(ii)", (0, 0)), ("GetRowExtentAt", "(ii)", (0, 0)),
                    ("GetColumnExtentAt", "(ii)", (0, 0)), ("IsSelected", "(ii)", (0, 0)),
                    ("GetIndexAt", "(ii)", (0, 0)), ("GetRowColumnExtentsAtIndex", "(i)", (0,)),
                    ("GetRowHeader", "(i)", (0,)), ("GetColumnHeader", "(i)", (0,)),
                    ("GetRowAtIndex", "(i)", (0,)), ("GetColumnAtIndex", "(i)", (0,)),
                    ("GetSelectedRows", None, ()), ("IsRowSelected", "(i)", (0,)),
                    ("GetRowDescription", "(i)", (0,))):
                self.bus.call(item, TABLE, method, signature, args)
                self.alive("Table.%s on the list item %r" % (method, names[0]))
            # Their names are the languages, whatever a client sets.
            for part in items:
                self.bus.every_edit(part)
            self.alive("edits of the language items")
            after = [self.bus.name_of(part) for part in items]
            if after != names:
                raise Failure("the language items were renamed: %s" % [
                    (before, now) for before, now in zip(names, after) if before != now])
            if self.bus.name_of(combo) != picked:
                raise Failure("the picker shows %r instead of %r" % (self.bus.name_of(combo), picked))
        self.screenshot("setup-after-edits")

    # ---- the live texts ----
    def live_texts(self, window=None):
        """(path, text) of every text part holding the meeting's last turn, in `window` if named."""
        found = []
        for path, role, _, in_window in self.bus.parts():
            if role != "text" or (window is not None and in_window != window):
                continue
            text = self.bus.text(path) or ""
            if LAST_TURN in text:
                found.append((path, text))
        return found

    def edit_live_texts(self, texts, where):
        for path, _ in texts:
            self.bus.every_edit(path)
        self.alive("edits of the live texts in %s" % where)
        # New turns may still come, and a turn's line may be drawn anew as its translation or its
        # time comes in: every line shown keeps its words, and nothing of the edits shows.
        time.sleep(1)
        for path, before in texts:
            now = self.bus.text(path) or ""
            lost = [words for words in spoken_lines(before) if words not in now]
            if MARKER in now or lost or LAST_TURN not in now:
                raise Failure("a live text in %s changed under the edits: %r became %r (lines gone: %r)"
                              % (where, before[:80], now[:80], lost[:3]))

    # ---- History ----
    def showing_cards(self):
        return [name for name, _ in self.find_all("list item")]

    def history_searched_through_the_bus(self):
        """A word written into History's search through the bus searches, as typed."""
        self.press(self.find(role="push button", contains="История", what="history section"))
        self.wait_for_history_list()
        self.find(role="list item", contains="Good morning", timeout=30, what="meeting in history")
        search = self.find(role="text", what="search field").path
        searches = self.meeting_lists()
        self.bus.call(search, EDITABLE, "InsertText", "(isi)", (0, SEARCHED, len(SEARCHED.encode("utf-8"))))
        if self.bus.text(search) != SEARCHED:
            raise Failure("History's search shows %r after %r was inserted with length %d"
                          % (self.bus.text(search), SEARCHED, len(SEARCHED.encode("utf-8"))))
        deadline = time.time() + 20
        while time.time() < deadline and (self.meeting_lists() == searches or self.showing_cards()
                                          or not self.clear_button()):
            time.sleep(0.3)
        if self.meeting_lists() == searches or self.showing_cards() or not self.clear_button():
            self.dump_tree("bus-history-search")
            raise Failure("the search written through the bus did not run (lists asked %d, then %d; cards %r; "
                          "clear button %s)" % (searches, self.meeting_lists(), self.showing_cards(),
                                                bool(self.clear_button())))
        self.screenshot("history-searched-through-the-bus")
        self.bus.write(search, "morning")
        self.find(role="list item", contains="Good morning", timeout=20, what="meeting found by the bus's search")
        self.press(self.clear_button())
        deadline = time.time() + 10
        while time.time() < deadline and (self.bus.text(search) or self.clear_button()):
            time.sleep(0.3)
        if self.bus.text(search) or self.clear_button():
            raise Failure("the clear button left %r in the search" % self.bus.text(search))
        self.find(role="list item", contains="Good morning", timeout=20, what="meeting after the search was cleared")

    def meeting_lists(self):
        """How many times the program asked the server for its list of meetings."""
        return sum(1 for request in self.state()["requests"] if request.get("operation") == "MeetingSessions")

    def clear_button(self):
        buttons = [node for name, node in self.find_all("push button") if name == "Очистить поиск"]
        return buttons[0] if buttons else None

    def run(self):
        self.forget_saved_sign_in()
        self.start_backend()
        self.sign_in()
        self.start_listening_with_microphone()
        deadline = time.time() + 45
        while time.time() < deadline and len(self.live_texts()) < 2:
            self.alive("waiting for turns")
            time.sleep(0.5)
        texts = self.live_texts()
        if len(texts) < 2:
            self.dump_tree("bus-live-texts")
            raise Failure("the last turn did not show in the transcript and the translation")
        self.edit_live_texts(texts, "the main window")
        self.screenshot("main-window-after-edits")

        # Another window covers the main window: the mini window shows both panes.
        cover = self.start(["xlogo", "-geometry", "1600x1000+0+0"])
        self.mark_process_of_window("xlogo", cover.pid)
        self.wait_for_top_level("Слушает", timeout=15)
        deadline = time.time() + 20
        while time.time() < deadline and len(self.live_texts("Слушает")) < 2:
            time.sleep(0.5)
        panes = self.live_texts("Слушает")
        if len(panes) < 2:
            self.dump_tree("bus-mini-window")
            raise Failure("the mini window shows %d panes with the last turn, not 2" % len(panes))
        self.edit_live_texts(panes, "the mini window")
        self.screenshot("mini-window-after-edits")
        cover.terminate()
        cover.wait(timeout=10)
        time.sleep(1.5)

        # The meeting stops; the server keeps what was said.
        self.tray_menu("stop", ["Down"])
        self.find(role="push button", contains="Начать прослушивание", timeout=30, what="start button after stop")
        time.sleep(2)
        saved = json.dumps(self.state()["meetings"], ensure_ascii=False)
        if LAST_TURN not in saved or MARKER in saved:
            raise Failure("the saved meeting is not what was said: %s" % saved[:400])
        self.alive("the meeting stopped")

        self.history_searched_through_the_bus()

        # Quit from the tray: the program ends by itself, without a sanitizer's report.
        self.tray_menu("quit", ["Up"])
        code = self.kavrel.wait(timeout=30)
        if code != 0:
            raise Failure("kavrel ended with %d" % code)


if __name__ == "__main__":
    sys.exit(e2e.main(BusEditsRun))
