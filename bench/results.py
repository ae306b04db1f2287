#!/usr/bin/env python3
"""Merges the JSON outputs of one bench/run into one table: a row per figure
of ours beside its baseline from the same run. bench/run runs every program
in several passes (each a process of its own); each figure is the median
over the passes, the ratio (ours over the baseline; below 1 is faster) the
median of the passes' ratios, beside the lowest and highest of them and the
number of passes. Then the highest load average seen before and after the
program's passes, the commit, the compiler and the Google Benchmark
library's build type (Debian's package is a debug build: that slows only
its own bookkeeping). A pass of a program that failed gets one row with
FAILED in place of a benchmark.

Usage: results.py WORK_DIR COMMIT COMPILER > results.tsv
"""
import json
import os
import sys

# program, ours, baseline: a name matches a benchmark of that name or one
# whose name goes on with "/" (arguments, repetition suffixes). A benchmark
# with the counter "queries/iteration" has its times given per query, so
# that two sides doing different numbers of queries compare.
PAIRS = [
    ("binding", "BM_SlotCall", "BM_DirectCall"),
    ("host", "BM_StackPushRead", "BM_VectorPushRead"),
    ("host", "BM_StackPushRead", "BM_VectorReservedPushRead"),
    ("host", "BM_HostAllocFree", "BM_MallocFree"),
    ("host", "BM_ListInsertFind", "BM_MapInsertFind"),
    ("records", "BM_RecordBuild", "BM_MapBuild"),
    ("records", "BM_RecordFind", "BM_MapFind"),
    ("records", "BM_RecordWrite", "BM_MapWrite"),
    ("catalog", "BM_csalku", "BM_sqlite_lookup_baseline"),
    ("catalog", "BM_csalku", "BM_mmap_lookup_baseline"),
    ("catalog", "BM_csalku", "BM_pread_lookup_baseline"),
    ("catalog", "BM_csgget", "BM_sqlite_record_baseline"),
    ("catalog", "BM_csgget", "BM_pread_record_baseline"),
    ("catalog", "BM_cspgwrt", "BM_fwrite_flush_baseline"),
    ("keyed", "BM_TreeInsert", "BM_MapInsert"),
    ("keyed", "BM_TreeFind", "BM_MapFind"),
    ("keyed", "BM_TreeDeleteMin", "BM_MapDeleteMin"),
    ("keyed", "BM_Cspopn", "BM_ReadFileBytes"),
    ("keyed", "BM_Cspget", "BM_MapLookupAndRead"),
    ("query", "BM_cgsort/0", "BM_std_sort"),
    ("query", "BM_std_sort_loop", "BM_std_sort"),
    ("query", "BM_cgsort/1", "BM_std_sort"),
    ("query", "BM_pclrdcg", "BM_read_sort_search"),
    ("piping", "BM_QueryFill", "BM_QueryFillBaseline"),
    ("piping", "BM_SelectionEngine", "BM_SelectionBruteForce"),
    ("maintenance", "csgbldx", "baseline: LC_ALL=C sort --parallel=2"),
    ("maintenance", "csgbldx", "baseline: std::sort of the key records"),
    ("maintenance", "csgbldx", "baseline: std::sort + one write"),
    ("maintenance", "pcs maint index", "csgbldx"),
    ("maintenance", "pcs maint index", "csgbldx process"),
    ("maintenance", "cscprs", "baseline: cp + sync"),
    ("maintenance", "cscprs", "baseline: cp"),
    ("generators", "BM_cgwtcr", "BM_awk_weld"),
    ("generators", "BM_cgpdtcr", "BM_awk_pipedim"),
    ("generators", "BM_cgpdtcr2", "BM_split_rows"),
    ("project", "BM_SaveOneRowChange_Database", "BM_SaveOneRowChange_JsonRewrite"),
    ("project", "BM_OpenAndOneService_Database", "BM_OpenAndOneService_Json"),
    ("project", "BM_Sessions_Database/250", "BM_Sessions_JsonRewrite/250"),
    ("project", "BM_Sessions_Database/500", "BM_Sessions_JsonRewrite/500"),
    ("project", "BM_Sessions_Database/1000", "BM_Sessions_JsonRewrite/1000"),
    ("tools", "BM_ImportPcs", "BM_ImportSqlite"),
    ("tools", "BM_ExportPcs", "BM_ExportSqlite"),
]

COLUMNS = ["program", "benchmark", "baseline", "unit", "real", "cpu", "baseline_real",
           "baseline_cpu", "ratio_real", "ratio_cpu", "ratio_real_low", "ratio_real_high",
           "passes", "load_before", "load_after", "commit", "compiler", "benchmark_library"]

SCALE = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}


def find(runs, name):
    for run in runs:
        if run["name"] == name or run["name"].startswith(name + "/"):
            return run
    return None


def per_query(run, time):
    return run[time] / run.get("queries/iteration", 1)


def figure(value):
    return "%.6g" % value


def median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def times(ours, base):
    """Ours and the baseline's real and CPU times in ours' unit, and the
    ratios; the baseline's entries are None without one."""
    row = {"real": per_query(ours, "real_time"), "cpu": per_query(ours, "cpu_time")}
    if base:
        factor = SCALE[base["time_unit"]] / SCALE[ours["time_unit"]]
        row["base_real"] = per_query(base, "real_time") * factor
        row["base_cpu"] = per_query(base, "cpu_time") * factor
        row["ratio_real"] = row["real"] / row["base_real"] if row["base_real"] else None
        row["ratio_cpu"] = row["cpu"] / row["base_cpu"] if row["base_cpu"] else None
    return row


def medians(rows, key):
    values = [r[key] for r in rows if r.get(key) is not None]
    return (figure(median(values)) if values else ""), values


def read_passes(work, program, passes):
    """The iteration runs and library build type of each pass of a program."""
    found = []
    for p in passes:
        with open(os.path.join(work, "%s.%s.json" % (program, p))) as f:
            data = json.load(f)
        runs = [r for r in data["benchmarks"] if r.get("run_type", "iteration") == "iteration"]
        found.append((runs, data["context"].get("library_build_type", "unknown")))
    return found


def main():
    work, commit, compiler = sys.argv[1:4]
    loads = {}
    with open(os.path.join(work, "loads")) as f:
        for line in f:
            program, number, before, after = line.split()
            loads.setdefault(program, []).append((number, float(before), float(after)))
    print("\t".join(COLUMNS))
    with open(os.path.join(work, "failed")) as f:
        for line in f:
            program, number = line.split()
            print("\t".join([program, "FAILED in pass " + number] + [""] * (len(COLUMNS) - 3)
                            + ["unknown"]))
    for program, seen in loads.items():
        passes = read_passes(work, program, [number for number, _, _ in seen])
        library = passes[0][1]
        load = ["%.2f" % max(b for _, b, _ in seen), "%.2f" % max(a for _, _, a in seen)]
        paired = set()
        rows = [(o, b) for p, o, b in PAIRS if p == program]
        rows += [(r["name"], None) for r in passes[0][0]]
        for ours_name, base_name in rows:
            found = []
            for runs, _ in passes:
                ours = find(runs, ours_name)
                base = find(runs, base_name) if base_name else None
                if ours is not None and (base is not None or not base_name):
                    found.append((ours, base))
            if not found or (not base_name and found[0][0]["name"] in paired):
                continue
            ours, base = found[0]
            paired.add(ours["name"])
            if base:
                paired.add(base["name"])
            figures = [times(o, b) for o, b in found]
            row = [program, ours["name"], base["name"] if base else "", ours["time_unit"],
                   medians(figures, "real")[0], medians(figures, "cpu")[0]]
            if base:
                ratio, ratios = medians(figures, "ratio_real")
                row += [medians(figures, "base_real")[0], medians(figures, "base_cpu")[0], ratio,
                        medians(figures, "ratio_cpu")[0],
                        figure(min(ratios)) if ratios else "", figure(max(ratios)) if ratios else ""]
            else:
                row += [""] * 6
            row += [str(len(found))] + load + [commit, compiler, library]
            print("\t".join(row))


if __name__ == "__main__":
    main()
