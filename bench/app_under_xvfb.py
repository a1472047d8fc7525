#!/usr/bin/env python3
"""The whole application as a user starts it, under a virtual X server, against the demo service.

Prints three figures of the release build's korvane-app, each beside its aim:
  - first painted feed page: seconds from exec until the screen shows the home list's rows
    (median of several launches, each with a fresh home; aim: within 0.15 s). The screen is read
    in this process through the X library, a few milliseconds a frame, and the time taken is the
    start of the first read that shows the rows; the lag between reads is printed beside it;
  - resident memory (VmRSS) after browsing 200 feed items by the mouse wheel (aim: 100 MiB),
    and after playing the 720p clip (aim: 190 MiB): a click on a row of the browsed list opens the
    video page, which starts the clip by itself at the preferred 720P, and a few seconds of its
    moving picture are shown before the reading.

Usage: bench/app_under_xvfb.py [--build DIR] [--launches N] [--items N] [--gl]
--gl leaves the window system its OpenGL (QT_XCB_GL_INTEGRATION=xcb_glx), so both ways of
drawing the web view can be compared in one run. Needs Xvfb, libX11 and xdotool (scripts/install-deps).
"""

import argparse
import ctypes
import ctypes.util
import os
import re
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCREEN_W, SCREEN_H = 375, 667
FEED_PAGE = 20  # the home list asks for 20 videos a page

PREFERRED_QUALITY = 64  # 720P, played as a single file (DASH only from 80 up)
PLAYED_SECONDS = 4.0  # of the 12 s clip, before the reading

# The usage notice would cover the list on a first run; these launches have read it. The video
# page starts playing by itself (on Wi-Fi, or on a mobile network with its permission) at 720P.
PREFERENCES = f"""<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>KRUsageNoticeAcceptedVersion</key><integer>1</integer>
<key>KRPreferredQuality</key><integer>{PREFERRED_QUALITY}</integer>
<key>KRDetailAutoPlayEnabled</key><true/><key>KRCellularAutoPlayEnabled</key><true/></dict></plist>
"""


def start_xvfb():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24", "-wr", "-nolisten", "tcp"],
        pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_fd, 16)
        if not chunk:
            raise SystemExit("Xvfb did not start")
        number += chunk
    os.close(read_fd)
    return xvfb, ":" + number.decode().strip()


def start_demo(build, log_path):
    demo = subprocess.Popen([os.path.join(build, "tests", "korvane-demo-service")], stdout=subprocess.PIPE,
                            stderr=open(log_path, "w"), text=True)
    values = {}
    while len(values) < 2:
        line = demo.stdout.readline()
        if not line:
            raise SystemExit(f"the demo service did not start; see {log_path}")
        key, _, value = line.strip().partition("=")
        if key in ("KORVANE_CONNECT_TO", "KORVANE_CA_FILE"):
            values[key] = value
    return demo, values


def fresh_home(parent):
    home = tempfile.mkdtemp(dir=parent)
    preferences = os.path.join(home, "Library", "Preferences")
    os.makedirs(preferences)
    with open(os.path.join(preferences, "com.tarnwick.korvane5.plist"), "w") as f:
        f.write(PREFERENCES)
    return home


class XImage(ctypes.Structure):
    # The fields of Xlib's XImage up to the pixels' layout.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


class Screen:
    """The root window's pixels read over one connection of this process: a few milliseconds a
    read, where a capture tool started per frame took tens."""

    Z_PIXMAP = 2
    ALL_PLANES = ctypes.c_ulong(0xFFFFFFFF)

    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.POINTER(XImage)
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                     ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XFree.argtypes = [ctypes.c_void_p]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.connection = self.x.XOpenDisplay(display.encode())
        if not self.connection:
            raise SystemExit(f"cannot open the display {display}")
        self.root = self.x.XDefaultRootWindow(self.connection)

    def read(self):
        """(pixels, width, height, bytes per line) of the whole screen, 32 bits a pixel."""
        image = self.x.XGetImage(self.connection, self.root, 0, 0, SCREEN_W, SCREEN_H, self.ALL_PLANES, self.Z_PIXMAP)
        if not image:
            raise SystemExit("cannot read the screen")
        shown = image.contents
        if shown.bits_per_pixel != 32:
            raise SystemExit("expected a 32-bit screen")
        pixels = ctypes.string_at(shown.data, shown.bytes_per_line * shown.height)
        result = (pixels, shown.width, shown.height, shown.bytes_per_line)
        # XDestroyImage: the pixels, then the structure.
        self.x.XFree(ctypes.c_void_p(shown.data))
        self.x.XFree(image)
        return result

    def close(self):
        self.x.XCloseDisplay(self.connection)


def region_pixels(shot, rect):
    """The bytes of a rectangle (x, y, width, height) of one screen read."""
    pixels, width, height, bytes_per_line = shot
    x, y, w, h = rect
    x0, x1 = max(0, x), min(width, x + w)
    return b"".join(pixels[row * bytes_per_line + 4 * x0:row * bytes_per_line + 4 * x1]
                    for row in range(max(0, y), min(height, y + h)))


def rows_with_text(shot):
    """Rows of the screen holding dark pixels (text)."""
    pixels, width, height, bytes_per_line = shot
    rows = 0
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + 4 * width]
        # Every third pixel is enough to see a line of text. A dark pixel has every channel
        # below 240: a row whose sampled blue is never that low has none, and is passed over
        # without looking at each pixel.
        if min(line[0::12]) >= 240:
            continue
        dark = 0
        for x in range(0, 4 * width, 12):
            if line[x] + line[x + 1] + line[x + 2] < 240:
                dark += 1
                if dark >= 3:
                    rows += 1
                    break
    return rows


def launch(build, display, demo_values, home, extra_env, stderr_path=None):
    env = dict(os.environ)
    env.update(demo_values)
    env.update(extra_env)
    env.update({"DISPLAY": display, "QT_QPA_PLATFORM": "xcb", "KORVANE_HOME": home, "KORVANE_AUDIO_OUTPUT": "null"})
    env.pop("WAYLAND_DISPLAY", None)
    started = time.monotonic()
    app = subprocess.Popen([os.path.join(build, "src", "korvane-app")], env=env, stdout=subprocess.DEVNULL,
                           stderr=open(stderr_path, "w") if stderr_path else subprocess.DEVNULL)
    return app, started


def wait_for_rows(screen, app, threshold, started, limit=15.0):
    """Seconds from `started` to the start of the first screen read that shows the list's rows,
    and the median time between reads (the most the figure can lag behind the paint)."""
    deadline = time.monotonic() + limit
    periods = []
    previous = None
    while time.monotonic() < deadline:
        if app.poll() is not None:
            raise SystemExit(f"korvane-app ended early ({app.returncode})")
        reading = time.monotonic()
        if previous is not None:
            periods.append(reading - previous)
        previous = reading
        if rows_with_text(screen.read()) >= threshold:
            return reading - started, (statistics.median(periods) if periods else 0.0)
    raise SystemExit("the first feed page never showed")


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def resident_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def feed_requests(log_path):
    with open(log_path, errors="replace") as f:
        return sum(1 for line in f if "/feed/rcmd" in line)


def log_lines(path, text):
    with open(path, errors="replace") as f:
        return [line for line in f if text in line]


PLAYER_FRAME = re.compile(r"persistent-install frame=\{\{([-\d.]+), ([-\d.]+)\}, \{([-\d.]+), ([-\d.]+)\}\}")


def play_from_list(display, screen, app, app_log):
    """Opens the video page of the row under the pointer and waits until its clip plays.

    Returns seconds from the click until the picture moved, and the picture's place."""
    env = dict(os.environ, DISPLAY=display)
    clicked = time.monotonic()
    subprocess.run(["xdotool", "click", "1"], env=env, check=True)
    # The player's surface goes in when playback starts; its line gives the picture's place.
    deadline = clicked + 30
    frame = None
    while frame is None:
        if app.poll() is not None:
            raise SystemExit(f"korvane-app ended early ({app.returncode}){log_tail(app_log)}")
        if time.monotonic() > deadline:
            raise SystemExit(f"the video page did not start playing within 30 s{log_tail(app_log)}")
        for line in log_lines(app_log, "persistent-install"):
            match = PLAYER_FRAME.search(line)
            if match:
                frame = [int(float(value)) for value in match.groups()]
        time.sleep(0.1)
    # Playback runs once the clip's moving picture changes between two captures.
    previous = region_pixels(screen.read(), frame)
    while True:
        if app.poll() is not None:
            raise SystemExit(f"korvane-app ended early ({app.returncode}){log_tail(app_log)}")
        if time.monotonic() > deadline:
            raise SystemExit(f"the video page's picture never moved within 30 s{log_tail(app_log)}")
        time.sleep(0.2)
        current = region_pixels(screen.read(), frame)
        if current != previous:
            break
        previous = current
    return time.monotonic() - clicked, frame


def log_tail(path, lines=15):
    with open(path, errors="replace") as f:
        return "; the application's last lines:\n" + "".join(f.readlines()[-lines:])


def media_served(demo_log):
    """Names of the media files the demo service has served."""
    return sorted({line.strip().split("?")[0].rsplit("/", 1)[-1] for line in log_lines(demo_log, "/play/")})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--launches", type=int, default=7)
    parser.add_argument("--items", type=int, default=200)
    parser.add_argument("--gl", action="store_true")
    parser.add_argument("--skip-build", action="store_true")
    args = parser.parse_args()
    if not args.skip_build:
        subprocess.run([os.path.join(ROOT, "scripts", "build"), args.build, "Release", "korvane-app",
                        "korvane-demo-service"], check=True, stdout=subprocess.DEVNULL)
    extra_env = {"QT_XCB_GL_INTEGRATION": "xcb_glx"} if args.gl else {}

    work = tempfile.mkdtemp(prefix="korvane-bench-")
    xvfb, display = start_xvfb()
    screen = Screen(display)
    log_path = os.path.join(work, "demo-service.log")
    demo, demo_values = start_demo(args.build, log_path)
    try:
        # What an empty list screen shows (bars, their titles, the tab bar) stays well below
        # this; a page of rows (two title lines and a line of details each) goes past it.
        threshold = 150
        # One launch first, so the page cache holds the libraries for all that are timed.
        app, started = launch(args.build, display, demo_values, fresh_home(work), extra_env)
        wait_for_rows(screen, app, threshold, started)
        stop(app)
        times, lags = [], []
        for _ in range(args.launches):
            app, started = launch(args.build, display, demo_values, fresh_home(work), extra_env)
            seconds, lag = wait_for_rows(screen, app, threshold, started)
            times.append(seconds)
            lags.append(lag)
            stop(app)
        print(f"first painted feed page after exec: median {statistics.median(times):.3f} s "
              f"(min {min(times):.3f}, max {max(times):.3f}, {len(times)} launches; aim: within 0.15 s; "
              f"the screen read every {1000 * statistics.median(lags):.1f} ms)")

        app_log = os.path.join(work, "app.log")
        app, started = launch(args.build, display, demo_values, fresh_home(work), extra_env, app_log)
        wait_for_rows(screen, app, threshold, started)
        time.sleep(1.0)  # the first covers arrive
        first_page_mib = resident_mib(app.pid)
        subprocess.run(["xdotool", "mousemove", "--sync", str(SCREEN_W // 2), str(SCREEN_H // 2)],
                       env=dict(os.environ, DISPLAY=display), check=True)
        pages = -(-args.items // FEED_PAGE)
        before = feed_requests(log_path)
        deadline = time.monotonic() + 120
        while feed_requests(log_path) - before < pages and time.monotonic() < deadline:
            subprocess.run(["xdotool", "click", "--repeat", "10", "--delay", "15", "5"],
                           env=dict(os.environ, DISPLAY=display), check=True)
        loaded = (feed_requests(log_path) - before) * FEED_PAGE
        # The last page's rows and covers come in and the list settles.
        subprocess.run(["xdotool", "click", "--repeat", "20", "--delay", "15", "5"],
                       env=dict(os.environ, DISPLAY=display), check=True)
        time.sleep(2.0)
        browsed_mib = resident_mib(app.pid)
        # The pointer still rests on a row of the list.
        moving, picture = play_from_list(display, screen, app, app_log)
        time.sleep(PLAYED_SECONDS)
        played_mib = resident_mib(app.pid)
        served = media_served(log_path)
        still_moving = region_pixels(screen.read(), picture)
        time.sleep(0.3)
        still_moving = still_moving != region_pixels(screen.read(), picture)
        stop(app)
        print(f"resident after the first page: {first_page_mib:.0f} MiB")
        print(f"resident after browsing {loaded} feed items: {browsed_mib:.0f} MiB (aim: within 100 MiB)")
        print(f"resident after playing the 720p clip for {PLAYED_SECONDS:.0f} s (after the browsing): "
              f"{played_mib:.0f} MiB (aim: within 190 MiB; picture moved {moving:.1f} s after the click, "
              f"{'still playing' if still_moving else 'no longer moving'} at the reading; "
              f"served: {', '.join(served) or 'nothing'})")
    finally:
        screen.close()
        stop(demo)
        stop(xvfb)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
