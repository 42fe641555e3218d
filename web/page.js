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

const page_title = document.title;
const cancelled_text = "Patch annulé\u00A0: aucun fichier n'a été produit.";
const load_failure_text = "Le moteur du patch n'a pas pu démarrer\u00A0: ";
// Test hooks, read from the address: ?test-hold=N (read at each run) makes the worker wait for
// the page once N steps are done, where the worker can take a cancel during the run, so that a
// cancel lands at a known point; ?test-no-suspend makes the worker behave as in a browser that
// cannot suspend WebAssembly.
const test_parameter = (name) => new URLSearchParams(location.search).get(name);

let worker = null;
let texts = null;        // the progress dialog's texts, from the engine
let can_cancel = false;  // whether the worker can take a cancel while the job runs
let chosen = null;       // the player's File
let running = false;
let cancelling = false;
let result_url = null;
let proof = '';          // the written ROM's SHA-1 line, from the engine

function start_worker() {
  const url = new URL('worker.js', import.meta.url);
  if (test_parameter('test-no-suspend') !== null) url.search = '?no-suspend';
  worker = new Worker(url, { type: 'module' });
  worker.onmessage = ({ data }) => handlers[data.type](data);
  worker.onerror = (event) => handlers.broken({ text: event.message });
}

function stop_worker() {
  if (worker) worker.terminate();
  worker = null;
}

const handlers = {
  ready(message) {
    texts = message.texts;
    can_cancel = message.can_cancel;
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
  events(message) {
    for (const event of message.events) handlers[event.type](event);
  },
  done(message) {
    finish_run(message.outcome, message.blob);
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
  if (!worker) start_worker();
  const hold_at = test_parameter('test-hold');
  worker.postMessage({ type: 'run', file: chosen, hold_at: hold_at === null ? null : Number.parseInt(hold_at, 10) });
  update_controls();
}

function request_cancel() {
  cancelling = true;
  status_line.textContent = texts ? texts.cancelling : '';
  update_controls();
  if (can_cancel) {
    worker.postMessage({ type: 'cancel' });
  } else {
    // This browser cannot hand the request to a running job: the job is stopped with its worker.
    stop_worker();
    start_worker();
    finish_run('cancelled', null);
  }
}

function finish_run(outcome, blob) {
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

start_worker();
// Where the page is served from a secure origin (https, or this machine), a service worker keeps
// the site's files for use without a network.
if ('serviceWorker' in navigator) navigator.serviceWorker.register('offline.js').catch(() => {});
