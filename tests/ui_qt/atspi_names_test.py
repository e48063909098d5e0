#!/usr/bin/python3
"""What a screen reader reads of the relay's window, through AT-SPI as Orca reads it: the two
lists, the four lamps with their state, the rate gauge with its value, the local address and the
error line. Starts kelvorelay on a virtual display of its own, listening on loopback only, and
sends it a bounded stream of frames so that a lamp lights and the rate rises.

    dbus-run-session -- /usr/bin/python3 tests/ui_qt/atspi_names_test.py build/bin/kelvorelay

Exits 77 (skipped) when the accessibility stack or the virtual display is not installed."""
import importlib.util
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"

try:
    import pyatspi
except ImportError:
    print("SKIP: python3-pyatspi is not installed")
    sys.exit(SKIP)
if not os.access(BUS_LAUNCHER, os.X_OK) or shutil.which("Xvfb") is None:
    print("SKIP: needs at-spi2-core and Xvfb")
    sys.exit(SKIP)
if "DBUS_SESSION_BUS_ADDRESS" not in os.environ:
    print("SKIP: run inside dbus-run-session")
    sys.exit(SKIP)

HERE = os.path.dirname(os.path.abspath(__file__))
traffic_module = importlib.util.spec_from_file_location(
    "relay_traffic", os.path.join(HERE, "..", "..", "scripts", "relay-traffic.py"))
relay_traffic = importlib.util.module_from_spec(traffic_module)
traffic_module.loader.exec_module(relay_traffic)

failures = []
passes = 0


def check(condition, what):
    global passes
    if condition:
        passes += 1
    else:
        failures.append(what)
        print("FAIL:", what)


def nodes(root):
    """Every accessible below root: (role name, name, description, node)."""
    found = []
    stack = [root]
    while stack:
        node = stack.pop()
        try:
            found.append((node.getRoleName(), node.name, node.description, node))
            stack.extend(node.getChildAtIndex(i) for i in range(node.childCount))
        except Exception:  # a node that went away while being read
            continue
    return found


def find(root, role, name=None, description=None):
    for node_role, node_name, node_description, node in nodes(root):
        if node_role == role and (name is None or node_name == name) and \
                (description is None or node_description == description):
            return node
    return None


def wait_for(predicate, seconds, step=0.05, during=None):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if during is not None:
            during()
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def relay_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "KelvoRelay":
            return app
    return None


def main():
    relay = os.path.abspath(sys.argv[1])
    started = []
    with tempfile.TemporaryDirectory() as tmp:
        config = os.path.join(tmp, "config", "Marlowin")
        os.makedirs(config)
        with open(os.path.join(config, "KelvoRelay.reg"), "w", newline="") as settings:
            settings.write("Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"
                           "\"EthernetAdapterID\"=\"lo\"\r\n")
        try:
            started.append(subprocess.Popen([BUS_LAUNCHER, "--launch-immediately"],
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            read_end, write_end = os.pipe()
            started.append(subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                 "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL))
            os.close(write_end)
            display = os.read(read_end, 16).decode().strip()
            os.close(read_end)
            env = dict(os.environ, DISPLAY=":" + display, QT_QPA_PLATFORM="xcb",
                       QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", XDG_RUNTIME_DIR=tmp,
                       XDG_CONFIG_HOME=os.path.join(tmp, "config"))
            env.pop("WAYLAND_DISPLAY", None)
            app_process = subprocess.Popen([relay], env=env, cwd=tmp,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            started.append(app_process)
            if not wait_for(lambda: relay_app() is not None and
                            find(relay_app(), "push button", "Close") is not None, 15, 0.2):
                check(False, "the window reaches AT-SPI")
                return
            app = relay_app()
            check(find(app, "table", "Applications (LAN)") is not None, "list Applications (LAN)")
            check(find(app, "table", "Controllers (WAN)") is not None, "list Controllers (WAN)")
            for lamp in ("LAN receive", "WAN receive", "LAN transmit", "WAN transmit"):
                check(find(app, "image", lamp + ": idle") is not None, lamp + ": idle at start")
            gauge = find(app, "progress bar", "Message rate")
            check(gauge is not None, "gauge named Message rate")
            check(find(app, "label", "127.0.0.1", "Local address") is not None,
                  "local address 127.0.0.1, described")
            check(find(app, "label", "Error opening port 8442!", "Port error") is not None,
                  "error line, described")

            # Frames from an application: its receive lamp lights, the rate rises.
            sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sender.bind(("127.0.0.1", 0))
            sent = [0]

            def send():
                if sent[0] < 500:
                    sender.sendto(relay_traffic.frame(5, 2001, 0), ("127.0.0.1", 8442))
                    sent[0] += 1

            check(wait_for(lambda: find(app, "image", "LAN receive: active") is not None, 5,
                           during=send), "LAN receive: active while frames arrive")

            def rate_shown():
                node = find(app, "progress bar", "Message rate")
                if node is None:
                    return False
                value = node.queryValue().currentValue
                return value > 0 and node.description.endswith(" msg/sec") and \
                    node.description != "0 msg/sec"
            check(wait_for(rate_shown, 5, during=send), "gauge value and rate while frames arrive")
            check(wait_for(lambda: find(app, "image", "LAN receive: idle") is not None, 3),
                  "LAN receive: idle after the last frame")
            sender.close()
        finally:
            for process in reversed(started):
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
    print(f"{passes} passed, {len(failures)} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
