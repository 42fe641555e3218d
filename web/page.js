// The page: the player picks or drops a ROM, applies the patch, follows the progress, may cancel,
// and downloads the result. The work itself happens in worker.js; the status texts, the caption
// with its percentage and the error texts come from the engine, as in the Windows program.

const element = (id) => document.getElementById(id);
const source = element('source');
const source_name = element('source-name');
const apply = element('apply');
const cancel = element('cancel');
const progress = element('progress');
const status_line = element('status');
const error_box = element('error');
const download = element('download');
const run_section = document.querySelector('.run');

const page_title = document.title;
const cancelled_text = "Patch annulé\u00A0: aucun fichier n'a été produit.";
const load_failure_text = "Le moteur du patch n'a pas pu démarrer\u00A0: ";
// Test hooks, read from the address: ?test-hold=N (read at each run) makes the worker wait for
// the page once N steps are done, where the worker can take a cancel during the run, so that a
// cancel lands at a known point; ?test-no-suspend makes the worker behave as in a browser that
// cannot hand a cancel to a running job; ?test-read-window=N has the worker read the File N bytes
// at a time; ?test-timing (read at each run) has the worker time the run's parts, left in
// window.quillmoor_timing for the benchmark.
const test_parameter = (name) => new URLSearchParams(location.search).get(name);

let worker = null;
let texts = null;        // the progress dialog's texts, from the engine
let can_cancel = false;  // whether the worker can take a cancel while the job runs
let chosen = null;       // the player's File
let running = false;
let cancelling = false;
let result_url = null;
let proof = '';          // the written ROM's SHA-1 line, from the engine
let cancel_flag = null;  // shared with the worker where the engine has threads: raised to cancel
let result = null;       // the result's parts as the worker hands them over, while a job runs

function start_worker() {
  const url = new URL('worker.js', import.meta.url);
  if (test_parameter('test-no-suspend') !== null) url.searchParams.set('no-suspend', '');
  if (test_parameter('test-read-window') !== null) url.searchParams.set('read-window', test_parameter('test-read-window'));
  worker = new Worker(url, { type: 'module' });
  worker.onmessage = ({ data }) => handlers[data.type](data);
  worker.onerror = (event) => handlers.broken({ text: event.message });
}

function stop_worker() {
  if (worker) worker.terminate();
  worker = null;
  // Until the next worker is ready, a cancel can only stop it.
  can_cancel = false;
  cancel_flag = null;
}

const handlers = {
  ready(message) {
    texts = message.texts;
    can_cancel = message.can_cancel;
    cancel_flag = message.cancel_flag;
    document.documentElement.dataset.threads = message.threads;
    show_expected_rom(message.card);
    if (running && !cancelling) document.title = texts.caption;
  },
  // After "Annuler" the status line keeps "Annulation..." and the bar and caption stand still.
  status(message) {
    if (!cancelling) status_line.textContent = message.text;
  },
  total(message) {
    progress.max = Math.max(message.number, 1);
  },
  position(message) {
    if (cancelling) return;
    progress.value = message.number;
    if (message.text) document.title = message.text;
  },
  error(message) {
    show_error(message.text);
  },
  proof(message) {
    proof = message.text;
  },
  piece(message) {
    if (result) add_piece(message);
  },
  events(message) {
    for (const event of message.events) handlers[event.type](event);
  },
  done(message) {
    let blob = null;
    const start = performance.now();
    if (message.outcome === 'written') blob = new Blob(result.parts, { type: 'application/octet-stream' });
    if (message.timing) {
      window.quillmoor_timing = { ...message.timing, pieces_ms: result.pieces_ms, blob_ms: performance.now() - start };
    }
    finish_run(message.outcome, blob);
  },
  broken(message) {
    show_error(texts ? texts.error_prefix + message.text : load_failure_text + message.text);
    // The next run starts a new worker.
    stop_worker();
    if (running) finish_run('failed', null);
  },
};

function show_error(text) {
  error_box.textContent = text;
  error_box.hidden = false;
}

function clear_result() {
  error_box.hidden = true;
  error_box.textContent = '';
  download.hidden = true;
  download.removeAttribute('href');
  if (result_url) URL.revokeObjectURL(result_url);
  result_url = null;
}

function update_controls() {
  apply.disabled = chosen === null || running;
  cancel.disabled = !running || cancelling;
  source.disabled = running;
}

// "Quillmoor (Europe).nds" gives "Quillmoor (Europe)-fr.nds".
function result_name(name) {
  return name.replace(/\.nds$/i, '') + '-fr.nds';
}

function choose(file) {
  if (running || !file) return;
  chosen = file;
  source_name.textContent = file.name;
  status_line.textContent = '';
  progress.value = 0;
  clear_result();
  update_controls();
}

function start_run() {
  running = true;
  cancelling = false;
  proof = '';
  clear_result();
  status_line.textContent = '';
  progress.value = 0;
  progress.max = 1;
  if (texts) document.title = texts.caption;
  download.download = result_name(chosen.name);
  result = { file: chosen, parts: [], end: 0, pieces_ms: 0 };
  if (!worker) start_worker();
  if (cancel_flag) Atomics.store(cancel_flag, 0, 0);
  const hold_at = test_parameter('test-hold');
  worker.postMessage({
    type: 'run',
    file: chosen,
    hold_at: hold_at === null ? null : Number.parseInt(hold_at, 10),
    timed: test_parameter('test-timing') !== null,
  });
  update_controls();
  // The progress, and later the download, come below the controls: on a small screen they would
  // be out of sight.
  run_section.scrollIntoView({ block: 'nearest' });
}

function request_cancel() {
  cancelling = true;
  status_line.textContent = texts ? texts.cancelling : '';
  update_controls();
  if (cancel_flag) {
    Atomics.store(cancel_flag, 0, 1);
    Atomics.notify(cancel_flag, 0);
  } else if (can_cancel) {
    worker.postMessage({ type: 'cancel' });
  } else {
    // This browser cannot hand the request to a running job: the job is stopped with its worker.
    stop_worker();
    start_worker();
    finish_run('cancelled', null);
  }
}

// The result's parts in file order (web/worker.js says what the pieces are): the bytes the
// engine wrote, slices of the player's File for the ranges it kept (the browser copies neither
// these nor the zeros), and the zeros between them.
function add_piece(piece) {
  const start = performance.now();
  if (piece.at > result.end) result.parts.push(...zeros(piece.at - result.end));
  if (piece.bytes) {
    result.parts.push(piece.bytes);
    result.end = piece.at + piece.bytes.length;
  } else if (piece.size !== undefined) {
    result.parts.push(result.file.slice(piece.from, piece.from + piece.size));
    result.end = piece.at + piece.size;
  } else {
    result.end = piece.at;
  }
  result.pieces_ms += performance.now() - start;
}

// The zeros that pad a ROM to its power of two (often a third of it) as one small Blob named
// again and again, which the browser does not copy either. The short runs between sections are
// copied instead: a slice of a Blob costs the browser more than a few bytes.
const zero_block = new Blob([new Uint8Array(1 << 20)]);
const short_zeros = new Uint8Array(64 << 10);

function zeros(count) {
  if (count <= short_zeros.length) return [short_zeros.subarray(0, count)];
  const parts = [];
  for (; count >= zero_block.size; count -= zero_block.size) parts.push(zero_block);
  if (count > short_zeros.length) parts.push(zero_block.slice(0, count));
  else if (count > 0) parts.push(short_zeros.subarray(0, count));
  return parts;
}

function finish_run(outcome, blob) {
  result = null;
  running = false;
  cancelling = false;
  document.title = page_title;
  if (outcome === 'written') {
    result_url = URL.createObjectURL(blob);
    download.href = result_url;
    download.textContent = 'Télécharger ' + download.download;
    download.hidden = false;
    // As quillmoor-patch ends: the success, then the proof of what was written.
    status_line.textContent = proof ? texts.success + '\n' + proof : texts.success;
  } else if (outcome === 'cancelled') {
    status_line.textContent = cancelled_text;
  } else {
    status_line.textContent = '';
  }
  update_controls();
  if (outcome === 'written') download.scrollIntoView({ block: 'nearest' });
}

source.addEventListener('change', () => choose(source.files[0]));
apply.addEventListener('click', start_run);
cancel.addEventListener('click', request_cancel);

// A file dropped anywhere on the page is taken as if it had been chosen.
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  if (running || event.dataTransfer.files.length === 0) return;
  source.files = event.dataTransfer.files;
  choose(source.files[0]);
});

// The ROM the patch needs, from the patch's identity card: the game and its release, the size
// in bytes grouped by three (narrow no-break spaces), CRC-32 and SHA-1. Hidden without a card.
function show_expected_rom(card) {
  element('expected').hidden = card === null;
  if (card === null) return;
  element('expected-release').textContent = card.release;
  element('expected-size').textContent = card.size.replace(/\B(?=(\d{3})+$)/g, '\u202F') + '\u00A0octets';
  element('expected-crc32').textContent = card.crc32;
  element('expected-sha1').textContent = card.sha1;
}

// Where the page is served from a secure origin (https, or this machine), a service worker keeps
// the site's files for use without a network, and adds to the site's own responses the headers
// that make the page cross-origin isolated, so that the engine may run on every core: a static
// host sends no such headers, and needs no setting. A page loaded without the service worker
// (the first visit, a forced reload) reloads once, as soon as it controls the page, unless the
// player has already chosen a file; the mark in sessionStorage keeps a browser that cannot be
// isolated from reloading again. Wherever isolation is not had, the engine runs on one thread.
const reload_mark = 'quillmoor-isolation-reload';

async function become_isolated() {
  if (!('serviceWorker' in navigator)) return;
  let registration;
  try {
    registration = await navigator.serviceWorker.register('offline.js');
  } catch {
    return; // a host or a browser without service workers: one thread
  }
  if (self.crossOriginIsolated) {
    sessionStorage.removeItem(reload_mark);
    return;
  }
  if (sessionStorage.getItem(reload_mark) !== null) return;
  const reload = () => {
    if (chosen !== null || running) return;
    sessionStorage.setItem(reload_mark, '1');
    location.reload();
  };
  if (registration.active && !navigator.serviceWorker.controller) reload();
  else navigator.serviceWorker.addEventListener('controllerchange', reload, { once: true });
}

// The guide is a page of the site where the site was built with it: without it, no link. (Asked
// for whole, which also keeps it for use without a network.)
fetch('guide.html').then((response) => response.ok, () => false).then((found) => {
  element('guide').parentElement.hidden = !found;
});

start_worker();
become_isolated();
