#!/usr/bin/env python3
"""Merges the JSON outputs of one bench/run into one table: a row per figure
of ours beside its baseline from the same run, with the ratio (ours over the
baseline; below 1 is faster), the load average before and after the program
ran, the commit, the compiler and the Google Benchmark library's build type
(Debian's package is a debug build: that slows only its own bookkeeping).
A program that failed gets one row with FAILED in place of a benchmark.

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
           "baseline_cpu", "ratio_real", "ratio_cpu", "load_before", "load_after", "commit",
           "compiler", "benchmark_library"]


def find(runs, name):
    for run in runs:
        if run["name"] == name or run["name"].startswith(name + "/"):
            return run
    return None


def per_query(run, time):
    return run[time] / run.get("queries/iteration", 1)


def figure(value):
    return "%.6g" % value


def main():
    work, commit, compiler = sys.argv[1:4]
    loads = {}
    with open(os.path.join(work, "loads")) as f:
        for line in f:
            program, before, after = line.split()
            loads[program] = (before, after)
    print("\t".join(COLUMNS))
    with open(os.path.join(work, "failed")) as f:
        for program in f.read().split():
            print("\t".join([program, "FAILED"] + [""] * (len(COLUMNS) - 3) + ["unknown"]))
    for program in loads:
        with open(os.path.join(work, program + ".json")) as f:
            data = json.load(f)
        runs = [r for r in data["benchmarks"] if r.get("run_type", "iteration") == "iteration"]
        library = data["context"].get("library_build_type", "unknown")
        paired = set()
        rows = [(o, b) for p, o, b in PAIRS if p == program]
        rows += [(r["name"], None) for r in runs]
        for ours_name, base_name in rows:
            ours = find(runs, ours_name)
            base = find(runs, base_name) if base_name else None
            if ours is None or (base_name and base is None) or (not base_name and ours["name"] in paired):
                continue
            paired.add(ours["name"])
            if base:
                paired.add(base["name"])
            row = [program, ours["name"], base["name"] if base else "", ours["time_unit"],
                   figure(per_query(ours, "real_time")), figure(per_query(ours, "cpu_time"))]
            if base:
                scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
                factor = scale[base["time_unit"]] / scale[ours["time_unit"]]
                real = per_query(base, "real_time") * factor
                cpu = per_query(base, "cpu_time") * factor
                row += [figure(real), figure(cpu),
                        figure(per_query(ours, "real_time") / real) if real else "",
                        figure(per_query(ours, "cpu_time") / cpu) if cpu else ""]
            else:
                row += ["", "", "", ""]
            row += [loads[program][0], loads[program][1], commit, compiler, library]
            print("\t".join(row))


if __name__ == "__main__":
    main()
