// The page's worker: runs the patch engine (WebAssembly) on the player's file, away from the
// page's thread, and tells the page what the progress dialog of the Windows program would show.
// Nothing leaves the machine: the file is read where it lies, and the result goes to the page as
// the engine hands it over, in file order (bytes it wrote, ranges of the file it kept unchanged),
// for the page to make the download of.
//
// Where the page is cross-origin isolated, the engine runs on every core
// (quillmoor-engine-threads.js: threads share the module's memory); elsewhere on one thread
// (quillmoor-engine.js). Same result, byte for byte.
//
// Messages from the page: {type: 'run', file, hold_at, timed}, {type: 'cancel'}.
// Messages to the page: 'ready' (texts, can_cancel, cancel_flag, threads, card), 'events' (the
// engine's 'status', 'total', 'position', 'error' and 'proof', and the result's 'piece's, all in
// order), 'done' (outcome 'written', 'cancelled' or 'failed'; timing when asked) and 'broken'.

import { file_stream } from './file_stream.js';

const source_path = '/in/source.nds';
// web/web_progress.h and web/web_job.cpp number these.
const event_types = ['status', 'total', 'position', 'error', 'proof', 'timing'];
const outcomes = ['written', 'failed', 'cancelled'];
const text_ids = { caption: 0, cancelling: 1, success: 2, error_prefix: 3 };
const card_ids = { release: 0, size: 1, crc32: 2, sha1: 3 };

// Test hooks of the page: no-suspend, the worker behaves as in a browser that cannot hand a
// cancel to a running job (the page then stops the worker); read-window=N, the File is read N
// bytes at a time, so that a small ROM crosses windows too.
const parameters = new URL(import.meta.url).searchParams;
const no_suspend = parameters.has('no-suspend');
// JavaScript Promise Integration: where the browser has it, the one-thread engine's cancel poll
// suspends the job for one turn of this worker's event loop, so that the page's 'cancel' reaches
// the engine while the job runs.
const can_suspend = typeof WebAssembly.Suspending === 'function' && typeof WebAssembly.promising === 'function' &&
  !no_suspend;
// With threads, the page and this worker share memory: the page raises this flag to cancel, and
// the engine's poll reads it while the job runs, with nothing to wait for.
const cancel_flag = self.crossOriginIsolated === true ? new Int32Array(new SharedArrayBuffer(4)) : null;

let engine = null;
let threaded = false;
let run_job = null; // qm_run, called through a promise where the job may suspend
let cancel_requested = false;
let last_position = 0;
let hold_at = null;        // test hook: the poll waits for the page once this many steps are done
let release_hold = null;

const turn = new MessageChannel();
const waiting_turns = [];
turn.port1.onmessage = () => waiting_turns.shift()();
// A message to ourselves: while it travels, the event loop turns and handles what the page has
// sent, without the clamping of nested timers.
const next_turn = () => new Promise((resolve) => { waiting_turns.push(resolve); turn.port2.postMessage(null); });

async function poll_cancel_suspending() {
  send_batch();
  await next_turn();
  if (hold_at !== null && last_position >= hold_at && !cancel_requested) {
    hold_at = null;
    await new Promise((resolve) => { release_hold = resolve; });
  }
  return take_cancel();
}

function take_cancel() {
  if (!cancel_requested) return 0;
  cancel_requested = false;
  return 1;
}

function poll_cancel_shared() {
  if (hold_at !== null && last_position >= hold_at) {
    hold_at = null;
    send_batch();
    Atomics.wait(cancel_flag, 0, 0); // until the page raises the flag
  }
  return Atomics.exchange(cancel_flag, 0, 0);
}

// Where a run's time goes, for the benchmark: milliseconds reading the File (or waiting for it to
// be read ahead), handing the result over (copies out of the module's memory), the engine's
// phases, and how many windows of the File were read ahead or here.
let timing = null;
const timed = (part, work) => {
  if (!timing) return work();
  const start = performance.now();
  try {
    return work();
  } finally {
    timing[part] += performance.now() - start;
  }
};

// The result as the engine hands it over (web_sink.h), passed on to the page with the events:
// {at, bytes} for bytes it wrote (copied out of the module's memory: given to the page, not
// copied again), {at, from, size} for a range of the File kept as it is, {at} for the end.
// Between pieces, zeros. The page, idle meanwhile, makes the slices of the File and the Blob.
let source_file = null; // the File of the running job
const sink = {
  on_sink_write: (at, bytes) => timed('handing_over_ms', () => queue_event({ type: 'piece', at, bytes })),
  on_sink_keep: (at, from, size) => timed('handing_over_ms', () => queue_event({ type: 'piece', at, from, size })),
  on_sink_finish: (size) => queue_event({ type: 'piece', at: size }),
};

// The engine's events go to the page in batches, in order: a message per step (thousands in a
// run) would cost the job more than the steps themselves.
const batch_interval_ms = 15;
let batch = [];
let batch_started = 0;

function on_engine_event(kind, text, number) {
  const type = event_types[kind];
  if (type === 'timing') {
    if (timing) timing.phases = read_phases(text);
    return;
  }
  if (type === 'position') last_position = number;
  queue_event({ type, text, number });
  if (type === 'error') send_batch();
}

function queue_event(event) {
  if (batch.length === 0) batch_started = performance.now();
  batch.push(event);
  if (performance.now() - batch_started >= batch_interval_ms) send_batch();
}

// "phase\tjob seconds\thelper seconds" lines (web_job.cpp).
function read_phases(text) {
  const phases = {};
  for (const line of text.split('\n').filter(Boolean)) {
    const [name, job, helpers] = line.split('\t');
    phases[name] = { job: Number(job), helpers: Number(helpers) };
  }
  return phases;
}

function send_batch() {
  if (batch.length !== 0) {
    const transfer = batch.filter((event) => event.bytes).map((event) => event.bytes.buffer);
    postMessage({ type: 'events', events: batch }, transfer);
  }
  batch = [];
}

// The module instantiated here rather than by emscripten's loader, to put the suspending poll and
// reads among its imports and to keep a promising qm_run.
async function instantiate_suspending(imports) {
  imports.env.qm_cancel_poll = new WebAssembly.Suspending(poll_cancel_suspending);
  imports.env.qm_source_read = new WebAssembly.Suspending(read_source_suspending);
  const response = fetch(new URL('quillmoor-engine.wasm', import.meta.url));
  try {
    return await WebAssembly.instantiateStreaming(response, imports);
  } catch {
    // A server that does not send the wasm type: compile from the bytes instead.
    return WebAssembly.instantiate(await (await response).arrayBuffer(), imports);
  }
}

async function load_one_thread_engine() {
  const { default: create_engine } = await import('./quillmoor-engine.js');
  const options = { on_engine_event, on_source_read, ...sink, poll_cancel: take_cancel };
  let failed = new Promise(() => {});
  if (can_suspend) {
    let fail;
    // emscripten's loader waits for `receive` alone: a failure must end the wait here.
    failed = new Promise((resolve, reject) => { fail = reject; });
    options.instantiateWasm = (imports, receive) => {
      instantiate_suspending(imports).then(({ instance, module }) => {
        run_job = WebAssembly.promising(instance.exports.qm_run);
        receive(instance, module);
      }, fail);
      return {};
    };
  }
  engine = await Promise.race([create_engine(options), failed]);
  if (!run_job) run_job = async (...parameters) => engine._qm_run(...parameters);
}

// The threaded engine starts its pool of threads (one worker each) before it is ready.
async function load_threaded_engine() {
  const { default: create_engine } = await import('./quillmoor-engine-threads.js');
  engine = await create_engine({ on_engine_event, on_source_read, ...sink, poll_cancel: poll_cancel_shared });
  run_job = async (...parameters) => engine._qm_run(...parameters);
  threaded = true;
}

async function load_engine() {
  if (cancel_flag) {
    try {
      await load_threaded_engine();
    } catch (error) {
      // A browser that shares memory but cannot start the engine's threads: one thread, then.
      engine = null;
      console.warn('quillmoor: the engine runs on one thread:', error);
    }
  }
  if (!engine) await load_one_thread_engine();
  engine.FS.filesystems.WORKERFS.stream_ops.read = read_through_window;
  const texts = {};
  for (const [name, id] of Object.entries(text_ids)) texts[name] = engine.UTF8ToString(engine._qm_ui_text(id));
  const card = {};
  for (const [name, id] of Object.entries(card_ids)) card[name] = engine.UTF8ToString(engine._qm_card_text(id));
  const shared_cancel = threaded && !no_suspend;
  postMessage({
    type: 'ready',
    texts,
    can_cancel: shared_cancel || can_suspend,
    cancel_flag: shared_cancel ? cancel_flag : null,
    threads: engine._qm_threads(),
    card: card.release ? card : null,
  });
}

// Reads of the source go through a window of the File kept between reads: the engine reads the
// ROM section by section, mostly forward, in pieces from a few bytes to a few MiB, and every read
// of a File costs much more than a copy from memory.
const read_window_size = Number.parseInt(parameters.get('read-window'), 10) || 4 << 20;
const reader = new FileReaderSync();
const no_window = { file: null, start: 0, bytes: new Uint8Array(0), slot: -1 };
let read_window = no_window;

const window_holds = (file, position) => read_window.file === file && position >= read_window.start &&
  position < read_window.start + read_window.bytes.length;

// Copies file[position, position + into.length) into `into`, as far as the window holds it;
// returns how many bytes.
function copy_from_window(file, position, into) {
  if (!window_holds(file, position)) read_window = load_window(file, position);
  const start = position - read_window.start;
  const count = Math.min(into.length, read_window.bytes.length - start);
  into.set(read_window.bytes.subarray(start, start + count));
  return count;
}

// The engine's reads of the source (web_source.h), whole.
function on_source_read(at, into) {
  try {
    for (let done = 0; done < into.length;) done += copy_from_window(source_file, at + done, into.subarray(done));
    return 0;
  } catch (error) {
    console.warn('quillmoor: the File cannot be read:', error);
    return -1;
  }
}

// On one thread where WebAssembly can be suspended, a read that needs a new window suspends the
// job while the File is streamed into one buffer of this worker's, the same for every window
// (file_stream.js says why); what the window holds is copied at once, without suspending.
const stream = new file_stream();
let stream_buffer = null;
let streams_fill_buffers = true;

function read_source_suspending(at, pointer, size) {
  const file = source_file;
  const copy_what_the_window_holds = (done) => {
    const position = at + done;
    if (!window_holds(file, position)) return 0;
    const start = position - read_window.start;
    const count = Math.min(size - done, read_window.bytes.length - start);
    engine.HEAPU8.set(read_window.bytes.subarray(start, start + count), pointer + done);
    return count;
  };
  let done = 0;
  for (let count = 1; done < size && count > 0; done += count) count = copy_what_the_window_holds(done);
  if (done === size) return 0;
  return (async () => {
    try {
      while (done < size) {
        read_window = await load_window_streamed(file, at + done);
        done += copy_what_the_window_holds(done);
      }
      return 0;
    } catch (error) {
      console.warn('quillmoor: the File cannot be read:', error);
      return -1;
    }
  })();
}

async function load_window_streamed(file, start) {
  if (!streams_fill_buffers) return load_window(file, start);
  const stop = Math.min(file.size, start + read_window_size);
  read_window = no_window; // its bytes are in the buffer about to be lent
  stream_buffer ??= new ArrayBuffer(read_window_size);
  const began = performance.now();
  let bytes;
  try {
    bytes = await stream.read_into(file, start, stop, stream_buffer);
  } catch (error) {
    streams_fill_buffers = false; // read here from now on, a new buffer a window
    stream_buffer = null;
    return load_window(file, start);
  }
  stream_buffer = bytes.buffer;
  if (timing) {
    timing.reading_ms += performance.now() - began;
    ++timing.windows_read_here;
  }
  return { file, start, bytes, slot: -1 };
}

// The reads of the module's file system, which shows the File too (for the explanation of a
// failure, which reads it whole); a read past the window stops there.
function read_through_window(stream, buffer, offset, length, position) {
  const file = stream.node.contents;
  if (position >= file.size) return 0;
  return copy_from_window(file, position, buffer.subarray(offset, offset + length));
}

// Where memory can be shared, reader.js reads the window after the current one meanwhile, into
// one of two slots (the other holds the current window); a read that finds its window there
// takes it, after waiting for it if need be. Anything else is read here.
const read_ahead = (() => {
  if (!cancel_flag) return null;
  try {
    const worker = new Worker(new URL('reader.js', import.meta.url), { type: 'module' });
    const slots = new Uint8Array(new SharedArrayBuffer(2 * read_window_size));
    const control = new Int32Array(new SharedArrayBuffer(2 * 4));
    worker.postMessage({ slots, control });
    return { worker, slots, control, requests: [null, null], next_id: 1, working: true };
  } catch {
    return null;
  }
})();
const read_ahead_patience_ms = 30000;

function load_window(file, start) {
  const ahead = read_ahead !== null && read_ahead.working;
  let stop = Math.min(file.size, start + read_window_size);
  let window = ahead ? window_read_ahead(file, start, stop) : null;
  if (!window) {
    // Reading ahead, what is read here is where the engine jumped to (the ROM's tables, an archive
    // begun ahead): a quarter window, the reader going on from its end.
    if (ahead) stop = Math.min(file.size, start + read_window_size / 4);
    const bytes = timed('reading_ms', () => new Uint8Array(reader.readAsArrayBuffer(file.slice(start, stop))));
    window = { file, start, bytes, slot: -1 };
  }
  if (timing) ++timing[window.slot < 0 ? 'windows_read_here' : 'windows_read_ahead'];
  if (ahead && read_ahead.working && stop < file.size) read_next(file, stop, window.slot === 0 ? 1 : 0);
  return window;
}

function window_read_ahead(file, start, stop) {
  const slot = read_ahead.requests.findIndex((r) => r !== null && r.file === file && r.start === start);
  if (slot < 0) return null;
  const { id } = read_ahead.requests[slot];
  const control = read_ahead.control;
  const done = timed('reading_ms', () => {
    const deadline = performance.now() + read_ahead_patience_ms;
    for (let now = Atomics.load(control, slot); now !== id && now !== -1; now = Atomics.load(control, slot)) {
      if (Atomics.wait(control, slot, now, deadline - performance.now()) === 'timed-out') {
        read_ahead.working = false; // a reader that does not answer is not asked again
        return false;
      }
    }
    return Atomics.load(control, slot) === id;
  });
  if (!done) {
    read_ahead.requests[slot] = null;
    return null;
  }
  const at = slot * read_window_size;
  return { file, start, bytes: read_ahead.slots.subarray(at, at + stop - start), slot };
}

function read_next(file, start, slot) {
  const request = read_ahead.requests[slot];
  if (request !== null && request.file === file && request.start === start) return;
  const stop = Math.min(file.size, start + read_window_size);
  const id = read_ahead.next_id++;
  read_ahead.requests[slot] = { file, start, id };
  read_ahead.worker.postMessage({ slot, id, start, stop });
}

function c_string(text) {
  const size = engine.lengthBytesUTF8(text) + 1;
  const pointer = engine._malloc(size);
  engine.stringToUTF8(text, pointer, size);
  return pointer;
}

function ensure_folder(path) {
  if (!engine.FS.analyzePath(path).exists) engine.FS.mkdir(path);
}

async function run({ file, hold_at: hold, timed: time_it }) {
  cancel_requested = false;
  last_position = 0;
  hold_at = (can_suspend || (threaded && !no_suspend)) && Number.isInteger(hold) ? hold : null;
  timing = time_it ? {
    reading_ms: 0, handing_over_ms: 0, engine_ms: 0, phases: null, windows_read_ahead: 0, windows_read_here: 0,
  } : null;
  ensure_folder('/in');
  engine.FS.mount(engine.FS.filesystems.WORKERFS, { blobs: [{ name: 'source.nds', data: file }] }, '/in');
  const source = c_string(source_path);
  source_file = file;
  if (read_ahead) read_ahead.worker.postMessage({ file });
  let outcome;
  try {
    const start = performance.now();
    outcome = outcomes[await run_job(source, file.size, time_it ? 1 : 0)];
    if (timing) timing.engine_ms = performance.now() - start;
  } finally {
    engine._free(source);
    engine.FS.unmount('/in');
    read_window = no_window;
    stream.close();
    if (read_ahead) {
      read_ahead.requests = [null, null];
      read_ahead.worker.postMessage({ close: true });
    }
    source_file = null;
  }
  send_batch();
  postMessage({ type: 'done', outcome, timing });
  timing = null;
}

// Anything that goes wrong outside the engine's own errors (the module cannot load, memory runs
// out) ends this worker's use: the page starts another one.
const broken = (error) => postMessage({ type: 'broken', text: String(error) });
const ready = load_engine();
ready.catch(broken);

onmessage = async ({ data }) => {
  if (data.type === 'cancel') {
    cancel_requested = true;
    if (release_hold) release_hold();
    release_hold = null;
    return;
  }
  try {
    await ready;
    await run(data);
  } catch (error) {
    broken(error);
  }
};
