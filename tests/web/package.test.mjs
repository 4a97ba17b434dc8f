// The npm package in Node: every fixture against the channel tables and the
// refusal it was built for, every fuzz seed and sample byte for byte against
// the native core, both modules (simd128 and plain); the calls' contract;
// and `npm pack`, installed into a project of its own and imported by name.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { fixture, manifest, PACKAGE } from './helpers.mjs';

const morvellane = await import(pathToFileURL(join(PACKAGE, 'morvellane.js')));
const { MorvellaneError, DEFAULT_OUTPUT_LIMIT } = morvellane;
const decoders = {
  simd128: await morvellane.createDecoder({ simd: true }),
  plain: await morvellane.createDecoder({ simd: false }),
};

function sameBytes(got, want) {
  return Buffer.compare(Buffer.from(got.buffer, got.byteOffset, got.byteLength), want) === 0;
}

function refusedAs(entry) {
  return (error) => error instanceof MorvellaneError && error.reason === entry.reason &&
                    error.code === entry.code && error.message.length > 0;
}

// decode, info from the header alone and isMorvellane, each as the entry says.
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

test('the asynchronous calls answer as a decoder does', async () => {
  for (const entry of manifest('fixtures').filter((_, i) => i % 3 === 0)) {
    const bytes = readFileSync(entry.input);
    assert.equal(await morvellane.isMorvellane(bytes), entry.morvellane);
    if (entry.reason) {
      await assert.rejects(morvellane.decode(bytes), refusedAs(entry), entry.name);
      await assert.rejects(morvellane.info(bytes), refusedAs(entry), entry.name);
    } else {
      const picture = await morvellane.decode(bytes);
      assert.ok(sameBytes(picture.data, readFileSync(entry.rgba)), entry.name);
      assert.deepEqual(await morvellane.info(bytes), { width: entry.width, height: entry.height });
    }
  }
});

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
  for (const wrong of ['BM', null, undefined, 42, [0x42, 0x4D], {}])
    assert.throws(() => decoders.simd128.decode(wrong), TypeError, String(wrong));
});

test('the output limit: lowered by the caller, never raised', () => {
  const entry = fixture('chart_173x97');
  const bytes = readFileSync(entry.input);
  const exact = entry.width * entry.height * 4;
  const decoder = decoders.plain;
  assert.ok(sameBytes(decoder.decode(bytes, { outputLimit: exact }).data, readFileSync(entry.rgba)));
  for (const outputLimit of [exact - 1, 0]) {
    assert.throws(() => decoder.decode(bytes, { outputLimit }),
                  refusedAs({ reason: 'too-large', code: 4 }), String(outputLimit));
    assert.throws(() => decoder.info(bytes, { outputLimit }),
                  refusedAs({ reason: 'too-large', code: 4 }), String(outputLimit));
  }
  for (const outputLimit of [-1, 1.5, DEFAULT_OUTPUT_LIMIT + 1, '1000', NaN, Infinity])
    assert.throws(() => decoder.decode(bytes, { outputLimit }), RangeError, String(outputLimit));
  assert.equal(DEFAULT_OUTPUT_LIMIT, 256 * 1024 * 1024);
  assert.throws(() => decoder.info(bytes, { fileSize: bytes.length - 1 }), RangeError);
});

test('results are the caller\'s own, and no call leaves memory behind', () => {
  const decoder = decoders.simd128;
  const big = readFileSync(fixture('every_value').input);
  const small = fixture('chart_7x-3');
  const first = decoder.decode(readFileSync(small.input));
  assert.equal(first.data.buffer.byteLength, first.data.length, 'a buffer of its own');
  decoder.decode(big);
  const size = decoder.memorySize;
  const refused = readFileSync(fixture('cut_54').input);
  for (let i = 0; i < 30; ++i) {
    decoder.decode(big);
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
