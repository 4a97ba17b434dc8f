// The page's encoders (readers/web/page/encoders.js, a classic script of the
// worker) in Node: CRC-32 against its check value, PNG files read back by
// the tests' own reader, with the engine's deflate and with the stored
// blocks used where there is none, and zip archives read back entry by entry.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { runInNewContext } from 'node:vm';

import { fixture, readPng, readZip } from './helpers.mjs';

const source = readFileSync(
    join(dirname(fileURLToPath(import.meta.url)), '../../readers/web/page/encoders.js'), 'utf8');

// The script's functions, in a context with or without CompressionStream.
function encoders(withCompression) {
  const context = { Blob, Response, TextEncoder, DataView, Uint8Array, Uint32Array, Date, Math,
                    Error, ...(withCompression ? { CompressionStream } : {}) };
  return runInNewContext(`${source}\n({ crc32, encodePng, ZipWriter })`, context);
}

const rgbaOf = (name) => {
  const entry = fixture(name);
  return { ...entry, data: new Uint8Array(readFileSync(entry.rgba)) };
};

test('CRC-32 gives the check value of its definition', () => {
  const { crc32 } = encoders(true);
  assert.equal(crc32(new TextEncoder().encode('123456789')), 0xCBF43926);
  assert.equal(crc32(new Uint8Array(0)), 0);
});

for (const withCompression of [true, false]) {
  test(`PNG files read back exactly (${withCompression ? 'deflate' : 'stored blocks'})`,
       async () => {
         const { encodePng } = encoders(withCompression);
         // Every 16-bit value, an odd width, one column, one row, and a picture
         // larger than one stored block.
         for (const name of ['every_value', 'chart_173x97', 'chart_1x-2', 'chart_10x1',
                             'chart_320x240']) {
           const picture = rgbaOf(name);
           const png = await encodePng(picture.width, picture.height, picture.data);
           const back = readPng(png);
           assert.deepEqual([back.width, back.height], [picture.width, picture.height], name);
           assert.ok(Buffer.from(back.rgba).equals(Buffer.from(picture.data)), name);
         }
       });
}

test('zip archives hold each PNG stored, with its name and CRC', async () => {
  const { encodePng, ZipWriter } = encoders(true);
  const writer = new ZipWriter(new Date(2024, 4, 17, 13, 45, 30));
  const names = ['chart_173x97.png', 'folder/ünïcode name.png', 'every_value.png'];
  const pngs = [];
  for (const name of ['chart_173x97', 'chart_255x-128', 'every_value']) {
    const picture = rgbaOf(name);
    pngs.push(await encodePng(picture.width, picture.height, picture.data));
  }
  names.forEach((name, i) => writer.add(name, pngs[i]));
  const zip = new Uint8Array(await writer.finish().arrayBuffer());
  const entries = readZip(zip);
  assert.deepEqual(entries.map((e) => e.name), names);
  entries.forEach((e, i) => assert.ok(Buffer.from(e.bytes).equals(Buffer.from(pngs[i])), e.name));
  // The time stamp of the entries, in MS-DOS form: 13:45:30 on 17 May 2024.
  const view = new DataView(zip.buffer);
  assert.equal(view.getUint16(10, true), (13 << 11) | (45 << 5) | 15);
  assert.equal(view.getUint16(12, true), (44 << 9) | (5 << 5) | 17);
  const empty = new Uint8Array(await new ZipWriter().finish().arrayBuffer());
  assert.deepEqual(readZip(empty), []);
});
