// The page's service worker: keeps a copy of the site's files, so that the page, its worker and
// the engine load without a network once the page has been opened. The network is asked first,
// so that a new version of the site is used as soon as it is there.
//
// It also makes the page cross-origin isolated, which the engine's threads need (memory shared
// between the page's workers), on any static host: the site's own responses get the headers
// that a host would otherwise have to be set up to send.
const cache_name = 'quillmoor-site';
const site_files = ['./', 'index.html', 'style.css', 'page.js', 'worker.js', 'reader.js', 'file_stream.js', 'quillmoor-engine.js',
                    'quillmoor-engine.wasm', 'quillmoor-engine-threads.js', 'quillmoor-engine-threads.wasm',
                    'quillmoor-engine-threads.worker.js'];

const isolation_headers = {
  'Cross-Origin-Opener-Policy': 'same-origin',
  'Cross-Origin-Embedder-Policy': 'require-corp',
  // Resources of an isolated page must consent to being loaded by it, the site's own too.
  'Cross-Origin-Resource-Policy': 'same-origin',
};

function isolated(response) {
  // A redirect seen by the page, or an answer it may not read, is handed over as it is.
  if (response.type === 'opaqueredirect' || response.status === 0) return response;
  const headers = new Headers(response.headers);
  for (const [name, value] of Object.entries(isolation_headers)) headers.set(name, value);
  return new Response(response.body, { status: response.status, statusText: response.statusText, headers });
}

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(cache_name).then((cache) => cache.addAll(site_files)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith((async () => {
    const cache = await caches.open(cache_name);
    try {
      const response = await fetch(request);
      if (response.ok) await cache.put(request, response.clone());
      return isolated(response);
    } catch (error) {
      const kept = await cache.match(request, { ignoreSearch: true });
      if (kept) return isolated(kept);
      throw error;
    }
  })());
});
