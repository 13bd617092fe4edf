"""The tray display in the child's desktop, reading what the real daemon publishes: a virtual X display
with a tray host, HoravelMenu running as the child."""

import os

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
