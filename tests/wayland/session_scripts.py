"""What the headless sway session runs: the D-Bus configuration, the start-up script inside the
session and the root script that sets up the namespaces (used by sway_session.py)."""

USER = 65534
PORTAL = "/usr/libexec/xdg-desktop-portal"
SERVICES = "/usr/share/dbus-1/services"
# The document portal needs FUSE, which the session's user cannot mount; asked for anyway, the
# portal waits for it until D-Bus gives up (25 s). So the bus does not offer it.
SKIPPED_SERVICES = ("org.freedesktop.portal.Documents.service",
                    "org.freedesktop.systemd1.service")
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <servicedir>%s</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

START_SCRIPT = r"""#!/bin/sh
# Runs inside the session: hands the session's variables to D-Bus, starts PipeWire and the
# portals, and writes the environment to ready.env once the portal answers.
dbus-update-activation-environment WAYLAND_DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP
pipewire >"$SESSION/state/pipewire.log" 2>&1 &
# Without input devices the seat has a keyboard only while some wtype runs, so a client would
# learn of it after the keys of a short wtype were gone. One that waits keeps it there.
wtype -s 2000000000 &
i=0
while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done
owned() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true
}
if [ -x "$PORTAL" ]; then
    # The backends first, one by one: activated all at once by the portal, they now and then
    # leave it without its name until D-Bus gives up (25 s).
    for backend in gtk wlr; do
        [ -x "$PORTAL-$backend" ] || continue
        "$PORTAL-$backend" >>"$SESSION/state/portal.log" 2>&1 &
        i=0
        until owned "org.freedesktop.impl.portal.desktop.$backend"; do
            i=$((i+1)); [ $i -ge 200 ] && break; sleep 0.05
        done
    done
    i=0
    until gdbus call --session --dest org.freedesktop.portal.Desktop \
          --object-path /org/freedesktop/portal/desktop \
          --method org.freedesktop.DBus.Properties.Get org.freedesktop.portal.Screenshot version \
          >"$SESSION/state/portal.version" 2>>"$SESSION/state/portal.log"; do
        i=$((i+1)); [ $i -ge 40 ] && break; sleep 0.25
    done
fi
env >"$SESSION/state/ready.part" && mv "$SESSION/state/ready.part" "$SESSION/state/ready.env"
"""

# Root, pid 1 of the new namespaces: /tmp becomes the session's tmp/, the session folder stays
# reachable under its own path through a descriptor opened before, then sway runs as USER.
NAMESPACE_SCRIPT = r"""set -e
exec 9<"$SESSION"
mount --bind "$SESSION/tmp" /tmp
mkdir -p "$SESSION"
mount --no-canonicalize --bind /proc/self/fd/9 "$SESSION"
exec 9<&-
exec setpriv --reuid %(uid)d --regid %(uid)d --clear-groups --pdeathsig KILL \
    env -i HOME="$SESSION/home" XDG_RUNTIME_DIR="$SESSION/runtime" SESSION="$SESSION" \
    PATH=/usr/local/bin:/usr/bin:/bin PORTAL="$PORTAL" XDG_CURRENT_DESKTOP=sway \
    XDG_SESSION_TYPE=wayland LANG=C.UTF-8 WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=2 \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman QT_QPA_PLATFORM=wayland \
    dbus-run-session --config-file="$SESSION/bus.conf" -- sway -c "$SESSION/sway.conf"
""" % {"uid": USER}
