#!/usr/bin/python3
"""The real kavrel, end to end, as a person would use it.

Runs inside scripts/with-test-services (X server with openbox and a tray, private D-Bus with the
Secret Service, private PulseAudio). Starts the fake backend as its own process and the program
against it, and drives the program through the accessibility bus (AT-SPI) and the tray with
synthesized X input. Every step leaves a screenshot in the screenshots folder.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

# Debian's pyatspi lives with the system Python.
try:
    import pyatspi
except ImportError:
    print("SKIP: python3-pyatspi is missing (scripts/install-deps installs it)")
    sys.exit(0)

APP_NAME = "КАВРЕЛ"
EMAIL = "ada@example.com"
PASSWORD = "correct-horse-battery"
AUTHENTICATOR_CODE = "654321"
SPOKEN = "Good morning everyone, thank you for joining."
# The scripted meeting's last turn, and what the protocol panel says when the AI service fails.
LAST_TURN = "Please send your questions"
PROTOCOL_NOTICE = "Не удалось создать AI-протокол"


SECRET_SERVICE = "app.kavrel.desktop.auth"


class Failure(Exception):
    pass


class Run:
    def __init__(self, args):
        self.args = args
        self.shots = args.screenshots
        os.makedirs(self.shots, exist_ok=True)
        self.step_number = 0
        self.processes = []
        self.kavrel = None
        self.work = tempfile.mkdtemp(prefix="kavrel-e2e.")

    # ---- processes ----
    def start(self, command, env=None, **kwargs):
        process = subprocess.Popen(command, env=env, **kwargs)
        self.processes.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    process.kill()
        shutil.rmtree(self.work, ignore_errors=True)

    def platform_environment(self):
        """Where the program shows its windows: the test services' X server."""
        return {"QT_QPA_PLATFORM": "xcb"}

    def start_kavrel(self):
        env = dict(os.environ)
        env.update(self.platform_environment())
        env.update({
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "KAVREL_AUTH_BASE_URL": self.base_url,
            # The sanitizer build reports leaks of the libraries at exit; the exit code is what counts.
            "ASAN_OPTIONS": "detect_leaks=0",
        })
        log = open(os.path.join(self.work, "kavrel-%d.log" % len(self.processes)), "w")
        self.kavrel = self.start([self.args.kavrel], env=env, stdout=log, stderr=subprocess.STDOUT)
        self.kavrel_log = log.name

    # ---- looking ----
    # What a script's pictures are named after, so that the scripts' pictures stand apart.
    screenshot_prefix = ""

    def screenshot(self, title):
        self.step_number += 1
        path = os.path.join(self.shots, "e2e-%02d-%s%s.png" % (self.step_number, self.screenshot_prefix, title))
        self.capture_screen(path)
        print("step %d: %s" % (self.step_number, title), flush=True)

    def capture_screen(self, path):
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size", "1600x1000",
                        "-i", os.environ["DISPLAY"], "-frames:v", "1", path], check=False)

    def application(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.name == APP_NAME:
                try:
                    if app.get_process_id() == self.kavrel.pid:
                        return app
                except Exception:
                    return app
        return None

    def nodes(self, root=None):
        root = root or self.application()
        if root is None:
            return
        stack = [root]
        while stack:
            node = stack.pop()
            if node is None:
                continue
            yield node
            try:
                children = [node.getChildAtIndex(i) for i in range(node.childCount)]
            except Exception:
                children = []
            stack.extend(reversed(children))

    def showing(self, node):
        try:
            return node.getState().contains(pyatspi.STATE_SHOWING)
        except Exception:
            return False

    @staticmethod
    def on_card(node):
        """Whether the node is a part of a History card (its Open and Delete are)."""
        try:
            return node.parent is not None and node.parent.getRoleName() == "list item"
        except Exception:
            return False

    def find(self, role=None, name=None, contains=None, timeout=15.0, showing=True, what=None):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for node in self.nodes():
                try:
                    if role and node.getRoleName() != role:
                        continue
                    if name is not None and node.name != name:
                        continue
                    if contains is not None and contains not in (node.name or "") \
                            and contains not in self.text_of(node):
                        continue
                except Exception:
                    continue
                if showing and not self.showing(node):
                    continue
                return node
            time.sleep(0.25)
        self.dump_tree("missing-" + (what or name or contains or role))
        raise Failure("not found: role=%s name=%s contains=%s" % (role, name, contains))

    def find_all(self, role):
        """(name, node) of every showing node of the role; the tree changes under our feet, so a
        node that went away in the meantime is left out."""
        found = []
        for node in self.nodes():
            try:
                if node.getRoleName() == role and self.showing(node):
                    found.append((node.name or "", node))
            except Exception:
                continue
        return found

    def count_containing(self, text):
        count = 0
        for node in self.nodes():
            try:
                if self.showing(node) and (text in (node.name or "") or text in self.text_of(node)):
                    count += 1
            except Exception:
                continue
        return count

    def text_of(self, node):
        try:
            text = node.queryText()
            return text.getText(0, text.characterCount)
        except Exception:
            return ""

    def dump_tree(self, title):
        path = os.path.join(self.shots, "e2e-tree-%s.txt" % title.replace("/", "_").replace(" ", "_")[:40])
        with open(path, "w") as out:
            def walk(node, depth):
                try:
                    out.write("  " * depth + "[%s] %r %s\n" % (node.getRoleName(), node.name,
                                                               "showing" if self.showing(node) else ""))
                    for i in range(node.childCount):
                        walk(node.getChildAtIndex(i), depth + 1)
                except Exception:
                    pass
            app = self.application()
            if app is not None:
                walk(app, 0)
        print("  accessibility tree written to %s" % path)

    @staticmethod
    def forget_saved_sign_in():
        """The secret store outlives a run: an earlier run's session (for another fake backend)
        must neither sign this run in nor be left for the next one."""
        subprocess.run(["secret-tool", "clear", "service", SECRET_SERVICE], check=False)

    # ---- the fake backend ----
    def state(self):
        """What the fake backend holds and was asked (its /e2e/state)."""
        with urllib.request.urlopen(self.base_url + "/e2e/state", timeout=10) as reply:
            return json.load(reply)

    def post(self, path):
        """Switches the fake backend's behaviour (one of its /e2e/... POST routes)."""
        request = urllib.request.Request(self.base_url + path, data=b"", method="POST")
        with urllib.request.urlopen(request, timeout=10) as reply:
            reply.read()

    # ---- doing ----
    def pass_onboarding(self):
        """The permissions onboarding, when shown after a sign-in, is passed through."""
        for _ in range(4):
            buttons = [node for name, node in self.find_all("push button") if name == "Открыть КАВРЕЛ"]
            if not buttons:
                break
            self.press(buttons[0])
            time.sleep(1)

    def press(self, node):
        try:
            action = node.queryAction()
            names = [action.getName(index) for index in range(action.nActions)]
            for wanted in ("Press", "Toggle", "press", "click"):
                if wanted in names:
                    action.doAction(names.index(wanted))
                    return
        except Exception:
            pass
        # No usable action: a click where it is on screen.
        self.click(node)

    def click(self, node):
        extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        x, y = extents.x + extents.width // 2, extents.y + extents.height // 2
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)

    def type_into(self, node, text):
        # As a person does: click into the field, replace what is there, type.
        self.click(node)
        time.sleep(0.2)
        subprocess.run(["xdotool", "key", "ctrl+a", "BackSpace"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "15", text], check=True)
        time.sleep(0.2)

    def tray_icon_center(self):
        deadline = time.time() + 20
        while time.time() < deadline:
            result = subprocess.run(["xdotool", "search", "--pid", str(self.kavrel.pid)],
                                    capture_output=True, text=True)
            for window in result.stdout.split():
                geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                                          capture_output=True, text=True).stdout
                values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
                if values and int(values.get("WIDTH", 0)) <= 64 and int(values.get("HEIGHT", 0)) <= 64 \
                        and int(values.get("WIDTH", 0)) > 4:
                    return int(values["X"]) + int(values["WIDTH"]) // 2, int(values["Y"]) + int(values["HEIGHT"]) // 2
            time.sleep(0.25)
        raise Failure("the tray icon did not appear")

    def tray_menu(self, title, keys):
        """Opens the tray menu and picks an entry with the keyboard. Qt leaves pop-up menus out of
        the accessibility tree, so the entry is reached by its place: `keys` walks there (Down skips
        disabled entries; Up from the top reaches the last entry)."""
        x, y = self.tray_icon_center()
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
        time.sleep(0.8)
        subprocess.run(["xdotool", "key", "--delay", "120"] + keys, check=True)
        time.sleep(0.3)
        self.screenshot("tray-menu-" + title)
        subprocess.run(["xdotool", "key", "Return"], check=True)

    def show_restarted(self, title):
        """Shows the main window of a program started again with a saved session, from the tray.
        "Показать КАВРЕЛ" is the menu's second entry; while the session is still being restored
        the first, "Начать прослушивание", cannot be picked and Down skips it, so the same keys
        reach "Настройки..." instead. A busy machine may take longer over the restore than any
        pause: then the settings are closed again (Escape) and the menu is opened once more."""
        for attempt in range(6):
            self.tray_menu(title, ["Down", "Down"])
            deadline = time.time() + 10
            while time.time() < deadline:
                windows = self.top_level_names()
                if "Настройки" in windows:
                    break
                if windows:
                    return
                time.sleep(0.25)
            else:
                return
            print("  the session was still being restored: the settings came forward", flush=True)
            subprocess.run(["xdotool", "key", "Escape"], check=True)
            time.sleep(1)
        raise Failure("the tray never showed the main window of the restarted program")

    def top_level_names(self):
        """The names of the program's windows on screen."""
        names = []
        app = self.application()
        try:
            for index in range(app.childCount if app else 0):
                window = app.getChildAtIndex(index)
                if window is not None and self.showing(window):
                    names.append(window.name)
        except Exception:
            pass
        return names

    def mark_process_of_window(self, name, pid):
        """xlogo leaves out _NET_WM_PID, which every toolkit's window carries; without it the
        window counts as nobody's and covers nothing."""
        deadline = time.time() + 10
        while time.time() < deadline:
            windows = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                                     capture_output=True, text=True).stdout.split()
            if windows:
                for window in windows:
                    subprocess.run(["xprop", "-id", window, "-f", "_NET_WM_PID", "32c", "-set", "_NET_WM_PID",
                                    str(pid)], check=True)
                return
            time.sleep(0.2)
        raise Failure("the covering window did not appear")

    def wait_for_top_level(self, title, timeout):
        """Waits for a window of the program with this title on screen."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            app = self.application()
            try:
                for index in range(app.childCount if app else 0):
                    window = app.getChildAtIndex(index)
                    if window is not None and window.name == title and self.showing(window):
                        return window
            except Exception:
                pass
            time.sleep(0.25)
        self.dump_tree("missing-window-" + title)
        raise Failure("no window titled %s" % title)

    def play(self, sink, text):
        wav = os.path.join(self.work, "speech-%s.wav" % sink)
        subprocess.run(["espeak-ng", "-w", wav, text], check=True)
        return self.start(["paplay", "--device=" + sink, wav])

    # ---- the run ----
    def start_backend(self, arguments=()):
        """Starts the fake backend (with its command-line arguments) and the accessibility bus."""
        backend = self.start([self.args.backend] + list(arguments), stdout=subprocess.PIPE, text=True)
        self.base_url = backend.stdout.readline().strip()
        if not self.base_url.startswith("http"):
            raise Failure("the fake backend did not start")
        self.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)

    def answer_start_questions(self, answers, seconds):
        """Presses, for a while, whichever of the answers a start question on screen offers, until
        the program listens (its stop button shows and no question is left)."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            buttons = self.find_all("push button")
            offered = [node for name, node in buttons if name in answers]
            if offered:
                self.screenshot("start-question")
                self.press(offered[0])
            elif any(name.startswith("Остановить") for name, _ in buttons):
                return
            time.sleep(0.5)

    def sign_in(self):
        """Launches the program, signs in and passes the onboarding: the workspace is on screen."""
        # Launch: nobody is signed in yet, so the sign-in window stays beside the tray icon.
        self.start_kavrel()
        self.tray_icon_center()
        self.launched()
        time.sleep(1)
        self.screenshot("launch-in-tray")

        # Sign in with e-mail, password and the authenticator code.
        self.tray_menu("show", ["Down"])
        email = self.find(role="text", what="email field")
        self.screenshot("sign-in")
        self.at_sign_in()
        self.type_into(email, EMAIL)
        self.type_into(self.find(role="password text", what="password field"), PASSWORD)
        self.submit_email_step(self.find(role="push button", name="Войти по email"))
        time.sleep(1.5)
        self.screenshot("second-factor")
        code = self.find(role="text", what="authenticator code field")
        self.type_into(code, AUTHENTICATOR_CODE)
        buttons = [node for name, node in self.find_all("push button") if "Подтвердить" in name]
        if buttons:
            self.press(buttons[0])
        else:
            subprocess.run(["xdotool", "key", "Return"], check=True)
        time.sleep(2)
        self.screenshot("signed-in")

        self.pass_onboarding()
        self.screenshot("workspace")

    def launched(self):
        """A run's own step once the program is up, before anyone signs in."""

    def submit_email_step(self, button):
        """Sends the e-mail and password of the sign-in step with its button."""
        self.press(button)

    def at_sign_in(self):
        """A run's own look at the sign-in window, open on the screen before anything is typed."""

    def while_listening_setup_shows(self):
        """A run's own look at the listening setup sheet, open on the screen."""

    def start_listening_with_microphone(self, record_audio=False):
        # Start listening with the microphone on, from the workspace's start road.
        self.press(self.find(role="push button", contains="Начать", what="start button"))
        time.sleep(1)
        self.screenshot("listening-setup")
        self.while_listening_setup_shows()
        self.press(self.find(name="Подмешивание микрофона", what="microphone switch"))
        time.sleep(0.5)
        if record_audio:
            # The switch, not the card's label of the same name.
            switches = [node for role in ("toggle button", "check box", "push button")
                        for name, node in self.find_all(role) if name == "Сохранять полную запись в M4A"]
            if not switches:
                self.dump_tree("missing-recording-switch")
                raise Failure("no recording switch")
            # Through its accessible action, as a screen reader turns it on: the program hears it as
            # it hears a click.
            self.press(switches[0])
            time.sleep(0.5)
        self.screenshot("listening-setup-microphone-on")
        starts = [node for name, node in self.find_all("push button") if name.startswith("Начать")]
        self.press(starts[-1])
        # The start questions: a new session, and the microphone when asked.
        self.answer_start_questions(("Начать новую", "Включить микрофон"), 8)
        self.screenshot("listening")

    def run(self):
        self.forget_saved_sign_in()
        self.start_backend()
        self.sign_in()
        self.start_listening_with_microphone()
        mic_feed = os.environ.get("KAVREL_TEST_PULSE_MIC_FEED", "kavrel_mic_feed")
        speakers = os.environ.get("KAVREL_TEST_PULSE_SINK", "kavrel_speakers")
        players = [self.play(speakers, SPOKEN), self.play(mic_feed, "Thank you, I am here.")]
        self.find(contains="Good morning everyone", timeout=30, what="first turn")
        # Each turn shows in the transcript and, translated, in the translation column.
        deadline = time.time() + 30
        while time.time() < deadline and self.count_containing(LAST_TURN) < 2:
            time.sleep(0.5)
        if self.count_containing(LAST_TURN) < 2:
            self.dump_tree("translations")
            raise Failure("the last turn did not show in both columns")
        self.screenshot("turns-and-translations")
        for player in players:
            player.wait(timeout=30)

        self.live_meeting_is_not_deleted()

        # Another window covers the main window: the floating mini window appears.
        cover = self.start(["xlogo", "-geometry", "1600x1000+0+0"])
        self.mark_process_of_window("xlogo", cover.pid)
        self.wait_for_top_level("Слушает", timeout=15)
        time.sleep(0.5)
        self.screenshot("mini-window")
        cover.terminate()
        cover.wait(timeout=10)
        time.sleep(1.5)
        self.screenshot("main-window-back")

        # Stop from the tray.
        self.tray_menu("stop", ["Down"])
        self.find(role="push button", contains="Начать прослушивание", timeout=20, what="start button after stop")
        self.screenshot("stopped")

        # The meeting is in the history list.
        self.tray_menu("show", ["Down", "Down"])
        self.press(self.find(role="push button", contains="История", what="history section"))
        self.wait_for_history_list()
        self.screenshot("history")
        entry = self.find(role="list item", contains="Good morning", timeout=20, what="meeting in history")
        # The card's "Открыть" is drawn by the list, at the card's top right.
        extents = entry.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        print("  history card at %d,%d %dx%d" % (extents.x, extents.y, extents.width, extents.height), flush=True)
        subprocess.run(["xdotool", "mousemove", str(extents.x + extents.width - 81), str(extents.y + 37),
                        "click", "1"], check=True)
        self.find(contains=LAST_TURN, timeout=20, what="transcript of the saved meeting")
        time.sleep(1)
        self.screenshot("history-transcript")
        subprocess.run(["xdotool", "key", "Escape"], check=True)

        # Quit from the tray: the program ends by itself.
        self.tray_menu("quit", ["Up"])
        code = self.kavrel.wait(timeout=20)
        if code != 0:
            raise Failure("kavrel ended with %d" % code)
        self.screenshot("quit")

        # Start again: the session comes back from the secret store, no sign-in.
        self.start_kavrel()
        time.sleep(3)
        self.show_restarted("show")
        self.find(role="push button", contains="История", timeout=20, what="restored workspace")
        if any(name == "Войти по email" for name, _ in self.find_all("push button")):
            raise Failure("the restarted program asks for a sign-in")
        self.screenshot("restored-session")

        self.second_copy_says_so_and_ends()

    def wait_for_history_list(self):
        deadline = time.time() + 30
        while time.time() < deadline:
            loading = [node for name, node in self.find_all("label") if name.startswith("Загружаем")]
            if not loading:
                break
            time.sleep(0.5)
        time.sleep(1)

    def live_meeting_is_not_deleted(self):
        """While it listens, the meeting being recorded is in the history list; its Delete says why
        it cannot be deleted instead of deleting it, and the server keeps the record."""
        self.press(self.find(role="push button", contains="История", what="history section"))
        self.wait_for_history_list()
        entry = self.find(role="list item", timeout=20, what="live meeting in history")
        # The card's "Удалить" is drawn by the list under its "Открыть", at the card's top right.
        extents = entry.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        subprocess.run(["xdotool", "mousemove", str(extents.x + extents.width - 81), str(extents.y + 91),
                        "click", "1"], check=True)
        self.find(contains="сейчас записывается", timeout=15, what="refusal to delete the live meeting")
        time.sleep(0.5)
        self.screenshot("history-live-meeting-not-deleted")
        if any(name == "Удалить" and not self.on_card(node) for name, node in self.find_all("push button")):
            raise Failure("the refusal offers a Delete button")
        meetings = self.state()["meetings"]
        if len(meetings) != 1 or meetings[0].get("status") == "deleted":
            raise Failure("the live meeting's record did not stay on the server: %s" % meetings)
        buttons = [node for name, node in self.find_all("push button") if name in ("OK", "ОК", "&OK")]
        if not buttons:
            self.dump_tree("live-meeting-refusal")
            raise Failure("the refusal has no button to close it")
        self.press(buttons[0])
        time.sleep(0.5)
        self.press(self.find(role="push button", contains="Рабочая область", what="workspace section"))
        self.find(role="push button", contains="Остановить", timeout=15, what="stop button back in the workspace")

    def second_copy_says_so_and_ends(self):
        """A second copy with a runtime folder of its own finds no one on the instance socket, but
        the settings file is held: it tells the user so in a window, and ends once it is closed,
        instead of running beside the first."""
        runtime = tempfile.mkdtemp(prefix="runtime.", dir=self.work)
        os.chmod(runtime, 0o700)
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime, ASAN_OPTIONS="detect_leaks=0",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1", KAVREL_AUTH_BASE_URL=self.base_url)
        log = open(os.path.join(self.work, "kavrel-second.log"), "w")
        second = self.start([self.args.kavrel], env=env, stdout=log, stderr=subprocess.STDOUT)
        first, self.kavrel = self.kavrel, second
        try:
            self.find(contains="уже работает с этими настройками", timeout=30, what="already-running notice")
            time.sleep(0.5)
            self.screenshot("second-copy-notice")
            if second.poll() is not None:
                raise Failure("the second copy ended while its notice was on screen")
            buttons = [node for name, node in self.find_all("push button") if name in ("OK", "ОК")]
            if not buttons:
                self.dump_tree("second-copy-notice")
                raise Failure("the notice has no button to close it")
            self.press(buttons[0])
            try:
                code = second.wait(timeout=20)
            except subprocess.TimeoutExpired:
                raise Failure("the second copy did not end once its notice was closed")
            if code != 1:
                raise Failure("a second copy over the same settings ended with %d: %s"
                              % (code, open(log.name).read()[-2000:]))
        finally:
            self.kavrel = first
        if self.kavrel.poll() is not None:
            raise Failure("the first copy ended when the second one started")


def main(run_class=Run):
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavrel", required=True)
    parser.add_argument("--backend", required=True)
    parser.add_argument("--screenshots", required=True)
    args = parser.parse_args()
    for variable in ("KAVREL_TEST_X11", "KAVREL_TEST_PULSE", "KAVREL_TEST_SECRET_SERVICE"):
        if not os.environ.get(variable):
            print("SKIP: %s is not set: run under scripts/with-test-services" % variable)
            return 0
    run = run_class(args)
    try:
        run.run()
    except Exception as failure:
        print("FAIL at step %d: %s" % (run.step_number + 1, failure))
        run.screenshot("failure")
        if run.kavrel is not None and os.path.exists(getattr(run, "kavrel_log", "")):
            print(open(run.kavrel_log).read()[-4000:])
        return 1
    finally:
        run.stop_all()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
