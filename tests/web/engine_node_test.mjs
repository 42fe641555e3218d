// The WebAssembly engine under node, through the same entry points as the page's worker:
//   node --test tests/web/engine_node_test.mjs   with QM_WEB_ENGINE (quillmoor-engine-node.js),
//   QM_WEB_SAMPLE (a folder made by `quillmoor-tool make-sample`), QM_WEB_WORK (a scratch folder)
//   and QM_WEB_NATIVE_PATCH (quillmoor-patch of the same archive, to compare explanations with).
// QM_WEB_ENGINE may be either engine, on one thread or with threads.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import { createRequire } from 'node:module';
import path from 'node:path';
import test from 'node:test';

const require = createRequire(import.meta.url);
const engine_file = path.resolve(process.env.QM_WEB_ENGINE);
const create_engine = require(engine_file);
const wasm_binary = fs.readFileSync(engine_file.replace(/\.js$/, '.wasm'));
const sample = process.env.QM_WEB_SAMPLE;
const work = process.env.QM_WEB_WORK;
const [status_event, total_event, position_event, error_event, proof_event, timing_event] = [0, 1, 2, 3, 4, 5];
const threaded = /-threads-node\.js$/.test(engine_file);
const [written, failed, cancelled] = [0, 1, 2];

// One job on a fresh module: its outcome, every event it posted, the result put together from the
// pieces the engine handed over (as the worker script does with slices of the File), and how many
// of those were ranges kept from the source. `poll_cancel` answers the engine's cancel polls
// (none: never); `timed` asks for the timing event; `read` answers the engine's reads of the
// source (by default, the file's bytes).
async function run_job(source, { poll_cancel, timed = false, read } = {}) {
  const events = [];
  const source_bytes = fs.readFileSync(source);
  const parts = [];
  let end = 0;
  let kept = 0;
  let size = null;
  const zeros_to = (at) => {
    assert.ok(at >= end, 'a piece before the end of the one before');
    parts.push(Buffer.alloc(at - end));
  };
  const engine = await create_engine({
    on_engine_event: (kind, text, number) => events.push({ kind, text, number }),
    on_sink_write: (at, bytes) => { zeros_to(at); parts.push(Buffer.from(bytes)); end = at + bytes.length; },
    on_sink_keep: (at, from, length) => {
      zeros_to(at);
      parts.push(source_bytes.subarray(from, from + length));
      end = at + length;
      ++kept;
    },
    on_sink_finish: (at) => { zeros_to(at); end = size = at; },
    poll_cancel,
    on_source_read: read ?? ((at, into) => {
      into.set(source_bytes.subarray(at, at + into.length));
      return 0;
    }),
    wasmBinary: wasm_binary,
  });
  const path_size = engine.lengthBytesUTF8(source) + 1;
  const pointer = engine._malloc(path_size);
  engine.stringToUTF8(source, pointer, path_size);
  const outcome = engine._qm_run(pointer, source_bytes.length, timed ? 1 : 0);
  const threads = engine._qm_threads();
  // A threaded engine's workers would keep node running after the tests.
  engine.PThread?.terminateAllThreads();
  return { outcome, events, kept, threads, result: size === null ? null : Buffer.concat(parts) };
}

const translation = () => fs.readFileSync(path.join(sample, 'quillmoor-fr.nds'));

test('the sample game is patched to its translation, proven, with the dialog texts and percentages', async () => {
  const { outcome, events, kept, result } = await run_job(path.join(sample, 'quillmoor.nds'));
  assert.equal(outcome, written);
  assert.ok(result.equals(translation()), 'the result differs from the translation');
  assert.ok(kept > 300, 'few ranges kept from the source: ' + kept);
  // The proof: the line quillmoor-patch prints, with the result's SHA-1 and "vérifiée".
  const proofs = events.filter((e) => e.kind === proof_event).map((e) => e.text);
  const sha1 = crypto.createHash('sha1').update(result).digest('hex');
  assert.equal(proofs.length, 1);
  assert.ok(proofs[0].includes(sha1) && proofs[0].includes('(vérifiée'), proofs[0]);

  const statuses = events.filter((e) => e.kind === status_event).map((e) => e.text);
  assert.deepEqual(statuses.slice(0, 4), ['Ouverture de la ROM source... ', 'Initialisation... ', 'Header', 'ARM9 binary']);
  assert.ok(statuses.some((s) => /^OVL9-\d{4}$/.test(s)), 'no overlay label');
  assert.ok(statuses.includes('script/event.cpk'), 'no file path among the labels');
  assert.equal(statuses.at(-1), 'Padding');

  const total = events.find((e) => e.kind === total_event).number;
  const positions = events.filter((e) => e.kind === position_event);
  assert.deepEqual(positions.map((e) => e.number), [...Array(total).keys(), total]);
  // The caption is rewritten at 0 and whenever the whole percentage grows, up to 100 at the end.
  const percents = positions.filter((e) => e.text).map((e) => Number(/\((\d+)%\)$/.exec(e.text)[1]));
  assert.equal(positions[0].text, 'Application du patch en cours... (0%)');
  assert.equal(percents.at(-1), 100);
  assert.ok(percents.every((p, i) => i === 0 || p > percents[i - 1]), 'percentages do not grow: ' + percents);
});

test('a ROM of another game fails with the French error text, explained as quillmoor-patch does', async () => {
  const wrong = path.join(work, 'wrong.nds');
  const rom = fs.readFileSync(path.join(sample, 'quillmoor.nds'));
  rom[0] ^= 0x20; // the title's first letter in the other case
  fs.writeFileSync(wrong, rom);
  const { outcome, events, result } = await run_job(wrong);
  assert.equal(outcome, failed);
  assert.equal(result, null);
  const errors = events.filter((e) => e.kind === error_event).map((e) => e.text);
  assert.equal(errors.length, 1);
  assert.ok(errors[0].startsWith("Une erreur s'est produite:\n\nInput is not a valid Quillmoor game\n\n"), errors[0]);
  // The explanation from the patch's identity card, word for word the command-line patcher's.
  const native = spawnSync(process.env.QM_WEB_NATIVE_PATCH, [wrong, path.join(work, 'native.nds')], { encoding: 'utf8' });
  assert.equal(native.status, 1);
  assert.equal(errors[0], native.stderr.slice(native.stderr.indexOf('Une erreur')).trimEnd());
});

test('a cancel before the archive is unpacked is forgotten, as in the dialog', async () => {
  let polls = 0;
  const { outcome, result } = await run_job(path.join(sample, 'quillmoor.nds'),
                                            { poll_cancel: () => (++polls === 1 ? 1 : 0) });
  assert.equal(outcome, written);
  assert.ok(result.equals(translation()));
});

test('a cancel taken while sections are handled proves nothing and freezes the progress', async () => {
  let polls = 0;
  // The first poll comes while the archive is unpacked; the second, once sections are handled.
  const { outcome, events } = await run_job(path.join(sample, 'quillmoor.nds'),
                                            { poll_cancel: () => (++polls === 2 ? 1 : 0) });
  assert.equal(outcome, cancelled);
  assert.ok(polls >= 2, 'the engine never asked about a cancel');
  assert.ok(!events.some((e) => e.kind === proof_event), 'a cancelled run proved something');
  // Once cancelled, no status or position reaches the page: neither the last section's label nor
  // the final position is shown.
  const total = events.find((e) => e.kind === total_event).number;
  assert.ok(!events.some((e) => e.kind === position_event && e.number === total), 'the progress ran on to the end');
  assert.notEqual(events.filter((e) => e.kind === status_event).at(-1).text, 'Padding');
});

test('with threads the engine runs on every core, as natively, and the proof on a helper', async () => {
  const { outcome, events, threads, result } = await run_job(path.join(sample, 'quillmoor.nds'), { timed: true });
  assert.equal(outcome, written);
  assert.ok(result.equals(translation()));
  const cores = os.cpus().length;
  assert.equal(threads, threaded ? Math.min(cores, 16) : 1);
  // The timing event: every phase of the job, seconds on its thread and on the helpers.
  const timing = events.filter((e) => e.kind === timing_event);
  assert.equal(timing.length, 1);
  const phases = Object.fromEntries(timing[0].text.trim().split('\n').map((line) => {
    const [name, job, helpers] = line.split('\t');
    return [name, { job: Number(job), helpers: Number(helpers) }];
  }));
  assert.ok(phases['CPK re-compression'].job + phases['CPK re-compression'].helpers > 0, timing[0].text);
  assert.equal(phases.fingerprinting.helpers > 0, threaded && cores > 1, timing[0].text);
});

test('a source that can no longer be read midway fails with a stream error, nothing written', async () => {
  const source = fs.readFileSync(path.join(sample, 'quillmoor.nds'));
  let reads = 0;
  const { outcome, events, result } = await run_job(path.join(sample, 'quillmoor.nds'), {
    read: (at, into) => {
      if (++reads > 20) return -1; // as when the player's File was changed on disk
      into.set(source.subarray(at, at + into.length));
      return 0;
    },
  });
  assert.equal(outcome, failed);
  assert.equal(result, null);
  assert.ok(reads > 20, 'the engine read the source ' + reads + ' times only');
  const errors = events.filter((e) => e.kind === error_event).map((e) => e.text);
  assert.equal(errors.length, 1);
  assert.ok(errors[0].startsWith("Une erreur s'est produite:\n\nweb_source::read_at failed - the file cannot be read any more"), errors[0]);
});
