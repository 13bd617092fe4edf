"""The tray display in the child's desktop, reading what the real daemon publishes: a virtual X display
with a tray host, HoravelMenu running as the child."""

import itertools
import os
import re
import subprocess

from policies import policy
from registry import scenario
from sandbox import KID, PROGRAMS, WORK, check, hold, segment_info, wait_until
from scenarios_daemon import new_user_line

DISPLAY = ":42"


@scenario(seconds=40, programs=PROGRAMS + ("HoravelMenu",))
def tray(box):
    """HoravelMenu, as the child, attaches to the segment and semaphore that root's daemon created and
    keeps polling them; its own exit leaves the daemon's segment in place."""
    box.set_settings(status=1, showremain=1)
    box.install_policy(policy(KID, allowance=30, used=5))
    box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for(new_user_line("kid", 0, 30, 5), timeout=20)
    check(segment_info()["attached"] == 1, f"before the tray starts the segment is {segment_info()}")

    with open(f"{WORK}/x.out", "ab") as out:
        box.spawn(["Xvfb", DISPLAY, "-screen", "0", "640x360x24", "-nolisten", "tcp", "-ac"], stdout=out,
                  stderr=out)
    wait_until(lambda: os.path.exists(f"/tmp/.X11-unix/X{DISPLAY[1:]}"), 15, "the X display")
    desktop = dict(DISPLAY=DISPLAY, QT_QPA_PLATFORM="xcb", ASAN_OPTIONS="detect_leaks=0")
    with open(f"{WORK}/tray.out", "ab") as out:
        box.spawn(["trayer", "--edge", "top", "--align", "right", "--SetDockType", "true"], user=KID,
                  extra_env=desktop, stdout=out, stderr=out)
        menu = box.spawn([f"{WORK}/bin/HoravelMenu"], user=KID, extra_env=desktop, stdout=out, stderr=out)
    wait_until(lambda: segment_info()["attached"] == 2, 20, "HoravelMenu to attach to the daemon's segment")
    hold(lambda: menu.poll() is None and box.daemon_alive(), 12,
         "HoravelMenu or the daemon stopped while the tray polled the record")

    menu.terminate()
    check(menu.wait(timeout=10) in (0, -15), f"HoravelMenu ended with status {menu.returncode}")
    wait_until(lambda: segment_info() and segment_info()["attached"] == 1, 10,
               "HoravelMenu to detach, leaving the daemon's segment")
    check(box.daemon_alive(), "the daemon ended with the tray")


def start_desktop(box):
    """A virtual X display; returns the environment of programs in the child's desktop on it."""
    with open(f"{WORK}/x.out", "ab") as out:
        box.spawn(["Xvfb", DISPLAY, "-screen", "0", "640x360x24", "-nolisten", "tcp", "-ac"], stdout=out,
                  stderr=out)
    wait_until(lambda: os.path.exists(f"/tmp/.X11-unix/X{DISPLAY[1:]}"), 15, "the X display")
    return dict(DISPLAY=DISPLAY, QT_QPA_PLATFORM="xcb", ASAN_OPTIONS="detect_leaks=0")


def start_menu(box, desktop):
    with open(f"{WORK}/tray.out", "ab") as out:
        return box.spawn([f"{WORK}/bin/HoravelMenu"], user=KID, extra_env=desktop, stdout=out, stderr=out)


def docked_in_trayer():
    """Whether a HoravelMenu window sits inside trayer's panel: the XEmbed tray icon, docked."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env={"DISPLAY": DISPLAY}, capture_output=True,
                          text=True, check=False).stdout.splitlines()
    depth = lambda line: len(line) - len(line.lstrip())
    for i, line in enumerate(tree):
        if '("panel" "trayer")' in line:
            inside = itertools.takewhile(lambda below: depth(below) > depth(line), tree[i + 1:])
            return any('"HoravelMenu"' in below for below in inside)
    return False


def item_showing(box, count, text, timeout):
    """Waits for the count-th registration of the tray item with a host, and for the item to show a tooltip
    that begins with text; returns the tooltip."""
    item = wait_until(lambda: len(box.tray_items()) >= count and box.tray_items()[count - 1], timeout,
                      f"the tray item to register with the tray host ({count})")
    return wait_until(lambda: (t := box.tray_tooltip(item)) and t.startswith(text) and t, 12,
                      f"the tray item to show {text!r} (it shows {box.tray_tooltip(item)!r})")


def start_trayer(box, out):
    return box.spawn(["trayer", "--edge", "top", "--align", "right", "--SetDockType", "true"], user=KID,
                     extra_env={"DISPLAY": DISPLAY}, stdout=out, stderr=out)


@scenario(seconds=75, programs=PROGRAMS + ("HoravelMenu",))
def tray_late_host(box):
    """HoravelMenu started before any tray host keeps waiting for one: the icon docks in an XEmbed panel that
    comes 20 s later (the wait has no deadline, so this stands for a panel minutes late), and again when the
    panel goes away and comes back."""
    box.set_settings(status=1, showremain=1)
    box.install_policy(policy(KID, allowance=30, used=5))
    box.login(KID, "3")
    box.start_daemon()
    box.log.wait_for(new_user_line("kid", 0, 30, 5), timeout=20)
    menu = start_menu(box, start_desktop(box))
    wait_until(lambda: segment_info()["attached"] == 2, 20, "HoravelMenu to attach to the daemon's segment")
    hold(lambda: menu.poll() is None and not docked_in_trayer(), 20,
         "HoravelMenu gave up, or docked in no panel, while no tray host was there")

    with open(f"{WORK}/tray.out", "ab") as out:
        panel = start_trayer(box, out)
        wait_until(docked_in_trayer, 12, "the icon in the panel that came late")
        panel.terminate()
        check(panel.wait(timeout=10) in (0, -15), "the panel did not end")
        hold(lambda: menu.poll() is None, 3, "HoravelMenu ended with its panel")
        start_trayer(box, out)
        wait_until(docked_in_trayer, 12, "the icon in the panel that came back")
    check(menu.poll() is None, "HoravelMenu ended")


@scenario(seconds=60, programs=PROGRAMS + ("HoravelMenu",))
def tray_used_up(box):
    """On a StatusNotifierItem host that comes after the tray started, and again after it restarts, the item
    shows the time left; from the tick that logs the child out for an allowance used up, it shows
    "U: 00:00:00", not "no limit"."""
    box.set_settings(status=1, showremain=1, hideremain=1, warntime=5)
    box.install_policy(policy(KID, allowance=30, used=5))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for(new_user_line("kid", 5, 30, 5), timeout=20)
    start_menu(box, start_desktop(box))
    wait_until(lambda: segment_info()["attached"] == 2, 20, "HoravelMenu to attach to the daemon's segment")
    host = box.start_tray_host()
    item_showing(box, 1, "U: 00:2", 10)
    host.terminate()
    check(host.wait(timeout=10) == 0, "the tray host did not end")
    box.start_tray_host()
    item_showing(box, 2, "U: 00:2", 10)

    mark = len(log.messages())
    box.install_policy(policy(KID, allowance=5, used=5))
    log.wait_for(re.escape("logout - allowed 5 min - used today 5 min"), mark, timeout=10)
    tooltip = item_showing(box, 2, "U: 00:00:00", 12)
    check(tooltip.split("\n")[0] == "U: 00:00:00", f"the tray shows {tooltip!r}")
