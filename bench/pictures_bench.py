"""Times the JPEG encoder against cjpeg and Stretch against Pillow on the same pixels.

Called by bench/run-pictures.sh with the build folder and the desktop picture. Each figure is the
median of several runs; the references are measured in the same run, interleaved with ours.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

REPEATS = 11


def wall(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000.0


def interleaved(ours, reference, repeats):
    """Medians (ms) of two callables run alternately."""
    mine, theirs = [], []
    for _ in range(repeats):
        mine.append(ours())
        theirs.append(reference())
    return statistics.median(mine), statistics.median(theirs)


def report(name, ours, reference, goal, reference_name):
    ratio = ours / reference
    verdict = "ok" if ratio <= goal else "ABOVE GOAL"
    print(f"{name:<44} ours {ours:8.2f} ms   {reference_name} {reference:8.2f} ms   "
          f"ratio {ratio:5.2f}  (goal <= {goal})  {verdict}")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    build, picture = sys.argv[1], sys.argv[2]
    jpeg_bench = os.path.join(build, "bench", "codecs", "jpeg_bench")
    stretch_bench = os.path.join(build, "bench", "imaging", "stretch_bench")
    with tempfile.TemporaryDirectory(prefix="glimmerly-bench-") as tmp:
        desktop = Image.open(picture).convert("RGB")
        desktop_ppm = os.path.join(tmp, "desktop.ppm")
        desktop.save(desktop_ppm)
        noise_ppm = os.path.join(tmp, "noise.ppm")
        subprocess.run([jpeg_bench, "noise", noise_ppm, str(desktop.width),
                        str(desktop.height), "1"], check=True)
        ours_jpg = os.path.join(tmp, "ours.jpg")
        ref_jpg = os.path.join(tmp, "cjpeg.jpg")
        print(f"picture: {picture} ({desktop.width}x{desktop.height})")

        # One encode at quality 60: Encode() on the picture in memory (as the upload job does)
        # against a cjpeg run on the same pixels. The cjpeg figure includes its start and the
        # reading of the PPM; the whole-process figure of ours (reading the PPM into a BGR
        # picture, encoding, writing) is shown beside it.
        encode_ms, process_ms, cjpeg_ms = [], [], []
        size = 0
        for _ in range(REPEATS):
            out = subprocess.run([jpeg_bench, "encode", desktop_ppm, "60", "5"], check=True,
                                 capture_output=True, text=True).stdout.split()
            encode_ms.append(float(out[0]))
            size = int(out[1])
            process_ms.append(wall([jpeg_bench, "file", desktop_ppm, "60", ours_jpg]))
            cjpeg_ms.append(wall(["cjpeg", "-quality", "60", "-baseline", "-outfile", ref_jpg,
                                  desktop_ppm]))
        ref = statistics.median(cjpeg_ms)
        report("JPEG q60 desktop, one Encode()", statistics.median(encode_ms), ref, 1.05,
               "cjpeg")
        same = read(ours_jpg) == read(ref_jpg)
        print(f"  whole process (read PPM + encode + write): {statistics.median(process_ms):.2f} ms"
              f" (ratio {statistics.median(process_ms) / ref:.2f}); {size} bytes; "
              f"bytes identical to cjpeg: {'yes' if same else 'NO'}")

        # The worst-case size loop: qualities 60, 56, ..., 4 on seeded noise.
        qualities = list(range(60, 0, -4))

        def cjpeg_loop():
            start = time.perf_counter()
            for q in qualities:
                subprocess.run(["cjpeg", "-quality", str(q), "-baseline", "-outfile", ref_jpg,
                                noise_ppm], check=True)
            return (time.perf_counter() - start) * 1000.0

        sizes = []

        def ours_loop():
            start = time.perf_counter()
            result = subprocess.run([jpeg_bench, "sizeloop", noise_ppm, ours_jpg], check=True,
                                    capture_output=True, text=True)
            elapsed = (time.perf_counter() - start) * 1000.0
            sizes[:] = [int(line.split()[1]) for line in result.stdout.splitlines()]
            return elapsed

        ours, ref = interleaved(ours_loop, cjpeg_loop, repeats=5)
        report(f"JPEG size loop on noise ({len(qualities)} encodes+writes)", ours, ref, 1.1,
               "cjpeg")
        print(f"  smallest file {min(sizes)} bytes (limit 307200: "
              f"{'stays above' if min(sizes) > 307200 else 'NOT above'}); last file identical "
              f"to cjpeg: {'yes' if read(ours_jpg) == read(ref_jpg) else 'NO'}")

        # Stretch: the monitor strip and a Lanczos halving.
        left = desktop.crop((0, 0, min(1920, desktop.width), min(1080, desktop.height)))
        left.load()

        def pillow(run):
            times = []
            for _ in range(REPEATS):
                start = time.perf_counter()
                run()
                times.append((time.perf_counter() - start) * 1000.0)
            return statistics.median(times)

        for variant, env in (("", {}), (" [SSE2 only]", {"STRETCH_BASELINE_VECTORS": "1"})):
            result = subprocess.run([stretch_bench, desktop_ppm, str(REPEATS)], check=True,
                                    capture_output=True, text=True,
                                    env=dict(os.environ, **env)).stdout
            ours = dict((k, float(v)) for k, v in (line.split() for line in result.splitlines()))
            strip_ref = pillow(lambda: desktop.resize((100, 40), Image.BOX))
            lanczos_ref = pillow(lambda: left.resize((left.width // 2, left.height // 2),
                                                     Image.LANCZOS))
            report(f"Stretch strip 100x40 Box support 100{variant}", ours["strip"], strip_ref,
                   1.5, "Pillow")
            report(f"Stretch 1920x1080->960x540 Lanczos3{variant}", ours["lanczos"],
                   lanczos_ref, 1.5, "Pillow")


if __name__ == "__main__":
    main()
