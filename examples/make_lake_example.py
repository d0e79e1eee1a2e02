#!/usr/bin/env python3
"""Writes the bundled example working directory examples/lake/.

The data are made up but plausible: hourly lake levels (metres above sea
level) of Lake Winnipeg, Lake Manitoba and the Red River at Selkirk for the
first three weeks of January 2024, as a gauge network export would give them,
with the usual flaws of such an export: hours that are absent, values flagged
as -999 or logged as 0.0, and one reading that holds a letter instead of a
number. The script is deterministic; run it from anywhere to regenerate the
files (the files, not the script, are what the program reads).
"""
import datetime
import math
import os
import random

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lake")
YEAR = 2024
CRLF = "\r\n"

# (configuration key, station list name, longitude, latitude, offset)
LOCATIONS = [
    ("GIMLI", "Gimli", -96.9870, 50.6330, "0.0"),
    ("VICTORIABCH", "VictoriaBch", -96.5600, 50.7020, "0.05"),
    ("BERENSRIVER", "BerensRiver", -97.0340, 52.3590, "0.0"),
    ("GEORGEISLAND", "GeorgeIsland", -97.6200, 52.8230, "0.0"),
    ("STEEPROCK", "SteepRock", -98.8040, 51.4310, "0.0"),
    # Grand Beach has no column in the export: its gauge was offline.
    ("GRANDBEACH", "GrandBeach", -96.6100, 50.5600, "0.0"),
]

# Source columns in the export's own order (more columns than locations),
# each with a mean level and a slow drift over the three weeks (m).
COLUMNS = [
    ("BERENSRIVER", 217.512, -0.020),
    ("GIMLI", 217.468, -0.025),
    ("MATHESONIS", 217.495, -0.022),
    ("GEORGEISLAND", 217.530, -0.018),
    ("STLAURENT", 247.742, -0.010),
    ("VICTORIABCH", 217.441, -0.024),
    ("SELKIRK", 218.905, -0.060),
    ("STEEPROCK", 247.768, -0.012),
]

FIRST = datetime.datetime(YEAR, 1, 1, 0, 0)
HOURS = 21 * 24  # 1 January 00:00 to 21 January 23:00

# Hours whose rows the export lacks (a logger outage on 9 January).
ABSENT = {datetime.datetime(YEAR, 1, 9, h) for h in (10, 11, 12)}
ABSENT.add(datetime.datetime(YEAR, 1, 16, 3))
# (time, column) readings flagged -999 or logged as 0.0.
FLAGGED = {
    (datetime.datetime(YEAR, 1, 4, 17), "GIMLI"): "-999",
    (datetime.datetime(YEAR, 1, 4, 18), "GIMLI"): "-999",
    (datetime.datetime(YEAR, 1, 12, 6), "BERENSRIVER"): "-999.000",
    (datetime.datetime(YEAR, 1, 18, 22), "STEEPROCK"): "0.0",
    (datetime.datetime(YEAR, 1, 7, 2), "VICTORIABCH"): "0.000",
}
# The one reading that is no number.
GARBAGE = (datetime.datetime(YEAR, 1, 14, 8), "STEEPROCK", "M")


def write(name, lines):
    with open(os.path.join(HERE, name), "w", newline="") as f:
        f.write("".join(line + CRLF for line in lines))


def level(rng, column, k):
    name, mean, drift = column
    seiche = 0.012 * math.sin(2 * math.pi * k / 37.0 + len(name))
    return mean + drift * k / HOURS + seiche + rng.gauss(0.0, 0.003)


def main():
    os.makedirs(os.path.join(HERE, "debug"), exist_ok=True)
    os.makedirs(os.path.join(HERE, "level"), exist_ok=True)
    for d in ("debug", "level"):
        open(os.path.join(HERE, d, ".gitkeep"), "w").close()

    with open(os.path.join(HERE, "YEAR"), "w") as f:
        f.write(f"{YEAR}\n")

    config = [
        f"Orvistad: Lake Winnipeg and Lake Manitoba gauges, {YEAR}",
        "Hourly src  hourlysrc.txt",
        f"Yearly lvl  level\\{YEAR}_lvl.tb0",
        f"Stations     {len(LOCATIONS)}",
        "Key          Offset",
    ]
    config += [f"{key:<13}{offset}" for key, _, _, _, offset in LOCATIONS]
    write(f"{YEAR}_Orvistad.cfg", config)

    write("level_station_list.xyz",
          [f"{x:.4f}  {y:.4f}  {name}" for _, name, x, y, _ in LOCATIONS])

    rng = random.Random(20240119)
    # The header names the value columns only, not the date and the time.
    lines = [" ".join(c[0] for c in COLUMNS)]
    for k in range(HOURS):
        t = FIRST + datetime.timedelta(hours=k)
        values = [f"{level(rng, c, k):.3f}" for c in COLUMNS]
        if t in ABSENT:
            continue
        for j, c in enumerate(COLUMNS):
            if (t, c[0]) in FLAGGED:
                values[j] = FLAGGED[(t, c[0])]
            if (t, c[0]) == GARBAGE[:2]:
                values[j] = GARBAGE[2]
        lines.append(t.strftime("%Y-%m-%d %H:%M") + " " + " ".join(values))
    write("hourlysrc.txt", lines)


if __name__ == "__main__":
    main()
