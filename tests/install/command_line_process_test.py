#!/usr/bin/python3
"""The programs' command lines as a user meets them, with no display at all: --help and
--version work, a bad argument exits 2 with the usage text, and glimmerly without a display
says in German that it needs a graphical desktop and exits 1 (no abort, no core dump).
Arguments: the glimmerly and glimmerly-service binaries."""
import os
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(args, env):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=20)


def main():
    glimmerly, service = sys.argv[1], sys.argv[2]
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    runtime = tempfile.mkdtemp(prefix="glimmerly-cli-")
    os.chmod(runtime, 0o700)
    env["XDG_RUNTIME_DIR"] = runtime

    r = run([glimmerly, "--help"], env)
    check(r.returncode == 0 and r.stdout.startswith("Aufruf: glimmerly") and "--capture" in r.stdout,
          "--help: %d %r" % (r.returncode, r.stdout))
    r = run([glimmerly, "--version"], env)
    check(r.returncode == 0 and r.stdout == "glimmerly 3.2\n", "--version: %r" % r.stdout)
    for bad in (["--bogus"], ["--capture", "x"], ["-display", ":0"]):
        r = run([glimmerly] + bad, env)
        check(r.returncode == 2, "%r exits %d" % (bad, r.returncode))
        check("unbekanntes" in r.stderr and "Aufruf: glimmerly" in r.stderr,
              "%r error text: %r" % (bad, r.stderr))
        check(r.stdout == "", "%r writes to the output" % bad)

    for args in ([glimmerly], [glimmerly, "--capture"]):
        r = run(args, env)
        check(r.returncode == 1, "%r without a display exits %d" % (args, r.returncode))
        check("grafische Arbeitsumgebung" in r.stderr, "no German message: %r" % r.stderr)
        check("qt." not in r.stderr.lower() and "abort" not in r.stderr.lower(),
              "the toolkit got to start: %r" % r.stderr)
    # An unreachable display is the same as none.
    env_bad = dict(env, DISPLAY=":99999")
    r = run([glimmerly], env_bad)
    check(r.returncode == 1 and "grafische Arbeitsumgebung" in r.stderr,
          "unreachable display: %d %r" % (r.returncode, r.stderr))

    r = run([service, "--version"], env)
    check(r.returncode == 0 and r.stdout == "glimmerly-service 3.2\n", "service --version: %r" % r.stdout)
    r = run([service, "--help"], env)
    check(r.returncode == 0 and "--data DIR" in r.stdout, "service --help: %r" % r.stdout)
    r = run([service, "--bogus"], env)
    check(r.returncode == 2, "service --bogus exits %d" % r.returncode)

    shutil.rmtree(runtime, ignore_errors=True)
    if failures:
        for f in failures:
            print("FAIL:", f)
        sys.exit(1)
    print("PASS")


if __name__ == "__main__":
    main()
