"""Policy lists in horavelctl's JSON form of TableElement records, built for the scenarios.

Every weekday gets the same value, so a scenario does not depend on the day it runs; the limit record
comes first, then its time-range pairs, then its network-range pairs, then application records, the
order in which the daemon finds them.
"""

import datetime

WEEKDAYS = ("d_mon", "d_tue", "d_wed", "d_thu", "d_fri", "d_sat", "d_sun")


def now_stamp():
    return {"$date": datetime.datetime.now().astimezone().isoformat(timespec="seconds")}


def record(user, path, mode, every_day=0, usage=0, date=None, time_ranges=0, net_ranges=0, quota=None,
           script=None):
    fields = {"$class": "TableElement", "user": user, "path": path, "mode": mode, "range": time_ranges}
    fields.update({day: every_day for day in WEEKDAYS})
    fields.update({"usage": usage, "disk": 0, "quota": quota, "script": script, "nrange": net_ranges,
                   "manset": False, "date": date})
    return fields


def policy(account, allowance, used=0, time_ranges=(), net_ranges=(), apps=()):
    """The policy list of account (a sandbox User): a daily allowance with `used` minutes stamped now,
    time and network ranges as (start, end) minutes of the day, apps as (name, minutes, used)."""
    path = account.policy_path
    records = [record(account.name, path, "Limit", allowance, used, now_stamp(), len(time_ranges),
                      len(net_ranges))]
    for kind, ranges in (("Range", time_ranges), ("Net", net_ranges)):
        for start, end in ranges:
            records.append(record(None, path, kind, start))
            records.append(record(None, path, kind, end))
    for name, minutes, used_minutes in apps:
        records.append(record(name, path, "App", minutes, used_minutes, now_stamp()))
    return records
