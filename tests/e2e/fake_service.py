"""What the sandbox's stand-in D-Bus services share: their JSON-lines record and their main loop."""

import argparse
import json
import os
import signal

import dbus
import dbus.bus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


def append_record(path, record):
    with open(path, "a", encoding="utf-8") as f:
        f.write(json.dumps(record) + "\n")


def serve(connect, make_service, bus_name, ready_path):
    """Connects to a bus with connect(), serves make_service(bus) under bus_name, writes "ready" to
    ready_path once the name is owned, and runs until SIGTERM."""
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = connect()
    # Both stay referenced for as long as the loop runs: the object serves, the name is owned.
    service = make_service(bus)
    name = dbus.service.BusName(bus_name, bus)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    with open(ready_path, "w", encoding="utf-8") as f:
        f.write("ready\n")
    loop.run()
    os._exit(0)  # the buses may already be gone; there is nothing to release


def main_on_bus(make_service, bus_name):
    """The command line of a stand-in service: it serves make_service(bus, record_path) on the bus at
    --address, appends its record to --record, and writes "ready" to --ready once it serves."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True)
    parser.add_argument("--record", required=True)
    parser.add_argument("--ready", required=True)
    args = parser.parse_args()
    serve(lambda: dbus.bus.BusConnection(args.address), lambda bus: make_service(bus, args.record), bus_name,
          args.ready)
