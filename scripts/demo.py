"""The demo behind `make demo`: the console host and the service lifecycle under Wine."""

import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

TOP = Path(sys.argv[1])
BUILD = TOP / "build" / "x86_64"
DEMO = BUILD / "demo"
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"

ENV = dict(os.environ)
ENV.pop("DISPLAY", None)
ENV.update(WINEPREFIX=str(DEMO / "prefix"), WINELOADER=WINE, WINEDLLOVERRIDES="mscoree,mshtml=",
           WINEDEBUG=os.environ.get("OSTREL_DEMO_WINEDEBUG", "-all,err+eventlog"))


def win(path):
    return "Z:" + str(path).replace("/", "\\")


def say(text=""):
    print(text, flush=True)


def heading(text):
    say()
    say(f"=== {text}")


def show(command, output):
    say(f"C:\\> {command}")
    for line in output.replace("\r\n", "\n").rstrip("\n").split("\n"):
        say(f"    {line}")


def wine(*args, timeout=60):
    result = subprocess.run([WINE, *args], env=ENV, stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=timeout)
    errors = [line for line in result.stderr.decode("utf-8", "replace").splitlines() if ":err:" in line]
    return result.returncode, result.stdout.decode("utf-8", "replace") + "".join(e + "\n" for e in errors)


def transcript(workdir):
    log = workdir / "jre1.6.0" / "bin" / "client" / "testvm.log"
    return log.read_text("utf-8", "replace").splitlines() if log.exists() else []


def wait_for_line(workdir, first_field, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if any(line.split("\t")[0] == first_field for line in transcript(workdir)):
            return True
        time.sleep(0.1)
    return False


def show_evidence(workdir):
    say("  The test VM's transcript (what the host asked of the Java VM):")
    for line in transcript(workdir):
        kind = line.split("\t")[0]
        if kind in ("create", "option", "main-args", "main-arg", "app-threads", "main-returned",
                    "violation", "trap", "unload", "process-exit"):
            say("    " + line.replace("\t", "  "))


def make_app(folder):
    client = folder / "jre1.6.0" / "bin" / "client"
    client.mkdir(parents=True)
    shutil.copy(BUILD / "testvm" / "jvm.dll", client / "jvm.dll")
    (client / "testvm.ini").write_text("threads=2\n")
    return folder


def boot():
    (DEMO / "prefix").mkdir(parents=True, exist_ok=True)
    with open(DEMO / "wine.log", "ab") as log:
        subprocess.run([WINESERVER, "-p"], env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=log, check=False)
        # No "-i": the first process runs "wineboot --init" by itself, and a
        # second init starts a second service manager.
        subprocess.run([WINE, "wineboot"], env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=log, check=True, timeout=300)


def console_demo(exe):
    heading("Console mode: OstrelServer execute")
    app = make_app(DEMO / "console app")
    args = ["execute", "-Xmx256m", "/Dapp.mode=console", f"wrkdir={win(app)}", "input.txt", "--verbose"]
    say("C:\\> OstrelServer.exe " + " ".join(f'"{a}"' if " " in a else a for a in args))
    proc = subprocess.Popen([WINE, str(exe), *args], env=ENV, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    say("    " + proc.stdout.readline().decode().rstrip())
    if not wait_for_line(app, "main-returned"):
        proc.kill()
        raise SystemExit("demo: the application did not start")
    time.sleep(0.5)  # the host registers its console handler right after main returns
    show_evidence(app)
    say("  Sending Ctrl-C ...")
    proc.send_signal(signal.SIGINT)
    rest, _ = proc.communicate(timeout=20)
    for line in rest.decode().replace("\r\n", "\n").splitlines():
        say("    " + line)
    say(f"  The host stopped cleanly: exit code {proc.returncode}; the VM library stayed loaded to the end:")
    say("    " + transcript(app)[-1])


def service_demo(exe):
    heading("Service mode: install, start, status, stop, remove")
    app = make_app(DEMO / "service app")
    # A path with a blank: the service is registered with its path quoted.
    installed = DEMO / "Program Files" / "Ostrel" / "OstrelServer.exe"
    installed.parent.mkdir(parents=True)
    shutil.copy(exe, installed)
    options = f"-Xmx256m|-Dapp.mode=service|wrkdir={win(app)}|input.txt"
    show(f'"{win(installed)}" install "{options}"', wine(str(installed), "install", options)[1])
    key = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\OstrelServer"
    show(f"reg query {key} /v ImagePath", wine("reg", "query", key, "/v", "ImagePath")[1])
    show(f"reg query {key}\\Parameters", wine("reg", "query", key + "\\Parameters")[1])
    source = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\OstrelServer"
    show(f"reg query {source}", wine("reg", "query", source)[1])
    show("sc start OstrelServer", wine("sc", "start", "OstrelServer")[1])
    if not wait_for_line(app, "main-returned"):
        raise SystemExit("demo: the service did not start the application")
    show("sc query OstrelServer", wine("sc", "query", "OstrelServer")[1])
    show_evidence(app)
    show("sc stop OstrelServer", wine("sc", "stop", "OstrelServer")[1])
    for _ in range(100):
        out = wine("sc", "query", "OstrelServer")[1]
        if "STOPPED" in out:
            break
        time.sleep(0.1)
    show("sc query OstrelServer", out)
    show(f'"{win(installed)}" remove', wine(str(installed), "remove")[1])


def main():
    exe = BUILD / "OstrelServer.exe"
    if not exe.exists() or not (BUILD / "testvm" / "jvm.dll").exists():
        raise SystemExit("demo: build first (make build)")
    shutil.rmtree(DEMO, ignore_errors=True)
    say("Preparing a Wine prefix for the demo (the first boot takes a few seconds) ...")
    keep_alive = None
    try:
        boot()
        # Wine ends its system and service processes soon after the last
        # ordinary process exits: one waits on its input for the whole demo.
        keep_alive = subprocess.Popen([WINE, "cmd"], env=ENV, stdin=subprocess.PIPE,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        console_demo(exe)
        service_demo(exe)
    finally:
        if keep_alive is not None:
            keep_alive.stdin.close()
            keep_alive.wait(timeout=30)
        subprocess.run([WINESERVER, "-k"], env=ENV, check=False)
    say()
    say("Demo finished.")


main()
