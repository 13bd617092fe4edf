#!/usr/bin/python3
"""Seeded property test: random policy lists and settings dictionaries are written with
`horavelctl encode` and read back by `horavelctl decode` and by Python's plistlib (keyed archives
through a small unarchiver over plistlib, XML directly); every reader must give the generated
values back, kinds included. Typedstreams, which plistlib cannot read, are checked against the
generated values alone. Values XML cannot carry and JSON numbers out of range must be refused
with one line that names where they are.

usage: plistlib_agreement_test.py HORAVELCTL [--seed N] [--batches N] [--size N] [--refusals N]
Exits 1 with the first disagreement (seed, batch, case, the three readings) on stderr.
"""

import argparse
import base64
import datetime
import json
import math
import os
import plistlib
import random
import struct
import subprocess
import sys
from fractions import Fraction

REFERENCE = datetime.datetime(2001, 1, 1)
# The date range encode accepts: 0001-01-02 to 9999-12-30 in UTC.
EARLIEST = (datetime.datetime(1, 1, 2) - REFERENCE).total_seconds()
LATEST = (datetime.datetime(9999, 12, 31) - REFERENCE).total_seconds()
ZONES = ["UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata", "Pacific/Chatham"]
PIECES = ["a", "Z", "0", " ", "%u", "$", "<", ">", "&", "]]>", "\r", "\n", "\t", "\r\n", "\u00e9", "\u20ac",
          "\U0001F600", "\ufffd", "\u0085", "\u2028", "\x7f", '"', "\\", "\ufeff", "&#13;", "~", "/"]
# Only the archives carry these; XML 1.0 cannot.
CONTROLS = [chr(c) for c in range(32) if c not in (9, 10, 13)] + ["\ufffe", "\uffff"]
RECORD_FIELDS = ["user", "mode", "range", "d_mon", "d_tue", "d_wed", "d_thu", "d_fri", "d_sat", "d_sun",
                 "usage", "disk", "quota", "script", "nrange", "manset", "date", "path"]  # archive order
BAD_NUMBERS = [("1e400", "too large for a real"), ("-2E+500", "too large for a real"),
               ("1e-400", "too small for a real"), ("-0.5e-330", "too small for a real"),
               ("18446744073709551616", "does not fit in 64 bits"),
               ("-9223372036854775809", "does not fit in 64 bits"),
               ("123456789012345678901234567890", "does not fit in 64 bits")]


class Mismatch(Exception):
    pass


# ---- values: ("int", n) ("real", hex or "nan") ("bool", b) ("str", s) ("data", bytes)
#      ("date", seconds, calendar, zone, format) ("array", (...)) ("dict", ((key, value), ...))
#      ("nil",) ("rec", (18 values in archive order)); a date also keeps its ISO text to write.

def real(x):
    return ("real", "nan" if math.isnan(x) else float.hex(x))


def date_text(rng):
    """An ISO date within the range, and its exact time as the nearest double."""
    while True:
        if rng.random() < 0.1:  # a hair before the reference date
            digits = "9" * rng.randint(1, 20)
            text, t = "2000-12-31T23:59:59." + digits + "Z", Fraction(-1) + Fraction(int(digits), 10 ** len(digits))
        else:
            year = rng.choice([1, 2, 1583, 1850, 1900, 1970, 2000, 2001, 2026, 2038, 3903, 9998, 9999,
                               rng.randint(1, 9999)])
            month, day = rng.randint(1, 12), rng.randint(1, 28)
            h, m, s = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
            digits = "".join(rng.choice("0123456789") for _ in range(rng.choice([0, 0, 1, 3, 6, 9, 17, 20])))
            oh, om = rng.randint(0, 23), rng.randint(0, 59)
            sign = rng.choice([1, -1])
            offset = rng.choice(["Z", "%s%02d:%02d" % ("+" if sign > 0 else "-", oh, om),
                                 "%s%02d%02d" % ("+" if sign > 0 else "-", oh, om)])
            text = "%04d-%02d-%02dT%02d:%02d:%02d%s%s" % (year, month, day, h, m, s, "." + digits if digits else "",
                                                          offset)
            whole = (datetime.datetime(year, month, day, h, m, s) - REFERENCE).total_seconds()
            shift = 0 if offset == "Z" else sign * (oh * 3600 + om * 60)
            t = Fraction(int(whole) - shift) + (Fraction(int(digits), 10 ** len(digits)) if digits else 0)
        if EARLIEST <= t < LATEST:
            return text, float(t)


def gen_string(rng, controls=False):
    pool = PIECES + (CONTROLS if controls else [])
    return "".join(rng.choice(pool) for _ in range(rng.choice([0, 1, 2, 5, 12])))


def gen_int(rng):
    return ("int", rng.choice([0, 1, -1, 127, -128, 2**31 - 1, -2**31, 2**31, 2**63 - 1, -2**63, 2**64 - 1,
                               rng.randint(-2**63, 2**63 - 1), rng.randint(2**63, 2**64 - 1),
                               rng.randint(-1000, 1000)]))


def gen_real(rng):
    x = rng.choice([0.0, -0.0, 1.0, 2.0, -1e10, 0.1, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                    float("nan"), float("inf"), float("-inf"), rng.uniform(-1e6, 1e6),
                    struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]])
    return real(x)


def gen_date(rng, calendar):
    text, t = date_text(rng)
    if not calendar:
        return ("date", t, False, None, None, text)
    zone = rng.choice([None, "GMT", "GMT+0530", "GMT-1200", "Europe/Berlin", "America/New_York"])
    fmt = rng.choice([None, "%Y-%m-%d %H:%M:%S %z", "%d.%m.%Y"])
    return ("date", t, True, zone, fmt, text)


def gen_scalar(rng, controls):
    kind = rng.randrange(6)
    if kind == 0:
        return gen_int(rng)
    if kind == 1:
        return gen_real(rng)
    if kind == 2:
        return ("bool", rng.random() < 0.5)
    if kind == 3:
        return ("str", gen_string(rng, controls))
    if kind == 4:
        return gen_date(rng, calendar=False)
    return ("data", rng.randbytes(rng.choice([0, 1, 3, 57, 200])))


def gen_value(rng, depth, controls=False):
    if depth < 3 and rng.random() < 0.25:
        items = [gen_value(rng, depth + 1, controls) for _ in range(rng.randint(0, 4))]
        if rng.random() < 0.5:
            return ("array", tuple(items))
        keys = dict.fromkeys(gen_key(rng) for _ in items)
        return ("dict", tuple((k, gen_value(rng, depth + 1, controls)) for k in keys))
    return gen_scalar(rng, controls)


def gen_key(rng):
    return rng.choice(["status", "warntime", "warnmsg", "", "$top", "$$x", "a/b~c", gen_string(rng)])


def gen_settings(rng):
    keys = dict.fromkeys(gen_key(rng) for _ in range(rng.randint(0, 8)))
    return ("dict", tuple((k, gen_value(rng, 1)) for k in keys))


def gen_record(rng):
    def text():
        return rng.choice([("nil",), ("str", gen_string(rng, controls=True))])

    def number():
        return rng.choice([("nil",), gen_int(rng), gen_real(rng), ("bool", True), ("str", gen_string(rng, True))])

    f = {"user": text(), "mode": text(), "script": text(), "path": text(),
         "range": rng.choice([None, rng.randint(-2**31, 2**31 - 1), rng.randint(0, 9)]),
         "nrange": rng.choice([None, rng.randint(-2**31, 2**31 - 1), rng.randint(0, 9)]),
         "manset": rng.choice([None, True, False]),
         "date": rng.choice([("nil",), gen_date(rng, calendar=True), gen_date(rng, calendar=False)])}
    for key in ["d_mon", "d_tue", "d_wed", "d_thu", "d_fri", "d_sat", "d_sun", "usage", "disk", "quota"]:
        f[key] = number()
    return f


def record_value(f):
    """The record as every reader must give it back: counts as integers, manset a boolean."""
    out = []
    for key in RECORD_FIELDS:
        if key in ("range", "nrange"):
            out.append(("int", f[key] or 0))
        elif key == "manset":
            out.append(("bool", bool(f[key])))
        else:
            out.append(f[key])
    return ("rec", tuple(out))


# ---- writing the JSON form

def dump(v, bad=None):
    """JSON text of a value; `bad` is (path, text) to write in place of the value at path, or
    (path, "dup") to repeat the first key of the dictionary at path."""
    def go(v, path):
        if bad and bad[0] == path and bad[1] != "dup":
            return bad[1]
        kind = v[0]
        if kind == "nil":
            return "null"
        if kind == "int":
            return str(v[1])
        if kind == "real":
            if v[1] == "nan":
                return '{"$real": "nan"}'
            x = float.fromhex(v[1])
            return '{"$real": "%s"}' % ("inf" if x > 0 else "-inf") if math.isinf(x) else repr(x)
        if kind == "bool":
            return "true" if v[1] else "false"
        if kind == "str":
            return json.dumps(v[1])
        if kind == "data":
            return json.dumps({"$data": base64.b64encode(v[1]).decode()})
        if kind == "date":
            out = {"$date": v[5]}
            if v[2]:
                out["$timeZone"] = v[3]
                if v[4] is not None:
                    out["$format"] = v[4]
            return json.dumps(out)
        if kind == "array":
            return "[" + ", ".join(go(x, path + (i,)) for i, x in enumerate(v[1])) + "]"
        if kind == "dict":
            items = [(k, go(x, path + (k,))) for k, x in v[1]]
            if bad and bad[0] == path and bad[1] == "dup":
                items.append(items[0])
            return "{" + ", ".join(json.dumps("$" + k if k.startswith("$") else k) + ": " + t for k, t in items) + "}"
        raise AssertionError(kind)
    return go(v, ())


def record_texts(records):
    """Each record in the JSON form of a TableElement."""
    out = []
    for f in records:
        fields = {"$class": "TableElement"}
        for key in RECORD_FIELDS:
            value = f[key]
            fields[key] = json.dumps(value) if key in ("range", "nrange", "manset") else dump(value)
        out.append("{" + ", ".join(json.dumps(k) + ": " + (t if k != "$class" else json.dumps(t))
                                   for k, t in fields.items()) + "}")
    return out


# ---- reading back

def iso_seconds(text):
    """The exact time of an ISO date as decode prints it, as the nearest double."""
    main, frac, rest = text[:19], "", text[19:]
    if rest.startswith("."):
        n = 1
        while n < len(rest) and rest[n].isdigit():
            n += 1
        frac, rest = rest[1:n], rest[n:]
    whole = (datetime.datetime.strptime(main, "%Y-%m-%dT%H:%M:%S") - REFERENCE).total_seconds()
    shift = 0 if rest == "Z" else (1 if rest[0] == "+" else -1) * (int(rest[1:3]) * 3600 + int(rest[-2:]) * 60)
    t = Fraction(int(whole) - shift) + (Fraction(int(frac), 10 ** len(frac)) if frac else 0)
    return float(t)


def from_ours(j):
    if j is None:
        return ("nil",)
    if isinstance(j, bool):
        return ("bool", j)
    if isinstance(j, int):
        return ("int", j)
    if isinstance(j, float):
        return real(j)
    if isinstance(j, str):
        return ("str", j)
    if isinstance(j, list):
        return ("array", tuple(from_ours(x) for x in j))
    if "$class" in j:
        return ("rec", tuple(from_ours(j[k]) for k in RECORD_FIELDS))
    if "$date" in j:
        return ("date", iso_seconds(j["$date"]), "$timeZone" in j, j.get("$timeZone"), j.get("$format"))
    if "$data" in j:
        return ("data", base64.b64decode(j["$data"]))
    if "$real" in j:
        return real(float(j["$real"]))
    return ("dict", tuple((k[1:] if k.startswith("$") else k, from_ours(v)) for k, v in j.items()))


def from_plist(p):
    if isinstance(p, bool):
        return ("bool", p)
    if isinstance(p, int):
        return ("int", p)
    if isinstance(p, float):
        return real(p)
    if isinstance(p, str):
        return ("str", p)
    if isinstance(p, bytes):
        return ("data", p)
    if isinstance(p, datetime.datetime):
        return ("date", (p - REFERENCE).total_seconds(), False, None, None)
    if isinstance(p, list):
        return ("array", tuple(from_plist(x) for x in p))
    if isinstance(p, dict):
        return ("dict", tuple((k, from_plist(v)) for k, v in p.items()))
    raise Mismatch("plistlib gave a %s" % type(p).__name__)


def unarchive(data):
    """A keyed archive read with plistlib, its objects taken apart as NSKeyedUnarchiver would."""
    top = plistlib.loads(data)
    objects = top["$objects"]

    def obj(uid):
        if uid.data == 0:
            return ("nil",)
        o = objects[uid.data]
        if not (isinstance(o, dict) and "$class" in o):
            return from_plist(o)
        name = objects[o["$class"].data]["$classname"]
        if name in ("NSArray", "NSMutableArray"):
            return ("array", tuple(obj(u) for u in o["NS.objects"]))
        if name in ("NSDictionary", "NSMutableDictionary"):
            return ("dict", tuple((obj(k)[1], obj(v)) for k, v in zip(o["NS.keys"], o["NS.objects"])))
        if name in ("NSString", "NSMutableString"):
            return ("str", o["NS.string"])
        if name in ("NSData", "NSMutableData"):
            return ("data", o["NS.data"])
        if name == "NSDate":
            return ("date", o["NS.time"], False, None, None)
        if name == "NSCalendarDate":
            zone, fmt = obj(o["NS.timezone"]), obj(o["NS.format"])
            return ("date", o["NS.time"], True, zone[1] if len(zone) > 1 else None, fmt[1] if len(fmt) > 1 else None)
        if name == "NSTimeZone":
            return ("zone", obj(o["NS.name"])[1])
        if name == "TableElement":
            return ("rec", tuple(obj(o["$%d" % i]) for i in range(18)))
        raise Mismatch("unexpected class " + name)
    return obj(top["$top"]["root"])


def expected(v, xml):
    """What a reader must give back: dates without their text; in XML, whole seconds rounded down
    and no calendar details."""
    kind = v[0]
    if kind == "date":
        return ("date", float(math.floor(v[1])), False, None, None) if xml else v[:5]
    if kind == "array":
        return ("array", tuple(expected(x, xml) for x in v[1]))
    if kind == "dict":
        return ("dict", tuple((k, expected(x, xml)) for k, x in v[1]))
    if kind == "rec":
        return ("rec", tuple(expected(x, xml) for x in v[1]))
    return v


# ---- running horavelctl

class Ctl:
    def __init__(self, path):
        self.path = path

    def run(self, args, data, zone):
        env = dict(os.environ, TZ=zone)
        return subprocess.run([self.path] + args, input=data, capture_output=True, env=env, timeout=120)

    def encode(self, fmt, text, zone):
        return self.run(["encode", "--" + fmt, "-"], text.encode(), zone)

    def decode(self, data, zone):
        r = self.run(["decode", "-"], data, zone)
        if r.returncode != 0:
            raise Mismatch("decode failed: " + r.stderr.decode(errors="replace"))
        return json.loads(r.stdout)


def first_difference(got, want, path=""):
    if got == want:
        return None
    if got[0] == want[0] and got[0] in ("array", "rec", "dict") and len(got[1]) == len(want[1]):
        for i, (g, w) in enumerate(zip(got[1], want[1])):
            if got[0] != "dict":
                inner = first_difference(g, w, path + "/" + str(i))
            elif g[0] != w[0]:
                inner = "%s: key %r, expected %r" % (path, g[0], w[0])
            else:
                inner = first_difference(g[1], w[1], path + "/" + g[0])
            if inner:
                return inner
    return "%s: got %r, expected %r" % (path or "/", got, want)


def agree(what, got, want):
    diff = first_difference(got, want)
    if diff:
        raise Mismatch(what + " " + diff)


def check_batch(ctl, settings, records, zone):
    """Encodes one batch in every form and checks each reader against the generated values: the
    settings cases as one dictionary of dictionaries (XML); that dictionary followed by the policy
    records as one list (keyed archive, typedstream)."""
    table = ("dict", tuple(("c%d" % i, c) for i, c in enumerate(settings)))
    table_text = dump(table)
    both = ("array", (table,) + tuple(record_value(f) for f in records))
    both_text = "[" + ",\n".join([table_text] + record_texts(records)) + "]"
    for fmt, value, text in [("keyed", both, both_text), ("typedstream", both, both_text), ("xml", table, table_text)]:
        r = ctl.encode(fmt, text, zone)
        if r.returncode != 0:
            raise Mismatch("encode --%s refused: %s" % (fmt, r.stderr.decode(errors="replace")))
        want = expected(value, fmt == "xml")
        agree("decode of --" + fmt, from_ours(ctl.decode(r.stdout, zone)), want)
        if fmt == "keyed":
            agree("plistlib of --keyed", unarchive(r.stdout), want)
        elif fmt == "xml":
            agree("plistlib of --xml", from_plist(plistlib.loads(r.stdout)), want)


def leaves(v, path=()):
    """Every scalar's path, and every dictionary key's (path, key)."""
    if v[0] == "array":
        for i, x in enumerate(v[1]):
            yield from leaves(x, path + (i,))
    elif v[0] == "dict":
        for k, x in v[1]:
            yield ("key", path, k)
            yield from leaves(x, path + (k,))
    else:
        yield ("value", path, v)


def printable(text):
    return "".join("<U+%04X>" % ord(c) if ord(c) < 32 else c for c in text)


def pointer(path, dollar):
    """The JSON pointer a message gives: keys as the JSON writes them (dollar) or as the value
    holds them, control characters shown as code points."""
    tokens = []
    for t in path:
        t = str(t)
        if dollar and t.startswith("$"):
            t = "$" + t
        tokens.append(printable(t.replace("~", "~0").replace("/", "~1")))
    return "/" + "/".join(tokens)


def child(v, token):
    return v[1][token] if v[0] == "array" else dict(v[1])[token]


def replace(v, path, new):
    if not path:
        return new
    head, rest = path[0], path[1:]
    if v[0] == "array":
        return ("array", tuple(replace(x, rest, new) if i == head else x for i, x in enumerate(v[1])))
    return ("dict", tuple((k, replace(x, rest, new) if k == head else x) for k, x in v[1]))


def rename(v, path, key, new):
    """v with the key `key` of the dictionary at path renamed to `new`."""
    if path:
        return replace(v, path[:1], rename(child(v, path[0]), path[1:], key, new))
    return ("dict", tuple((new if k == key else k, x) for k, x in v[1]))


def expect_refused(ctl, fmt, text, zone, *says):
    r = ctl.encode(fmt, text, zone)
    err = r.stderr.decode(errors="replace")
    if r.returncode != 2 or r.stdout or err.count("\n") != 1 or not all(s in err for s in says):
        raise Mismatch("encode --%s: expected exit 2 and one line with %r, got exit %d: %r"
                       % (fmt, says, r.returncode, err))


def check_refusals(ctl, rng, zone):
    """One character XML cannot carry, or one number out of range, or one repeated key, put into
    an otherwise good settings dictionary: refused, naming where."""
    value = ("dict", (("status", ("int", 1)), ("keep", gen_settings(rng))))
    spots = list(leaves(value))
    choice = rng.randrange(3)
    if choice == 0:
        bad = rng.choice(CONTROLS)
        spot = rng.choice(spots)
        if spot[0] == "key":
            value = rename(value, spot[1], spot[2], spot[2] + bad)
            where, at = "the key \"%s\"" % printable(spot[2] + bad), pointer(spot[1], False)
        else:
            value = replace(value, spot[1], ("str", "x" + bad))
            where, at = "the string", pointer(spot[1], False)
        expect_refused(ctl, "xml", dump(value), zone, where, "holds U+%04X" % ord(bad),
                       "a character XML 1.0 cannot carry at " + at + "\n")
    elif choice == 1:
        number, says = rng.choice(BAD_NUMBERS)
        spot = rng.choice([s for s in spots if s[0] == "value"])
        expect_refused(ctl, rng.choice(["keyed", "typedstream", "xml"]), dump(value, (spot[1], number)), zone,
                       "number " + number if "real" in says else "integer " + number, says,
                       " at " + pointer(spot[1], True) + "\n")
    else:
        dicts = [()] + [s[1] + (s[2],) for s in spots if s[0] == "key"]
        dicts = [p for p in dicts if dict_at(value, p)]
        path = rng.choice(dicts)
        first = dict_at(value, path)[0][0]
        first = "$" + first if first.startswith("$") else first
        # A long key is cut short in the message; its start and the place are always there.
        expect_refused(ctl, rng.choice(["keyed", "xml"]), dump(value, (path, "dup")), zone,
                       "duplicate key \"" + printable(first[:8]), " at " + pointer(path, True) + "\n")


def dict_at(v, path):
    """The items of the non-empty dictionary at path, else None."""
    for t in path:
        v = child(v, t)
    return v[1] if v[0] == "dict" and v[1] else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("horavelctl")
    parser.add_argument("--seed", type=int, default=16)
    parser.add_argument("--batches", type=int, default=4)
    parser.add_argument("--size", type=int, default=375)
    parser.add_argument("--refusals", type=int, default=24)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    ctl = Ctl(args.horavelctl)
    cases = 0
    where = ""
    try:
        for batch in range(args.batches):
            zone = ZONES[batch % len(ZONES)]
            where = "batch %d (TZ=%s)" % (batch, zone)
            check_batch(ctl, [gen_settings(rng) for _ in range(args.size)],
                        [gen_record(rng) for _ in range(args.size)], zone)
            cases += 2 * args.size
        for n in range(args.refusals):
            where = "refusal %d" % n
            check_refusals(ctl, rng, ZONES[n % len(ZONES)])
            cases += 1
    except Mismatch as e:
        print("MISMATCH (seed %d, %s): %s" % (args.seed, where, e), file=sys.stderr)
        return 1
    print("%d cases agree (seed %d)" % (cases, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
