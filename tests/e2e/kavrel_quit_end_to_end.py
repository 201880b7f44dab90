#!/usr/bin/python3
"""The real kavrel ended while it listens: from the tray's Quit, then by SIGTERM; then, after a
Start New while the history server is away, by Quit and by SIGKILL; and by SIGKILL after a Start
New while a gateway loses every answer of the history server, which carries the requests out
(answering 502, or closing the connection unanswered).

Runs like kavrel_end_to_end.py (whose helpers it uses) inside scripts/with-test-services, with
the fake backend as a process of its own. After each ending the fake backend must hold the
meeting as a completed record with every turn, and exactly one usage event for the listening.
Each meeting is one record: the meeting restored at the restart and then finished by Start New
is not uploaded a second time. A meeting handed over by Start New while the history server is
away is kept on this computer and reaches the server after the restart, once. A meeting whose
record the server made while the answer was lost is saved into that record, not into a second one.
Quit while the history server takes every request and never answers clears the screen at once;
a start of the program meanwhile waits for the quitting one to end and runs then.

With two accounts: a meeting stopped while the history server is away, its account signed out at
once, stays with that account. Another account signing in (after a restart, or in the same run)
sees an empty workspace, and no history or usage request goes out with its token, neither then
nor at its quit nor at its next start; the meeting's own account, signing in later, has it saved
at once, every turn once, into its own history.

The session ending under the user: the answer to the authenticator code is lost after the server
used the sign-in request; the next press says so in Russian and leads back to the password step
with what was typed, and one press there signs in again. And a token refresh refused for good
while listening: the listening stops, the sign-in screen says in Russian that the meeting was
stopped and kept, and the meeting is saved once its account signs in again.

A start beside a copy whose process is stopped (as a hung one is) says in Russian, in a window and
on its error output, that a copy runs but does not answer and how to end it, and ends with a
non-zero status; once that copy is gone, a start runs as usual.
"""
import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kavrel_end_to_end as e2e  # noqa: E402  (skips by itself without pyatspi)

TURNS = [
    "Good morning everyone, thank you for joining.",
    "Today we review the launch plan for the new release.",
    "Please send your questions before Friday.",
]
NOT_SAVED_NOTICE = "не сохранилась в истории"
STOPPED_AND_KEPT_NOTICE = "Прослушивание остановлено"
REQUEST_GONE_NOTICE = "Этот запрос на вход больше не действителен"
LOGIN_EXPIRED_NOTICE = "Срок входа истёк"
ALREADY_RUNNING_NOTICE = "уже работает"
OTHER_EMAIL = "grace@example.com"
OTHER_PASSWORD = "analytical-engine-1843"


class QuitRun(e2e.Run):
    screenshot_prefix = "quit-"

    def stop_all(self):
        super().stop_all()
        self.forget_saved_sign_in()

    def show_sign_in(self):
        self.tray_menu("show", ["Down"])

    def sign_in(self, email=e2e.EMAIL, password=e2e.PASSWORD):
        self.show_sign_in()
        self.type_into(self.find(role="text", what="email field"), email)
        self.type_into(self.find(role="password text", what="password field"), password)
        self.press(self.find(role="push button", name="Войти по email"))
        time.sleep(1.5)
        self.type_into(self.find(role="text", what="authenticator code field"), e2e.AUTHENTICATOR_CODE)
        self.press(self.find(role="push button", contains="Подтвердить", what="confirm button"))
        time.sleep(2)
        self.pass_onboarding()

    def sign_out(self, title):
        """Профиль, then Выйти, as a person signs out; the sign-in screen follows."""
        self.press(self.find(role="push button", contains="Профиль", what="profile section"))
        self.press(self.find(role="push button", name="Выйти", what="sign-out button"))
        self.find(role="push button", name="Войти по email", timeout=20, what="sign-in screen after sign-out")
        self.screenshot(title)

    def quit(self, title):
        self.tray_menu(title, ["Up"])
        code = self.kavrel.wait(timeout=30)
        if code != 0:
            raise Failure("kavrel ended with %d after Quit (%s)" % (code, title))

    def listen_until_every_turn(self, title):
        """Starts a new session from the workspace and waits until the relay's turns are shown."""
        self.press(self.find(role="push button", contains="Начать", what="start button"))
        time.sleep(1)
        starts = [node for name, node in self.find_all("push button") if name.startswith("Начать")]
        self.press(starts[-1])
        self.answer_start_questions(("Начать новую", "Продолжить без микрофона"), 6)
        self.find(contains=TURNS[-1], timeout=30, what="last turn")
        self.screenshot(title)

    def history(self, state):
        """Takes the fake backend's history endpoint away ("down"), has it lose every answer after
        doing the work ("lost": a 502; "dropped": the connection closes unanswered), take every
        request and never answer ("silent"), or brings it
        back ("up")."""
        self.post("/e2e/history/" + state)

    def check_saved(self, meetings_before, events_expected, how, meetings_expected=1):
        state = self.state()
        meetings, events = state["meetings"], state["usageEvents"]
        unfinished = [m.get("id") for m in meetings if m.get("status") != "completed"]
        if unfinished:
            raise Failure("%s: records left unfinished on the server: %s" % (how, unfinished))
        new = [m for m in meetings if m.get("id") not in meetings_before]
        if len(new) != meetings_expected:
            raise Failure("%s: %d new records, expected %d, one for each meeting: %s"
                          % (how, len(new), meetings_expected, [m.get("id") for m in new]))
        text = [json.dumps(m, ensure_ascii=False) for m in new]
        incomplete = [record for record in text if not all(turn in record for turn in TURNS)]
        if incomplete:
            raise Failure("%s: new records without every turn: %s" % (how, incomplete))
        if len(events) != events_expected:
            raise Failure("%s: %d usage events, expected %d" % (how, len(events), events_expected))
        print("  %s: %d records, all completed; %d usage events" % (how, len(meetings), len(events)), flush=True)
        return {m.get("id") for m in meetings}

    def run(self):
        """KAVREL_E2E_QUIT_PART runs one part alone (each test of CTest runs one): "endings" (Quit
        and SIGTERM while listening), "offline-quit", "offline-sigkill", "lost-answers",
        "dropped-answers" or "quit-unanswered"; without it, all of those. "accounts-restart" and
        "accounts-same-run" (two accounts), "lost-code-answer", "refused-while-listening" and
        "stopped-copy" run only when named."""
        self.forget_saved_sign_in()
        part = os.environ.get("KAVREL_E2E_QUIT_PART", "all")
        if part == "refused-while-listening":
            # Tokens that are always due for renewal, and a speaker who never stops.
            self.start_backend(["--session-lifetime", "30", "--keep-talking"])
            self.run_refused_while_listening()
            return
        self.start_backend()
        if part == "lost-code-answer":
            self.run_lost_code_answer()
            return
        if part == "stopped-copy":
            self.run_stopped_copy()
            return
        if part in ("accounts-restart", "accounts-same-run"):
            self.run_two_accounts(restarts=part == "accounts-restart")
            return
        if part not in ("all", "endings", "offline-quit", "offline-sigkill", "lost-answers", "dropped-answers",
                        "quit-unanswered"):
            raise Failure("unknown KAVREL_E2E_QUIT_PART %r" % part)
        known, events = set(), 0
        if part in ("all", "endings"):
            known = self.run_endings()
            events = 2
        else:
            self.sign_in_first()
        for how in ("quit", "sigkill"):
            if part in ("all", "offline-" + how):
                known, events = self.run_offline_start_new(how, known, events)
        if part in ("all", "lost-answers"):
            known, events = self.run_offline_start_new("sigkill", known, events, outage="lost")
        if part in ("all", "dropped-answers"):
            known, events = self.run_offline_start_new("sigkill", known, events, outage="dropped")
        if part in ("all", "quit-unanswered"):
            self.run_quit_unanswered(known, events)

    def sign_in_first(self):
        """A run that begins with an offline part signs in first; that program goes on with it."""
        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(1)
        self.sign_in()
        if self.state()["meetings"]:
            raise Failure("a meeting reached the server before anything was heard")

    def run_endings(self):
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
        self.show_restarted("show")
        time.sleep(1)
        if self.count_containing(NOT_SAVED_NOTICE):
            raise Failure("the restarted program says a saved meeting was not saved")
        self.listen_until_every_turn("sigterm-listening")
        self.kavrel.terminate()
        code = self.kavrel.wait(timeout=20)
        if code != 0:
            raise Failure("kavrel ended with %d after SIGTERM" % code)
        return self.check_saved(known, 2, "SIGTERM")

    def run_offline_start_new(self, how, known, events, outage="down"):
        """Start New while the history server is away (or loses its answers), then the program
        ends: by Quit, or killed outright. Then three meetings: the one handed over offline, the
        one that was listening at the end (restored from its draft and saved by the restart, then
        finished by Start New) and the one listening at the last Quit."""
        lost = outage in ("lost", "dropped")
        if lost:
            how = outage + "-" + how
        if self.kavrel is None or self.kavrel.poll() is not None:
            self.start_kavrel()
            self.tray_icon_center()
            time.sleep(2)
            self.show_restarted(how + "-show")
            time.sleep(1)
        self.history(outage)
        self.listen_until_every_turn(how + "-offline-first")
        self.tray_menu(how + "-offline-stop", ["Down"])
        self.find(role="push button", contains="Начать прослушивание", timeout=20, what="start button after stop")
        self.listen_until_every_turn(how + "-offline-start-new")
        if how.endswith("quit"):
            self.tray_menu(how + "-offline-quit", ["Up"])
            code = self.kavrel.wait(timeout=30)
            if code != 0:
                raise Failure("kavrel ended with %d after Quit" % code)
            # With the server away the quit tries each save once more and ends; it does not sit
            # out the pauses between attempts until its time limit, the windows open meanwhile.
            if "did not stop in time" in open(self.kavrel_log).read():
                raise Failure("%s: the quit waited for its time limit" % how)
        else:
            self.kavrel.kill()
            self.kavrel.wait(timeout=20)
        # The stop before Start New reported its stretch; a kill reports none for the last one.
        events += 2 if how.endswith("quit") else 1
        reached = len(self.state()["meetings"]) - len(known)
        if not lost and reached:
            raise Failure("%s: a meeting reached the server while its history was down" % how)
        if lost and not reached:
            raise Failure("%s: no start was carried out while its answers were lost" % how)
        self.history("up")

        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(2)
        self.show_restarted(how + "-restarted")
        # Both meetings of the last run reach the server without the user: the one handed over
        # by Start New, and the one listening at the end, restored from its draft. Then no
        # notice says that either is not saved. (With the answers lost, their records are there
        # already: they count once completed.)
        def landed():
            return sum(1 for m in self.state()["meetings"] if m.get("id") not in known and m.get("status") == "completed")
        deadline = time.time() + 30
        while time.time() < deadline and landed() < 2:
            time.sleep(0.5)
        if landed() < 2:
            raise Failure("%s: the last run's meetings did not reach the server by themselves" % how)
        time.sleep(1)
        if self.count_containing(NOT_SAVED_NOTICE):
            raise Failure("%s: a notice still says a meeting is not saved after the server has it" % how)
        self.screenshot(how + "-saved")
        self.listen_until_every_turn(how + "-restored-start-new")
        self.tray_menu(how + "-last-quit", ["Up"])
        code = self.kavrel.wait(timeout=30)
        if code != 0:
            raise Failure("kavrel ended with %d after Quit" % code)
        events += 1
        known = self.check_saved(known, events, "Start New %s, %s" % ("with answers lost" if lost else "offline", how),
                                 meetings_expected=3)
        return known, events

    def visible_windows(self, process):
        """The program's windows on the screen, its tray icon included."""
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(process.pid)],
                                capture_output=True, text=True)
        return result.stdout.split()

    def run_quit_unanswered(self, known, events):
        """Quit while listening, the history server taking every request and never answering: the
        windows and the tray icon leave the screen within a second, and the program ends by
        itself once its time limit for the saves is up, keeping the meeting. A start meanwhile
        shows nothing, no notice either, until the quitting program has ended; then it runs, and
        saves the kept meeting once the server answers again."""
        if self.kavrel is None or self.kavrel.poll() is not None:
            self.start_kavrel()
            self.tray_icon_center()
            time.sleep(2)
            self.show_restarted("unanswered-show")
            time.sleep(1)
        self.listen_until_every_turn("unanswered-listening")
        if not self.visible_windows(self.kavrel):
            raise Failure("no window of the program on the screen before the quit")
        self.history("silent")
        self.tray_menu("unanswered-quit", ["Up"])
        quit_at = time.time()
        while self.visible_windows(self.kavrel) and time.time() - quit_at < 5:
            time.sleep(0.05)
        cleared = time.time() - quit_at
        self.screenshot("unanswered-quitting")
        print("  the screen cleared %.2f s after Quit" % cleared, flush=True)
        if cleared > 1.0:
            raise Failure("the windows stayed on the screen %.1f s after Quit" % cleared)
        if self.kavrel.poll() is not None:
            raise Failure("the program ended at once instead of saving behind its windows")

        first = self.kavrel
        self.start_kavrel()
        second = self.kavrel
        while True:
            try:
                first.wait(timeout=0.1)
                break
            except subprocess.TimeoutExpired:
                pass
            if second.poll() is not None:
                raise Failure("a start during the quit ended with %d before the quitting program"
                              % second.returncode)
            if self.visible_windows(second) or self.count_containing(ALREADY_RUNNING_NOTICE):
                self.screenshot("unanswered-second-start")
                raise Failure("a start during the quit showed itself beside the quitting program")
            if time.time() - quit_at > 30:
                raise Failure("the quitting program did not end")
        # The network answers again by the time the new start gets to it (the requests of the
        # quitting program were never answered, and ended with it).
        self.history("up")
        if first.returncode != 0:
            raise Failure("kavrel ended with %d after Quit" % first.returncode)
        print("  the quitting program ended %.1f s after Quit" % (time.time() - quit_at), flush=True)

        # The start goes on as usual: its tray icon, no notice, and the kept meeting is saved.
        self.tray_icon_center()
        time.sleep(1)
        if self.count_containing(ALREADY_RUNNING_NOTICE):
            raise Failure("the start shows the already-running notice")
        self.show_restarted("unanswered-restarted")
        deadline = time.time() + 30
        while time.time() < deadline and not any(m.get("id") not in known and m.get("status") == "completed"
                                                 for m in self.state()["meetings"]):
            time.sleep(0.5)
        self.screenshot("unanswered-saved")
        self.tray_menu("unanswered-last-quit", ["Up"])
        code = self.kavrel.wait(timeout=30)
        if code != 0:
            raise Failure("kavrel ended with %d after Quit" % code)
        # The quit reported the listening's usage before the saves; nothing was heard since.
        return self.check_saved(known, events + 1, "Quit with the history server silent")

    def run_lost_code_answer(self):
        """The server takes the authenticator code and the answer is lost; the next press meets a
        sign-in request the server has used."""
        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(1)
        self.tray_menu("code-show", ["Down"])
        self.type_into(self.find(role="text", what="email field"), e2e.EMAIL)
        self.type_into(self.find(role="password text", what="password field"), e2e.PASSWORD)
        self.press(self.find(role="push button", name="Войти по email"))
        time.sleep(1.5)
        self.post("/e2e/auth/lose-code-answer")
        self.type_into(self.find(role="text", what="authenticator code field"), e2e.AUTHENTICATOR_CODE)
        self.press(self.find(role="push button", contains="Подтвердить", what="confirm button"))
        self.find(contains="Сетевое соединение потеряно", timeout=20, what="lost-connection message")
        self.screenshot("code-answer-lost")
        self.press(self.find(role="push button", contains="Подтвердить", what="confirm button again"))
        self.find(contains=REQUEST_GONE_NOTICE, timeout=20, what="the sign-in request is gone, in Russian")
        time.sleep(0.5)
        self.screenshot("code-request-gone")
        english = [text for text in ("This sign-in request", "not found") if self.count_containing(text)]
        if english:
            self.dump_tree("code-request-gone")
            raise Failure("the server's own words are shown: %s" % english)
        # Back at the password step with what the program has: one press asks for a new code.
        sign_in = self.find(role="push button", name="Войти по email", what="password step")
        email = self.text_of(self.find(role="text", what="email field"))
        if email != e2e.EMAIL:
            raise Failure("the e-mail field holds %r after the way back" % email)
        self.press(sign_in)
        time.sleep(1.5)
        self.type_into(self.find(role="text", what="new authenticator code field"), e2e.AUTHENTICATOR_CODE)
        self.press(self.find(role="push button", contains="Подтвердить", what="confirm button of the new code"))
        time.sleep(2)
        self.pass_onboarding()
        self.find(role="push button", contains="Начать прослушивание", timeout=20, what="workspace after the new code")
        self.screenshot("code-signed-in")
        self.quit("code-quit")

    def run_refused_while_listening(self):
        """Listening, then every token refresh is refused for good (met by the next connection that
        needs the session, here the speech stream's after a network hiccup): the program signs out, stops
        the listening as Stop does, and says on the sign-in screen that the meeting was stopped and
        kept. Signing in again has the meeting saved, and nothing listens."""
        self.sign_in_first()
        self.press(self.find(role="push button", contains="Начать", what="start button"))
        time.sleep(1)
        starts = [node for name, node in self.find_all("push button") if name.startswith("Начать")]
        self.press(starts[-1])
        self.answer_start_questions(("Начать новую", "Продолжить без микрофона"), 6)
        # The second sentence begins once the first is a finished turn.
        self.find(contains="The release moves", timeout=30, what="a finished turn of the long meeting")
        self.screenshot("refused-listening")
        self.post("/e2e/auth/refuse-refresh")
        # The next connection that needs the session renews it: the speech stream, dropped as by
        # a network hiccup, connects again.
        self.post("/e2e/speech/drop")
        refused_at = time.time()
        self.find(role="push button", name="Войти по email", timeout=30, what="sign-in screen after the refusal")
        self.find(contains=STOPPED_AND_KEPT_NOTICE, timeout=10, what="notice that the meeting was stopped and kept")
        self.find(contains=LOGIN_EXPIRED_NOTICE, timeout=10, what="notice that the login expired")
        print("  the sign-in screen came %.1f s after the refusal" % (time.time() - refused_at), flush=True)
        time.sleep(0.5)
        self.screenshot("refused-sign-in-screen")
        deadline = time.time() + 15
        while time.time() < deadline and self.state()["speechConnections"]:
            time.sleep(0.5)
        if self.state()["speechConnections"]:
            raise Failure("the speech stream goes on with nobody signed in")
        if self.listening_window_stays():
            raise Failure("a window still says the program listens with nobody signed in")
        if self.state()["meetings"] and any(m.get("status") == "completed" for m in self.state()["meetings"]):
            raise Failure("the meeting was saved while nobody was signed in")

        self.post("/e2e/auth/refresh-up")
        self.sign_in()
        self.find(role="push button", contains="Начать прослушивание", timeout=20, what="workspace, not listening")
        deadline = time.time() + 30
        while time.time() < deadline and not any(m.get("status") == "completed" for m in self.state()["meetings"]):
            time.sleep(0.5)
        completed = [m for m in self.state()["meetings"] if m.get("status") == "completed"]
        if len(completed) != 1 or "Let us go through" not in json.dumps(completed[0], ensure_ascii=False):
            raise Failure("the stopped meeting was not saved once its account signed in: %s"
                          % [(m.get("id"), m.get("status")) for m in self.state()["meetings"]])
        if self.state()["speechConnections"]:
            raise Failure("the signed-in account's workspace listens without a start")
        self.screenshot("refused-saved")
        self.quit("refused-quit")

    def run_stopped_copy(self):
        """The first copy's process is stopped; a second start tells the user and ends. The
        stopped copy is never asked anything over the accessibility bus: it would not answer."""
        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(1)
        first = self.kavrel
        os.kill(first.pid, signal.SIGSTOP)
        try:
            env = dict(os.environ, QT_QPA_PLATFORM="xcb", ASAN_OPTIONS="detect_leaks=0",
                       KAVREL_AUTH_BASE_URL=self.base_url)
            log = open(os.path.join(self.work, "kavrel-beside-stopped.log"), "w")
            second = self.start([self.args.kavrel], env=env, stdout=subprocess.DEVNULL, stderr=log)
            windows = []
            deadline = time.time() + 30
            while time.time() < deadline and not windows:
                if second.poll() is not None:
                    raise Failure("the start beside the stopped copy ended with %d and showed nothing"
                                  % second.returncode)
                windows = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "не отвечает"],
                                         capture_output=True, text=True).stdout.split()
                time.sleep(0.3)
            if not windows:
                raise Failure("the start beside the stopped copy showed no notice")
            time.sleep(0.5)
            self.screenshot("stopped-copy-notice")
            # The notice's window can be replaced while the window manager maps it, so the one
            # found a moment ago may be gone: look it up again until Return closes it.
            code = None
            deadline = time.time() + 20
            while code is None and time.time() < deadline:
                windows = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "не отвечает"],
                                         capture_output=True, text=True).stdout.split()
                if windows:
                    subprocess.run(["xdotool", "windowactivate", "--sync", windows[-1]], check=False,
                                   stderr=subprocess.DEVNULL)
                    subprocess.run(["xdotool", "key", "--window", windows[-1], "Return"], check=False,
                                   stderr=subprocess.DEVNULL)
                try:
                    code = second.wait(timeout=2)
                except subprocess.TimeoutExpired:
                    pass
            if code is None:
                raise Failure("the start beside the stopped copy did not end once its notice was closed")
            said = open(log.name).read()
            if code == 0:
                raise Failure("the start beside the stopped copy ended with status 0")
            if "не отвечает" not in said or "kill -9 %d" % first.pid not in said:
                raise Failure("the error output does not say what runs and how to end it: %r" % said[-2000:])
        finally:
            os.kill(first.pid, signal.SIGCONT)
        # The stopped copy is ended as the notice says: the next start runs as usual.
        first.kill()
        first.wait(timeout=20)
        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(1)
        self.tray_menu("stopped-copy-gone-show", ["Down"])
        self.find(role="push button", name="Войти по email", timeout=20, what="sign-in screen of the new start")
        self.quit("stopped-copy-quit")

    def listening_window_stays(self):
        """Whether a window titled as listening stays on the screen for some seconds."""
        deadline = time.time() + 10
        while time.time() < deadline:
            result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Слушает"],
                                    capture_output=True, text=True)
            if not result.stdout.split():
                return False
            time.sleep(0.5)
        return True

    def sent_as_other_account(self):
        """History and usage requests that carried the other account's token."""
        return [r for r in self.state()["requests"] if r.get("account") == OTHER_EMAIL]

    def other_account_has_nothing(self, how, known, on_screen=True):
        """The other account's workspace (when on screen) shows nothing of the meeting, and nothing
        of it went out with that account's token."""
        if on_screen:
            self.find(role="push button", contains="Начать прослушивание", timeout=20, what="other account's workspace")
        shown = [turn for turn in TURNS if self.count_containing(turn[:24])]
        if shown:
            self.dump_tree(how)
            raise Failure("%s: the other account's window shows the meeting: %s" % (how, shown))
        leaked = self.sent_as_other_account()
        if leaked:
            raise Failure("%s: requests went out with the other account's token: %s" % (how, leaked))
        new = [m.get("id") for m in self.state()["meetings"] if m.get("id") not in known]
        if new:
            raise Failure("%s: a meeting reached the server while its account was signed out: %s" % (how, new))
        print("  %s: nothing shown, nothing sent" % how, flush=True)

    def run_two_accounts(self, restarts):
        """Listens as one account with the history server away, stops, signs out at once and the
        server comes back. Then another account signs in: after Quit and a restart, or in the same
        run. It quits, starts again and signs out; the first account signs in again."""
        road = "accounts-restart" if restarts else "accounts-same-run"
        self.sign_in_first()
        known = {m.get("id") for m in self.state()["meetings"]}
        self.history("down")
        self.listen_until_every_turn(road + "-first-listening")
        self.tray_menu(road + "-first-stop", ["Down"])
        self.find(role="push button", contains="Начать прослушивание", timeout=20, what="start button after stop")
        self.sign_out(road + "-first-signed-out")
        self.history("up")
        if restarts:
            self.quit(road + "-signed-out-quit")
            self.start_kavrel()
            self.tray_icon_center()
            time.sleep(2)
        self.sign_in(OTHER_EMAIL, OTHER_PASSWORD)
        time.sleep(1)
        self.screenshot(road + "-other-signed-in")
        self.other_account_has_nothing(road + ", the other account signed in", known)
        self.quit(road + "-other-quit")
        self.other_account_has_nothing(road + ", the other account's quit", known, on_screen=False)

        self.start_kavrel()
        self.tray_icon_center()
        time.sleep(2)
        self.show_restarted(road + "-other-restarted")
        time.sleep(1)
        self.screenshot(road + "-other-restarted")
        self.other_account_has_nothing(road + ", the other account's next start", known)
        self.sign_out(road + "-other-signed-out")
        self.sign_in()

        # The meeting's own account: saved without the user, every turn once, into its history.
        def landed():
            return [m for m in self.state()["meetings"] if m.get("id") not in known and m.get("status") == "completed"]
        deadline = time.time() + 30
        while time.time() < deadline and not landed():
            time.sleep(0.5)
        meetings = [m for m in self.state()["meetings"] if m.get("id") not in known]
        if len(meetings) != 1 or not landed():
            raise Failure("%s: the first account's meeting did not land once, completed: %s"
                          % (road, [(m.get("id"), m.get("status")) for m in meetings]))
        transcript = "\n".join(block.get("text", "") for block in meetings[0].get("transcriptJson", []))
        if any(transcript.count(turn) != 1 for turn in TURNS):
            raise Failure("%s: the saved meeting holds %r, not every turn once" % (road, transcript))
        if meetings[0].get("workspaceId") != "ws-user-1":
            raise Failure("%s: the meeting went to workspace %s" % (road, meetings[0].get("workspaceId")))
        self.screenshot(road + "-first-saved")
        self.quit(road + "-last-quit")
        leaked = self.sent_as_other_account()
        if leaked:
            raise Failure("%s: requests went out with the other account's token: %s" % (road, leaked))
        events = self.state()["usageEvents"]
        if len(events) != 1:
            raise Failure("%s: %d usage events, expected the one of the listening" % (road, len(events)))
        print("  %s: saved once, with its own account only" % road, flush=True)


Failure = e2e.Failure

if __name__ == "__main__":
    sys.exit(e2e.main(QuitRun))
