// Reading parts of a File into a buffer of one's own, for the page's workers (worker.js,
// reader.js). The File is streamed into the buffer, lent to the stream and given back at each
// read: reading each piece into a new buffer instead (FileReaderSync, Blob.arrayBuffer) would
// leave the memory of every piece read to the garbage collector, a whole ROM's worth in a run.
//
// One stream is kept open between reads: a read that starts where the last one stopped goes on
// with it, and only a read elsewhere opens another. Each stream the browser opens on a File costs
// it about as much as reading a few MiB (measured in Chromium: a 128 MiB File read in 4 MiB
// pieces, one stream each, took two to three times the processor time of one stream read
// through).
export class file_stream {
  constructor() {
    this.file = null;
    this.reader = null;
    this.position = 0; // where the open stream stands in the File
  }

  // Reads file[start, stop) into `buffer` (an ArrayBuffer at least that long); returns the bytes
  // read, a view of the buffer given back, which the caller keeps for its next read. Fails where
  // the browser's File streams cannot fill a buffer of the reader's; the buffer is gone then.
  async read_into(file, start, stop, buffer) {
    if (this.reader === null || this.file !== file || this.position !== start) {
      this.close();
      this.reader = file.slice(start).stream().getReader({ mode: 'byob' });
      this.file = file;
      this.position = start;
    }
    let length = 0;
    try {
      while (length < stop - start) {
        const { done, value } = await this.reader.read(new Uint8Array(buffer, length, stop - start - length));
        if (value) buffer = value.buffer;
        if (done) break;
        length += value.length;
      }
    } catch (error) {
      this.close();
      throw error;
    }
    this.position = start + length;
    if (length !== stop - start) {
      this.close();
      throw new Error('the File ended early');
    }
    return new Uint8Array(buffer, 0, length);
  }

  // Lets the File go (at the end of a run).
  close() {
    if (this.reader !== null) this.reader.cancel().catch(() => {});
    this.reader = null;
    this.file = null;
  }
}
