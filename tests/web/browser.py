"""Headless Chromium driven through its DevTools protocol, and the page's site served on
127.0.0.1 on a free port, for the web page's tests."""

import base64
import functools
import http.server
import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.request

import websocket

CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--enable-unsafe-swiftshader", "--use-angle=swiftshader",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--no-first-run", "--disable-quic", "--no-default-browser-check", "--mute-audio",
    "--disable-extensions", "--hide-scrollbars",
]


class SiteServer:
    """Serves a folder; `replacements` maps a file name to bytes to serve instead, or to None
    for a 404."""

    def __init__(self, folder):
        self.replacements = {}
        server = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                name = self.path.split("?")[0].lstrip("/")
                if name in server.replacements:
                    body = server.replacements[name]
                    if body is None:
                        self.send_error(404)
                        return
                    self.send_response(200)
                    self.send_header("Content-Length", str(len(body)))
                    self.send_header("Cache-Control", "no-store")
                    self.end_headers()
                    self.wfile.write(body)
                    return
                super().do_GET()

            def end_headers(self):
                self.send_header("Cache-Control", "no-store")
                super().end_headers()

        Handler.extensions_map = dict(Handler.extensions_map, **{".wasm": "application/wasm",
                                                                 ".js": "text/javascript"})
        handler = functools.partial(Handler, directory=folder)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Browser:
    def __init__(self, chromium="/usr/bin/chromium", width=1280, height=720):
        self.profile = tempfile.mkdtemp(prefix="lumenfall-chromium-")
        self.proc = subprocess.Popen(
            [chromium, *CHROMIUM_FLAGS, "--remote-debugging-port=0",
             "--user-data-dir=" + self.profile, "--window-size=%d,%d" % (width, height),
             "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.console = []
        self.next_id = 0
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + 60
        while not os.path.exists(port_file) or os.path.getsize(port_file) == 0:
            if time.time() > deadline or self.proc.poll() is not None:
                self.close()
                raise RuntimeError("chromium did not start")
            time.sleep(0.1)
        with open(port_file) as f:
            port = int(f.readline())
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port))
        page = [t for t in targets if t["type"] == "page"][0]
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=120,
                                              suppress_origin=True)
        self.call("Runtime.enable")
        self.call("Page.enable")
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=False)

    def call(self, method, **params):
        self.next_id += 1
        ident = self.next_id
        self.ws.send(json.dumps({"id": ident, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == ident:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            if message.get("method") == "Runtime.consoleAPICalled":
                args = message["params"]["args"]
                self.console.append(" ".join(str(a.get("value", a.get("description", "")))
                                             for a in args))

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def navigate(self, url):
        self.console = []
        self.call("Page.navigate", url=url)

    def wait_for(self, expression, timeout, step=0.1):
        """Polls until the expression is truthy; returns its value, or None at the timeout."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            value = self.evaluate(expression)
            if value:
                return value
            time.sleep(step)
        return None

    def screenshot_png(self):
        return base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"])

    def canvas_png(self):
        url = self.evaluate("document.getElementById('canvas').toDataURL('image/png')")
        return base64.b64decode(url.split(",", 1)[1])

    def click(self, selector):
        box = self.evaluate("(function(){var r=document.querySelector(%s)"
                            ".getBoundingClientRect();return [r.x+r.width/2,r.y+r.height/2];})()"
                            % json.dumps(selector))
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1],
                      button="left", clickCount=1)

    def key(self, key, code):
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=code,
                      windowsVirtualKeyCode=27 if key == "Escape" else 0)

    def close(self):
        try:
            if getattr(self, "ws", None):
                self.ws.close()
        except Exception:
            pass
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.profile, ignore_errors=True)
