#!/usr/bin/python3
"""The real kavrel on a Wayland desktop with no tray: weston 10 with XWayland, the program a native
Wayland client or an X11 one through XWayland (weston_session.py).

Runs like kavrel_quit_end_to_end.py (whose helpers it uses) inside scripts/with-test-services, with
the fake backend as a process of its own; each part starts a weston of its own and stops it.
KAVREL_E2E_WAYLAND_PART names the part and the kind of client, "<part>-native" or
"<part>-xwayland":

- "meeting": on a headless weston, driven through the accessibility bus alone: the first window
  lies inside the screen, below the panel; sign-in, a meeting with turns, stop, History lists it,
  and the program quits from its own window, every turn kept on the server.
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
        if client not in ("native", "xwayland") or self.part not in ("meeting",):
            raise Failure("unknown KAVREL_E2E_WAYLAND_PART %r" % part)
        self.native = client == "native"
        self.screenshot_prefix = "wayland-%s-" % part
        self.weston = weston_session.Weston(self.work)

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

    # ---- the program, without a tray ----
    def show_sign_in(self):
        """No tray: the program shows its window at the start."""
        self.find(role="text", timeout=30, what="email field")

    def type_into(self, node, text):
        """Written through the bus, as an on-screen keyboard writes: no input device reaches the
        headless desktop."""
        editable = node.queryEditableText()
        editable.deleteText(0, node.queryText().characterCount)
        editable.insertText(0, text, len(text.encode("utf-8")))
        time.sleep(0.2)

    def alive(self, what):
        if self.kavrel.poll() is not None:
            raise Failure("kavrel ended with %d %s" % (self.kavrel.returncode, what))

    def qt_warnings(self):
        with open(self.kavrel_log, errors="replace") as log:
            return [line.rstrip() for line in log if line.startswith("qt.") or " qt." in line]

    # ---- the parts ----
    def run(self):
        self.forget_saved_sign_in()
        self.start_backend()
        self.weston.start(self.start)
        print("  weston on %s, its XWayland on %s; the program %s client" % (
            self.weston.socket, self.weston.display, "a native Wayland" if self.native else "an X11"), flush=True)
        self.run_meeting()

    def run_meeting(self):
        empty = self.desktop_pixels()
        self.start_kavrel()
        self.sign_in()
        self.screenshot("workspace")
        # Told at the end: the rest of the road runs all the same.
        shown = self.desktop_pixels()
        covered, edges = self.covered_area(empty, shown), self.edges_reached(empty, shown)
        print("  the main window covers (top, bottom, left, right) %s of %dx%d, shadows included; it reaches %s"
              % (covered, weston_session.WIDTH, weston_session.HEIGHT, edges or "no edge"), flush=True)
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
        if covered is None:
            raise Failure("the main window was not on the desktop")
        # Below the panel (the shell places no window under it), and cut off by no edge.
        if edges:
            raise Failure("the main window reached the screen's %s edge" % " and ".join(edges))

    def quit_from_window(self, title):
        """Quits from the program's own window, as a desktop without a tray leaves it."""
        self.kavrel.terminate()
        self.kavrel.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(e2e.main(WaylandRun))
