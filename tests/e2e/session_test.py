#!/usr/bin/python3
# End to end: the built program in a desktop session of its own, an X server or a Wayland
# compositor, driven only through the accessibility tree, as a screen reader reads it. It runs in
# network, mount and PID namespaces: its /etc/hosts sends whois.arin.net to this script's own
# WHOIS server on a loopback address, and everything started here ends with the test.
#   session_test.py x11|wayland PROGRAM VERSION (debian/changelog's, which the About window shows)
import os, re, shutil, socket, subprocess, sys, tempfile, threading, time

SESSION, PROGRAM, VERSION = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3]
DEADLINE = 90  # seconds for any one state to appear: a loaded machine is late, not wrong
ANSWER = "NetRange:       127.0.0.0 - 127.255.255.255\nOrgName:        Loopback\n"

# Every node a screen reader finds showing, as (role, name), in the tree's order. The hidden
# server list and receive buffer must not be among them.
FIELDS = ["Your IP", "Status", "Lag Time", "Port Address", "Size", "Echo", "Pointer"]
MAIN_WINDOW = [("filler", "Tarnwick"), ("label", "Enter IP Address"), ("push button", "Ping"),
               ("image", "Address picture"), ("text", "Enter IP Address"), ("push button", "About")
               ] + [(role, field) for field in FIELDS for role in ("label", "text")] + [
               ("image", "Two computers joined by a network cable"), ("push button", "Trace IP"),
               ("text", "WHOIS answer"), ("filler", "")]
LINKS = ["RFC 792 - ICMP", "RFC 3912 - WHOIS", "ARIN Whois Search", "RIPE NCC Database",
         "IANA Whois Service"]
ABOUT_WINDOW = [("dialog", "About Tarnwick"), ("image", "Tarnwick icon"),
                ("label", "By the Tarnwick team"), ("label", f"Version {VERSION}"),
                ("label", "\u00a9 2026 Tarnwick"), ("push button", "OK"),
                ("panel", "Visit A Website:"), ("combo box", "Visit A Website")] + [
                ("list item", link) for link in LINKS] + [
                ("text", "Visit A Website"), ("push button", "GO"), ("filler", ""), ("filler", ""),
                ("label", "Tarnwick comes with no warranty of any kind. Ping and look up only "
                 "computers you are allowed to test."), ("push button", "System Info...")]
# What each read-out field says after a ping of 127.0.0.1.
READ_OUTS = {"Status": r"0   \[ ip success \]", "Lag Time": r"\d+ \(milliseconds\)",
             "Port Address": "16777343", "Size": r"9 \(bytes\)", "Echo": "Echo This",
             "Pointer": r"-?\d+"}


def fail(message):
    print(f"FAIL ({SESSION}): {message}", flush=True)
    sys.exit(1)


def wait_for(what, probe, program=None):
    # Polls until probe returns something true; fails when the deadline has passed, or at once
    # when the program has ended.
    end = time.monotonic() + DEADLINE
    while program is None or program.poll() is None:
        if value := probe():
            return value
        if time.monotonic() > end:
            fail(f"{what}: not seen within {DEADLINE} s")
        time.sleep(0.05)
    fail(f"{what}: the program ended with status {program.returncode}")


def enter_namespaces():
    if os.geteuid() != 0 or subprocess.run(["unshare", "--net", "--mount", "true"]).returncode:
        print("SKIP: needs root to make network and mount namespaces (CI runs as root)")
        sys.exit(77)
    os.environ["TARNWICK_E2E_INSIDE"] = "1"
    # The session's own runtime folder, from the start: the accessibility bus would otherwise
    # put its socket in ~/.cache, where a test running beside this one puts its own.
    os.environ["XDG_RUNTIME_DIR"] = tempfile.mkdtemp(prefix="tarnwick-e2e-")
    os.execvp("unshare", ["unshare", "--net", "--mount", "--pid", "--fork", "--kill-child",
                          "--mount-proc", "dbus-run-session", "--", sys.executable, *sys.argv])


def serve_whois(folder, queries):
    # Answers one query on port 43 of the address that whois.arin.net has here, and keeps it.
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    for name, text in ("hosts", "127.0.0.2 whois.arin.net\n"), ("nsswitch.conf", "hosts: files\n"):
        with open(f"{folder}/{name}", "w") as file:
            file.write(text)
        subprocess.run(["mount", "--bind", f"{folder}/{name}", f"/etc/{name}"], check=True)
    server = socket.create_server(("127.0.0.2", 43))
    threading.Thread(target=lambda: answer(server.accept()[0], queries), daemon=True).start()


def answer(connection, queries):
    received = b""
    while not received.endswith(b"\r\n") and (piece := connection.recv(512)):
        received += piece
    queries.append(received)
    connection.sendall(ANSWER.replace("\n", "\r\n").encode())
    connection.close()


def start_session(folder, env):
    if SESSION == "x11":
        read_end, write_end = os.pipe()
        server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                                   "-screen", "0", "1280x1024x24"], pass_fds=[write_end])
        os.close(write_end)
        env["DISPLAY"] = ":" + os.read(read_end, 64).decode().strip()
    else:
        server = subprocess.Popen(["weston", "--backend=headless-backend.so", "--socket=wl-0",
                                   "--width=1280", "--height=1024", "--idle-time=0"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("the compositor's socket", lambda: os.path.exists(f"{folder}/wl-0"))
        env["WAYLAND_DISPLAY"] = "wl-0"
    env["XDG_SESSION_TYPE"] = SESSION
    # Turned on as a screen reader turns it on: the accessibility bus's own status.
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    for flag in ("IsEnabled", "ScreenReaderEnabled"):
        bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                      GLib.Variant("(ssv)", ("org.a11y.Status", flag, GLib.Variant("b", True))),
                      None, Gio.DBusCallFlags.NONE, -1, None)
    return server


def role(node):
    # AT-SPI 2.52 (Debian 13) says "button" where 2.46 (Debian 12) says "push button".
    return {"button": "push button"}.get(node.getRoleName(), node.getRoleName())


def showing(node):
    # (role, name) of node and every showing node under it, hidden branches searched too.
    shown = node.getState().contains(pyatspi.STATE_SHOWING)
    return [(role(node), node.name)] * shown + [row for c in node for row in showing(c)]


def window(application, name):
    return next((w for w in application
                 if w.name == name and w.getState().contains(pyatspi.STATE_SHOWING)), None)


def control(parent, kind, name):
    return pyatspi.findDescendant(parent, lambda n: (role(n), n.name) == (kind, name))


def press(parent, name):
    actions = (control(parent, "push button", name) or fail(f'no button "{name}"')).queryAction()
    actions.doAction([actions.getName(i) for i in range(actions.nActions)].index("Press"))


def text_of(parent, name):
    field = control(parent, "text", name) or fail(f'no text field named "{name}"')
    return field.queryText().getText(0, -1)


def expect(what, node, tree, place):
    # The showing nodes, the size, and under X11 the place; Wayland leaves the place to the
    # compositor and reports none.
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    seen = (showing(node), (box.x, box.y)[:2 * (SESSION == "x11")] + (box.width, box.height))
    if seen != (tree, place[:2 * (SESSION == "x11")] + place[2:]):
        fail(f"{what} shows {seen}, expected {(tree, place)}")


def close_main_window(env):
    # What a window manager sends when the user closes a window.
    from Xlib import X, display, protocol
    screen = display.Display(env["DISPLAY"])
    target = wait_for("the main window on the X server", lambda: next(
        (w for w in screen.screen().root.query_tree().children if w.get_wm_name() == "Tarnwick"
         and w.get_attributes().map_state == X.IsViewable), None))
    data = (32, [screen.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])
    target.send_event(protocol.event.ClientMessage(
        window=target, client_type=screen.intern_atom("WM_PROTOCOLS"), data=data))
    screen.flush()


def drive(program, queries):
    application = wait_for("the program in the accessibility tree", lambda: next(
        (a for a in pyatspi.Registry.getDesktop(0) if a.get_process_id() == program.pid), None),
        program)
    application.set_cache_mask(Atspi.Cache.NONE)  # states and names as they are now
    main = wait_for("the main window", lambda: window(application, "Tarnwick"), program)
    expect("the main window", main, MAIN_WINDOW, (479, 310, 322, 403))  # centred

    address = control(main, "text", "Enter IP Address") or fail("no address field")
    address.queryEditableText().setTextContents("127.0.0.1")
    press(main, "Ping")
    # One handler fills every field: once any says something, all say what they will.
    wait_for("a ping result", lambda: any(text_of(main, name) for name in READ_OUTS), program)
    for name, pattern in READ_OUTS.items():
        if not re.fullmatch(pattern, value := text_of(main, name)):
            fail(f'"{name}" says "{value}" after a ping of 127.0.0.1')

    press(main, "Trace IP")
    # The lookup has ended once the box shows the answer's last line or why there is none.
    shown = wait_for("the WHOIS answer", lambda: re.search(
        "Loopback\n$|Could not", box := text_of(main, "WHOIS answer")) and box, program)
    if queries != [b"127.0.0.1\r\n"] or shown != ANSWER:
        fail(f"WHOIS: {queries} sent, the box shows {shown!r}")

    press(main, "About")
    about = wait_for("the About window", lambda: window(application, "About Tarnwick"), program)
    expect("the About window", about, ABOUT_WINDOW, (156, 129, 382, 170))  # the fixed place
    press(about, "OK")
    wait_for("the About window closed", lambda: window(application, "About Tarnwick") is None,
             program)
    main = wait_for("the main window afterwards", lambda: window(application, "Tarnwick"), program)
    expect("the main window afterwards", main, MAIN_WINDOW, (479, 310, 322, 403))


def run():
    folder = os.environ["XDG_RUNTIME_DIR"]
    try:
        queries = []
        serve_whois(folder, queries)
        env = {k: v for k, v in os.environ.items()
               if k not in ("QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY")}
        session = start_session(folder, env)
        with open(f"{folder}/stderr", "w+") as errors:
            program = subprocess.Popen([PROGRAM], env=env, stderr=errors)
            started = time.monotonic()
            drive(program, queries)
            # Only a Wayland compositor may ask a window to close, and weston's headless back
            # end takes no input and no orders: there the program ends with the session.
            if SESSION == "x11":
                close_main_window(env)
                wait_for("the program's end", lambda: program.poll() is not None)
                if program.returncode != 0:
                    fail(f"the program ended with status {program.returncode}")
            errors.seek(0)
            # A client that asks about an object the program has just destroyed (the closed
            # About window) gets an error reply, and Qt logs that it sent one. Run by root, as
            # here, it says so once.
            printed = "".join(line for line in errors if not line.startswith((
                "qt.accessibility.atspi: Could not find accessible on path",
                "tarnwick: runs as root, which it does not need; start it as your own user")))
            if printed.strip():
                fail(f"the program printed:\n{printed}")
        session.terminate()
        print(f"{SESSION}: passed in {time.monotonic() - started:.1f} s", flush=True)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    if "TARNWICK_E2E_INSIDE" not in os.environ:
        enter_namespaces()
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    import pyatspi
    Atspi.set_timeout(DEADLINE * 1000, DEADLINE * 1000)  # a busy program answers late, not never
    run()
