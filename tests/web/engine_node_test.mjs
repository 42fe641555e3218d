// The WebAssembly engine under node, through the same entry points as the page's worker:
//   node --test tests/web/engine_node_test.mjs   with QM_WEB_ENGINE (quillmoor-engine-node.js),
//   QM_WEB_SAMPLE (a folder made by `quillmoor-tool make-sample`), QM_WEB_WORK (a scratch folder)
//   and QM_WEB_NATIVE_PATCH (quillmoor-patch of the same archive, to compare explanations with).
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import test from 'node:test';

const require = createRequire(import.meta.url);
const create_engine = require(path.resolve(process.env.QM_WEB_ENGINE));
const sample = process.env.QM_WEB_SAMPLE;
const work = process.env.QM_WEB_WORK;
const [status_event, total_event, position_event, error_event] = [0, 1, 2, 3];
const [written, failed, cancelled] = [0, 1, 2];

// One job on a fresh module: its outcome, every event it posted and the source's ranges it left
// to the caller (with `refer_unchanged`). `poll_cancel` answers the engine's cancel polls
// (none: never).
async function run_job(source, destination, { poll_cancel, refer_unchanged = false } = {}) {
  const events = [];
  const ranges = [];
  const engine = await create_engine({
    on_engine_event: (kind, text, number) => events.push({ kind, text, number }),
    on_unchanged_range: (offset, size, at) => ranges.push({ offset, size, at }),
    poll_cancel,
  });
  const c_string = (text) => {
    const size = engine.lengthBytesUTF8(text) + 1;
    const pointer = engine._malloc(size);
    engine.stringToUTF8(text, pointer, size);
    return pointer;
  };
  const outcome = engine._qm_run(c_string(source), c_string(destination), refer_unchanged ? 1 : 0);
  return { outcome, events, ranges };
}

const leftovers = () => fs.readdirSync(work).filter((name) => name.includes('.tmp-'));

test('the sample game is patched to its translation, its unchanged ranges left to the caller', async () => {
  const source = fs.readFileSync(path.join(sample, 'quillmoor.nds'));
  const destination = path.join(work, 'referring.nds');
  const { outcome, ranges } = await run_job(path.join(sample, 'quillmoor.nds'), destination, { refer_unchanged: true });
  assert.equal(outcome, written);
  assert.ok(ranges.length > 300, 'few ranges left to the caller: ' + ranges.length);
  // Filled in as the worker script does it with slices of the File.
  const result = fs.readFileSync(destination);
  for (const { offset, size, at } of ranges) {
    assert.ok(result.subarray(at, at + size).every((byte) => byte === 0), 'a range was written at ' + at);
    source.copy(result, at, offset, offset + size);
  }
  assert.ok(result.equals(fs.readFileSync(path.join(sample, 'quillmoor-fr.nds'))), 'the result differs from the translation');
});

test('the sample game is patched to its translation, with the dialog texts and percentages', async () => {
  const destination = path.join(work, 'patched.nds');
  const { outcome, events, ranges } = await run_job(path.join(sample, 'quillmoor.nds'), destination);
  assert.equal(outcome, written);
  assert.deepEqual(ranges, []);
  assert.ok(fs.readFileSync(destination).equals(fs.readFileSync(path.join(sample, 'quillmoor-fr.nds'))),
            'the result differs from the translation');

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
  assert.deepEqual(leftovers(), []);
});

test('a ROM of another game fails with the French error text, explained as quillmoor-patch does', async () => {
  const wrong = path.join(work, 'wrong.nds');
  const rom = fs.readFileSync(path.join(sample, 'quillmoor.nds'));
  rom[0] ^= 0x20; // the title's first letter in the other case
  fs.writeFileSync(wrong, rom);
  const destination = path.join(work, 'wrong-patched.nds');
  const { outcome, events } = await run_job(wrong, destination);
  assert.equal(outcome, failed);
  const errors = events.filter((e) => e.kind === error_event).map((e) => e.text);
  assert.equal(errors.length, 1);
  assert.ok(errors[0].startsWith("Une erreur s'est produite:\n\nInput is not a valid Quillmoor game\n\n"), errors[0]);
  // The explanation from the patch's identity card, word for word the command-line patcher's.
  const native = spawnSync(process.env.QM_WEB_NATIVE_PATCH, [wrong, path.join(work, 'native.nds')], { encoding: 'utf8' });
  assert.equal(native.status, 1);
  assert.equal(errors[0], native.stderr.slice(native.stderr.indexOf('Une erreur')).trimEnd());
  assert.equal(fs.existsSync(destination), false);
  assert.deepEqual(leftovers(), []);
});

test('a cancel before the archive is unpacked is forgotten, as in the dialog', async () => {
  const destination = path.join(work, 'early.nds');
  let polls = 0;
  const { outcome } = await run_job(path.join(sample, 'quillmoor.nds'), destination,
                                    { poll_cancel: () => (++polls === 1 ? 1 : 0) });
  assert.equal(outcome, written);
  assert.ok(fs.readFileSync(destination).equals(fs.readFileSync(path.join(sample, 'quillmoor-fr.nds'))));
  fs.rmSync(destination);
});

test('a cancel taken while sections are written leaves nothing and freezes the progress', async () => {
  const destination = path.join(work, 'cancelled.nds');
  let polls = 0;
  // The first poll comes while the archive is unpacked; the second, once sections are written.
  const { outcome, events } = await run_job(path.join(sample, 'quillmoor.nds'), destination,
                                          { poll_cancel: () => (++polls === 2 ? 1 : 0), refer_unchanged: true });
  assert.equal(outcome, cancelled);
  assert.ok(polls >= 2, 'the engine never asked about a cancel');
  assert.equal(fs.existsSync(destination), false);
  assert.deepEqual(leftovers(), []);
  // Once cancelled, no status or position reaches the page: neither the last section's label nor
  // the final position is shown.
  const total = events.find((e) => e.kind === total_event).number;
  assert.ok(!events.some((e) => e.kind === position_event && e.number === total), 'the progress ran on to the end');
  assert.notEqual(events.filter((e) => e.kind === status_event).at(-1).text, 'Padding');
});
