#!/usr/bin/python3
"""The real kavrel ended while it listens: from the tray's Quit, then by SIGTERM.

Runs like kavrel_end_to_end.py (whose helpers it uses) inside scripts/with-test-services, with
the fake backend as a process of its own. After each ending the fake backend must hold the
meeting as a completed record with every turn, and exactly one usage event for the listening.
Each meeting is one record: the meeting restored at the restart and then finished by Start New
is not uploaded a second time.
"""
import json
import os
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kavrel_end_to_end as e2e  # noqa: E402  (skips by itself without pyatspi)

TURNS = [
    "Good morning everyone, thank you for joining.",
    "Today we review the launch plan for the new release.",
    "Please send your questions before Friday.",
]
NOT_SAVED_NOTICE = "Прошлая встреча не сохранилась в истории"
SECRET_SERVICE = "app.kavrel.desktop.auth"


class QuitRun(e2e.Run):
    def screenshot(self, title):
        super().screenshot("quit-" + title)

    def state(self):
        with urllib.request.urlopen(self.base_url + "/e2e/state", timeout=10) as reply:
            return json.load(reply)

    @staticmethod
    def forget_saved_sign_in():
        """The secret store outlives a run: an earlier run's session (for another fake backend)
        must neither sign this run in nor be left for the next one."""
        subprocess.run(["secret-tool", "clear", "service", SECRET_SERVICE], check=False)

    def stop_all(self):
        super().stop_all()
        self.forget_saved_sign_in()

    def sign_in(self):
        self.tray_menu("show", ["Down"])
        self.type_into(self.find(role="text", what="email field"), e2e.EMAIL)
        self.type_into(self.find(role="password text", what="password field"), e2e.PASSWORD)
        self.press(self.find(role="push button", name="Войти по email"))
        time.sleep(1.5)
        self.type_into(self.find(role="text", what="authenticator code field"), e2e.AUTHENTICATOR_CODE)
        self.press(self.find(role="push button", contains="Подтвердить", what="confirm button"))
        time.sleep(2)
        for _ in range(4):
            buttons = [node for name, node in self.find_all("push button") if name == "Открыть КАВРЕЛ"]
            if not buttons:
                break
            self.press(buttons[0])
            time.sleep(1)

    def listen_until_every_turn(self, title):
        """Starts a new session from the workspace and waits until the relay's turns are shown."""
        self.press(self.find(role="push button", contains="Начать", what="start button"))
        time.sleep(1)
        starts = [node for name, node in self.find_all("push button") if name.startswith("Начать")]
        self.press(starts[-1])
        self.answer_start_questions(("Начать новую", "Продолжить без микрофона"), 6)
        self.find(contains=TURNS[-1], timeout=30, what="last turn")
        self.screenshot(title)

    def check_saved(self, meetings_before, events_expected, how):
        state = self.state()
        meetings, events = state["meetings"], state["usageEvents"]
        unfinished = [m.get("id") for m in meetings if m.get("status") != "completed"]
        if unfinished:
            raise Failure("%s: records left unfinished on the server: %s" % (how, unfinished))
        new = [m for m in meetings if m.get("id") not in meetings_before]
        if len(new) != 1:
            raise Failure("%s: %d new records, expected one for the one meeting: %s" % (how, len(new), [m.get("id") for m in new]))
        text = [json.dumps(m, ensure_ascii=False) for m in new]
        if not any(all(turn in record for turn in TURNS) for record in text):
            raise Failure("%s: no new record holds every turn: %s" % (how, text))
        if len(events) != events_expected:
            raise Failure("%s: %d usage events, expected %d" % (how, len(events), events_expected))
        print("  %s: %d records, all completed; %d usage events" % (how, len(meetings), len(events)), flush=True)
        return {m.get("id") for m in meetings}

    def run(self):
        self.forget_saved_sign_in()
        self.start_backend()

        # Listening with turns, then Quit from the tray.
        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(1)
        self.sign_in()
        self.listen_until_every_turn("quit-listening")
        self.tray_menu("quit-while-listening", ["Up"])
        code = self.kavrel.wait(timeout=20)
        if code != 0:
            raise Failure("kavrel ended with %d after Quit" % code)
        known = self.check_saved(set(), 1, "tray Quit")

        # Again, ended by the system this time.
        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(2)
        self.tray_menu("show", ["Down", "Down"])
        time.sleep(1)
        if self.count_containing(NOT_SAVED_NOTICE):
            raise Failure("the restarted program says a saved meeting was not saved")
        self.listen_until_every_turn("sigterm-listening")
        self.kavrel.terminate()
        code = self.kavrel.wait(timeout=20)
        if code != 0:
            raise Failure("kavrel ended with %d after SIGTERM" % code)
        self.check_saved(known, 2, "SIGTERM")


Failure = e2e.Failure

if __name__ == "__main__":
    sys.exit(e2e.main(QuitRun))
