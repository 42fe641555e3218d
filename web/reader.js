// Reads the player's File ahead of the engine, for the page's worker (worker.js) where memory can
// be shared: while the engine works on one window of the File, this worker reads the next one
// into a slot of memory that both see. Reading a File costs the browser far more than a copy,
// and this way it overlaps the engine's work instead of stopping it.
//
// Messages from the worker: once {slots, control}; {file} as a run begins; {slot, id, start, stop}:
// read file[start, stop) into the slot, then mark request `id` of that slot done in `control` (the
// requests of a slot come in order: the worker waits for the last one it made); {close: true} as
// the run ends. The File comes once a run: each message would bring a copy of it, and the stream
// kept open on one copy (file_stream.js) would not serve the next.
import { file_stream } from './file_stream.js';

let slots = null;   // Uint8Array: the slots, one after the other
let control = null; // Int32Array: per slot, the id of the last request done (-1 for a failed one)
let slot_size = 0;
let buffer = null;  // ArrayBuffer of a slot's size, lent to the stream
let queue = Promise.resolve();
const stream = new file_stream();
let file = null;    // the File of the running job

async function read({ slot, id, start, stop }) {
  let done = id;
  try {
    let bytes;
    try {
      bytes = await stream.read_into(file, start, stop, buffer);
      buffer = bytes.buffer;
    } catch {
      // A browser whose File streams cannot fill a buffer of ours.
      buffer = new ArrayBuffer(slot_size);
      bytes = new Uint8Array(new FileReaderSync().readAsArrayBuffer(file.slice(start, stop)));
    }
    if (bytes.length !== stop - start) throw new Error('short read');
    slots.set(bytes, slot * slot_size);
  } catch {
    done = -1; // the worker reads it itself
  }
  Atomics.store(control, slot, done);
  Atomics.notify(control, slot);
}

onmessage = ({ data }) => {
  if (data.slots) {
    ({ slots, control } = data);
    slot_size = slots.length / control.length;
    buffer = new ArrayBuffer(slot_size);
    return;
  }
  if (data.file) {
    queue = queue.then(() => { file = data.file; });
    return;
  }
  if (data.close) {
    queue = queue.then(() => {
      stream.close();
      file = null;
    });
    return;
  }
  queue = queue.then(() => read(data));
};
