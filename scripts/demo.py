"""The demo behind `make demo`: the host runs a real Java application (the test
application of tests/javaapp on the Avian VM, tests/e2e/realvm.py) under Wine,
first in a console, then as a service. Without the real VM it shows the host
with the stand-in test VM instead, and says so."""

import os
import shutil
import sys
import time
from pathlib import Path

TOP = Path(sys.argv[1]).resolve()
sys.path.insert(0, str(TOP / "tests" / "e2e"))

import realvm  # noqa: E402
import scm  # noqa: E402
from scm import ScmClient  # noqa: E402
from winehost import BUILD_DIR, Background, WineSession, WorkDir, fold, wait_for, win_path  # noqa: E402

DEMO = BUILD_DIR / "demo"
SCMCLIENT = BUILD_DIR / "scmclient" / "scmclient.exe"
PARAMETERS_KEY = "HKLM\\" + scm.PARAMETERS_KEY
EVENT_SOURCE_KEY = "HKLM\\" + scm.EVENT_SOURCE_KEY


def say(text=""):
    print(text, flush=True)


def step(text):
    say()
    say(f"--- {text}")


def show(command, output):
    say(f"C:\\> {command}")
    for line in fold(output).rstrip("\n").split("\n"):
        say(f"    {line}")


def quoted(args):
    return " ".join(f'"{a}"' if " " in a else a for a in args)


class RealJava:
    """The test application on the real VM; a client asks its server."""
    kind = "the Java test application on a real Java VM (Avian)"

    def __init__(self, folder, *args):
        self.app = realvm.JavaApp.install(folder)
        self.workdir = self.app.workdir
        self.args = list(args)
        # A shutdown hook, as a server has one: a stop runs it.
        self.entries = self.app.entries(*args, hook="500")

    def started(self, host=None):
        if host is not None:
            host.wait_for_output("FileServer: main returns\n")
            return True
        return wait_for(self.app.listening, 20)

    def evidence(self):
        say(f"  A client on Linux connects to 127.0.0.1:{self.app.port} and asks for two system properties:")
        answer = self.app.ask(realvm.PORT_PROPERTY, "java.class.path", wait=True)
        args = ["".join(map(chr, arg)) for arg in answer["args"]]
        say(f"    arguments  {args}")
        for name, value in answer["properties"].items():
            say(f"    {name} = {value}")
        say(f"    user.dir   {answer['cwd']}")
        say(f"    threads    {', '.join(name or '(unnamed)' for name in answer['threads'])}")

    def ended(self):
        self.app.assert_closed()
        say(f"  Port {self.app.port} is closed: the Java server ended with the host's process.")


class StandIn:
    """The stand-in test VM (tests/testvm); its transcript is the evidence."""
    kind = "the stand-in test VM (no real Java VM here)"
    SHOWN = ("create", "option", "main-args", "main-arg", "app-threads", "main-returned", "system-exit", "violation",
             "trap")

    def __init__(self, folder, *args):
        self.workdir = WorkDir(folder, BUILD_DIR / "testvm" / "jvm.dll", {"threads": 2})
        self.args = list(args)
        self.entries = ["-Xmx64m", "-Dapp.mode=demo", self.workdir.entry, *args]

    def started(self, host=None):
        return wait_for(lambda: self.workdir.transcript().has("main-returned"), 20)

    def evidence(self):
        say("  The test VM's transcript (what the host asked of the Java VM):")
        for line in self.workdir.transcript().lines:
            if line[0] in self.SHOWN:
                say("    " + "  ".join(line))

    def ended(self):
        say("  The VM library stayed loaded to the end: " + "  ".join(self.workdir.transcript().lines[-1]))


class Demo:
    def __init__(self, session, app_type):
        self.session = session
        self.app_type = app_type

    def run(self, exe, *args):
        proc = self.session.popen(exe, [str(a) for a in args])
        out, err = proc.communicate(timeout=60)
        errors = [line for line in err.decode("utf-8", "replace").splitlines() if ":err:" in line]
        return out.decode("utf-8", "replace") + "".join(e + "\n" for e in errors)

    def console(self, exe):
        step("Console mode: the host runs the application in this console until Ctrl-C")
        app = self.app_type(DEMO / "console app", "input.txt", "--verbose")
        say(f"C:\\> OstrelServer.exe execute {quoted(app.entries)}")
        host = Background(self.session.popen(exe, ["execute", *app.entries]))
        if not app.started(host):
            host.kill()
            raise SystemExit(f"demo: the application did not start: {host.stdout()!r}")
        time.sleep(0.5)  # the host registers its console handler right after main returns
        printed = 0

        def echo(output):
            nonlocal printed
            for line in output[printed:].splitlines():
                say(f"    {line}")
            printed = len(output)

        echo(host.stdout())
        app.evidence()
        time.sleep(0.2)  # the application's line about it
        echo(host.stdout())
        say("  Ctrl-C: the host ends the application as Java ends (System.exit: its shutdown hook runs), then the process.")
        host.interrupt()
        result = host.finish(timeout=20)
        echo(result.stdout)
        say(f"  The host ended with exit code {result.returncode}.")
        app.ended()

    def service(self, exe):
        step("Service mode: install, start, stop, remove")
        app = self.app_type(DEMO / "service app", "input.txt")
        # A path with a blank: the service is registered with its path quoted.
        installed = DEMO / "Program Files" / "Ostrel" / "OstrelServer.exe"
        installed.parent.mkdir(parents=True, exist_ok=True)
        installed.write_bytes(exe.read_bytes())
        options = "|".join(app.entries)
        say("  install stores the launch entries, joined by |, in the registry and registers the service:")
        show(f'"{win_path(installed)}" install "{options}"', self.run(installed, "install", options))
        show(f"reg query {PARAMETERS_KEY}", self.run("reg", "query", PARAMETERS_KEY))
        show(f"reg query {EVENT_SOURCE_KEY}", self.run("reg", "query", EVENT_SOURCE_KEY))
        say("  sc start: the service manager starts the host, which creates the VM and calls main:")
        show("sc start OstrelServer", self.run("sc", "start", "OstrelServer"))
        if not app.started():
            raise SystemExit("demo: the service did not start the application")
        show("sc query OstrelServer", self.run("sc", "query", "OstrelServer"))
        app.evidence()
        say("  sc stop: the application ends as Java ends (its shutdown hook runs); the host reports STOPPED:")
        show("sc stop OstrelServer", self.run("sc", "stop", "OstrelServer"))
        stopped = wait_for(lambda: "STOPPED" in (out := self.run("sc", "query", "OstrelServer")) and out, 20)
        show("sc query OstrelServer", stopped or "(not stopped after 20 s)")
        app.ended()
        say("  The service's output log in its working directory: what the application wrote, and the host's lines:")
        log = app.workdir.output_log
        show(f'type "{win_path(log)}"', log.read_text("utf-8", "replace") if log.exists() else "(no log)")
        say("  remove stops the service if it runs, then deletes it:")
        show(f'"{win_path(installed)}" remove', self.run(installed, "remove"))


def main():
    exe = BUILD_DIR / "OstrelServer.exe"
    problem = realvm.missing()
    needed = [exe, SCMCLIENT] + ([BUILD_DIR / "testvm" / "jvm.dll"] if problem else
                                 [realvm.AVIAN_DLL, realvm.CLASSES])
    if not all(path.exists() for path in needed):
        raise SystemExit("demo: build first (make build)")
    app_type = StandIn if problem else RealJava
    if problem:
        say(f"demo: no real Java VM ({problem}): the stand-in test VM stands in for it.")
    say(f"Ostrel Server under Wine, with {app_type.kind}.")
    for folder in ("console app", "service app"):
        shutil.rmtree(DEMO / folder, ignore_errors=True)
    session = WineSession(DEMO, {"WINEDEBUG": os.environ.get("OSTREL_DEMO_WINEDEBUG", "-all,err+eventlog")})
    fresh = not session.prefix.exists()
    say("Preparing the demo's Wine prefix" + (" (a new one takes from a few seconds to about a minute) ..." if fresh else " ..."))
    started = time.monotonic()
    session.start()
    say(f"  ready in {time.monotonic() - started:.0f} s")
    # Wine ends its service processes soon after the last ordinary process
    # exits: one sleeps for the whole demo.
    keep_alive = session.popen(SCMCLIENT, ["sleep"])
    try:
        # A service an interrupted demo left behind would start with the prefix.
        ScmClient(session, SCMCLIENT).remove_service()
        demo = Demo(session, app_type)
        demo.console(exe)
        demo.service(exe)
    finally:
        keep_alive.kill()
        keep_alive.wait()
        session.stop()
    say()
    say("Demo finished.")


main()
