#!/usr/bin/python3
"""Times Print to upload on a headless sway session, on both grab routes, against a floor
measured in the same run. Started by bench/wayland/run-wayland.sh.

Every round types Print with wtype and ends when the upload's last byte has reached the
receiver on the upload port (which answers at once). Three kinds of rounds, each on the whole
layout (2304x768, the benchmark picture as the outputs' background):
  floor:  sway's Print binding runs  grim -t ppm - | cjpeg -quality 60 | curl -F ...
          (one grab, one encode, one POST, no Glimmerly);
  grim:   Glimmerly with the grim route, "Nur aktives Fenster speichern" unticked;
  portal: Glimmerly with the portal route, likewise; and the portal's own share, timed by a
          small in-session caller from its call to the answer.

Arguments: GLIMMERLY ROUNDS UPLOAD_PORT [PICTURE]
"""
import os
import shutil
import statistics
import sys
import time

TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(TOP, "tests", "wayland"))
sys.path.insert(0, os.path.join(TOP, "bench", "road"))
from road_bench import Receiver, jpeg_dimensions  # noqa: E402
from sway_session import LAYOUT, wait_until  # noqa: E402
from wayland_road import new_session, own_loopback, set_options, start_glimmerly  # noqa: E402

WARMUP = 2
SETTLE = 0.5  # seconds of quiet before each press
LIMIT = 307200

FLOOR = ("grim -t ppm - | cjpeg -quality 60 >/tmp/floor.jpg && "
         "curl -s -o /dev/null -F filename=screen.jpg -F version=3.2 -F screenshotname=floor "
         "-F sessionname= -F screenshot=@/tmp/floor.jpg http://127.0.0.1:%d/upload.php")


def rounds(name, session, receiver, count):
    times, sizes = [], []
    for _ in range(WARMUP + count):
        time.sleep(SETTLE)
        seen = len(receiver.done)
        pressed = time.monotonic()
        session.key("Print")
        last, jpeg = receiver.wait(seen)
        if jpeg_dimensions(jpeg) != LAYOUT:
            sys.exit("%s: the JPEG is %dx%d, not the whole layout" % ((name,)
                                                                      + jpeg_dimensions(jpeg)))
        if len(jpeg) > LIMIT:
            sys.exit("%s: %d bytes, over the upload limit" % (name, len(jpeg)))
        times.append((last - pressed) * 1000)
        sizes.append(len(jpeg))
    times, sizes = times[WARMUP:], sizes[WARMUP:]
    print("%-6s ms: %s" % (name, " ".join("%.0f" % t for t in times)), flush=True)
    return statistics.median(times), statistics.median(sizes)


def portal_alone(session, count):
    """The portal's own share: a small in-session caller, from its call to the answer."""
    times = []
    # A copy the session's user can reach (the session's own /tmp hides a tree under /tmp).
    caller = session.install(os.path.join(TOP, "tests", "wayland", "portal_shot.py"))
    for _ in range(WARMUP + count):
        log = session.exec("/usr/bin/python3 %s" % caller)
        wait_until(lambda: session.exit_status(log) is not None, 20, "the portal caller")
        fields = session.output(log).split()
        if fields[:2] != ["response", "0"]:
            sys.exit("portal caller: %r" % session.output(log))
        times.append(float(fields[3]))
    times = times[WARMUP:]
    print("%-6s ms: %s" % ("call", " ".join("%.0f" % t for t in times)), flush=True)
    return statistics.median(times)


def session_with(program, picture):
    session = new_session(program)
    session.start()
    if picture:
        name = "desktop" + os.path.splitext(picture)[1]
        shutil.copy(picture, session.path("tmp", name))
        os.chmod(session.path("tmp", name), 0o644)
        session.swaymsg("output * bg /tmp/%s fill" % name)
    return session


def main():
    program, count, port = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    picture = sys.argv[4] if len(sys.argv) > 4 else None
    own_loopback()
    receiver = Receiver(port)
    receiver.start()
    results = {}
    for route in ("grim", "portal"):
        session = session_with(program, picture)
        try:
            if route == "grim":
                session.swaymsg("bindsym --no-warn Print exec " + session.script(FLOOR % port))
                results["floor"] = rounds("floor", session, receiver, count)
                session.swaymsg("bindsym --no-warn Print exec %s --capture" % session.program)
            else:
                results["call"] = portal_alone(session, count)
            start_glimmerly(session, route)
            set_options(session, whole_layout=True)
            results[route] = rounds(route, session, receiver, count)
        finally:
            session.stop()

    floor_ms, floor_size = results["floor"]
    print("layout %dx%d, %d rounds each (after %d warm-up rounds)" % (LAYOUT + (count, WARMUP)))
    for name in ("floor", "grim", "portal"):
        ms, size = results[name]
        print("%-6s median %6.1f ms, JPEG %6d bytes, ratio to floor %.2f"
              % (name, ms, size, ms / floor_ms))
    print("the portal's call alone (grab and its PNG file, no upload): median %.1f ms"
          % results["call"])


if __name__ == "__main__":
    main()
