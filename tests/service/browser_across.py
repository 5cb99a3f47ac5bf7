#!/usr/bin/python3
"""The live session page across two service instances on one database, in headless Chromium:
with the page open on instance B, an upload and a rename on instance A appear on it without a
reload.

Usage: browser_across.py A-UPLOAD-PORT A-SERVICE-PORT B-SERVICE-PORT
(the instances run already; the calling test starts them). Exit 0 on success, 1 on failure,
77 (skipped) only when Chromium cannot be started at all.
"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_test import (client_get, fail, open_page, start_chromium, stop_chromium,  # noqa: E402
                          tiny_jpeg, upload)


def main():
    a_upload, a_service, b_service = (int(p) for p in sys.argv[1:4])
    work = tempfile.mkdtemp(prefix="glimmerly-browser-across-")
    chromium = None
    try:
        if client_get(b_service, b"/loginsession.php?sessionname=across") != b"ok across":
            fail("session login on B")
        jpeg = tiny_jpeg()
        if not upload(a_upload, jpeg, b"across", b"Vorher").startswith(b"ok|3.2|"):
            fail("first upload on A")

        chromium, debug_port = start_chromium(os.path.join(work, "profile"))
        cdp = open_page(debug_port)
        cdp.call("Page.navigate", url="http://127.0.0.1:%d/~across" % b_service)
        cdp.wait_for("document.readyState === 'complete' && "
                     "document.querySelectorAll('#pictures li').length === 1", 20,
                     "B's session page with the picture uploaded on A")
        cdp.evaluate("window.__loadedOnce = 'yes'")

        reply = upload(a_upload, jpeg, b"across", b"Von A")
        if not reply.startswith(b"ok|3.2|http://localhost:8460/von_a.jpg"):
            fail("second upload on A: %r" % reply)
        cdp.wait_for("(() => { const first = document.querySelector('#pictures li');"
                     " const img = first && first.querySelector('img');"
                     " return !!img && img.getAttribute('src') === '/von_a.jpg'"
                     " && img.complete && img.naturalWidth === 8; })()", 20,
                     "the upload on A on top of B's page")

        renamed = client_get(a_service, b"/setname.php?filename=vorher.jpg&newfilename=Nachher auf A")
        if renamed != b"http://localhost:8460/nachher_auf_a.jpg":
            fail("rename on A: %r" % renamed)
        cdp.wait_for("Array.from(document.querySelectorAll('#pictures li .title'))"
                     ".map(t => t.textContent).join('|') === 'Von A|Nachher auf A'", 20,
                     "the rename on A on B's page")
        if cdp.evaluate("window.__loadedOnce") != "yes":
            fail("B's page was reloaded")
        print("PASS: the upload and the rename on A appeared live on B's page", flush=True)
    finally:
        if chromium is not None:
            stop_chromium(chromium)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
