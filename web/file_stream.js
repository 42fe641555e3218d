// Reading part of a File into a buffer of one's own, for the page's workers (worker.js,
// reader.js): the File is streamed into the buffer, lent to the stream and given back at each
// read. Reading each piece into a new buffer instead (FileReaderSync, Blob.arrayBuffer) would
// leave the memory of every piece read to the garbage collector: a whole ROM's worth in a run.

// Reads file[start, stop) into `buffer` (an ArrayBuffer at least that long); returns the bytes
// read, a view of the buffer given back, which the caller keeps for its next read. Fails where
// the browser's File streams cannot fill a buffer of the reader's.
export async function read_into(file, start, stop, buffer) {
  const reader = file.slice(start, stop).stream().getReader({ mode: 'byob' });
  let length = 0;
  try {
    while (length < stop - start) {
      const { done, value } = await reader.read(new Uint8Array(buffer, length, stop - start - length));
      if (value) buffer = value.buffer;
      if (done) break;
      length += value.length;
    }
  } finally {
    reader.releaseLock();
  }
  if (length !== stop - start) throw new Error('the File ended early');
  return new Uint8Array(buffer, 0, length);
}
