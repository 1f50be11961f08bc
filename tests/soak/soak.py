#!/usr/bin/env python3
"""Random input to the real window, to find what no planned test thought of.

Starts the program (the sanitizer build by default) on a copy of a document inside a
private X server, then clicks, right-clicks, shift-drags, presses keys and types text at
random until the time is up. Message boxes, menus and file dialogs get the same random
input, so they are answered at random too. A run that dies (a sanitizer report, a crash)
is counted, its report and the last actions are kept, and the program is started again.

Not part of the test command: it is random by design. Run it by hand:

    python3 tests/soak/soak.py --minutes 10 [--build build/asan] [--seed N] [DOCUMENT]

Everything the program writes (settings, cache, saved files) stays in a scratch folder;
typed text never holds a slash, so a file dialog cannot reach outside it.
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

KEYS = [
    "Return", "Escape", "Tab", "shift+Tab", "Delete", "BackSpace", "space", "Up", "Down", "Left",
    "Right", "Home", "End", "Prior", "Next", "F2", "F3", "F7", "F8", "shift+F8", "shift+F10", "Menu",
    "ctrl+z", "ctrl+y", "ctrl+c", "ctrl+v", "ctrl+x", "ctrl+a", "ctrl+f", "ctrl+h", "ctrl+l", "ctrl+s",
    "ctrl+o", "ctrl+shift+z", "alt+o", "alt+c", "alt+y", "alt+n", "plus", "minus", "asterisk",
]
TEXT = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789 _-.:<>=\"'&;#"


def free_display():
    for n in range(91, 140):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return n
    sys.exit("no free X display number")


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.scratch = tempfile.mkdtemp(prefix="treelark-soak-")
        self.display = f":{free_display()}"
        self.env = dict(os.environ, DISPLAY=self.display, HOME=self.scratch,
                        XDG_CONFIG_HOME=os.path.join(self.scratch, "config"),
                        XDG_CACHE_HOME=os.path.join(self.scratch, "cache"),
                        XDG_DATA_HOME=os.path.join(self.scratch, "data"),
                        QT_QPA_PLATFORM="xcb",
                        ASAN_OPTIONS="detect_leaks=0:abort_on_error=1",
                        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")
        self.actions = 0
        self.starts = 0
        self.deaths = []
        self.recent = []
        self.proc = None
        self.log = None

    def xdo(self, *words):
        subprocess.run(["xdotool", *words], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=10)

    def start_program(self):
        doc = os.path.join(self.scratch, "docs", os.path.basename(self.args.document))
        os.makedirs(os.path.dirname(doc), exist_ok=True)
        shutil.copyfile(self.args.document, doc)
        self.starts += 1
        self.log_path = os.path.join(self.scratch, f"run{self.starts}.log")
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen([self.args.program, doc], env=self.env, cwd=os.path.dirname(doc),
                                     stdout=self.log, stderr=subprocess.STDOUT)
        time.sleep(3 if self.starts == 1 else 1.5)

    def check_program(self):
        code = self.proc.poll()
        if code is None:
            return
        self.log.close()
        text = open(self.log_path, errors="replace").read()
        died = code < 0 or code >= 128 or "ERROR: AddressSanitizer" in text or "runtime error:" in text
        if died:
            kept = os.path.join(self.args.out, f"death{len(self.deaths) + 1}.txt")
            with open(kept, "w") as f:
                f.write(f"exit {code}, seed {self.args.seed}, after action {self.actions}\n")
                f.write("last actions:\n  " + "\n  ".join(self.recent[-40:]) + "\n\n" + text)
            self.deaths.append(kept)
            print(f"  death {len(self.deaths)}: exit {code}; report in {kept}", flush=True)
        self.start_program()

    def act(self):
        r = self.rng.random()
        x, y = self.rng.randrange(0, self.args.width), self.rng.randrange(0, self.args.height)
        if r < 0.30:
            what = ["mousemove", str(x), str(y), "click", "1"]
        elif r < 0.38:
            what = ["mousemove", str(x), str(y), "click", "--repeat", "2", "1"]
        elif r < 0.50:
            what = ["mousemove", str(x), str(y), "click", "3"]
        elif r < 0.58:
            x2, y2 = x + self.rng.randint(-200, 200), y + self.rng.randint(-200, 200)
            mod = self.rng.choice(["", "shift", "ctrl"])
            what = ["mousemove", str(x), str(y)] + (["keydown", mod] if mod else []) + [
                "mousedown", "1", "mousemove", "--sync", str(max(0, x2)), str(max(0, y2)), "mouseup", "1"] + (
                ["keyup", mod] if mod else [])
        elif r < 0.85:
            what = ["key", self.rng.choice(KEYS)]
        else:
            text = "".join(self.rng.choice(TEXT) for _ in range(self.rng.randint(1, 12)))
            what = ["type", "--delay", "5", text]
        self.recent.append(" ".join(what))
        del self.recent[:-200]
        self.xdo(*what)
        self.actions += 1
        time.sleep(self.rng.uniform(0.02, 0.15))

    def run(self):
        os.makedirs(self.args.out, exist_ok=True)
        xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", f"{self.args.width}x{self.args.height}x24",
                                 "-nolisten", "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(1)
            self.start_program()
            end = time.time() + self.args.minutes * 60
            while time.time() < end:
                self.act()
                if self.actions % 10 == 0:
                    self.check_program()
            self.check_program()
        finally:
            if self.proc and self.proc.poll() is None:
                self.proc.send_signal(signal.SIGKILL)
            xvfb.terminate()
            shutil.rmtree(self.scratch, ignore_errors=True)
        print(f"seed {self.args.seed}: {self.actions} actions in {self.args.minutes:g} min, "
              f"{self.starts} program starts, {len(self.deaths)} deaths")
        return 1 if self.deaths else 0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("document", nargs="?", help="default: a generated configuration document of about 60 KB")
    p.add_argument("--minutes", type=float, default=10)
    p.add_argument("--build", default=os.path.join(root, "build", "asan"))
    p.add_argument("--seed", type=int, default=random.SystemRandom().randrange(1 << 31))
    p.add_argument("--out", default=os.path.join(root, "build", "soak"))
    p.add_argument("--width", type=int, default=1024)
    p.add_argument("--height", type=int, default=768)
    args = p.parse_args()
    args.program = os.path.join(args.build, "mainwindow", "quenmoor")
    if not os.access(args.program, os.X_OK):
        sys.exit(f"{args.program} is not built (bash scripts/build.sh asan)")
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing (apt-get install xvfb xdotool)")
    soak = Soak(args)
    if not args.document:
        args.document = os.path.join(soak.scratch, "config.xml")
        subprocess.run([sys.executable, os.path.join(root, "bench", "gen_config.py"), "--size-mb", "0.06",
                        "--seed", str(args.seed), "-o", args.document], check=True)
    sys.exit(soak.run())


if __name__ == "__main__":
    main()
