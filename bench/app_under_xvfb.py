#!/usr/bin/env python3
"""The whole application as a user starts it, under a virtual X server, against the demo service.

Prints these figures of the release build's korvane-app, beside their aims:
  - first painted feed page: seconds from exec until the screen shows the home list's rows
    (median of several launches, each with a fresh home; aim: within 0.15 s). The screen is read
    in this process through the X library, a few milliseconds a frame, and the time taken is the
    start of the first read that shows the rows; the lag between reads is printed beside it;
  - resident memory (VmRSS) after browsing 200 feed items by the mouse wheel (aim: 100 MiB),
    and after playing the 720p clip (aim: 190 MiB): a click on a row of the browsed list opens the
    video page, which starts the clip by itself at the preferred 720P, and a few seconds of its
    moving picture are shown before the reading;
  - resident memory on the home list of a fresh launch before and after each of ten cycles
    (--cycles): a click on the row of the video that offers 4K opens its page, which starts at
    720P; 4K chosen in the player's quality sheet plays for 3.5 s, and 返回 leaves the page. From
    the 4th to the 10th cycle it may grow by less than 10 MiB in all (aim); more is a leak.

Usage: bench/app_under_xvfb.py [--build DIR] [--launches N] [--items N] [--cycles N] [--gl]
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

# The 4K cycles: the home list's second row is the demo's video that offers 4K (a 3840 × 2160
# DASH picture). Its page starts at 720P; the player's quality sheet lists 4K first, and the
# navigation bar's 返回 leaves the page.
FOUR_K_ROW = (SCREEN_W // 2, 190)
FOUR_K_QUALITY = 120
FOUR_K_PLAYED_SECONDS = 3.5
BACK_BUTTON = (27, 42)
# The quality sheet has come to rest as its light 取消 button at the bottom, with the dimmed page
# below it and along the left edge; its title and rows above, each 44 points high, are parted by
# darker lines. Its first row is the highest quality.
QUALITY_SHEET_CANCEL = (14, 622, 30, 30)
QUALITY_SHEET_BACKDROP = [(0, 380, 6, 200), (14, 661, 30, 5)]
QUALITY_SHEET_ROW_HEIGHT = 44
# A page opened again offers to go on from where the last one left (5 s in or more): its alert's
# light panel, and its 从头播放, which starts over, so that every cycle plays the same.
RESUME_OFFER_PANEL = [(60, 272, 30, 16), (60, 362, 20, 36)]
RESUME_OFFER_START_OVER = (120, 380)

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


def light_grey(shot, rect):
    """Whether every pixel of `rect` is the light, colourless grey or white of an alert or sheet."""
    pixels = region_pixels(shot, rect)
    for at in range(0, len(pixels), 4):
        blue, green, red = pixels[at], pixels[at + 1], pixels[at + 2]
        if min(blue, green, red) < 236 or max(blue, green, red) - min(blue, green, red) > 4:
            return False
    return True


def resume_offer_shown(shot):
    """Whether the page's offer to go on from the last time covers the screen."""
    return all(light_grey(shot, rect) for rect in RESUME_OFFER_PANEL)


def quality_sheet_shown(shot):
    """Whether the quality sheet has slid up over the dimmed page and come to rest."""
    for rect in QUALITY_SHEET_BACKDROP:
        backdrop = region_pixels(shot, rect)
        if not all(backdrop[at] < 200 and backdrop[at + 1] < 200 and backdrop[at + 2] < 200
                   for at in range(0, len(backdrop), 4)):
            return False
    return light_grey(shot, QUALITY_SHEET_CANCEL)


def play_from_list(display, screen, app, app_log, start_over=False):
    """Opens the video page of the row under the pointer and waits until its clip plays; with
    `start_over`, an offer to go on from the last time is answered 从头播放.

    Returns seconds from the click until the picture moved, and the picture's place."""
    env = dict(os.environ, DISPLAY=display)
    # Each page opened puts its player's surface in once; only a line after the click counts.
    earlier = len(log_lines(app_log, "persistent-install"))
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
        for line in log_lines(app_log, "persistent-install")[earlier:]:
            match = PLAYER_FRAME.search(line)
            if match:
                frame = [int(float(value)) for value in match.groups()]
        if frame is None and start_over and resume_offer_shown(screen.read()):
            click_at(display, RESUME_OFFER_START_OVER)
            start_over = False
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


def runtime_log(home):
    """The application's own event log in its home."""
    return os.path.join(home, "Library", "Caches", "KorvaneRuntime.log")


def lines_of(path, text):
    return log_lines(path, text) if os.path.exists(path) else []


def wait_for_line(path, text, earlier, app, app_log, what, limit=30.0, failure=None):
    """The first line holding `text` after the `earlier` ones of the log at `path`. A new line
    holding the text of `failure` (text, lines of it before), the application's end or the time
    limit end the run."""
    deadline = time.monotonic() + limit
    while True:
        if app.poll() is not None:
            raise SystemExit(f"korvane-app ended early ({app.returncode}){log_tail(app_log)}")
        if failure and len(lines_of(path, failure[0])) > failure[1]:
            raise SystemExit(f"{what} failed: {lines_of(path, failure[0])[-1].strip()}")
        found = lines_of(path, text)[earlier:]
        if found:
            return found[0]
        if time.monotonic() > deadline:
            raise SystemExit(f"{what} did not happen within {limit:.0f} s{log_tail(app_log)}")
        time.sleep(0.05)


def wait_until_still(screen, rect, app, limit=5.0):
    """Waits until two reads of `rect` 0.1 s apart show the same pixels: what slid in has come to
    rest."""
    deadline = time.monotonic() + limit
    previous = region_pixels(screen.read(), rect)
    while time.monotonic() < deadline and app.poll() is None:
        time.sleep(0.1)
        current = region_pixels(screen.read(), rect)
        if current == previous:
            return current
        previous = current
    return previous


def click_at(display, point):
    # The server takes the move before the click; a synchronous move to where the pointer already
    # is can wait for a motion that never comes.
    subprocess.run(["xdotool", "mousemove", str(point[0]), str(point[1]), "click", "1"],
                   env=dict(os.environ, DISPLAY=display), check=True)


def quality_sheet_first_row(shot):
    """The height of the middle of the sheet's first row: half a row below the line under its
    title, the first line down its left edge."""
    pixels, _, height, bytes_per_line = shot
    x = QUALITY_SHEET_CANCEL[0] + 6
    on_panel = False
    for y in range(SCREEN_H // 3, height):
        blue, green, red = pixels[y * bytes_per_line + 4 * x:y * bytes_per_line + 4 * x + 3]
        light = min(blue, green, red) >= 236 and max(blue, green, red) - min(blue, green, red) <= 4
        if light:
            on_panel = True
        elif on_panel and max(blue, green, red) - min(blue, green, red) <= 4 and min(blue, green, red) >= 180:
            return y + QUALITY_SHEET_ROW_HEIGHT // 2
    raise SystemExit("the quality sheet shows no rows")


def choose_4k(display, screen, app, app_log, runtime, picture):
    """Chooses 4K in the playing page's quality sheet; returns once the 4K pair is installed."""
    x, y, w, h = picture
    quality_button = (x + w - 42 - 3 - 29, y + 5 + 16)  # left of •••, in the top shade
    phases = len(lines_of(runtime, "[quality-switch-phase]"))
    # The controls show as the page opens and hide a few seconds into playback; a tap on the
    # button's place while they are hidden shows them, and the next one opens the sheet. The
    # sheet waits for the page's play information when it has not come yet.
    for _ in range(3):
        click_at(display, quality_button)
        deadline = time.monotonic() + 2.0
        while time.monotonic() < deadline and not quality_sheet_shown(screen.read()):
            time.sleep(0.05)
        if quality_sheet_shown(screen.read()):
            break
    else:
        raise SystemExit(f"the quality sheet did not show{log_tail(app_log)}")
    wait_until_still(screen, (0, SCREEN_H // 2, SCREEN_W, SCREEN_H // 2), app)
    installed = len(lines_of(runtime, "[quality-prewarm-installed]"))
    failed = len(lines_of(runtime, "[quality-switch-failed]"))
    click_at(display, (SCREEN_W // 2, quality_sheet_first_row(screen.read())))
    asked = wait_for_line(runtime, "[quality-switch-phase]", phases, app, app_log, "the switch to 4K", 5.0)
    if f"pending={FOUR_K_QUALITY} " not in asked:
        raise SystemExit(f"the sheet's first row did not ask for 4K: {asked.strip()}")
    line = wait_for_line(runtime, "[quality-prewarm-installed]", installed, app, app_log, "the switch to 4K",
                         failure=("[quality-switch-failed]", failed))
    if "dash=YES" not in line:
        raise SystemExit(f"4K was not installed as a DASH pair: {line.strip()}")


def watch_4k_cycles(display, screen, app, app_log, runtime, demo_log, cycles, threshold):
    """The home list's resident memory before the first cycle and after each: open the 4K video's
    page, choose 4K, let it play, leave back to the list."""
    readings = [settled_resident_mib(app)]
    for cycle in range(cycles):
        stopped = len(lines_of(runtime, "[dash-pair-stopped]"))
        subprocess.run(["xdotool", "mousemove", str(FOUR_K_ROW[0]), str(FOUR_K_ROW[1])],
                       env=dict(os.environ, DISPLAY=display), check=True)
        _, picture = play_from_list(display, screen, app, app_log, start_over=True)
        choose_4k(display, screen, app, app_log, runtime, picture)
        time.sleep(FOUR_K_PLAYED_SECONDS)
        before = region_pixels(screen.read(), picture)
        time.sleep(0.3)
        if before == region_pixels(screen.read(), picture):
            raise SystemExit(f"cycle {cycle + 1}: the 4K picture did not move{log_tail(app_log)}")
        click_at(display, BACK_BUTTON)
        wait_for_line(runtime, "[dash-pair-stopped]", stopped, app, app_log, "the 4K pair's stop on leaving")
        wait_for_rows(screen, app, threshold, time.monotonic())
        readings.append(settled_resident_mib(app))
    if "video-2160p.m4s" not in media_served(demo_log):
        raise SystemExit("the 4K picture was never served")
    return readings


def settled_resident_mib(app, limit=15.0):
    """Resident memory once it holds within 1 MiB for a second: the players of a page left close
    on workers after it has gone."""
    deadline = time.monotonic() + limit
    readings = []
    while time.monotonic() < deadline:
        readings.append(resident_mib(app.pid))
        recent = readings[-5:]
        if len(recent) == 5 and max(recent) - min(recent) < 1.0:
            break
        time.sleep(0.25)
    return readings[-1]


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
    parser.add_argument("--cycles", type=int, default=10)
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

        if args.cycles > 0:
            home = fresh_home(work)
            app, started = launch(args.build, display, demo_values, home, extra_env, app_log)
            wait_for_rows(screen, app, threshold, started)
            time.sleep(1.0)  # the first covers arrive
            readings = watch_4k_cycles(display, screen, app, app_log, runtime_log(home), log_path, args.cycles, threshold)
            stop(app)
            print(f"resident on the home list before the 4K cycles: {readings[0]:.0f} MiB")
            for cycle, mib in enumerate(readings[1:], 1):
                print(f"resident on the home list after 4K cycle {cycle} (open the 4K video, choose 4K, play "
                      f"{FOUR_K_PLAYED_SECONDS:g} s, leave): {mib:.0f} MiB")
            if len(readings) > 10:
                print(f"growth from the 4th to the 10th 4K cycle: {readings[10] - readings[4]:.1f} MiB (aim: below 10 MiB)")
    finally:
        screen.close()
        stop(demo)
        stop(xvfb)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
