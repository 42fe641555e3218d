// Reads the player's File ahead of the engine, for the page's worker (worker.js) where memory can
// be shared: while the engine works on one window of the File, this worker reads the next one
// into a slot of memory that both see. Reading a File costs the browser far more than a copy,
// and this way it overlaps the engine's work instead of stopping it.
//
// Message from the worker: {file, slot, id, start, stop} (once first {slots, control}): read
// file[start, stop) into the slot, then mark request `id` of that slot done in `control` (the
// requests of a slot come in order: the worker waits for the last one it made).

let slots = null;   // Uint8Array: the slots, one after the other
let control = null; // Int32Array: per slot, the id of the last request done (-1 for a failed one)
let slot_size = 0;
const reader = new FileReaderSync();

onmessage = ({ data }) => {
  if (data.slots) {
    ({ slots, control } = data);
    slot_size = slots.length / control.length;
    return;
  }
  const { file, slot, id, start, stop } = data;
  let done = id;
  try {
    slots.set(new Uint8Array(reader.readAsArrayBuffer(file.slice(start, stop))), slot * slot_size);
  } catch {
    done = -1; // the worker reads it itself
  }
  Atomics.store(control, slot, done);
  Atomics.notify(control, slot);
};
