"""Network ranges by the firewall (the default method) and by switching every interface, on real
interfaces: veth pairs whose peers live in a private network namespace of the sandbox with a TCP listener,
one standing in for the uplink and one for a tether. Only addresses inside the sandbox are ever dialled."""

import os
import signal
import subprocess

from policies import policy
from registry import scenario
from sandbox import (KID, PID_FILE, PYTHON, check, hhmm, hold, interface_flags, minute_of_day, run,
                     wait_until)
from scenarios_daemon import new_user_line
from scenarios_monitors import range_after_now, range_around_now

PORT = 7000
# name of the sandbox's end, its address, the peer's address
UPLINK = ("hvup0", "10.231.5.1", "10.231.5.2")
TETHER = ("hvtet0", "10.231.6.1", "10.231.6.2")
LISTENER = ("import socket\n"
            "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
            f"s.bind(('0.0.0.0', {PORT})); s.listen(64)\n"
            "while True:\n"
            "    s.accept()[0].close()\n")
DIAL = ("import socket, sys\n"
        "try:\n"
        f"    socket.create_connection((sys.argv[1], {PORT}), timeout=3).close()\n"
        "except OSError:\n"
        "    sys.exit(1)\n")


def peer_namespace(box):
    """A process in a network namespace of its own, listening on every address it will be given."""
    peer = box.spawn(["unshare", "--net", "--", PYTHON, "-c", LISTENER])
    wait_until(lambda: os.readlink(f"/proc/{peer.pid}/ns/net") != os.readlink("/proc/self/ns/net"), 5,
               "the peer's network namespace")
    return peer


def add_link(peer, link):
    """A veth pair: `name` up in the sandbox with its address, its other end in the peer's namespace."""
    name, address, peer_address = link
    run(["ip", "link", "add", name, "type", "veth", "peer", "name", name + "p"])
    run(["ip", "link", "set", name + "p", "netns", str(peer.pid)])
    run(["ip", "addr", "add", f"{address}/24", "dev", name])
    run(["ip", "link", "set", name, "up"])
    run(["nsenter", "-t", str(peer.pid), "-n", "sh", "-c",
         f"ip link set lo up && ip addr add {peer_address}/24 dev {name}p && ip link set {name}p up"])


def connects(box, link, user=None):
    """Whether a TCP connection to the peer through `link` succeeds, as user (root when None)."""
    ids = {"user": user.uid, "group": user.gid, "extra_groups": []} if user else {}
    result = subprocess.run([PYTHON, "-c", DIAL, link[2]], env=box.env(user), cwd="/", check=False,
                            timeout=10, **ids)
    return result.returncode == 0


def our_table():
    result = subprocess.run(["nft", "list", "table", "inet", "horavel"], capture_output=True, text=True,
                            check=False)
    return result.stdout if result.returncode == 0 else None


def check_network(box, kid_online, links):
    for link in links:
        check(connects(box, link), f"root cannot connect through {link[0]}")
        check(connects(box, link, KID) == kid_online,
              f"the child {'cannot' if kid_online else 'can'} connect through {link[0]}")


@scenario(seconds=45)
def firewall_range(box):
    """Outside the network range the child's connections fail through the uplink and through a tether
    added after login, while root's succeed and the interfaces stay up; inside a new range, and at
    logout, the rule is gone; killed while the rule stands, the restarted daemon clears it; stopped,
    it leaves no table."""
    peer = peer_namespace(box)
    add_link(peer, UPLINK)
    box.set_settings(status=1, netmon=1, showremain=1)
    closed = range_after_now()
    box.install_policy(policy(KID, allowance=0, net_ranges=[closed]))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for("network off for kid", timeout=20)
    check_network(box, False, [UPLINK])
    said = (f"network off until {hhmm(closed[0])}" if closed[0] > minute_of_day()
            else "network off for the rest of the day")
    wait_until(lambda: said in box.ctl("status").decode(), 10, f"horavelctl status to say {said}")
    add_link(peer, TETHER)
    check_network(box, False, [UPLINK, TETHER])
    check("UP" in interface_flags(UPLINK[0]) and "UP" in interface_flags(TETHER[0]),
          "the firewall method switched an interface off")
    hold(lambda: log.count("network off for kid") == 1, 6, "the rule was installed again on a later tick")

    mark = len(log.messages())
    box.install_policy(policy(KID, allowance=0, net_ranges=[range_around_now(10, 30)]))
    log.wait_for("network on for kid", mark, timeout=10)
    check_network(box, True, [UPLINK, TETHER])

    # Killed with the rule in place: only our table stays behind, and the next start clears it.
    box.install_policy(policy(KID, allowance=0, net_ranges=[range_after_now()]))
    mark = len(log.messages())
    log.wait_for("network off for kid", mark, timeout=10)
    os.kill(box.daemon_pid, signal.SIGKILL)
    wait_until(lambda: not box.daemon_alive(), 10, "the killed daemon to be gone")
    check("skuid" in (our_table() or ""), "the killed daemon's rule was expected to stay until the restart")
    box.switch_console(None)
    os.remove(PID_FILE)
    mark = len(log.messages())
    box.start_daemon()
    log.wait_for(r"data loaded for \(null\)", mark, timeout=10)
    check(our_table() is None, f"the restarted daemon left the table:\n{our_table()}")
    check_network(box, True, [UPLINK])

    # Logout and SIGTERM, each with the rule in place.
    box.switch_console("3")
    mark = len(log.messages())
    log.wait_for("network off for kid", mark, timeout=10)
    check_network(box, False, [TETHER])
    box.switch_console(None)
    log.wait_for("network on for kid", mark, timeout=10)
    check(our_table() is None, f"a table is left after the logout:\n{our_table()}")
    box.switch_console("3")
    mark = len(log.messages())
    log.wait_for("network off for kid", mark, timeout=10)
    box.signal_daemon(signal.SIGTERM)
    wait_until(lambda: not box.daemon_alive(), 10, "the daemon to stop on SIGTERM")
    check(our_table() is None, f"a table is left after the stop:\n{our_table()}")
    check_network(box, True, [UPLINK, TETHER])


@scenario(seconds=30)
def interface_method_range(box):
    """With netmethod "interface" and two interfaces up, outside the range both are switched off; a
    reload keeps both off; inside a new range both come back up."""
    peer = peer_namespace(box)
    add_link(peer, UPLINK)
    add_link(peer, TETHER)
    links = (UPLINK[0], TETHER[0])
    box.set_settings(status=1, netmon=1, showremain=1, netmethod="interface")
    box.install_policy(policy(KID, allowance=0, net_ranges=[range_after_now()]))
    box.login(KID, "3")
    box.start_daemon()
    log = box.log
    log.wait_for("network off for kid", timeout=20)
    wait_until(lambda: all("UP" not in interface_flags(n) for n in links), 10, "both interfaces to go down")

    mark = len(log.messages())
    box.signal_daemon(signal.SIGHUP)
    log.wait_for(new_user_line("kid", 0, 0, 0), mark, timeout=10)
    hold(lambda: all("UP" not in interface_flags(n) for n in links), 6, "an interface came up across the reload")

    mark = len(log.messages())
    box.install_policy(policy(KID, allowance=0, net_ranges=[range_around_now(10, 30)]))
    log.wait_for("network on for kid", mark, timeout=10)
    wait_until(lambda: all("UP" in interface_flags(n) for n in links), 10, "both interfaces to come back up")
    check_network(box, True, [UPLINK, TETHER])
