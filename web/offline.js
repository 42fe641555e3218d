// The page's service worker: keeps a copy of the site's files, so that the page, its worker and
// the engine load without a network once the page has been opened. The network is asked first,
// so that a new version of the site is used as soon as it is there.
const cache_name = 'quillmoor-site';
const site_files = ['./', 'index.html', 'style.css', 'page.js', 'worker.js', 'quillmoor-engine.js',
                    'quillmoor-engine.wasm'];

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
      return response;
    } catch (error) {
      const kept = await cache.match(request, { ignoreSearch: true });
      if (kept) return kept;
      throw error;
    }
  })());
});
