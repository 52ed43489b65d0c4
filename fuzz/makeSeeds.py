#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from small valid files.

Usage: makeSeeds.py RUNOFFSIM OUTDIR

RUNOFFSIM is a built runoffSim (any build); it is run once on the small test
basin to obtain valid cache files and discharge files. OUTDIR receives one
directory of seeds per target (OUTDIR/<target>/...).
"""

import os
import struct
import subprocess
import sys
import tempfile

SEP = b"\n--part--\n"

NROWS, NCOLS = 4, 5


def param_text(step_seconds=600, rain_format=1, maps=False):
    kw = ["0.3", "0.001", "1.0", "0.5", "4.0", "0.03"]
    rof = "0.1"
    if maps:
        kw = ["-1"] * 6
        rof = "-1"
    values = ["30", "5", "4", "135.0", "35.0", str(rain_format), "10", "2", "2", "0.05", "0.05", "135.0",
              "35.0", "1", str(step_seconds), "4", "0.6"] + kw + ["3", "100.0", rof]
    return ("\n".join(values) + "\n").encode()


def basin():
    """The 5 x 4 basin of the tests, in-memory rows (row 0 north)."""
    dem = [[float(100 - 10 * c + (5 if r == 1 else 0)) for c in range(NCOLS)] for r in range(NROWS)]
    fdir = [[0] * NCOLS for _ in range(NROWS)]
    acc = [[0] * NCOLS for _ in range(NROWS)]
    num = [[0] * NCOLS for _ in range(NROWS)]
    for c in (1, 2, 3):
        fdir[1][c] = 5
        acc[1][c] = 1
    fdir[2][1] = fdir[2][2] = 3
    acc[2][1], acc[2][2], acc[2][3] = 2, 4, 6
    return dem, fdir, acc, num


def raster(values, fmt):
    out = b""
    for r in range(NROWS - 1, -1, -1):
        for c in range(NCOLS):
            out += struct.pack("<" + fmt, values[r][c])
    return out


def rasters():
    dem, fdir, acc, num = basin()
    return [raster(dem, "f"), raster(fdir, "i"), raster(acc, "i"), raster(num, "i")]


RIVER_LIST = b"0 1 1 1 1 1 0.5 0.5\n"


def rain_text(cols=2, rows=2, records=144, value=6.0):
    line = "0 0 0 0 0 0 0 " + " ".join([repr(value)] * (cols * rows)) + "\n"
    return (line * records).encode()


def rain_binary(cols=2, rows=2, frames=144):
    out = b""
    for f in range(frames):
        out += struct.pack("<%df" % (cols * rows), *[float((f + k) % 7) for k in range(cols * rows)])
    return out


def param_map(value):
    head = "ncols 5\nnrows 4\nxllcorner 135.0\nyllcorner 35.0\ncellsize 0.00833333\nNODATA_value -9999\n"
    body = "".join(" ".join([value] * NCOLS) + "\n" for _ in range(NROWS))
    return (head + body).encode()


MAP_VALUES = ["0.3", "0.001", "1.0", "0.5", "4.0", "0.03", "0.1"]

DAMS = b"2\n1 0 3 2 1.0 0 1000 5000 A\n2 1 2 2 0.5 0 0 100000 B\n"
DAMS_KIND2 = b"1\n7 2 3 2 0.2 500 0 100000 B\n"
RESERVOIRS = b"1\n1 4 3 3600 R\n"
RECORDED = b"".join(b"2026 %d 1.5\n" % h for h in range(24))


def run_reference(runoffsim):
    """Runs runoffSim on the basin; returns the caches and the discharge files."""
    with tempfile.TemporaryDirectory() as d:
        for sub in ("topoData", "input", "temp", "output", "output/damData", "output/resData"):
            os.makedirs(os.path.join(d, sub))
        files = dict(zip(("modDem.bin", "flowDir.bin", "flowAcc.bin", "riverNum.bin"), rasters()))
        for name, data in files.items():
            open(os.path.join(d, "topoData", name), "wb").write(data)
        open(os.path.join(d, "topoData", "riverNumList.dat"), "wb").write(RIVER_LIST)
        open(os.path.join(d, "param-hsx-event-ver400.dat"), "wb").write(param_text())
        open(os.path.join(d, "input", "rain10min.dat"), "wb").write(rain_text())
        open(os.path.join(d, "input", "dam.dat"), "wb").write(DAMS_KIND2)
        open(os.path.join(d, "input", "reservoir.dat"), "wb").write(RESERVOIRS)
        subprocess.run([os.path.abspath(runoffsim), "--save-state", "state.bin", "--save-at", "5"], cwd=d, check=True,
                       stdout=subprocess.DEVNULL)

        def read(path):
            return open(os.path.join(d, path), "rb").read()

        return {name: read(name) for name in (
            "temp/numOfBasin.dat", "temp/orderedCell.dat", "temp/setROFCell.dat",
            "output/discharge10minSnapshot.bin", "output/discharge10minMean.bin",
            "output/dischargeHourlyMean.bin", "state.bin")}


def main():
    runoffsim, outdir = sys.argv[1], sys.argv[2]
    ref = run_reference(runoffsim)
    seeds = {}
    small_param = param_text()
    seeds["paramFile"] = [small_param, param_text(60, 2), b" ".join(small_param.split()[:14]) + b"\n"]
    seeds["riverList"] = [RIVER_LIST, RIVER_LIST + b"3 2 2 2 2 2 0.1 0.2\n\n"]
    seeds["rainfall"] = [b"\x0a" + rain_text(), b"\x0b" + rain_binary(), b"\x20" + rain_text(1, 1, 24, 2.5)]
    seeds["topography"] = [SEP.join([b"\x02\x01"] + rasters() + [RIVER_LIST])]
    seeds["paramMap"] = [SEP.join([b"\x7f"] + [param_map(v) for v in MAP_VALUES]),
                         SEP.join([b"\x06"] + [param_map(v) for v in MAP_VALUES])]
    seeds["structures"] = [SEP.join([DAMS, RESERVOIRS, RECORDED, RECORDED]),
                           SEP.join([DAMS_KIND2, b"2\n1 4 3 0 R\n2 4 3 30 S\n"])]
    seeds["cache"] = [SEP.join([ref["temp/numOfBasin.dat"], ref["temp/orderedCell.dat"],
                                ref["temp/setROFCell.dat"]])]
    tool_config = b"\x00\x04\x03"  # 10-minute program, 5 columns, 4 rows
    hourly_config = b"\x01\x04\x03"
    seeds["dischargeImage"] = [
        SEP.join([tool_config, b"n\n", ref["output/discharge10minMean.bin"]]),
        SEP.join([hourly_config, b"y\n0.5\n0\n", ref["output/dischargeHourlyMean.bin"]])]
    seeds["dischargeSeries"] = [
        SEP.join([tool_config, b"3\n2\n", ref["output/discharge10minSnapshot.bin"],
                  ref["output/discharge10minMean.bin"]]),
        SEP.join([hourly_config, b"5\n4\n", ref["output/dischargeHourlyMean.bin"]])]
    whole = [small_param, RIVER_LIST] + rasters() + [rain_text(), DAMS, RESERVOIRS, RECORDED]
    seeds["wholeRun"] = [
        SEP.join(whole),
        SEP.join([param_text(600, 2)] + whole[1:6] + [rain_binary()]),
        SEP.join([param_text(600, 1, maps=True)] + whole[1:6] + [rain_text(), b"", b"", b"", param_map("0.2")]),
        SEP.join(whole + [b"", ref["temp/numOfBasin.dat"], ref["temp/orderedCell.dat"],
                          ref["temp/setROFCell.dat"]]),
    ]
    # The fuzz target's project folders ("input", "topoData") serve as projects.
    seeds["calibrationConfig"] = [
        b'[calibration]\nalgorithm = "sce-ua"\nevaluations = 40\nseed = 3\nbatch = 4\nobjective = "lognse"\n'
        b'aggregate = "weighted"\nwarmup_hours = 2\ncomplexes = 3\ninitial = "file"\n\n'
        b'[[event]]\nproject = "input"\nname = "a"\n\n[[event.gauge]]\ncell = [3, 2]\nobserved = "q.csv"\n'
        b'weight = 2.5\nstart = "2024-09-01T00:00"\n\n[[event]]\nproject = \'topoData\'  # second\n\n'
        b'[[event.gauge]]\ncell = [4, 2]\nobserved = """q \\u00e9.csv"""\n\n'
        b'[[parameter]]\nname = "Ns"\nmin = 0.01\nmax = 2.0\ntransform = "log"\n\n'
        b'[[parameter]]\nname = "Dm"\nmin = 0\nmax = 3\n']
    seeds["stateFile"] = [ref["state.bin"]]
    for target, items in seeds.items():
        d = os.path.join(outdir, target)
        os.makedirs(d, exist_ok=True)
        for k, data in enumerate(items):
            open(os.path.join(d, "seed%d" % k), "wb").write(data)


if __name__ == "__main__":
    main()
