#!/usr/bin/python3
"""The real kavrel's sign-in under a listener on the accessibility bus, as a screen reader hears it.

The password is typed key by key, as a user types it, while every event the program sends is
recorded: none of the password field's or of its window's events carries a character of the
password, each change of the field's text carries as many mask characters as it inserts or
removes, and the field's answers (its text, its length, its items, its name, its window's name)
agree with the mask: as many mask characters as were typed, and nothing else. Return then sends the
step, and the authenticator code's field that takes the keyboard is told with a focus event
naming it and saying what it asks for.

Runs like kavrel_end_to_end.py (whose helpers it uses) inside scripts/with-test-services.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kavrel_end_to_end as e2e  # noqa: E402  (skips by itself without pyatspi)
from gi.repository import Atspi  # noqa: E402
from kavrel_screen_reader_end_to_end import FocusHeard  # noqa: E402

Failure = e2e.Failure
pyatspi = e2e.pyatspi

PASSWORD = e2e.PASSWORD
CODE_FIELD = "Код аутентификатора"
# Every kind of event the bridge sends; Qt's bridge sends only what a client listens for.
EVENT_KINDS = ["object:", "focus:", "window:"]
BOUNDARIES = range(7)


def described(value):
    """An event's data as text, whatever its kind."""
    if isinstance(value, Atspi.Accessible):
        try:
            return value.get_name() or ""
        except Exception:
            return ""
    return value if isinstance(value, str) else ""


class Heard(FocusHeard):
    """Every event heard: (kind, source path, source name, source role, detail1, detail2, data as
    text), oldest first."""

    def __init__(self):
        self.events = []
        self.listener = Atspi.EventListener.new(self.heard)
        for kind in EVENT_KINDS:
            self.listener.register(kind)

    def heard(self, event):
        try:
            source = event.source
            self.events.append((event.type, source.path, source.get_name() or "", source.get_role_name(),
                                event.detail1, event.detail2, described(event.any_data)))
        except Exception as failure:
            self.events.append((event.type, "", str(failure), "", event.detail1, event.detail2, ""))


def password_characters_in(text):
    return sorted(set(character for character in text if character in PASSWORD))


class SignInReaderRun(e2e.Run):
    screenshot_prefix = "sign-in-reader-"

    def start_backend(self, arguments=()):
        super().start_backend(arguments)
        # Listening before the program starts, as a screen reader does: Qt's bridge asks once which
        # events are listened to.
        self.heard = Heard()

    def window_of(self, node):
        while node is not None:
            try:
                if node.getRoleName() in ("frame", "window", "dialog"):
                    return node
                node = node.parent
            except Exception:
                return None
        return None

    def answers_of(self, node):
        """What a client reads of a text field: its text at every offset and boundary, its
        characters, its length, name and description."""
        text = node.queryText()
        length = text.characterCount
        answers = [("length", length), ("text", text.getText(0, -1)), ("name", node.name),
                   ("description", node.description)]
        for offset in range(-1, length + 2):
            # Qt's bridge answers a character with the first byte of its local encoding: a mask
            # character comes back as no character, a password's (ASCII) as itself.
            code = text.getCharacterAtOffset(offset)
            answers.append(("character %d" % offset, chr(code) if 0 < code < 128 else ""))
            for boundary in BOUNDARIES:
                for how in ("getTextAtOffset", "getTextBeforeOffset", "getTextAfterOffset"):
                    try:
                        answers.append(("%s %d %d" % (how, offset, boundary), getattr(text, how)(offset, boundary)[0]))
                    except Exception:
                        pass
        return answers

    def run(self):
        self.forget_saved_sign_in()
        self.start_backend()
        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(1)
        self.tray_menu("show", ["Down"])
        email = self.find(role="text", what="email field")
        self.type_into(email, e2e.EMAIL)
        password = self.find(role="password text", what="password field")
        self.click(password)
        self.wait_until_focused(password)
        self.heard.take(1.0)

        # Key by key, as a user types.
        subprocess.run(["xdotool", "type", "--delay", "60", PASSWORD], check=True)
        typed = self.heard.take(2.0)
        self.screenshot("password-typed")
        window = self.window_of(password)
        mask = password.queryText().getText(0, -1)
        print("  %d events while typing; the field reads %r" % (len(typed), mask), flush=True)
        if len(mask) != len(PASSWORD) or len(set(mask)) != 1 or mask[0] in PASSWORD:
            raise Failure("the password field reads %r for %d characters typed" % (mask, len(PASSWORD)))
        mask_character = mask[0]
        changes = [event for event in typed if event[0].startswith("object:text-changed")
                   and event[1] == password.path]
        inserted = sum(event[5] for event in changes if event[0].endswith(":insert"))
        if inserted != len(PASSWORD):
            raise Failure("the field told of %d characters inserted for %d typed: %r" % (inserted, len(PASSWORD), changes))
        for event in changes:
            if event[6] != mask_character * event[5]:
                raise Failure("a change of the password field carries %r for %d characters" % (event[6], event[5]))
        window_path = window.path if window is not None else None
        for event in typed:
            if event[1] not in (password.path, window_path) and not event[0].startswith("focus:"):
                continue
            leaked = password_characters_in(event[6]) + password_characters_in(event[2] if event[1] == password.path else "")
            if leaked:
                raise Failure("an event carries characters of the password %r: %r" % (leaked, event))

        # What a client reads of the field and of its window.
        answers = self.answers_of(password)
        if window is not None:
            answers += [("window name", window.name), ("window description", window.description)]
        for what, answer in answers:
            if what == "length":
                if answer != len(PASSWORD):
                    raise Failure("the password field's length is %d for %d characters typed" % (answer, len(PASSWORD)))
                continue
            leaked = password_characters_in(answer)
            if leaked or (what.startswith(("text", "get", "character")) and answer.strip(mask_character)):
                raise Failure("the password field answers %s with %r" % (what, answer))

        # Return sends the step; the authenticator code's field takes the keyboard and is told.
        subprocess.run(["xdotool", "key", "Return"], check=True)
        told, before = self.hear_focus_on(CODE_FIELD, timeout=30)
        self.screenshot("code-step")
        print("  the code step told: %r" % (told,), flush=True)
        # A screen reader takes a caret moving in a field for the keyboard being there already, and
        # then takes the focus event for no news.
        carets = [event for event in before if event[1] == told[1] and event[0].startswith("object:text-caret-moved")]
        if carets:
            raise Failure("the code field told of its caret before its focus: %r" % carets)
        code = self.find(role="text", name=CODE_FIELD, what="authenticator code field")
        if "код" not in (code.description or "").lower():
            raise Failure("the code field's description does not say what it asks for: %r" % code.description)

    def wait_until_focused(self, node, timeout=15):
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                if node.getState().contains(pyatspi.STATE_FOCUSED):
                    return
            except Exception:
                pass
            time.sleep(0.2)
        raise Failure("%s did not take the keyboard" % node.name)

    def hear_focus_on(self, name, timeout):
        """Waits for the focus to be told as coming to a text field of that name; gives that event
        and every event heard before it."""
        heard = []
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.kavrel.poll() is not None:
                raise Failure("kavrel ended with %d" % self.kavrel.returncode)
            for event in self.heard.take(0.2):
                if event[0].startswith("object:state-changed:focused") and event[4] == 1 \
                        and event[2] == name and event[3] == "text":
                    return event, heard
                heard.append(event)
        focus = [event for event in heard if event[0].startswith(("object:state-changed:focused", "focus:"))]
        raise Failure("no focus event told %s; focus events heard: %r" % (name, focus[-12:]))


if __name__ == "__main__":
    sys.exit(e2e.main(SignInReaderRun))
