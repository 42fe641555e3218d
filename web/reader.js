// Reads the player's File ahead of the engine, for the page's worker (worker.js) where memory can
// be shared: while the engine works on one window of the File, this worker reads the next one
// into a slot of memory that both see. Reading a File costs the browser far more than a copy,
// and this way it overlaps the engine's work instead of stopping it.
//
// Message from the worker: {file, slot, id, start, stop} (once first {slots, control}): read
// file[start, stop) into the slot, then mark request `id` of that slot done in `control` (the
// requests of a slot come in order: the worker waits for the last one it made).
import { read_into } from './file_stream.js';

let slots = null;   // Uint8Array: the slots, one after the other
let control = null; // Int32Array: per slot, the id of the last request done (-1 for a failed one)
let slot_size = 0;
let buffer = null;  // ArrayBuffer of a slot's size, lent to the stream
let queue = Promise.resolve();

async function read({ file, slot, id, start, stop }) {
  let done = id;
  try {
    let bytes;
    try {
      bytes = await read_into(file, start, stop, buffer);
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
  queue = queue.then(() => read(data));
};
