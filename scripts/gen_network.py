#!/usr/bin/env python3
"""Writes data/mib/network.txt, the sample network qx_mis seeds an empty database with.

Four systems of a small regional transport network: two core switches, an
aggregation switch and an access multiplexer, each with racks, shelves, slots,
circuit packs, ports (trail termination points), channels (connection
termination points) and an alarm log.  The output is the same on every run
(fixed seed), so the file in the repository only changes when this script does.

    python3 scripts/gen_network.py [output]     (default: data/mib/network.txt)
"""

import datetime
import os
import random
import sys

SEED = 20261205
rng = random.Random(SEED)

# The log ends shortly before this moment; installation dates lie well before it.
LOG_END = datetime.datetime(2026, 12, 5, 15, 40, 0)

# Card kinds: circuitPackType, circuitPackId, ports, signal rate, channels per port
# (rate, count), vendor-independent role.
CARDS = {
    "ctrl":   ("QX-CTL-2",     "ctrl",      0, None,      None,          "system controller"),
    "psu":    ("QX-PSU-48V",   "psu",       0, None,      None,          "-48 V power supply"),
    "fan":    ("QX-FAN-3",     "fan",       0, None,      None,          "fan tray"),
    "stm16":  ("STM16-LR-1",   "stm16-lr",  1, "stm16",   ("vc4", 16),   "STM-16 long reach"),
    "stm4":   ("STM4-SR-4",    "stm4-sr",   4, "stm4",    ("vc4", 4),    "4 x STM-4 short reach"),
    "stm1":   ("STM1-E-8",     "stm1-e",    8, "stm1",    None,          "8 x STM-1 electrical"),
    "xge":    ("XGE-2",        "xge",       2, "tenGigE", None,          "2 x 10GE"),
    "ge":     ("GE-8",         "ge",        8, "gigE",    None,          "8 x GE"),
    "e1":     ("E1-21",        "e1",       21, "e1",      None,          "21 x E1"),
    "vdsl":   ("VDSL2-24",     "vdsl2",    24, "vdsl2",   None,          "24 x VDSL2 subscriber"),
}

# Shelf layouts: slot number -> card kind (missing numbers are empty slots).
CORE_SHELF = {1: "ctrl", 2: "ctrl", 3: "stm16", 4: "stm16", 5: "stm16", 6: "stm4", 7: "stm4",
              8: "xge", 9: "ge", 13: "fan", 14: "psu", 15: "psu"}
CORE_SHELF_2 = {1: "ctrl", 3: "stm4", 4: "stm1", 5: "ge", 6: "ge", 13: "fan", 14: "psu"}
AGG_SHELF = {1: "ctrl", 2: "stm16", 3: "stm4", 4: "e1", 5: "e1", 6: "ge", 7: "ge",
             11: "fan", 12: "psu"}
MSAN_SHELF_1 = {1: "ctrl", 2: "ge", 3: "vdsl", 4: "vdsl", 5: "vdsl", 9: "fan", 10: "psu"}
MSAN_SHELF_2 = {1: "vdsl", 2: "vdsl", 9: "fan", 10: "psu"}

SYSTEMS = [
    {
        "id": "leeds-core-1", "label": "Leeds core switch 1",
        "location": "Leeds, Wellington Street exchange, floor 2",
        "vendor": "Halden Photonics", "prefix": "HP", "version": "HX-9600 R7.2.1",
        "address": "10.20.1.11", "cpu": 37, "restart": "20261102031544Z",
        "racks": [("rack-1", "row B, position 4", [("shelf-1", 16, CORE_SHELF),
                                                  ("shelf-2", 16, CORE_SHELF_2)]),
                  ("rack-2", "row B, position 5", [("shelf-1", 16, {1: "ctrl", 3: "stm16", 4: "stm1",
                                                                    13: "fan", 14: "psu"})])],
        "alarms": 150,
    },
    {
        "id": "manchester-core-1", "label": "Manchester core switch 1",
        "location": "Manchester, Dale Street exchange, floor 1",
        "vendor": "Halden Photonics", "prefix": "HP", "version": "HX-9600 R7.2.1",
        "address": "10.20.2.11", "cpu": 24, "restart": "20261019220112Z",
        "racks": [("rack-1", "suite 3, row A", [("shelf-1", 16, CORE_SHELF)])],
        "alarms": 46,
    },
    {
        "id": "york-agg-1", "label": "York aggregation switch 1",
        "location": "York, Piccadilly exchange",
        "vendor": "Marrick Systems", "prefix": "MS", "version": "MS-4200 9.4.0",
        "address": "10.20.3.21", "cpu": 51, "restart": "20261121084730Z",
        "racks": [("rack-1", "equipment room, bay 2", [("shelf-1", 12, AGG_SHELF)])],
        "alarms": 31,
    },
    {
        "id": "harrogate-msan-1", "label": "Harrogate access multiplexer 1",
        "location": "Harrogate, Station Parade street cabinet 14",
        "vendor": "Tessaly Access", "prefix": "TA", "version": "TA-MSAN 3.11.2",
        "address": "10.20.4.31", "cpu": 18, "restart": "20260914110902Z",
        "racks": [("cabinet-1", "street cabinet 14", [("shelf-1", 10, MSAN_SHELF_1),
                                                       ("shelf-2", 10, MSAN_SHELF_2)])],
        "alarms": 24,
    },
]

# Line links between systems: (system, rack, shelf, slot, port) pairs, each end's
# connectivityPointer names the other end.
LINKS = [
    (("leeds-core-1", "rack-1", "shelf-1", 3, 1), ("manchester-core-1", "rack-1", "shelf-1", 3, 1)),
    (("leeds-core-1", "rack-1", "shelf-1", 4, 1), ("manchester-core-1", "rack-1", "shelf-1", 4, 1)),
    (("leeds-core-1", "rack-1", "shelf-1", 5, 1), ("york-agg-1", "rack-1", "shelf-1", 2, 1)),
    (("manchester-core-1", "rack-1", "shelf-1", 6, 1), ("york-agg-1", "rack-1", "shelf-1", 3, 1)),
    (("leeds-core-1", "rack-1", "shelf-1", 8, 1), ("manchester-core-1", "rack-1", "shelf-1", 8, 1)),
    (("york-agg-1", "rack-1", "shelf-1", 6, 1), ("harrogate-msan-1", "cabinet-1", "shelf-1", 2, 1)),
    (("york-agg-1", "rack-1", "shelf-1", 6, 2), ("harrogate-msan-1", "cabinet-1", "shelf-1", 2, 2)),
]

SHORT = {"leeds-core-1": "LDS", "manchester-core-1": "MAN", "york-agg-1": "YRK",
         "harrogate-msan-1": "HGT"}

STREETS = ["Station Parade", "Cold Bath Road", "Otley Road", "Skipton Road", "Leeds Road",
           "Kings Road", "Valley Drive", "Duchy Road"]


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def rdn(attr, value):
    # Canonical form: the display name of the naming attribute, strings quoted,
    # integers bare.
    return "%s=%s" % (attr.rsplit(":", 1)[-1], value if isinstance(value, int) else quote(value))


def gtime(t):
    return t.strftime("%Y%m%d%H%M%SZ")


class Obj:
    def __init__(self, fdn, cls, attrs):
        self.fdn, self.cls, self.attrs = fdn, cls, attrs


objects = []            # in output order, parents first
by_fdn = {}


def add(parent, attr, value, cls, attrs):
    fdn = ("" if parent == "/" else parent) + "/" + rdn(attr, value)
    o = Obj(fdn, cls, attrs)
    objects.append(o)
    by_fdn[fdn] = o
    return fdn


def serial(prefix):
    return "%s%02d%c%06d" % (prefix, rng.randint(18, 25), rng.choice("ABCDEFGHJK"),
                             rng.randint(0, 999999))


FIRMWARE = {}


def firmware(sysid, kind):
    """One firmware release per card kind and system, as after a network-wide upgrade."""
    if (sysid, kind) not in FIRMWARE:
        FIRMWARE[(sysid, kind)] = "%d.%d.%d" % (rng.randint(2, 9), rng.randint(0, 12), rng.randint(0, 30))
    return FIRMWARE[(sysid, kind)]


def install_time():
    t = datetime.datetime(2019, 1, 1) + datetime.timedelta(seconds=rng.randint(0, 6 * 365 * 86400))
    return gtime(t)


port_fdn = {}            # (system, rack, shelf, slot, port) -> FDN
cards = {}               # system -> [(fdn, kind)]
ports = {}               # system -> [(fdn, kind)]
channels = {}            # port FDN -> [channel FDN]

for s in SYSTEMS:
    sysid = s["id"]
    me = add("/", "x721:systemId", sysid, "managedElement", [
        ("x721:userLabel", quote(s["label"])),
        ("m3100:locationName", quote(s["location"])),
        ("m3100:vendorName", quote(s["vendor"])),
        ("m3100:version", quote(s["version"])),
        ("qx:managementAddress", quote(s["address"])),
        ("x721:administrativeState", "unlocked"),
        ("x721:operationalState", "enabled"),
        ("m3100:alarmStatus", "cleared"),
        ("qx:cpuLoad", str(s["cpu"])),
        ("qx:lastRestartTime", s["restart"]),
    ])
    s["fdn"] = me
    cards[sysid] = []
    ports[sysid] = []
    for rack_id, rack_loc, shelves in s["racks"]:
        rack = add(me, "x721:equipmentId", rack_id, "equipmentRack", [
            ("x721:userLabel", quote("%s %s" % (SHORT[sysid], rack_id))),
            ("m3100:vendorName", quote(s["vendor"])),
            ("m3100:version", quote("19-inch 42U" if "rack" in rack_id else "outdoor cabinet type 4")),
            ("m3100:serialNumber", quote(serial(s["prefix"]))),
            ("m3100:locationName", quote(rack_loc)),
        ])
        if sysid == "york-agg-1" and rack_id == "rack-1":
            # A passive patch panel: its class has no actions.
            add(rack, "qx:patchPanelId", "odf-1", "patchPanel", [
                ("x721:userLabel", quote("YRK rack-1 fibre patch panel, 48 ports")),
                ("m3100:locationName", quote("top of rack, U42")),
            ])
        for shelf_id, nslots, layout in shelves:
            shelf = add(rack, "qx:shelfId", shelf_id, "shelf", [
                ("x721:userLabel", quote("%s %s %s, %d slots" % (SHORT[sysid], rack_id, shelf_id, nslots))),
                ("m3100:vendorName", quote(s["vendor"])),
                ("m3100:version", quote("backplane rev %s" % rng.choice("CDE"))),
                ("m3100:serialNumber", quote(serial(s["prefix"]))),
            ])
            for n in range(1, nslots + 1):
                kind = layout.get(n)
                accept = "any" if kind is None else CARDS[kind][0]
                if kind in ("psu", "fan"):
                    accept = CARDS[kind][0]
                slot = add(shelf, "qx:slotNumber", n, "slot", [
                    ("x721:userLabel", quote("slot %d" % n)),
                    ("qx:holderStatus", "empty" if kind is None else "installed"),
                    ("qx:acceptableCircuitPackTypes", quote(accept)),
                ])
                if kind is None:
                    continue
                cptype, cpid, nports, rate, chans, role = CARDS[kind]
                standby = kind == "ctrl" and layout.get(n - 1) == "ctrl"
                cp = add(slot, "qx:circuitPackId", cpid, "circuitPack", [
                    ("x721:userLabel", quote("%s, %s slot %d" % (role, shelf_id, n))),
                    ("m3100:vendorName", quote(s["vendor"])),
                    ("m3100:version", quote("hw %d, fw %s" % (rng.randint(1, 4), firmware(sysid, kind)))),
                    ("m3100:serialNumber", quote(serial(s["prefix"]))),
                    ("x721:administrativeState", "unlocked"),
                    ("x721:operationalState", "enabled"),
                    ("m3100:alarmStatus", "cleared"),
                    ("m3100:circuitPackType", quote(cptype)),
                    ("qx:boardTemperature", str(rng.randint(31, 47) if kind != "psu" else rng.randint(38, 52))),
                    ("qx:hotStandby", "true" if standby else "false"),
                    ("qx:installationTime", install_time()),
                ])
                cards[sysid].append((cp, kind))
                for p in range(1, nports + 1):
                    if kind == "vdsl":
                        label = "subscriber line %s %d" % (rng.choice(STREETS), rng.randint(1, 140))
                    else:
                        label = "spare"
                    ttp = add(cp, "m3100:tTPId", "port-%d" % p, "trailTerminationPointBidirectional", [
                        ("x721:userLabel", quote(label)),
                        ("m3100:characteristicInformation", rate),
                        ("x721:administrativeState", "unlocked"),
                        ("x721:operationalState", "enabled"),
                        ("x721:usageState", "active" if kind == "vdsl" and rng.random() < 0.8 else "idle"),
                        ("m3100:alarmStatus", "cleared"),
                        ("qx:alarmReporting", "true"),
                        ("m3100:connectivityPointer", "/"),
                        ("qx:loopbackMode", "none"),
                        ("qx:erroredSeconds", "0"),
                    ])
                    port_fdn[(sysid, rack_id, shelf_id, n, p)] = ttp
                    ports[sysid].append((ttp, kind))
                    if chans:
                        crate, count = chans
                        for c in range(1, count + 1):
                            channels.setdefault(ttp, []).append(add(ttp, "m3100:cTPId", c, "connectionTerminationPointBidirectional", [
                                ("x721:userLabel", quote("%s %s" % (crate.upper(), c))),
                                ("m3100:characteristicInformation", crate),
                                ("x721:usageState", "idle"),
                            ]))


def set_attr(fdn, name, value):
    o = by_fdn[fdn]
    o.attrs = [(n, value if n == name else v) for n, v in o.attrs]


# Trunk links: labels and connectivity pointers on both ends, ports in service.
for a, b in LINKS:
    fa, fb = port_fdn[a], port_fdn[b]
    for here, there, far in ((fa, fb, b), (fb, fa, a)):
        near = a if here == fa else b
        set_attr(here, "x721:userLabel", quote("%s-%s trunk to %s %s/%d/%d" % (
            SHORT[near[0]], SHORT[far[0]], far[0], far[2], far[3], far[4])))
        set_attr(here, "m3100:connectivityPointer", there)
        set_attr(here, "x721:usageState", "active")
        set_attr(here, "qx:erroredSeconds", str(rng.choice([0, 0, 0, 2, 7, 31])))
        # Most channels of a trunk carry traffic; channels of spare ports carry none.
        for ctp in channels.get(here, []):
            set_attr(ctp, "x721:usageState", "active" if rng.random() < 0.7 else "idle")

# A port under test and an operator-locked spare, so not everything is alike.
set_attr(port_fdn[("leeds-core-1", "rack-1", "shelf-1", 6, 3)], "qx:loopbackMode", "facility")
set_attr(port_fdn[("leeds-core-1", "rack-1", "shelf-1", 6, 3)], "x721:userLabel", quote("spare, under test"))
set_attr(port_fdn[("manchester-core-1", "rack-1", "shelf-1", 7, 4)], "x721:administrativeState", "locked")

# ------------------------------------------------------------------ alarms

CARD_CAUSES = {
    "ctrl": [("processingErrorAlarm", "softwareError", "major", "process restarted by watchdog"),
             ("equipmentAlarm", "equipmentMalfunction", "major", "database synchronisation with standby failed")],
    "psu": [("equipmentAlarm", "powerProblem", "critical", "input feed B below -40.5 V"),
            ("equipmentAlarm", "powerProblem", "major", "output ripple out of tolerance")],
    "fan": [("equipmentAlarm", "fanFailure", "major", "fan 2 of 3 below 1500 rpm"),
            ("environmentalAlarm", "temperatureUnacceptable", "minor", "shelf air inlet above 40 C")],
    "line": [("equipmentAlarm", "transmitterFailure", "critical", "laser bias current out of range"),
             ("equipmentAlarm", "receiverFailure", "major", "receiver module not responding"),
             ("equipmentAlarm", "equipmentMalfunction", "major", "FPGA parity error corrected"),
             ("environmentalAlarm", "temperatureUnacceptable", "warning", "board temperature above 70 C")],
}
PORT_CAUSES = [
    ("communicationsAlarm", "lossOfSignal", "critical", "loss of signal"),
    ("communicationsAlarm", "lossOfFrame", "major", "loss of frame alignment"),
    ("communicationsAlarm", "degradedSignal", "minor", "signal degrade, BER above 1E-6"),
    ("qualityOfServiceAlarm", "excessiveBitErrorRate", "major", "excessive errors, BER above 1E-3"),
]
RANK = {"critical": 4, "major": 3, "minor": 2, "warning": 1}
STATUS = {"critical": "critical", "major": "major", "minor": "minor", "warning": "alarmOutstanding"}


def alarms_for(s):
    sysid = s["id"]
    target = s["alarms"]
    cps = cards[sysid]
    pts = [p for p in ports[sysid] if by_fdn[p[0]].attrs[0][1] != quote("spare")] or ports[sysid]
    span = 16 * 86400
    events = []             # (time, cls, fdn, type, cause, severity, text)
    while len(events) < target:
        t = LOG_END - datetime.timedelta(seconds=rng.randint(3600, span))
        if rng.random() < 0.45:
            fdn, kind = rng.choice(cps)
            etype, cause, sev, text = rng.choice(CARD_CAUSES.get(kind, CARD_CAUSES["line"]))
            cls = "circuitPack"
        else:
            fdn, kind = rng.choice(pts)
            etype, cause, sev, text = rng.choice(PORT_CAUSES)
            cls = "trailTerminationPointBidirectional"
        events.append((t, cls, fdn, etype, cause, sev, text))
        if rng.random() < 0.8 and len(events) < target:
            t2 = t + datetime.timedelta(seconds=rng.randint(4, 5 * 3600))
            if t2 < LOG_END:
                events.append((t2, cls, fdn, etype, cause, "cleared", "cleared: " + text))
    events.sort(key=lambda e: (e[0], e[2]))
    # Once sorted, an alarm raised again while it is outstanding, or a clear of an
    # alarm that is not outstanding, is dropped: the log reads as the device saw it.
    raised, kept = set(), []
    for e in events:
        key = (e[2], e[4])
        if (e[5] == "cleared") != (key in raised):
            continue
        if e[5] == "cleared":
            raised.discard(key)
        else:
            raised.add(key)
        kept.append(e)
    return kept, raised


for s in SYSTEMS:
    sysid = s["id"]
    log = add(s["fdn"], "x721:logId", "alarmLog", "log", [
        ("x721:userLabel", quote("%s alarm log" % SHORT[sysid])),
        ("x721:administrativeState", "unlocked"),
        ("x721:operationalState", "enabled"),
        ("x721:logFullAction", "wrap"),
        ("qx:maxLogRecords", "5000"),
    ])
    events, outstanding = alarms_for(s)
    for i, (t, cls, fdn, etype, cause, sev, text) in enumerate(events, 1):
        recent = (LOG_END - t).total_seconds() < 2 * 86400
        add(log, "x721:logRecordId", i, "alarmRecord", [
            ("x721:loggingTime", gtime(t + datetime.timedelta(seconds=rng.randint(0, 2)))),
            ("x721:eventType", etype),
            ("x721:eventTime", gtime(t)),
            ("x721:perceivedSeverity", sev),
            ("x721:probableCause", cause),
            ("qx:alarmedObject", fdn),
            ("qx:alarmedObjectClass", cls),
            ("x721:additionalText", quote(text)),
            ("qx:acknowledged", "false" if recent or rng.random() < 0.1 else "true"),
        ])
    # Objects with an alarm still outstanding show it in alarmStatus; a port with
    # loss of signal is out of service.
    worst = {}
    for t, cls, fdn, etype, cause, sev, text in events:
        if (fdn, cause) in outstanding and sev != "cleared":
            if RANK[sev] > RANK.get(worst.get(fdn), 0):
                worst[fdn] = sev
            if cause in ("lossOfSignal", "transmitterFailure"):
                set_attr(fdn, "x721:operationalState", "disabled")
    for fdn, sev in worst.items():
        set_attr(fdn, "m3100:alarmStatus", STATUS[sev])
    if worst:
        top = max(worst.values(), key=lambda v: RANK[v])
        set_attr(s["fdn"], "m3100:alarmStatus", STATUS[top])

# ------------------------------------------------------------------ output

here = os.path.dirname(os.path.abspath(__file__))
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "data", "mib", "network.txt")
with open(out, "w", encoding="utf-8") as f:
    f.write("# Sample network for qx_mis (schema: schema.txt, format: docs/schema.md).\n")
    f.write("# Generated by scripts/gen_network.py; edit that script, not this file.\n")
    f.write("# %d objects.\n" % len(objects))
    for o in objects:
        f.write("\nobject %s %s\n" % (o.fdn, o.cls))
        for name, value in o.attrs:
            f.write("    %s = %s\n" % (name, value))
print("%s: %d objects" % (out, len(objects)))
