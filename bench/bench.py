"""The benchmarks behind `make bench`: the host's service start and stop latency
next to two reference services (the bare one, which answers the stop with
STOPPED at once, and one that sends the host's reports, STOP_PENDING and then
STOPPED), its CPU time to the application's main and its working set in a
console, and the executables' sizes and imports; with the real Java VM
(tests/e2e/realvm.py), the time from process start to the Java application's
first line for the host and for a minimal launcher of the same VM.

Everything runs in a Wine prefix of its own under build/x86_64/bench/. Figures
are printed, and written to build/bench/results.json, never judged. Settings
(environment):
  OSTREL_BENCH_CYCLES      measured start/stop cycles per service (default 50)
  OSTREL_BENCH_RUNS        console runs of the host and of the baseline (default 9)
  OSTREL_BENCH_JAVA_PAIRS  real-VM starts, as pairs of host and launcher (default 30)
  OSTREL_BENCH_LOG_MIB     MiB of output lines into the service's log, each way (default 20)
  OSTREL_BENCH_IDLE_S      seconds the idle host is sampled, as a service and in a console (default 20)
"""

import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

TOP = Path(sys.argv[1]).resolve()
sys.path.insert(0, str(TOP / "tests" / "e2e"))
import realvm  # noqa: E402
BUILD = TOP / "build" / "x86_64"
BENCH = BUILD / "bench"
RUN = BENCH / "run"
PREFIX = BENCH / "prefix"
LOG = BENCH / "wine.log"
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"

CYCLES = int(os.environ.get("OSTREL_BENCH_CYCLES", "50"))
RUNS = int(os.environ.get("OSTREL_BENCH_RUNS", "9"))
JAVA_PAIRS = int(os.environ.get("OSTREL_BENCH_JAVA_PAIRS", "30"))
LOG_MIB = int(os.environ.get("OSTREL_BENCH_LOG_MIB", "20"))
IDLE_S = float(os.environ.get("OSTREL_BENCH_IDLE_S", "20"))
MiB = 1 << 20
WARMUP = 1          # uncounted first cycle of each service, and first real VM start
SETTLE_MS = 500     # pause after RUNNING, so the stop meets a service at rest
MAIN_BLOCK_MS = 300  # the test VM's main sleeps this long in the console runs
HOST = "OstrelServer"
REF = "OstrelBenchRef"
REF_PENDING = "OstrelBenchRefPending"
SERVICES = [HOST, REF, REF_PENDING]
RESULTS = TOP / "build" / "bench" / "results.json"

ENV = dict(os.environ)
ENV.pop("DISPLAY", None)
ENV.update(WINEPREFIX=str(PREFIX), WINELOADER=WINE, WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all")


def win(path):
    return "Z:" + str(path).replace("/", "\\")


def wine(*args, timeout=120, check=True):
    result = subprocess.run([WINE, *map(str, args)], env=ENV, stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=timeout)
    out = result.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    if check and result.returncode != 0:
        raise SystemExit(f"bench: {' '.join(map(str, args))} failed ({result.returncode}):\n{out}")
    return out


def svcbench(*args, timeout=300):
    """svcbench's result lines, split into fields; an error line ends the run."""
    return [line.split("\t") for line in wine(RUN / "svcbench.exe", *args, timeout=timeout).splitlines() if line]


def boot():
    PREFIX.mkdir(parents=True, exist_ok=True)
    quiet = dict(env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    with open(LOG, "ab") as log:
        subprocess.run([WINESERVER, "-p"], **quiet, stderr=log, check=False)
        # No "-i": the first process runs "wineboot --init" by itself, and a
        # second init starts a second service manager.
        subprocess.run([WINE, "wineboot"], **quiet, stderr=log, check=True, timeout=300)


def make_app(folder, scenario):
    client = folder / "jre1.6.0" / "bin" / "client"
    client.mkdir(parents=True)
    shutil.copy(BUILD / "testvm" / "jvm.dll", client / "jvm.dll")
    (client / "testvm.ini").write_text(scenario)
    return client / "testvm.log"


def transcript_kinds(log):
    lines = log.read_text("utf-8", "replace").splitlines() if log.exists() else []
    return [line.split("\t")[0] for line in lines]


def spread(values, unit="", digits=1):
    """median [min-max] of the values"""
    return (f"{statistics.median(values):.{digits}f}{unit} "
            f"[{min(values):.{digits}f}-{max(values):.{digits}f}]")


def service_latency(service_log):
    for name in SERVICES:
        svcbench("delete", name)
    out = wine(RUN / "OstrelServer.exe", "install", f"wrkdir={win(RUN / 'service app')}")
    if "installed" not in out:
        raise SystemExit(f"bench: install failed:\n{out}")
    svcbench("create", REF, win(RUN / "refservice.exe"))
    svcbench("create", REF_PENDING, f'"{win(RUN / "refservice.exe")}" pending')
    try:
        rows = svcbench("cycles", WARMUP + CYCLES, SETTLE_MS, *SERVICES)
    finally:
        wine(RUN / "OstrelServer.exe", "remove", check=False)
        for name in SERVICES:
            svcbench("delete", name)
    figures = {}
    for kind, name, round_, start, stop, exit_ in rows:
        if kind == "cycle" and int(round_) >= WARMUP:
            for what, value in (("start", start), ("stop", stop), ("exit", exit_)):
                figures.setdefault((name, what), []).append(float(value))
    kinds = transcript_kinds(service_log)
    reached = kinds.count("main-returned")
    problems = kinds.count("violation") + kinds.count("trap")
    return figures, reached, problems


def log_throughput():
    """MiB/s of 100-byte lines into the service's output log: the stand-in VM
    writes them through the standard output handle (a WriteFile each) and
    through msvcrt's stderr (fwrite, a line each); and, for the same lines and
    writes, logbench straight into a file and into a pipe whose reader thread
    writes the file (the floor of a log behind a pipe)."""
    figures = {}
    for way in ("handle", "stderr"):
        folder = RUN / f"log {way}"
        shutil.rmtree(folder, ignore_errors=True)
        make_app(folder, f"burst={LOG_MIB * MiB}:{way}:1:go\n")
        go = folder / "jre1.6.0" / "bin" / "client" / "go"
        logs = [folder / "OstrelServer.log"] + [folder / f"OstrelServer.log.{n}" for n in range(1, 6)]
        wine(RUN / "OstrelServer.exe", "install", f"wrkdir={win(folder)}")
        try:
            wine("sc", "start", HOST)
            wait_until(lambda: "main-returned" in transcript_kinds(go.with_name("testvm.log")), None,
                       "the host did not reach main")
            started = time.monotonic()
            go.touch()
            wait_until(lambda: sum(p.stat().st_size for p in logs if p.exists()) >= LOG_MIB * MiB, None,
                       "the burst did not reach the log", timeout=600)
            figures[way] = LOG_MIB / (time.monotonic() - started)
        finally:
            wine(RUN / "OstrelServer.exe", "remove", check=False)
    for row in wine(RUN / "logbench.exe", win(RUN), LOG_MIB, 1, timeout=600).split("\n"):
        if row:
            what, value = row.split("\t")[:2]
            figures[what] = float(value)
    return figures


def linux_pid_of(exe):
    """The Linux process of this prefix that runs `exe` (a service is started by
    Wine's services.exe, not by us)."""
    for entry in Path("/proc").iterdir():
        try:
            if exe.encode() in (entry / "cmdline").read_bytes() and \
                    f"WINEPREFIX={PREFIX}".encode() in (entry / "environ").read_bytes().split(b"\0"):
                return int(entry.name)
        except (OSError, ValueError):
            continue
    return None


def process_activity(pid):
    """Context switches of every thread of a Linux process so far, and its threads now."""
    switches = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        for line in (task / "status").read_text().splitlines():
            if "ctxt_switches:" in line:
                switches += int(line.split()[-1])
    threads = int(next(l for l in Path(f"/proc/{pid}/status").read_text().splitlines()
                       if l.startswith("Threads:")).split()[1])
    return switches, threads


def sample_idle(pid):
    """Context switches and CPU milliseconds a second over IDLE_S, and the threads."""
    time.sleep(2)  # the start settles
    switches, _ = process_activity(pid)
    cpu = process_cpu_ms(pid)
    time.sleep(IDLE_S)
    switches_after, threads = process_activity(pid)
    return (switches_after - switches) / IDLE_S, (process_cpu_ms(pid) - cpu) / IDLE_S, threads


def idle_cost():
    """What the host costs while the application does nothing: the stand-in VM
    with no thread of its own, as a service with its output log and in a console."""
    folder = RUN / "idle app"
    shutil.rmtree(folder, ignore_errors=True)
    log = make_app(folder, "threads=0\n")
    figures = {}
    wine(RUN / "OstrelServer.exe", "install", f"wrkdir={win(folder)}")
    try:
        wine("sc", "start", HOST)
        wait_until(lambda: "main-returned" in transcript_kinds(log), None, "the idle service did not reach main")
        pid = linux_pid_of("OstrelServer.exe")
        if pid is None:
            raise SystemExit("bench: the idle service's process was not found")
        figures["service"] = sample_idle(pid)
    finally:
        wine(RUN / "OstrelServer.exe", "remove", check=False)
    log.unlink(missing_ok=True)
    proc = subprocess.Popen([WINE, RUN / "OstrelServer.exe", "execute", f"wrkdir={win(folder)}"], env=ENV,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_until(lambda: "main-returned" in transcript_kinds(log), proc, "the idle console run did not reach main")
        figures["console"] = sample_idle(proc.pid)
    finally:
        stop(proc)
    return figures


def process_cpu_ms(pid):
    """CPU time of a whole Linux process so far (all its threads, dead ones
    included), from its per-process CPU clock: nanosecond resolution, where
    GetProcessTimes under Wine counts 10 ms clock ticks."""
    return time.clock_gettime((~pid << 3) | 2) * 1000.0  # CPUCLOCK_SCHED of pid


def wait_until(condition, proc, what, timeout=30.0):
    deadline = time.monotonic() + timeout
    while not condition():
        if (proc is not None and proc.poll() is not None) or time.monotonic() > deadline:
            if proc is not None:
                proc.kill()
            raise SystemExit(f"bench: {what}")
        time.sleep(0.001)


def wine_memory(pid):
    row = svcbench("memory", pid)[0]  # "memory <peak> <current> <peak pagefile>"
    return int(row[1]) / 2**20, int(row[2]) / 2**20


def stop(proc):
    proc.send_signal(signal.SIGINT)  # Ctrl-C: the host stops cleanly
    try:
        proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def console_host_run(log):
    """One console host run. Wine runs a program started from Linux in the
    process it was started as, so Popen's pid is the host's own process."""
    log.unlink(missing_ok=True)
    started = time.monotonic()
    proc = subprocess.Popen([WINE, RUN / "OstrelServer.exe", "execute", f"wrkdir={win(RUN / 'console app')}"],
                            env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        # main sleeps (main=block) once it has logged main-args: the process is
        # idle while its CPU clock is read.
        wait_until(lambda: "main-args" in transcript_kinds(log), proc, "the host did not reach main")
        wall, cpu = (time.monotonic() - started) * 1000.0, process_cpu_ms(proc.pid)
        wait_until(lambda: "main-returned" in transcript_kinds(log), proc, "main did not return")
        time.sleep(0.3)  # the host registers its console handler and waits
        windows_pid = int(log.read_text().split("\n")[0].split("\t")[1])  # "load <pid>"
        peak, now = wine_memory(windows_pid)
    finally:
        stop(proc)
    return wall, cpu, peak, now


def baseline_run():
    proc = subprocess.Popen([WINE, RUN / "refservice.exe", "idle"], env=ENV, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        windows_pid = int(proc.stdout.readline())
        time.sleep(0.5)
        cpu = process_cpu_ms(proc.pid)
        peak, _ = wine_memory(windows_pid)
    finally:
        stop(proc)
    return cpu, peak


def console_figures():
    log = make_app(RUN / "console app", f"threads=2\nmain=block:{MAIN_BLOCK_MS}\n")
    host = [console_host_run(log) for _ in range(RUNS)]
    base = [baseline_run() for _ in range(RUNS)]
    return {"host_wall": [r[0] for r in host], "host_cpu": [r[1] for r in host],
            "host_peak": [r[2] for r in host], "host_ws": [r[3] for r in host],
            "base_cpu": [r[0] for r in base], "base_peak": [r[1] for r in base]}


def first_line_ms(command, cwd=None):
    """Milliseconds from starting a process to the Java application's first line
    on its standard output; the process is stopped then."""
    started = time.monotonic()
    proc = subprocess.Popen([WINE, *map(str, command)], cwd=cwd, env=ENV, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        for line in proc.stdout:
            if line.startswith(b"FileServer:"):
                return (time.monotonic() - started) * 1000.0
        raise SystemExit(f"bench: {command[0]} ended before the application's first line")
    finally:
        stop(proc)


def java_start_figures():
    """The real VM's start, process start to the application's first line: the
    host and javalaunch (load, create, call main; nothing else) as interleaved
    pairs, so that each difference is taken on the machine as it was then."""
    app = realvm.JavaApp.install(RUN / "java app", RUN / "classes")
    dll = app.workdir.vm_dir / "jvm.dll"
    host, launcher = [], []
    for _ in range(WARMUP + JAVA_PAIRS):
        app.port = realvm.free_port()
        host.append(first_line_ms([RUN / "OstrelServer.exe", "execute", *app.entries()]))
        launcher.append(first_line_ms([RUN / "javalaunch.exe", win(dll), realvm.MAIN_CLASS, *app.options()],
                                      cwd=app.workdir.path))
    return host[WARMUP:], launcher[WARMUP:]


def quartiles(values):
    """The first quartile, the median and the third quartile."""
    q1, median, q3 = statistics.quantiles(values, n=4, method="inclusive")
    return q1, median, q3


def imports(exe, objdump):
    if not exe.exists():
        return None, []
    out = subprocess.run([objdump, "-p", str(exe)], capture_output=True, text=True, check=True).stdout
    return exe.stat().st_size, [line.split("DLL Name:")[1].strip() for line in out.splitlines()
                                if "DLL Name:" in line]


def main():
    started = time.monotonic()
    no_java = realvm.missing()
    needed = [BUILD / "OstrelServer.exe", BUILD / "testvm" / "jvm.dll", BENCH / "svcbench.exe",
              BENCH / "refservice.exe", BENCH / "javalaunch.exe"]
    needed += [] if no_java else [realvm.AVIAN_DLL, realvm.CLASSES]
    missing = [str(p) for p in needed if not p.exists()]
    if missing:
        raise SystemExit("bench: build first (make build); missing: " + ", ".join(missing))
    # Copies: others may rebuild the tree while the benchmark runs.
    shutil.rmtree(RUN, ignore_errors=True)
    RUN.mkdir(parents=True)
    for path in needed[:1] + needed[2:5] + [BENCH / "logbench.exe"]:
        shutil.copy(path, RUN / path.name)
    # Quiet: the test VM's transcript costs file writes on the stop's path that are
    # no host's.
    service_log = make_app(RUN / "service app", "threads=2\nquiet=1\n")
    if not no_java:
        shutil.copytree(realvm.CLASSES, RUN / "classes")

    print(f"Preparing a Wine prefix ({PREFIX.relative_to(TOP)}) ...", flush=True)
    subprocess.run([WINESERVER, "-k"], env=ENV, stderr=subprocess.DEVNULL, check=False)
    shutil.rmtree(PREFIX, ignore_errors=True)
    LOG.unlink(missing_ok=True)
    keep_alive = None
    java = None
    idle = None
    try:
        boot()
        # Wine ends all service processes soon after the last ordinary process
        # exits: this one waits on its input for the whole run.
        keep_alive = subprocess.Popen([WINE, "cmd"], env=ENV, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        print(f"Timing {CYCLES} start/stop cycles of each service (after {WARMUP} warm-up, alternating) ...",
              flush=True)
        latency, reached, problems = service_latency(service_log)
        print(f"Sampling {RUNS} console runs of the host and of a minimal program ...", flush=True)
        console = console_figures()
        print(f"Writing {LOG_MIB} MiB of lines into the service's log, each way, and beside it ...", flush=True)
        log = log_throughput()
        print(f"Sampling the idle host for {IDLE_S:.0f} s as a service and in a console ...", flush=True)
        idle = idle_cost()
        if not no_java:
            print(f"Timing {JAVA_PAIRS} pairs of real Java VM starts, in the host and in a minimal launcher ...",
                  flush=True)
            java = java_start_figures()
    finally:
        if keep_alive is not None:
            keep_alive.stdin.close()
            keep_alive.wait(timeout=30)
        subprocess.run([WINESERVER, "-k"], env=ENV, check=False)
        subprocess.run([WINESERVER, "-w"], env=ENV, check=False)

    version = subprocess.run([WINE, "--version"], env=ENV, capture_output=True, text=True).stdout.strip()
    results = report(version or "Wine", latency, reached, problems, console, log, idle, java, no_java)
    RESULTS.parent.mkdir(parents=True, exist_ok=True)
    RESULTS.write_text(json.dumps(results, indent=2) + "\n")
    print(f"(also in {RESULTS.relative_to(TOP)})")
    print()
    print(f"bench: {time.monotonic() - started:.0f} s")


def summary(values, unit_digits=3):
    return {"median": round(statistics.median(values), unit_digits), "min": round(min(values), unit_digits),
            "max": round(max(values), unit_digits), "count": len(values)}


def report(wine_version, latency, reached, problems, console, log, idle, java, no_java):
    """Prints the table; the same figures as a dict for results.json."""
    results = {"wine": wine_version, "cycles": CYCLES, "warmup_cycles": WARMUP, "settle_ms": SETTLE_MS,
               "service_control_ms": {}, "host_runs_reaching_main": reached, "test_vm_faults": problems}
    print()
    print(f"Ostrel Server benchmarks: x86_64 build under {wine_version}, test VM as jvm.dll")
    print()
    print(f"Service control, ms: median [min-max] of {CYCLES} cycles each. Reference services: bare (STOPPED at")
    print("once on the stop control) and reporting (STOP_PENDING, then STOPPED: the host's reports)")
    print(f"  {'':32}{'host':>20}{'bare':>20}{'host/bare':>11}{'reporting':>20}{'host/rep.':>11}")
    rows = [("start: StartService -> RUNNING", "start"),
            ("stop: stop control -> STOPPED", "stop"),
            ("stop control -> process ended", "exit")]
    for label, what in rows:
        host, bare, pending = (latency[(name, what)] for name in SERVICES)
        to_bare = statistics.median(host) / statistics.median(bare)
        to_pending = statistics.median(host) / statistics.median(pending)
        print(f"  {label:32}{spread(host):>20}{spread(bare):>20}{to_bare:>10.2f}x{spread(pending):>20}"
              f"{to_pending:>10.2f}x")
        results["service_control_ms"][what] = {
            "host": summary(host), "reference_bare": summary(bare), "reference_reporting": summary(pending),
            "host_to_bare": round(to_bare, 3), "host_to_reporting": round(to_pending, 3)}
    print(f"  (polled every ~1 ms; each cycle stops {SETTLE_MS} ms after RUNNING; host runs that reached main: "
          f"{reached}/{WARMUP + CYCLES}, test VM violations and traps: {problems})")
    print()
    print(f"Console host (OstrelServer.exe execute), median [min-max] of {RUNS} runs")
    print(f"  CPU, process start -> main entered     {spread(console['host_cpu'], ' ms')}")
    print(f"  wall, process start -> main entered    {spread(console['host_wall'], ' ms')}")
    print(f"  peak working set, waiting after main   {spread(console['host_peak'], ' MiB', 2)}"
          f"  (current {statistics.median(console['host_ws']):.2f} MiB)")
    print(f"  baseline, a minimal program at rest:   CPU {spread(console['base_cpu'], ' ms')},"
          f" peak working set {spread(console['base_peak'], ' MiB', 2)}")
    print("  CPU: the process's own Linux CPU clock from the exec of Wine's loader, read while the test VM's")
    print("  main sleeps: includes Wine's process start-up and the test VM's (small) work, not wineserver's.")
    print("  Working set: GetProcessMemoryInfo as Wine reports it (the Linux resident set, Wine's own DLLs in).")
    results["console"] = {"runs": RUNS, "host_cpu_to_main_ms": summary(console["host_cpu"]),
                          "host_wall_to_main_ms": summary(console["host_wall"]),
                          "host_peak_working_set_mib": summary(console["host_peak"]),
                          "host_working_set_mib": summary(console["host_ws"]),
                          "baseline_cpu_ms": summary(console["base_cpu"]),
                          "baseline_peak_working_set_mib": summary(console["base_peak"])}
    print()
    print(f"Output log, MiB/s of {LOG_MIB} MiB in 100-byte lines (one run each; Wine's figures: every pipe write")
    print("is a round trip to Wine's server, where on Windows it costs about what a file write does)")
    print(f"  service log, standard output handle    {log['handle']:8.2f}   (a WriteFile per line)")
    print(f"  service log, msvcrt's stderr           {log['stderr']:8.2f}   (an fwrite per line, buffered)")
    print(f"  beside it: straight into a file        {log['file']:8.2f}   (a WriteFile per line)")
    print(f"  beside it: a pipe, a thread to a file  {log['pipe']:8.2f}   (the floor of a log behind a pipe)")
    print(f"  service log through the handle / pipe floor: {log['handle'] / log['pipe']:.2f}")
    results["output_log_mib_per_s"] = {key: round(value, 3) for key, value in log.items()}
    print()
    print(f"Idle host, the stand-in VM without threads, {IDLE_S:.0f} s (the Wine process, from /proc)")
    print(f"  {'':24}{'context switches/s':>20}{'CPU ms/s':>10}{'threads':>9}")
    for way in ("service", "console"):
        switches, cpu, threads = idle[way]
        print(f"  {way + (' (with its log)' if way == 'service' else ''):24}{switches:>20.1f}{cpu:>10.2f}{threads:>9}")
    results["idle"] = {way: {"context_switches_per_s": round(v[0], 2), "cpu_ms_per_s": round(v[1], 3),
                             "threads": v[2]} for way, v in idle.items()}
    print()
    if java is None:
        print(f"Real Java VM: not measured ({no_java})")
    else:
        differences = [h - l for h, l in zip(*java)]
        q1, median, q3 = quartiles(differences)
        print(f"Real Java VM (Avian): process start -> the application's first line, median [min-max] of"
              f" {JAVA_PAIRS} interleaved pairs")
        print(f"  host (OstrelServer.exe execute)        {spread(java[0], ' ms')}")
        print(f"  minimal launcher (bench/javalaunch)    {spread(java[1], ' ms')}")
        print(f"  the host's share, host - launcher      {median:.1f} ms median of the pairs' differences,"
              f" quartiles {q1:.1f} .. {q3:.1f} ms")
        print("  Most of a start is the VM's own (it compiles its class library's code as it goes) and Wine's.")
        print("  Each pair runs back to back, so the difference of a pair sees the machine in one state.")
        results["real_vm_start_ms"] = {"host": summary(java[0]), "launcher": summary(java[1]),
                                       "pairs": JAVA_PAIRS,
                                       "host_minus_launcher": {"median": round(median, 3), "q1": round(q1, 3),
                                                               "q3": round(q3, 3)}}
    print()
    print("Executables (stripped, static)")
    results["executables"] = {}
    for arch in ("i686", "x86_64"):
        exe = TOP / "build" / arch / "OstrelServer.exe"
        size, dlls = imports(exe, f"{arch}-w64-mingw32-objdump")
        shown = f"{size:>8} bytes  imports {', '.join(dlls)}" if size is not None else "  (not built)"
        print(f"  {'build/' + arch + '/OstrelServer.exe':31}{shown}")
        results["executables"][f"build/{arch}/OstrelServer.exe"] = {"bytes": size, "imports": dlls}
    print()
    return results

main()
