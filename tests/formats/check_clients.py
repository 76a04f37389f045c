#!/usr/bin/python3
"""Opens zkexport's files with the programs their users open them with, and compares what those
programs read with zkexport's CSV of the same recording and columns, and with a plain model of
the tags read straight from the recording.

  check_clients.py edf   MNE-Python reads EDF+ and BDF+ files
  check_clients.py xlsx  openpyxl reads a workbook spread over several sheets
  check_clients.py bids  the BIDS validator passes a dataset; gzip and csv read its files
  check_clients.py epochs  zkexport --epochs against the tags and responses zkgen placed
  check_clients.py range  --from/--to: the CSV's slice, EDF+ (MNE-Python) and BIDS onsets

A missing client is a failure: tools/install-deps.sh --test installs them.
"""

import argparse
import datetime
import gzip
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys

ALL = "time,seconds,data,baseline,resistance,conductance,tags"
# The EDF+/BDF+ signals' physical ranges, as docs/formats.md and the man page state them.
RANGES = {
    "edf": {"Data": (0, 65535), "Baseline": (0.5, 6.5), "Resistance": (-10, 6500),
            "Conductance": (0, 100)},
    "bdf": {"Data": (0, 65535), "Baseline": (0.5, 6.5), "Resistance": (-10, 10000),
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


def end_marker(rows, period):
    """The annotation that marks where the rows end, when the last data record (ten seconds of
    rows, or as many as fit) is made whole with the last row's values."""
    per_record = max(1, 500 // period)
    if rows % per_record == 0:
        return []
    return [(round(rows * period * 20 / 1000, 4), "Recording ends")]


def read_csv(path):
    """A CSV file's lines as lists of fields."""
    text = open(path, "rb").read().decode()
    assert text.endswith("\r\n")
    return [line.split(",") for line in text[:-2].split("\r\n")]


def csv_rows(args, recording, period, name):
    """zkexport's CSV of all columns without headers, as lists of fields."""
    path = os.path.join(args.work, name)
    run(args.zkexport, "-q", "-f", "--no-headers", "-p", period, "-c", ALL, "-o", path, recording)
    return read_csv(path)


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
        for period in (1, 7, 10, 50, 250, 501, 1638):
            csv = csv_rows(args, recording, period, "rows.csv")
            rows, before = model(recording, period)
            assert len(csv) == len(rows), (len(csv), len(rows))
            for kind in ("edf", "bdf"):
                path = os.path.join(args.work, f"rows.{kind}")
                notes = subprocess.run([str(a) for a in (args.zkexport, "-f", "-p", period, "-c",
                                        ALL, "-o", path, recording)],
                                       check=True, capture_output=True, text=True).stderr
                clipped = re.search(r"note: ([\d,]+) values? lay outside", notes)
                read = mne.io.read_raw_edf if kind == "edf" else mne.io.read_raw_bdf
                raw = read(path, preload=True, verbose="error")
                where = f"{os.path.basename(recording)} {kind} period {period}"
                # The exact rate: the header's data-record duration is exact at every period.
                assert math.isclose(raw.info["sfreq"], 50 / period, rel_tol=1e-12), where
                data = raw.get_data()
                # The last data record is made whole with the last row's values.
                assert len(rows) <= data.shape[1] < len(rows) + max(1, 500 // period), where
                # The note counts every value that lies beyond either end of its range.
                beyond = sum(1 for fields in csv for channel, (low, high) in RANGES[kind].items()
                             if (v := number(fields[CSV_COLUMN[channel]])) is not None
                             and not low <= v <= high)
                count = int(clipped.group(1).replace(",", "")) if clipped else 0  # digit groups
                assert count == beyond, (where, notes, beyond)
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
                expected = [(t, f"Tag {n}") for t, n in tags] + end_marker(len(rows), period)
                assert read_tags == sorted(expected), (where, read_tags[-3:], expected[-3:])
    print("EDF+ and BDF+: every signal and tag as in the CSV")


def check_xlsx(args):
    import openpyxl  # noqa: the client under test

    # Each sheet holds exactly its limit of rows: the CSV's lines at, one below and one above
    # the limit (N + 1 with the header row), and as many tags as the Tags sheet takes.
    short = os.path.join(args.work, "short.zkd")
    run(args.zkgen, "--records", 300, "--tag-every", 20, "--seed", 3, "-o", short)
    n, t = len(csv_rows(args, short, 1, "rows.csv")), sum(len(m) for _, m in model(short, 1)[0])
    runs = [(r, p, 700) for r in recordings(args) for p in (1, 10)]
    runs += [(short, 1, rows) for rows in (n, n + 1, n + 2, t, t + 1, t + 2)]
    for recording, period, sheet_rows in runs:
        where = (os.path.basename(recording), period, sheet_rows)
        csv = csv_rows(args, recording, period, "rows.csv")
        rows, before = model(recording, period)
        path = os.path.join(args.work, "rows.xlsx")
        run(args.workbook_tool, recording, path, period, sheet_rows)
        book = openpyxl.load_workbook(path, read_only=True)
        data_sheets = [s for s in book.sheetnames if s.startswith("Data")]
        assert data_sheets == ["Data"] + [f"Data {i}" for i in range(2, len(data_sheets) + 1)]
        assert book.sheetnames == data_sheets + ["Tags", "Recording"], book.sheetnames
        read, places, lengths = [], {}, []
        for name in data_sheets:
            values = list(book[name].iter_rows(values_only=True))
            assert values[0][0] == "Time(msec)" and values[0][6] == "Tag Number"
            lengths.append(len(values))
            for r, cells in enumerate(values[1:], start=2):
                read.append(cells)
                places[len(read) - 1] = (name, r)
        full, rest = divmod(len(csv), sheet_rows - 1)
        assert lengths == [sheet_rows] * full + ([rest + 1] if rest else []), (where, lengths)
        assert len(read) == len(csv)
        for i, (cells, fields) in enumerate(zip(read, csv)):
            assert list(cells) == [number(f) for f in fields], (i, cells, fields)
        # Each tag mark, with the sheet and row of its data row, as many as the sheet holds.
        tags = list(book["Tags"].iter_rows(values_only=True))
        assert tags[0] == ("Tag Number", "Time(msec)", "Time(sec)", "Sheet", "Row")
        expected = []
        for index, (time, marks) in enumerate(rows):
            sheet, row = places[index + (1 if before else 0)]
            expected += [(n, time, time / 1000, sheet, row) for n in marks]
        assert [tuple(t) for t in tags[1:]] == expected[:sheet_rows - 1], where
        info = dict(book["Recording"].iter_rows(values_only=True))
        assert info["Rows"] == len(csv) and info["Records"] == os.path.getsize(recording) // 20

    # Text reads back as given, by the rule of spreadsheets that decode "_xHHHH_" (the heading,
    # the recording's name); the start is a date; the Tags sheet's headers fit their columns.
    text = "Run_x0041_B and _x005F_ end _x12G4_ __x0041__"
    named = os.path.join(args.work, "run_x0041_.zkd")
    shutil.copy(short, named)
    path = os.path.join(args.work, "text.xlsx")
    run(args.zkexport, "-q", "-f", "-c", ALL, "--heading", text, "--start",
        "2024-03-05 14:30:09", "-o", path, named)
    book = openpyxl.load_workbook(path)
    decode = lambda s: re.sub("_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m[1], 16)), s)
    info = {row[0]: row[1] for row in book["Recording"].iter_rows(values_only=True)}
    assert decode(book["Data"]["A1"].value) == text, book["Data"]["A1"].value
    assert decode(info["Recording"]) == named, info
    assert info["Start"] == datetime.datetime(2024, 3, 5, 14, 30, 9), info
    assert book["Recording"]["B4"].is_date and info["Start estimated"].startswith("no"), info
    widths = book["Tags"].column_dimensions
    for cell in book["Tags"][1]:
        assert cell.column_letter in widths, cell.value  # else the default: 8 characters
        assert widths[cell.column_letter].width >= len(cell.value) + 1, cell.value

    # The workbook's own file outgrows a file-size limit that each of its temporary files (a
    # sheet of 2,000 rows) keeps within: the write fails with the system's cause and none of the
    # library's own messages, and the earlier file stays.
    many = os.path.join(args.work, "many.zkd")
    run(args.zkgen, "--records", 120000, "-o", many)
    limited = os.path.join(args.work, "limited.xlsx")
    open(limited, "w").write("earlier")
    done = subprocess.run(["/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1024; exec \"$0\" \"$@\"",
                           args.workbook_tool, many, limited, "1", "2000"],
                          capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stderr) == (
        1, f"{limited}: cannot write the workbook: File too large\n"), done
    assert open(limited).read() == "earlier"
    print("workbook: every sheet's numbers as in the CSV, sheets split at exactly their limit; "
          "every tag's row; text as given; a date for the start; a failed write names its cause")


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
        # The heading goes into the sidecar, which the validator then reads.
        run(args.zkexport, "-q", "--format", "bids", "-d", dataset, "--subject", subject,
            *(["--session", session] if session else []), "--task", "rest", "-p", period,
            "-c", ALL, "--heading", f"Subject {subject}", recording)
        csv = csv_rows(args, recording, period, "rows.csv")
        rows, before = model(recording, period)
        stem = os.path.join(dataset, f"sub-{subject}", *([f"ses-{session}"] if session else []),
                            "beh", f"sub-{subject}{'_ses-' + session if session else ''}_task-rest_")
        with gzip.open(stem + "physio.tsv.gz", "rt", newline="") as physio:
            lines = physio.read().split("\n")
        assert lines.pop() == ""
        assert [l.split("\t") for l in lines] == [
            [f.strip() or "n/a" for f in fields[2:6]] for fields in csv]
        # (The sidecar's rate, columns and description: ExportToFile.BidsSidecar...)
        assert json.load(open(stem + "physio.json"))["StartTime"] == 0
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


def epochs_of(args, recording, period, *extra):
    """zkexport --epochs as a list of dicts by column name."""
    path = os.path.join(args.work, "epochs.csv")
    run(args.zkexport, "-q", "-f", "--epochs", "-p", period, *extra, "-o", path, recording)
    lines = read_csv(path)
    return [dict(zip(lines[0], line)) for line in lines[1:]]


def epoch_table(epochs):
    """Each epoch as (tag, onset ms, duration ms, rows)."""
    return [(int(e["Tag Number"]) if e["Tag Number"] else None, round(float(e["Onset(sec)"]) * 1000),
             round(float(e["Duration(sec)"]) * 1000), int(e["Rows"])) for e in epochs]


def expected_epochs(rows, before, period):
    """Epochs by the rule: each tag starts one at the row that carries it; tags before the
    first row go with it. Each is [tag, onset ms, rows]."""
    epochs = [[None, rows[0][0], 0]]
    for index, (time, tags) in enumerate(rows):
        for tag in (before if index == 0 else []) + tags:
            epochs.append([tag, time, 0])
        epochs[-1][2] += 1
    end = rows[-1][0] + 20 * period
    return [(tag, onset, (epochs[i + 1][1] if i + 1 < len(epochs) else end) - onset, n)
            for i, (tag, onset, n) in enumerate(epochs)]


def check_epochs(args):
    # Where the epochs start and end: at the first and last rows, around tags that share a
    # thinned row, in a recording without tags; the boundaries come from the recording itself.
    cases = [
        (["--tag-at", "5", "--tag-at", "10"], 10),
        (["--tag-at", "0:7", "--tag-at", "19.98:8"], 1),
        (["--tag-at", "0.02:3", "--tag-at", "19.9:4"], 10),
        (["--tag-at", "4.02", "--tag-at", "4.5", "--tag-at", "12"], 50),
        ([], 10),
    ]
    recording = os.path.join(args.work, "tags.zkd")
    for extra, period in cases:
        run(args.zkgen, "--profile", "flat", "--seconds", 20, *extra, "-o", recording)
        rows, before = model(recording, period)
        got = epochs_of(args, recording, period)
        want = expected_epochs(rows, before, period)
        table = epoch_table(got)
        assert table == want, (extra, period, table, want)
        assert [e["Epoch"] for e in got] == [str(n) for n in range(1, len(want) + 1)]
        for e in got:
            if int(e["Rows"]):
                assert e["Rows without contact"] == "0"
                assert abs(float(e["Conductance mean(uS)"]) - 5) < 1e-3, e

    # With a range, only its rows: the first epoch starts at the range's first row.
    run(args.zkgen, "--profile", "flat", "--seconds", 20, "--tag-at", 5, "--tag-at", 10,
        "--tag-at", 15, "-o", recording)
    for start, end, period in (("7000", "tag:3", 10), ("tag:1", "0:12.5", 50), ("0:10", None, 1)):
        rows, _ = model(recording, period)
        first = int(start) if start.isdigit() else 10000 if start == "0:10" else 5000
        stop = {None: 1 << 40, "tag:3": 15000, "0:12.5": 12500}[end]
        kept = [row for row in rows if first <= row[0] < stop]
        got = epochs_of(args, recording, period, "--from", start, *(["--to", end] if end else []))
        table = epoch_table(got)
        assert table == expected_epochs(kept, [], period), (start, end, table)

    # An epoch's statistics are those of its rows with contact: a second and a half without
    # contact (raw 0) in the first epoch, beside a response.
    run(args.zkgen, "--profile", "flat", "--seconds", 20, "--tag-at", 10, "--response", "5:0.5",
        "-o", recording)
    data = bytearray(open(recording, "rb").read())
    for at in range(100 * 20, 175 * 20, 20):
        data[at + 4:at + 6] = b"\0\0"
    open(recording, "wb").write(data)
    for period in (1, 10):
        csv = csv_rows(args, recording, period, "contact.csv")
        first = [number(f[5]) for f in csv if int(f[0]) < 10000]
        values = [v for v in first if v is not None]
        e = epochs_of(args, recording, period)[0]
        assert int(e["Rows without contact"]) == len(first) - len(values) > 0, e
        stats = [sum(values) / len(values), min(values), max(values)]
        assert [float(e[f"Conductance {s}(uS)"]) for s in ("mean", "min", "max")] == [
            round(v, 4) for v in stats], (e, period, stats)

    # The detector, one response an epoch, each between two tags, and two in one epoch (their
    # amplitudes summed). (Flat and drifting traces: ResponseDetector's test.)
    placed = [(10, 0.05), (30, 0.2), (50, 0.5), (70, 1.0), (110, 0.3)]
    tags = [a for s, _ in placed for a in ("--tag-at", s - 5)]
    responses = [a for s, amp in placed + [(130, 0.6)] for a in ("--response", f"{s}:{amp}")]
    run(args.zkgen, "--profile", "flat", "--seconds", 150, *tags, *responses, "-o", recording)
    for period in (1, 10):
        got = epochs_of(args, recording, period)
        assert len(got) == 6 and got[0]["Responses"] == "0", got
        for (second, amplitude), e in zip(placed[:-1] + [(110, 0.9)], got[1:]):
            found = float(e["Response amplitude(uS)"])
            print(f"period {period}: placed {amplitude} uS at {second} s, found "
                  f"{e['Responses']} of {found} uS")
            assert e["Responses"] == ("2" if second == 110 else "1"), e
            assert abs(found - amplitude) <= 0.1 * amplitude, (amplitude, found)
    # The workbook's sheet holds the CSV's epochs, beside the rows.
    import openpyxl  # noqa: the client under test

    book_path = os.path.join(args.work, "epochs.xlsx")
    run(args.zkexport, "-q", "-f", "--epochs", "-p", 10, "-c", ALL, "-o", book_path, args.sample)
    book = openpyxl.load_workbook(book_path, read_only=True)
    assert book.sheetnames == ["Data", "Tags", "Epochs", "Recording"], book.sheetnames
    sheet = list(book["Epochs"].iter_rows(values_only=True))
    got = epochs_of(args, args.sample, 10)
    assert list(sheet[0]) == list(got[0].keys())
    assert len(sheet) == len(got) + 1 > 2
    for cells, e in zip(sheet[1:], got):
        for cell, field in zip(cells, e.values()):
            assert cell == (None if field == "" else float(field)), (cells, e)
    print("epochs: boundaries at the tags' rows, responses as placed, none on flat traces; "
          "the workbook's Epochs sheet as the CSV")


def check_range(args):
    import mne  # noqa: the client under test

    # Tag 3 twice with tag 4 between; ranges from and to tags, times between rows, the ends.
    flat = os.path.join(args.work, "range.zkd")
    run(args.zkgen, "--profile", "flat", "--seconds", 60, "--tag-at", "5:3", "--tag-at", "12.3:4",
        "--tag-at", "30:3", "--tag-at", "50.01:5", "-o", flat)
    cases = [  # (recording, period, --from, --to, first row ms, end ms or None)
        (flat, 10, "tag:4", "tag:3#2", 12200, 30000),
        (flat, 1, "0:07.5", "40000", 7500, 40000),
        (flat, 50, "12300", None, 13000, None),
        (flat, 1, None, "tag:3", 0, 5000),
        (flat, 10, "0:00:50.010", "0:59", 50200, 59000),
        (args.sample, 10, "1:00", "2:30.1", 60000, 150100),
    ]
    for recording, period, start, end, first, stop in cases:
        where = (os.path.basename(recording), period, start, end)
        bounds = [*(["--from", start] if start else []), *(["--to", end] if end else [])]
        whole = os.path.join(args.work, "whole.csv")
        part = os.path.join(args.work, "part.csv")
        run(args.zkexport, "-q", "-f", "-p", period, "-c", ALL, "-o", whole, recording)
        run(args.zkexport, "-q", "-f", "-p", period, "-c", ALL, *bounds, "-o", part, recording)
        lines = open(whole, "rb").read().split(b"\r\n")
        header, data = lines[0], lines[1:-1]
        times = [int(line.split(b",")[0]) for line in data]
        kept = [l for t, l in zip(times, data) if t >= first and (stop is None or t < stop)]
        assert kept and int(kept[0].split(b",")[0]) == first, where
        assert open(part, "rb").read() == b"\r\n".join([header, *kept, b""]), where

        # The tags that the slice holds, counted from its first row.
        rows, before = model(recording, period)
        inside = [(time, marks) for time, marks in rows
                  if time >= first and (stop is None or time < stop)]
        tags = sorted((round((time - first) / 1000, 4), f"Tag {n}") for time, marks in inside
                      for n in marks)
        edf = os.path.join(args.work, "part.edf")
        run(args.zkexport, "-q", "-f", "-p", period, "-c", ALL, "--start", "2026-03-01 09:30:00",
            *bounds, "-o", edf, recording)
        raw = mne.io.read_raw_edf(edf, verbose="error")
        read = sorted((round(onset, 4), d) for onset, d in
                      zip(raw.annotations.onset, raw.annotations.description))
        assert read == sorted(tags + end_marker(len(inside), period)), (where, read, tags)
        moved = raw.info["meas_date"].replace(tzinfo=None) - datetime.datetime(2026, 3, 1, 9, 30)
        # The header's start holds whole seconds; EDF+ keeps the fraction in its first data
        # record's time, which MNE-Python does not add to meas_date.
        assert moved.total_seconds() == first // 1000, (where, moved)
        with open(edf, "rb") as header:
            header.seek(int(header.read(256)[184:192]))
            keeping = re.search(rb"\+([0-9.]+)\x14\x14", header.read(64 * 1024))
            assert float(keeping[1]) == first % 1000 / 1000, (where, keeping)

        dataset = os.path.join(args.work, "range-bids")
        shutil.rmtree(dataset, ignore_errors=True)
        run(args.zkexport, "-q", "--format", "bids", "-d", dataset, "--subject", "01", "--task",
            "rest", "-p", period, "-c", ALL, *bounds, recording)
        events = open(os.path.join(dataset, "sub-01", "beh", "sub-01_task-rest_events.tsv"))
        fields = [line.split("\t") for line in events.read().splitlines()[1:]]
        onsets = [(float(f[0]), f"Tag {f[3]}") for f in fields]
        assert onsets == tags, (where, onsets, tags)

    # A range of the whole recording writes the whole CSV, whatever the columns: tags alone
    # (lines only where a tag is), conductance alone (empty fields), tags sharing rows.
    sweep = recordings(args)[1]
    for columns in ("tags", "conductance", "time,data,tags", "none"):
        for period in (1, 10):
            texts = []
            for bounds in ([], ["--from", "0"]):
                out = os.path.join(args.work, "whole.csv")
                run(args.zkexport, "-q", "-f", "-p", period, "-c", columns, *bounds, "-o", out,
                    sweep)
                texts.append(open(out, "rb").read())
            assert texts[0] == texts[1], (columns, period)

    # Nothing to write is a usage error, and nothing is written.
    for bounds in (["--from", "30000", "--to", "30000"], ["--from", "2:00"],
                   ["--from", "tag:7"], ["--to", "tag:3#3"], ["--from", "1:5"]):
        out = os.path.join(args.work, "none.csv")
        if os.path.exists(out):
            os.remove(out)
        done = subprocess.run([args.zkexport, "-q", *bounds, "-o", out, flat],
                              capture_output=True, text=True)
        assert done.returncode == 2 and done.stderr and not os.path.exists(out), (bounds, done)
    print("range: the CSV's slice; EDF+ and BIDS onsets and the start moved with the range")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("client", choices=["edf", "xlsx", "bids", "epochs", "range"])
    parser.add_argument("--zkexport", required=True)
    parser.add_argument("--zkgen", required=True)
    parser.add_argument("--workbook-tool", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    {"edf": check_edf, "xlsx": check_xlsx, "bids": check_bids,
     "epochs": check_epochs, "range": check_range}[args.client](args)


if __name__ == "__main__":
    main()
