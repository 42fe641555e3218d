// The functions the engine's C++ side imports from JavaScript (web/web_progress.cpp,
// web/web_sink.cpp, web/web_source.cpp). They hand over to callbacks that whoever creates the module sets on it: the
// page's worker script or the node test.
mergeInto(LibraryManager.library, {
  qm_post_event: function (kind, text, number) {
    Module['on_engine_event'](kind, UTF8ToString(text), number >>> 0);
  },
  // The bytes are copied out of the module's memory, which the next piece may reuse.
  qm_sink_write: function (at, data, size) {
    Module['on_sink_write'](at, HEAPU8.slice(data, data + (size >>> 0)));
  },
  qm_sink_keep: function (at, from, size) {
    Module['on_sink_keep'](at, from, size);
  },
  qm_sink_finish: function (size) {
    Module['on_sink_finish'](size);
  },
  // The File's bytes go straight into the engine's buffer.
  qm_source_read: function (at, into, size) {
    return Module['on_source_read'](at, HEAPU8.subarray(into, into + (size >>> 0)));
  },
  // Where the browser can suspend WebAssembly, the worker script replaces this import with one
  // that waits for a turn of its event loop (worker.js).
  qm_cancel_poll: function () {
    return Module['poll_cancel'] ? Module['poll_cancel']() : 0;
  },
});
