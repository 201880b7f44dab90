#!/usr/bin/python3
"""The real kavrel on a Wayland desktop with no tray: weston 10 with XWayland, the program a native
Wayland client or an X11 one through XWayland (weston_session.py).

Runs like kavrel_quit_end_to_end.py (whose helpers it uses) inside scripts/with-test-services, with
the fake backend as a process of its own; each part starts a weston of its own and stops it.
KAVREL_E2E_WAYLAND_PART names the part and the kind of client, "<part>-native" or
"<part>-xwayland":

- "meeting": driven through the accessibility bus but for the quit: sign-in, a meeting with turns,
  stop, History lists it, and the program quits from its own window (Ctrl+Q), every turn kept on
  the server and no Qt warning.
- "panel": the main window as first shown lies inside the screen, below the panel.
- "close": the main window closed from its title bar while listening leaves a window of the
  program on the desktop and the meeting running; the program quits from that window, keeping
  every turn.
- "minimize" (native only: weston's frames of X11 windows have no minimize button): minimized from
  its title bar while listening, the main window gives way to the mini window, and comes back by
  its "Развернуть КАВРЕЛ" and by a second start, the meeting running; and once more when the
  meeting is stopped from the mini window.

Where a window is and whether it is on the desktop is read from pictures of the desktop: under
Wayland a window does not know where it is, and the accessibility bus calls a minimized window
showing.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kavrel_end_to_end as e2e  # noqa: E402  (skips by itself without pyatspi)
import kavrel_quit_end_to_end as quit_e2e  # noqa: E402
import weston_session  # noqa: E402

Failure = e2e.Failure
TURNS = quit_e2e.TURNS


class WaylandRun(quit_e2e.QuitRun):
    screenshot_prefix = "wayland-"

    def __init__(self, args):
        super().__init__(args)
        part = os.environ.get("KAVREL_E2E_WAYLAND_PART", "meeting-native")
        self.part, _, client = part.rpartition("-")
        # weston's X11 window manager draws no minimize button on its frames.
        known = ("meeting", "panel", "close") if client == "xwayland" else ("meeting", "panel", "close", "minimize")
        if client not in ("native", "xwayland") or self.part not in known:
            raise Failure("unknown KAVREL_E2E_WAYLAND_PART %r" % part)
        self.native = client == "native"
        self.screenshot_prefix = "wayland-%s-" % part
        # A person's pointer and keyboard are needed for a window's title bar and for Ctrl+Q: weston
        # draws the desktop in a window of the test X server, whose pointer and keyboard reach it.
        self.weston = weston_session.Weston(self.work, backend="x11")

    # ---- the desktop ----
    def platform_environment(self):
        return self.weston.client_environment(self.native)

    def capture_screen(self, path):
        self.weston.screenshot(path)

    def desktop_pixels(self):
        """The desktop as rows of RGB bytes, once two pictures in a row agree (the shell draws its
        background a moment after it starts, and a window its content a moment after it maps)."""
        last = None
        for attempt in range(20):
            path = os.path.join(self.work, "desktop.png")
            self.weston.screenshot(path)
            raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24",
                                  "-"], capture_output=True, check=True).stdout
            stride = weston_session.WIDTH * 3
            rows = [raw[row * stride:(row + 1) * stride] for row in range(weston_session.HEIGHT)]
            # The panel's clock moves on: only what lies below the panel is compared.
            if last is not None and last[weston_session.PANEL_HEIGHT:] == rows[weston_session.PANEL_HEIGHT:]:
                return rows
            last = rows
            time.sleep(0.3)
        raise Failure("the desktop did not settle")

    def covered_area(self, empty, now):
        """(top, bottom, left, right) of what changed below the panel, shadows included; None when
        nothing did."""
        rows = [row for row in range(weston_session.PANEL_HEIGHT, weston_session.HEIGHT) if empty[row] != now[row]]
        if not rows:
            return None
        columns = [column for column in range(weston_session.WIDTH)
                   if any(empty[row][3 * column:3 * column + 3] != now[row][3 * column:3 * column + 3] for row in rows)]
        return rows[0], rows[-1], columns[0], columns[-1]

    @staticmethod
    def edges_reached(empty, now):
        """The screen's edges below the panel that a window reaches: where a pixel on the edge is
        lighter than the desktop was there (a window's frame and this program's content are light;
        the shadow weston draws around a frame only darkens the desktop)."""
        def lighter(row, column):
            return sum(now[row][3 * column:3 * column + 3]) > sum(empty[row][3 * column:3 * column + 3]) + 30
        bottom, right = weston_session.HEIGHT - 1, weston_session.WIDTH - 1
        rows = range(weston_session.PANEL_HEIGHT, weston_session.HEIGHT)
        edges = {"bottom": any(lighter(bottom, column) for column in range(weston_session.WIDTH)),
                 "left": any(lighter(row, 0) for row in rows),
                 "right": any(lighter(row, right) for row in rows)}
        return [edge for edge, reached in edges.items() if reached]

    @staticmethod
    def window_box(empty, now):
        """(top, bottom, left, right) of what is lighter than the desktop was below the panel: the
        windows' frames and content, without the shadows around them; None when nothing is."""
        top = bottom = left = right = None
        for row in range(weston_session.PANEL_HEIGHT, weston_session.HEIGHT):
            if empty[row] == now[row]:
                continue
            for column in range(weston_session.WIDTH):
                if sum(now[row][3 * column:3 * column + 3]) > sum(empty[row][3 * column:3 * column + 3]) + 30:
                    top = row if top is None else top
                    bottom = row
                    left = column if left is None else min(left, column)
                    right = column if right is None else max(right, column)
        return None if top is None else (top, bottom, left, right)

    def move_pointer(self, x, y, *then):
        """Moves the test X server's pointer to a point of weston's desktop, then does `then`."""
        try:
            self.weston.move_pointer(x, y, *then)
        except weston_session.WestonFailure as failure:
            raise Failure(str(failure))

    def click_desktop(self, x, y):
        self.move_pointer(x, y, "click", "1")
        self.park_pointer()

    def park_pointer(self):
        """Puts the pointer over the panel, out of the pictures' way (weston draws it)."""
        if self.weston.backend == "x11":
            self.move_pointer(weston_session.WIDTH // 2, 8)

    def click_title_button(self, box, from_right):
        """Clicks a button of a window's title bar, `from_right` pixels left of its right edge:
        Qt draws a native client's, weston's window manager an X11 client's frame."""
        top, _, _, right = box
        self.click_desktop(right - from_right, top + 14)

    # ---- the program, without a tray ----
    def show_sign_in(self):
        """No tray: the program shows its window at the start."""
        self.find(role="text", timeout=30, what="email field")

    def type_into(self, node, text):
        """Written through the bus, as an on-screen keyboard or a dictation tool writes."""
        editable = node.queryEditableText()
        editable.deleteText(0, node.queryText().characterCount)
        editable.insertText(0, text, len(text.encode("utf-8")))
        time.sleep(0.2)

    def alive(self, what):
        if self.kavrel.poll() is not None:
            raise Failure("kavrel ended with %d %s" % (self.kavrel.returncode, what))

    def qt_warnings(self):
        """What the program's output holds besides its own log (its categories are the program's
        bundle identifier's): Qt's warnings, with their category or without."""
        with open(self.kavrel_log, errors="replace") as log:
            return [line.rstrip() for line in log if line.strip() and not line.startswith("app.kavrel.desktop.")]

    # ---- the parts ----
    def run(self):
        self.forget_saved_sign_in()
        self.start_backend()
        self.weston.start(self.start)
        print("  weston on %s, its XWayland on %s; the program %s client" % (
            self.weston.socket, self.weston.display, "a native Wayland" if self.native else "an X11"), flush=True)
        {"meeting": self.run_meeting, "panel": self.run_panel, "close": self.run_close,
         "minimize": self.run_minimize}[self.part]()

    def run_meeting(self):
        self.park_pointer()
        self.empty_desktop = self.desktop_pixels()
        self.start_kavrel()
        self.sign_in()
        self.screenshot("workspace")
        self.listen_until_every_turn("listening")
        self.press(self.find(role="push button", contains="Остановить", what="stop button"))
        self.find(role="push button", contains="Начать", timeout=20, what="start button after the stop")
        self.press(self.find(role="push button", contains="История", what="history section"))
        self.wait_for_history_list()
        self.find(role="list item", contains=TURNS[0][:20], timeout=20, what="the meeting in History")
        self.screenshot("history")
        self.quit_from_window("quit")
        self.check_saved(set(), 1, "quit from the window")
        warnings = self.qt_warnings()
        if warnings:
            raise Failure("Qt warned: %s" % warnings[:5])

    def run_panel(self):
        """The main window as the program first shows it lies inside the screen, below the panel."""
        self.park_pointer()
        empty = self.empty_desktop = self.desktop_pixels()
        self.start_kavrel()
        self.sign_in()
        shown = self.desktop_pixels()
        self.screenshot("workspace")
        covered, edges = self.covered_area(empty, shown), self.edges_reached(empty, shown)
        print("  the main window covers (top, bottom, left, right) %s of %dx%d, shadows included; it reaches %s"
              % (covered, weston_session.WIDTH, weston_session.HEIGHT, edges or "no edge"), flush=True)
        if covered is None:
            raise Failure("the main window was not on the desktop")
        # Below the panel (the shell places no window under it), and cut off by no edge.
        if edges:
            raise Failure("the main window reached the screen's %s edge" % " and ".join(edges))
        self.quit_from_window("quit")

    def listening_with_the_window(self):
        """Signs in and listens until every turn is shown; gives the desktop without the program and
        where the main window is."""
        self.park_pointer()
        empty = self.empty_desktop = self.desktop_pixels()
        self.start_kavrel()
        self.sign_in()
        self.listen_until_every_turn("listening")
        box = self.window_box(empty, self.desktop_pixels())
        if box is None:
            raise Failure("the main window is not on the desktop")
        print("  the main window at (top, bottom, left, right) %s" % (box,), flush=True)
        return empty, box

    def wait_for_desktop(self, what, check, timeout=15.0):
        """Waits until the desktop (rows of pixels) passes `check`."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if check(self.desktop_pixels()):
                return
            time.sleep(0.3)
        self.screenshot("missing-" + what.replace(" ", "-"))
        raise Failure("the desktop never showed %s" % what)

    def only_narrower_than(self, empty, box):
        """A check of the desktop: a window is on it, and what is there is clearly narrower than
        the main window at `box` was (the mini window alone, the main window gone)."""
        width = box[3] - box[2]

        def check(now):
            shown = self.window_box(empty, now)
            return shown is not None and shown[3] - shown[2] < width - 100
        return check

    def still_listening(self, how):
        self.alive(how)
        if not any(name.startswith("Остановить") for name, _ in self.find_all("push button")):
            self.dump_tree("not-listening")
            raise Failure("the program does not listen any more %s" % how)

    def run_close(self):
        """Closing the main window while listening leaves a window of the program on the desktop
        and the meeting running; the program then quits from that window, keeping the meeting."""
        empty, box = self.listening_with_the_window()
        self.click_title_button(box, 16 if self.native else 19)
        self.wait_for_top_level("Слушает", timeout=15)
        self.wait_for_desktop("the mini window alone", self.only_narrower_than(empty, box))
        self.screenshot("main-window-closed")
        self.still_listening("once its main window was closed")
        self.quit_from_window("quit-after-close")
        self.check_saved(set(), 1, "closed while listening, then quit from the window left")

    def run_minimize(self):
        """Minimized from its title bar while listening, the main window gives way to the mini
        window; "Развернуть КАВРЕЛ" brings it back, and so does a second start; the meeting
        stopped from the mini window leaves the main window on the desktop."""
        empty, box = self.listening_with_the_window()
        width = box[3] - box[2]

        def main_window_shown(now):
            shown = self.window_box(empty, now)
            return shown is not None and shown[3] - shown[2] >= width - 4

        for how, name in (("Развернуть КАВРЕЛ", "expand"), ("a second start", "second-start"),
                          ("Остановить прослушивание", "stop")):
            # A window shown afresh is placed by the compositor, wherever it likes.
            box = self.window_box(empty, self.desktop_pixels())
            self.click_title_button(box, 62)
            mini = self.wait_for_top_level("Слушает", timeout=15)
            self.wait_for_desktop("the mini window alone before " + name, self.only_narrower_than(empty, box))
            self.screenshot("minimized-before-" + name)
            if how == "a second start":
                first = self.kavrel
                self.start_kavrel()
                code = self.kavrel.wait(timeout=30)
                self.kavrel = first
                if code != 0:
                    raise Failure("the second start ended with %d" % code)
            else:
                self.press(self.find_in(mini, "push button", how))
            self.wait_for_desktop("the main window back after " + name, main_window_shown)
            self.screenshot("back-after-" + name)
            if how.startswith("Остановить"):
                self.alive("after the stop from the mini window")
                self.find(role="push button", contains="Начать", timeout=20, what="start button after the stop")
            else:
                self.still_listening("after " + how)
        self.quit_from_window("quit-after-minimize")
        self.check_saved(set(), 1, "minimized and back while listening, stopped from the mini window, then quit")

    def find_in(self, window, role, name):
        """The node of `role` named `name` inside `window` (the same button may be in another
        window of the program too)."""
        for node in self.nodes(window):
            try:
                if node.getRoleName() == role and node.name == name:
                    return node
            except Exception:
                continue
        self.dump_tree("missing-" + name.replace(" ", "-"))
        raise Failure("no %s %r in the window %r" % (role, name, window.name))

    def quit_from_window(self, title):
        """Quits from the program's own window with Ctrl+Q, as a desktop without a tray leaves it
        (the account menu's Quit is not on the accessibility bus), and waits for its end."""
        box = self.window_box(self.empty_desktop, self.desktop_pixels())
        if box is None:
            raise Failure("no window of the program to quit from")
        # A click on its title bar gives the window the keyboard.
        self.click_desktop((box[2] + box[3]) // 2, box[0] + 14)
        subprocess.run(["xdotool", "key", "ctrl+q"], check=True)
        try:
            code = self.kavrel.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end after Ctrl+Q (%s)" % title)
        if code != 0:
            raise Failure("kavrel ended with %d after Ctrl+Q (%s)" % (code, title))

if __name__ == "__main__":
    sys.exit(e2e.main(WaylandRun))
