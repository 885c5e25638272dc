#!/usr/bin/env python3
"""Serves the built web page on 127.0.0.1 for a local try (make serve-web) and for its tests.

    python3 src/web/serve.py [FOLDER] [PORT]     # defaults: build-web, 8000

It says that the page is cross-origin isolated (COOP and COEP), as the page's service worker does
from the second load on, so that one file's search runs on every core from the first; the
tests serve it without them too.
"""
import functools
import http.server
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".wasm": "application/wasm",
                      ".js": "text/javascript"}

    quiet = False
    isolated = False

    def log_message(self, format, *args):  # noqa: A002 (the base class's name)
        if not self.quiet:
            super().log_message(format, *args)

    def end_headers(self):
        # The same policy as the page's own: nothing from any other origin.
        self.send_header("Content-Security-Policy",
                         "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; "
                         "img-src 'self' data:; media-src 'self' blob:; connect-src 'self' blob:; worker-src 'self'; "
                         "object-src 'none'; base-uri 'none'; form-action 'none'")
        self.send_header("Cache-Control", "no-cache")
        if self.isolated:
            self.send_header("Cross-Origin-Opener-Policy", "same-origin")
            self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        super().end_headers()


def serve(folder, port, quiet=False, isolated=False):
    handler = functools.partial(type("PageHandler", (Handler,), {"quiet": quiet, "isolated": isolated}), directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    return server


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else "build-web"
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 8000
    server = serve(folder, port, isolated=True)
    print("Serving %s on http://127.0.0.1:%d/" % (folder, server.server_address[1]))
    server.serve_forever()
