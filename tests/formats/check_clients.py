#!/usr/bin/python3
"""Opens zkexport's files with the programs their users open them with, and compares what those
programs read with zkexport's CSV of the same recording and columns, and with a plain model of
the tags read straight from the recording.

  check_clients.py edf   MNE-Python reads EDF+ and BDF+ files
  check_clients.py xlsx  openpyxl reads a workbook spread over several sheets
  check_clients.py bids  the BIDS validator passes a dataset; gzip and csv read its files

A missing client is a failure: tools/install-deps.sh --test installs them.
"""

import argparse
import gzip
import json
import math
import os
import shutil
import struct
import subprocess
import sys

ALL = "time,seconds,data,baseline,resistance,conductance,tags"
# The EDF+/BDF+ signals' physical ranges, as README.md states them.
RANGES = {
    "edf": {"Data": (0, 65535), "Baseline": (0.5, 6.5), "Resistance": (-10, 6500),
            "Conductance": (0, 100)},
    "bdf": {"Data": (0, 65535), "Baseline": (0.5, 6.5), "Resistance": (-10, 1500000),
            "Conductance": (0, 100)},
}
DIGITAL = {"edf": 65535, "bdf": 16777215}
CSV_COLUMN = {"Data": 2, "Baseline": 3, "Resistance": 4, "Conductance": 5}


def run(*args):
    subprocess.run([str(a) for a in args], check=True)


def model(path, period):
    """The rows of the recording by the schedule, each [time ms, [tags]], and the tags marked
    before the first row."""
    data = open(path, "rb").read()
    rows, before, due = [], [], 0
    for at in range(0, len(data) - 19, 20):
        time = struct.unpack_from("<i", data, at)[0]
        if data[at + 19] not in b"POST":
            continue
        if time >= due:
            rows.append([due, []])
            due += 20 * period
        if data[at + 18] == ord("T"):
            (rows[-1][1] if rows else before).append(data[at + 13] | data[at + 14] << 8)
    return rows, before


def csv_rows(args, recording, period, name):
    """zkexport's CSV of all columns without headers, as lists of fields."""
    path = os.path.join(args.work, name)
    run(args.zkexport, "-q", "-f", "--no-headers", "-p", period, "-c", ALL, "-o", path, recording)
    text = open(path, "rb").read().decode()
    assert text.endswith("\r\n")
    return [line.split(",") for line in text[:-2].split("\r\n")]


def number(field):
    return float(field) if field.strip() else None


def recordings(args, records=20000):
    """The sample, and a sweep over the whole raw range with tags that share rows."""
    sweep = os.path.join(args.work, "sweep.zkd")
    run(args.zkgen, "--records", records, "--profile", "sweep", "--tag-every", 97, "--seed", 5,
        "-o", sweep)
    return [args.sample, sweep]


def check_edf(args):
    import mne  # noqa: the client under test

    for recording in recordings(args):
        for period in (1, 10, 50, 250):
            csv = csv_rows(args, recording, period, "rows.csv")
            rows, before = model(recording, period)
            assert len(csv) == len(rows), (len(csv), len(rows))
            for kind in ("edf", "bdf"):
                path = os.path.join(args.work, f"rows.{kind}")
                run(args.zkexport, "-q", "-f", "-p", period, "-c", ALL, "-o", path, recording)
                read = mne.io.read_raw_edf if kind == "edf" else mne.io.read_raw_bdf
                raw = read(path, preload=True, verbose="error")
                where = f"{os.path.basename(recording)} {kind} period {period}"
                assert math.isclose(raw.info["sfreq"], 50 / period), where
                data = raw.get_data()
                # The last data record is made whole with the last row's values.
                assert len(rows) <= data.shape[1] < len(rows) + max(1, 500 // period), where
                for channel, (low, high) in RANGES[kind].items():
                    signal = data[raw.ch_names.index(channel)]
                    half_step = (high - low) / DIGITAL[kind] / 2 * (1 + 1e-9)
                    for i, fields in enumerate(csv):
                        value = number(fields[CSV_COLUMN[channel]])
                        expected = low if value is None else min(max(value, low), high)
                        assert abs(signal[i] - expected) <= half_step, (where, channel, i,
                                                                         signal[i], value)
                    assert (signal[len(csv):] == signal[len(csv) - 1]).all(), where
                tags = sorted((0.0, n) for n in before)
                tags += sorted((time / 1000, n) for time, marks in rows for n in marks)
                read_tags = sorted((round(onset, 4), d) for onset, d in
                                   zip(raw.annotations.onset, raw.annotations.description))
                assert read_tags == sorted((t, f"Tag {n}") for t, n in tags), where
    print("EDF+ and BDF+: every signal and tag as in the CSV")


def check_xlsx(args):
    import openpyxl  # noqa: the client under test

    sheet_rows = 700
    for recording in recordings(args):
        for period in (1, 10):
            csv = csv_rows(args, recording, period, "rows.csv")
            rows, before = model(recording, period)
            path = os.path.join(args.work, "rows.xlsx")
            run(args.workbook_tool, recording, path, period, sheet_rows)
            book = openpyxl.load_workbook(path, read_only=True)
            data_sheets = [s for s in book.sheetnames if s.startswith("Data")]
            expected_sheets = -(-len(csv) // (sheet_rows - 1))
            assert data_sheets == ["Data"] + [f"Data {i}" for i in range(2, expected_sheets + 1)]
            assert book.sheetnames == data_sheets + ["Tags", "Recording"], book.sheetnames
            read, places = [], {}
            for name in data_sheets:
                values = list(book[name].iter_rows(values_only=True))
                assert values[0][0] == "Time(msec)" and values[0][6] == "Tag Number"
                assert 1 < len(values) <= sheet_rows
                for r, cells in enumerate(values[1:], start=2):
                    read.append(cells)
                    places[len(read) - 1] = (name, r)
            assert len(read) == len(csv)
            for i, (cells, fields) in enumerate(zip(read, csv)):
                assert list(cells) == [number(f) for f in fields], (i, cells, fields)
            # Each tag mark, with the sheet and row of its data row.
            tags = list(book["Tags"].iter_rows(values_only=True))
            assert tags[0] == ("Tag Number", "Time(msec)", "Time(sec)", "Sheet", "Row")
            expected = []
            for index, (time, marks) in enumerate(rows):
                sheet, row = places[index + (1 if before else 0)]
                expected += [(n, time, time / 1000, sheet, row) for n in marks]
            assert [tuple(t) for t in tags[1:]] == expected
            info = dict(book["Recording"].iter_rows(values_only=True))
            assert info["Rows"] == len(csv) and info["Records"] == os.path.getsize(recording) // 20
    print("workbook: every sheet's numbers as in the CSV, across sheets; every tag's row")


def check_bids(args):
    validator = os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                             "zkfileexport/npm/node_modules/.bin/bids-validator")
    if not os.access(validator, os.X_OK):
        sys.exit(f"no BIDS validator at {validator}: run tools/install-deps.sh --test")
    dataset = os.path.join(args.work, "dataset")
    shutil.rmtree(dataset, ignore_errors=True)
    # The second run's samples take several of the compressor's blocks of a megabyte.
    runs = [(args.sample, "01", "1", 10), (recordings(args, 150000)[1], "02", "", 1)]
    for recording, subject, session, period in runs:
        run(args.zkexport, "-q", "--format", "bids", "-d", dataset, "--subject", subject,
            *(["--session", session] if session else []), "--task", "rest", "-p", period,
            "-c", ALL, recording)
        csv = csv_rows(args, recording, period, "rows.csv")
        rows, before = model(recording, period)
        stem = os.path.join(dataset, f"sub-{subject}", *([f"ses-{session}"] if session else []),
                            "beh", f"sub-{subject}{'_ses-' + session if session else ''}_task-rest_")
        with gzip.open(stem + "physio.tsv.gz", "rt", newline="") as physio:
            lines = physio.read().split("\n")
        assert lines.pop() == ""
        assert [l.split("\t") for l in lines] == [
            [f.strip() or "n/a" for f in fields[2:6]] for fields in csv]
        sidecar = json.load(open(stem + "physio.json"))
        assert sidecar["SamplingFrequency"] == 50 / period and sidecar["StartTime"] == 0
        assert sidecar["Columns"] == ["data", "baseline", "resistance", "conductance"]
        events = [l.split("\t") for l in open(stem + "events.tsv").read().splitlines()]
        assert events[0] == ["onset", "duration", "trial_type", "value", "sample"]
        expected = [["0.00", "0", "tag", str(n), "0"] for n in before]
        expected += [[f"{time / 1000:.2f}", "0", "tag", str(n), str(index)]
                     for index, (time, marks) in enumerate(rows) for n in marks]
        assert events[1:] == expected
    report = subprocess.run([validator, dataset, "--json"], capture_output=True, text=True)
    issues = json.loads(report.stdout)["issues"]
    assert issues["errors"] == [], json.dumps(issues["errors"], indent=1)
    print(f"BIDS: the validator passes the dataset ({len(issues['warnings'])} warnings); "
          "samples and events as in the CSV")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("client", choices=["edf", "xlsx", "bids"])
    parser.add_argument("--zkexport", required=True)
    parser.add_argument("--zkgen", required=True)
    parser.add_argument("--workbook-tool", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    {"edf": check_edf, "xlsx": check_xlsx, "bids": check_bids}[args.client](args)


if __name__ == "__main__":
    main()
