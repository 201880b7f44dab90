"""A Wayland desktop of a test's own: weston 10 with its desktop shell (a 32 px panel at the top)
and XWayland, in a runtime folder of its own, stopped with the test.

Its headless backend has no input devices: the program is driven through the accessibility bus.
Its x11 backend draws the desktop in a window of the test services' X server, whose pointer and
keyboard (xdotool) then reach it, as a person's would.

weston's XWayland takes the first free X display from :0 and has no option to choose one: the
display is read from weston's log, and the test services' own X server (DISPLAY) is another.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time

SOCKET = "wayland-kavrel"
# A laptop's screen, where the panel's height is missed first.
WIDTH, HEIGHT = 1366, 768
# desktop-shell's panel at the top, as weston draws it with no settings of the user's.
PANEL_HEIGHT = 32


class WestonFailure(Exception):
    pass


class Weston:
    def __init__(self, work, backend="headless"):
        self.backend = backend
        self.runtime = tempfile.mkdtemp(prefix="weston.", dir=work)
        os.chmod(self.runtime, 0o700)
        self.log = os.path.join(self.runtime, "weston.log")
        self.socket = os.path.join(self.runtime, SOCKET)
        self.display = None
        self.process = None
        self.pointer_entered = False

    def start(self, start_process):
        """Starts weston through `start_process` (which stops it with the test's other processes)
        and waits until it serves Wayland clients and listens for X ones."""
        # XWayland's sockets live there; a machine without any X server yet may lack the folder.
        if not os.path.isdir("/tmp/.X11-unix"):
            os.makedirs("/tmp/.X11-unix", exist_ok=True)
            os.chmod("/tmp/.X11-unix", 0o1777)
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        env.pop("WAYLAND_DISPLAY", None)
        # --debug lets weston-screenshooter take pictures of the desktop.
        command = ["weston", "--backend=%s-backend.so" % self.backend, "--xwayland", "--socket=" + SOCKET,
                   "--width=%d" % WIDTH, "--height=%d" % HEIGHT, "--use-pixman", "--no-config", "--debug",
                   "--log=" + self.log]
        self.process = start_process(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 30
        while time.time() < deadline:
            if self.process.poll() is not None:
                raise WestonFailure("weston ended with %d: %s" % (self.process.returncode, self.log_tail()))
            found = re.search(r"xserver listening on display (:\d+)", self.log_text())
            if found and os.path.exists(self.socket):
                self.display = found.group(1)
                return
            time.sleep(0.1)
        raise WestonFailure("weston did not come up: %s" % self.log_tail())

    def log_text(self):
        try:
            with open(self.log, errors="replace") as log:
                return log.read()
        except OSError:
            return ""

    def log_tail(self):
        return self.log_text()[-3000:]

    def client_environment(self, native):
        """What a program started on this desktop is given: a native Wayland client, or an X11
        one through XWayland. Either way its X display is XWayland's, as in a Wayland session."""
        return {
            "QT_QPA_PLATFORM": "wayland" if native else "xcb",
            "WAYLAND_DISPLAY": self.socket,
            "DISPLAY": self.display,
            "XDG_SESSION_TYPE": "wayland",
        }

    def move_pointer(self, x, y, *then):
        """Moves the test X server's pointer to (x, y) of the desktop drawn in weston's window (x11
        backend), then runs the xdotool commands `then` (["click", "1"]).

        weston reads the pointer's moves inside its window as steps from where the last one left
        it, and takes the position itself only as the pointer enters the window: the first move
        comes in from outside, or every later point would be off by where the pointer stood."""
        found = subprocess.run(["xdotool", "search", "--class", "weston"], capture_output=True, text=True).stdout.split()
        if not found:
            raise WestonFailure("weston's window is not on the test X server")
        window = found[0]
        if not self.pointer_entered:
            geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], capture_output=True,
                                      text=True, check=True).stdout
            place = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
            # A point of the screen left or right of the window and its frame (the window is
            # narrower than the screen).
            left, width = int(place["X"]), int(place["WIDTH"])
            outside_x = left // 2 if left > 8 else left + width + 8
            subprocess.run(["xdotool", "mousemove", str(outside_x), place["Y"]], check=True)
            self.pointer_entered = True
        subprocess.run(["xdotool", "mousemove", "--window", window, str(x), str(y)] + list(then), check=True)

    def screenshot(self, path):
        """The whole desktop as weston shows it, in a PNG at `path`."""
        folder = tempfile.mkdtemp(dir=self.runtime)
        env = dict(os.environ, WAYLAND_DISPLAY=self.socket)
        subprocess.run(["weston-screenshooter"], cwd=folder, env=env, timeout=20, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pictures = [name for name in os.listdir(folder) if name.endswith(".png")]
        if pictures:
            shutil.move(os.path.join(folder, pictures[0]), path)
        shutil.rmtree(folder, ignore_errors=True)
