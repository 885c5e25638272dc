// Keeps the page's files, so that it works offline after the first visit: answers from the
// cache, and refreshes the cache from the page's own server when it can. What it answers says
// that the page is cross-origin isolated (COOP and COEP): from the second load on, on any https
// host or localhost, the page may share memory with its workers, and one file's search runs on
// every core.
"use strict";
const CACHE = "aamsg-web-3";
// The threaded module's files are kept as the page first loads them (the worker falls back to
// the other module when they cannot be had offline).
const FILES = ["./", "index.html", "style.css", "page.js", "worker.js", "recorder.js", "fflate.js", "aamsg.js", "aamsg.wasm"];
const ISOLATION = { "Cross-Origin-Opener-Policy": "same-origin", "Cross-Origin-Embedder-Policy": "require-corp" };

function isolated(response) {
  if (!response || response.type === "opaque") return response;
  const headers = new Headers(response.headers);
  for (const [name, value] of Object.entries(ISOLATION)) headers.set(name, value);
  return new Response(response.body, { status: response.status, statusText: response.statusText, headers });
}

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
  event.waitUntil(caches.keys()
    .then((keys) => Promise.all(keys.filter((k) => k !== CACHE).map((k) => caches.delete(k))))
    .then(() => self.clients.claim()));
});

self.addEventListener("fetch", (event) => {
  const url = new URL(event.request.url);
  if (event.request.method !== "GET" || url.origin !== self.location.origin) return;
  event.respondWith(caches.open(CACHE).then(async (cache) => {
    const cached = await cache.match(event.request, { ignoreSearch: true });
    const fresh = fetch(event.request).then((response) => {
      if (response.ok) cache.put(event.request, response.clone());
      return response;
    }).catch(() => cached);
    return isolated(await (cached || fresh));
  }));
});
