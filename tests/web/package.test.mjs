// The npm package in Node: every fixture against the channel tables and the
// refusal it was built for, every fuzz seed and sample byte for byte against
// the native core, refusals in the core's names, numbers and words, both
// modules (simd128 and plain); decodeInto and the targets it refuses; the
// calls' contract; and `npm pack`, installed into a project of its own and
// imported by name.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { fixture, manifest, PACKAGE, WEB } from './helpers.mjs';

const morvellane = await import(pathToFileURL(join(PACKAGE, 'morvellane.js')));
const { MorvellaneError, DEFAULT_OUTPUT_LIMIT } = morvellane;
const decoders = {
  simd128: await morvellane.createDecoder({ simd: true }),
  plain: await morvellane.createDecoder({ simd: false }),
};

function sameBytes(got, want) {
  return Buffer.compare(Buffer.from(got.buffer, got.byteOffset, got.byteLength), want) === 0;
}

// The refusal in the entry's reason, number and words.
function refusedAs(entry) {
  return (error) => {
    assert.ok(error instanceof MorvellaneError, String(error));
    assert.deepEqual([error.reason, error.code, error.message],
                     [entry.reason, entry.code, entry.message]);
    return true;
  };
}

// decode, decodeInto, info from the header alone and isMorvellane, each as the entry says.
function check(decoder, entry) {
  const bytes = readFileSync(entry.input);
  assert.equal(decoder.isMorvellane(bytes), entry.morvellane, `${entry.name}: isMorvellane`);
  const header = bytes.subarray(0, decoder.headerSize);
  if (entry.reason) {
    assert.throws(() => decoder.decode(bytes), refusedAs(entry), `${entry.name}: decode`);
    assert.throws(() => decoder.info(header, { fileSize: bytes.length }), refusedAs(entry),
                  `${entry.name}: info`);
    return;
  }
  const picture = decoder.decode(bytes);
  assert.ok(picture.data instanceof Uint8ClampedArray);
  assert.deepEqual([picture.width, picture.height], [entry.width, entry.height], entry.name);
  assert.ok(sameBytes(picture.data, readFileSync(entry.rgba)), `${entry.name}: pixels differ`);
  const target = new Uint8Array(picture.data.length);
  decoder.decodeInto(bytes, target);
  assert.ok(sameBytes(target, readFileSync(entry.rgba)), `${entry.name}: decodeInto`);
  assert.deepEqual(decoder.info(header, { fileSize: bytes.length }),
                   { width: entry.width, height: entry.height }, `${entry.name}: info`);
}

test('each module runs its own conversion path', () => {
  assert.equal(decoders.simd128.path, 'simd128');
  assert.equal(decoders.plain.path, 'plain');
  assert.equal(decoders.simd128.headerSize, 66);
});

for (const [name, decoder] of Object.entries(decoders)) {
  test(`${name}: the fixtures, against the channel tables and their refusals`, () => {
    for (const entry of manifest('fixtures')) check(decoder, entry);
  });
  test(`${name}: the fuzz seeds and samples, as the native core answers`, () => {
    const entries = manifest('core');
    assert.ok(entries.length > 40, 'the seeds are there');
    for (const entry of entries) check(decoder, entry);
  });
}

test('the declared reasons are the module\'s, in its numbering', async () => {
  const declared = readFileSync(join(PACKAGE, 'morvellane.d.ts'), 'utf8')
                       .match(/type MorvellaneReason =([^;]*);/)[1];
  const names = [...declared.matchAll(/'([a-z-]+)'/g)].map((m) => m[1]);
  // The module itself, not the package: its names by number, 1 on.
  const { instance } = await WebAssembly.instantiate(
      readFileSync(join(WEB, 'morvellane-plain.wasm')), {});
  const memory = new Uint8Array(instance.exports.memory.buffer);
  const module = [];
  for (let reason = 1, at; (at = instance.exports.reason_name(reason)) !== 0; ++reason)
    module.push(Buffer.from(memory.subarray(at, memory.indexOf(0, at))).toString());
  assert.deepEqual(names, module);
});

test('refusals in the core\'s words: truncated, too large', () => {
  const cases = [
    ['cut_107', undefined,
     'truncated Morvellane bitmap: the file ends after 107 of the 108 bytes of its 7 x 3 pixels'],
    ['limit_passed', undefined,
     'Morvellane bitmap too large: 8192 x 8193 pixels, more than the limit of 256 MiB decoded'],
    ['chart_173x97', 173 * 97 * 4 - 1,
     'Morvellane bitmap too large: 173 x 97 pixels, more than the limit of 67123 bytes decoded'],
  ];
  for (const [name, outputLimit, message] of cases) {
    const bytes = readFileSync(fixture(name).input);
    assert.throws(() => decoders.plain.decode(bytes, { outputLimit }), { message }, name);
  }
});

test('the asynchronous calls answer as a decoder does', async () => {
  for (const entry of manifest('fixtures').filter((_, i) => i % 3 === 0)) {
    const bytes = readFileSync(entry.input);
    assert.equal(await morvellane.isMorvellane(bytes), entry.morvellane);
    if (entry.reason) {
      await assert.rejects(morvellane.decode(bytes), refusedAs(entry), entry.name);
      await assert.rejects(morvellane.decodeInto(bytes, new Uint8Array(4)), refusedAs(entry));
      await assert.rejects(morvellane.info(bytes), refusedAs(entry), entry.name);
    } else {
      const picture = await morvellane.decode(bytes);
      assert.ok(sameBytes(picture.data, readFileSync(entry.rgba)), entry.name);
      const target = new Uint8ClampedArray(picture.data.length);
      assert.equal((await morvellane.decodeInto(bytes, target)).data, target);
      assert.ok(sameBytes(target, readFileSync(entry.rgba)), entry.name);
      assert.deepEqual(await morvellane.info(bytes), { width: entry.width, height: entry.height });
    }
  }
});

// A view of `size` bytes whose buffer was then transferred.
function detached(Type, size) {
  const view = new Type(size);
  structuredClone(view.buffer, { transfer: [view.buffer] });
  return view;
}

test('bytes in any buffer or view, and nothing else', () => {
  const entry = fixture('chart_173x97');
  const file = readFileSync(entry.input);
  const want = readFileSync(entry.rgba);
  const offset = new Uint8Array(file.length + 7);
  offset.set(file, 3);
  const shared = new SharedArrayBuffer(file.length);
  new Uint8Array(shared).set(file);
  const forms = {
    Buffer: file,
    ArrayBuffer: new Uint8Array(file).buffer,
    'Uint8Array inside a larger buffer': offset.subarray(3, 3 + file.length),
    DataView: new DataView(offset.buffer, 3, file.length),
    SharedArrayBuffer: shared,
  };
  for (const [what, bytes] of Object.entries(forms))
    assert.ok(sameBytes(decoders.simd128.decode(bytes).data, want), what);
  const gone = detached(Uint8Array, file.length);
  const wrong = { text: 'BM', null: null, undefined, number: 42, array: [0x42, 0x4D], object: {},
                  'detached view': gone, 'detached buffer': gone.buffer };
  for (const [what, bytes] of Object.entries(wrong))
    assert.throws(() => decoders.simd128.decode(bytes), TypeError, what);
});

test('decodeInto writes a right target only, and nothing on any error', () => {
  const entry = fixture('chart_173x97');
  const bytes = readFileSync(entry.input);
  const size = entry.width * entry.height * 4;
  const decoder = decoders.simd128;
  const readOnly = new ArrayBuffer(size);  // as an engine with read-only buffers reports one
  Object.defineProperty(readOnly, 'immutable', { value: true });
  const cases = [
    ['a Uint16Array', new Uint16Array(size / 2), TypeError],
    ['an Int8Array', new Int8Array(size), TypeError],
    ['a DataView', new DataView(new ArrayBuffer(size)), TypeError],
    ['an ArrayBuffer', new ArrayBuffer(size), TypeError],
    ['an array', new Array(size).fill(7), TypeError],
    ['a detached array', detached(Uint8ClampedArray, size), TypeError],
    ['a read-only array', new Uint8Array(readOnly), TypeError],
    ['one byte short', new Uint8ClampedArray(size - 1), RangeError],
    ['one byte long', new Uint8ClampedArray(size + 1), RangeError],
    ['a truncated file', new Uint8Array(size), MorvellaneError, bytes.subarray(0, bytes.length - 1)],
    ['detached bytes', new Uint8Array(size), TypeError, detached(Uint8Array, bytes.length)],
  ];
  // Every byte of what the target may be, 7 before the call; a detached one has none.
  const bytesIn = (target) => Array.isArray(target) ? target
                             : target.byteLength ? new Uint8Array(target.buffer ?? target) : [];
  for (const [what, target, error, input = bytes] of cases) {
    bytesIn(target).fill(7);
    assert.throws(() => decoder.decodeInto(input, target), error, what);
    assert.ok([...bytesIn(target)].every((v) => v === 7), `${what}: written`);
  }
  for (const target of [new Uint8ClampedArray(size), new Uint8Array(size), Buffer.alloc(size)]) {
    const answer = decoder.decodeInto(bytes, target);
    assert.deepEqual([answer.width, answer.height, answer.data], [entry.width, entry.height, target]);
    assert.ok(sameBytes(target, readFileSync(entry.rgba)), target.constructor.name);
  }
});

test('the output limit: lowered by the caller, never raised', () => {
  const entry = fixture('chart_173x97');
  const bytes = readFileSync(entry.input);
  const exact = entry.width * entry.height * 4;
  const decoder = decoders.plain;
  assert.ok(sameBytes(decoder.decode(bytes, { outputLimit: exact }).data, readFileSync(entry.rgba)));
  for (const outputLimit of [exact - 1, 0]) {
    const tooLarge = (e) => e instanceof MorvellaneError && e.reason === 'too-large' && e.code === 5;
    assert.throws(() => decoder.decode(bytes, { outputLimit }), tooLarge, String(outputLimit));
    assert.throws(() => decoder.info(bytes, { outputLimit }), tooLarge, String(outputLimit));
  }
  for (const outputLimit of [-1, 1.5, DEFAULT_OUTPUT_LIMIT + 1, '1000', NaN, Infinity])
    assert.throws(() => decoder.decode(bytes, { outputLimit }), RangeError, String(outputLimit));
  assert.equal(DEFAULT_OUTPUT_LIMIT, 256 * 1024 * 1024);
  assert.throws(() => decoder.info(bytes, { fileSize: bytes.length - 1 }), RangeError);
  assert.throws(() => decoder.info(bytes.subarray(0, 40), { fileSize: bytes.length }), RangeError);
});

test('results are the caller\'s own, and memory is reused from picture to picture', () => {
  const decoder = decoders.simd128;
  const big = readFileSync(fixture('every_value').input);
  const small = fixture('chart_7x-3');
  const first = decoder.decode(readFileSync(small.input));
  assert.equal(first.data.buffer.byteLength, first.data.length, 'a buffer of its own');
  const target = new Uint8ClampedArray(256 * 256 * 4);
  decoder.decode(big);
  const size = decoder.memorySize;
  const refused = readFileSync(fixture('cut_66').input);
  for (let i = 0; i < 30; ++i) {
    decoder.decode(big);
    decoder.decodeInto(big, target);
    assert.throws(() => decoder.decode(refused), MorvellaneError);
    decoder.isMorvellane(big);
    decoder.info(big);
  }
  assert.equal(decoder.memorySize, size, 'the module\'s memory did not grow');
  assert.ok(sameBytes(first.data, readFileSync(small.rgba)), 'the first result is unchanged');
});

test('the declarations name every export', () => {
  const declared = [...readFileSync(join(PACKAGE, 'morvellane.d.ts'), 'utf8')
                        .matchAll(/^export declare (?:const|function|class) (\w+)/gm)]
                       .map((m) => m[1]);
  assert.deepEqual(declared.sort(), Object.keys(morvellane).sort());
});

test('npm pack makes a package that installs offline and imports by its name', () => {
  const work = mkdtempSync(join(tmpdir(), 'mrvln-npm-'));
  try {
    const npm = (args, cwd) => execFileSync('npm', [...args, '--cache', join(work, 'cache'),
                                                    '--no-update-notifier', '--no-fund',
                                                    '--no-audit'], { cwd, encoding: 'utf8' });
    const [packed] = JSON.parse(npm(['pack', '--json', '--pack-destination', work], PACKAGE));
    assert.deepEqual(packed.files.map((f) => f.path).sort(),
                     ['LICENSE', 'README.md', 'morvellane.d.ts', 'morvellane.js', 'package.json']);
    const project = join(work, 'project');
    mkdirSync(project);
    writeFileSync(join(project, 'package.json'), '{"private": true, "type": "module"}\n');
    npm(['install', '--offline', '--ignore-scripts', join(work, packed.filename)], project);
    const entry = fixture('chart_173x97');
    const script = `import { decode } from 'morvellane';
      import { readFileSync } from 'node:fs';
      const p = await decode(readFileSync(${JSON.stringify(entry.input)}));
      console.log(p.width, p.height, Buffer.compare(Buffer.from(p.data.buffer),
                                                    readFileSync(${JSON.stringify(entry.rgba)})));`;
    const out = execFileSync(process.execPath, ['--input-type=module', '-e', script],
                             { cwd: project, encoding: 'utf8' });
    assert.equal(out.trim(), `${entry.width} ${entry.height} 0`);
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
});
