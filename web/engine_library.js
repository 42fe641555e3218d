// The functions the engine's C++ side imports from JavaScript (web/web_progress.cpp,
// web/referring_patcher.h). They hand over to callbacks that whoever creates the module sets on
// it: the page's worker script or the node test.
mergeInto(LibraryManager.library, {
  qm_post_event: function (kind, text, number) {
    Module['on_engine_event'](kind, UTF8ToString(text), number >>> 0);
  },
  qm_place_unchanged: function (offset, size, destination) {
    Module['on_unchanged_range'](offset >>> 0, size >>> 0, destination);
  },
  // Where the browser can suspend WebAssembly, the worker script replaces this import with one
  // that waits for a turn of its event loop (worker.js).
  qm_cancel_poll: function () {
    return Module['poll_cancel'] ? Module['poll_cancel']() : 0;
  },
});
