// The web loop benchmark: one picture decoded LOADS times in this one Node
// process, as a script's loop over a folder does, through the npm package
// named by MRVLN_WEB_PACKAGE (default: build/wasm32/readers/web/package), so
// that the same program measures any build. One line a load on stdout:
// "<milliseconds> <minor page faults>". The web has no stock reader in Node:
// SIDE is `ours` only.
import { readFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const MODES = {
  // picture = await decode(bytes): a new array for every picture.
  decode: () => {
    let picture;
    return async (m, bytes) => {
      picture = await m.decode(bytes);
      return picture;
    };
  },
  // await decodeInto(bytes, target): one array, made again only for another size.
  'decode-into': () => {
    let target;
    return async (m, bytes) => {
      const { width, height } = await m.info(bytes);
      if (target?.length !== width * height * 4) target = new Uint8ClampedArray(width * height * 4);
      return m.decodeInto(bytes, target);
    };
  },
  // decoder.decodeInto(bytes, target) with a decoder of its own, as the page's worker does;
  // the decoder is made in the first load.
  'decoder-into': () => {
    let decoder, target;
    return async (m, bytes) => {
      decoder ??= await m.createDecoder();
      const { width, height } = decoder.info(bytes);
      if (target?.length !== width * height * 4) target = new Uint8ClampedArray(width * height * 4);
      return decoder.decodeInto(bytes, target);
    };
  },
};

const USAGE = `usage: node bench/web/loop.mjs ours FILE LOADS [MODE]
  MODE: ${Object.keys(MODES).join(', ')} (default ${Object.keys(MODES)[0]})
  MRVLN_WEB_PACKAGE: the package's folder (default build/wasm32/readers/web/package)`;

const [side, file, loads, mode = Object.keys(MODES)[0]] = process.argv.slice(2);
if (side === '--help' || side === '-h') {
  console.log(USAGE);
  process.exit(0);
}
if (side === 'stock') {
  console.error('loop.mjs: Node has no stock BMP reader: only SIDE ours');
  process.exit(2);
}
if (side !== 'ours' || !file || !(Number(loads) >= 1) || !MODES[mode]) {
  console.error(USAGE);
  process.exit(2);
}

const root = join(dirname(fileURLToPath(import.meta.url)), '../..');
const packageDir = resolve(process.env.MRVLN_WEB_PACKAGE ??
                           join(root, 'build/wasm32/readers/web/package'));
const m = await import(pathToFileURL(join(packageDir, 'morvellane.js')));
if (mode !== 'decode' && typeof m.decodeInto !== 'function') {
  console.error(`loop.mjs: the package in ${packageDir} has no decodeInto (mode ${mode})`);
  process.exit(2);
}

const bytes = readFileSync(file);
const load = MODES[mode]();
let picture;
for (let i = 0; i < Number(loads); ++i) {
  const faults = process.resourceUsage().minorPageFault;
  const start = performance.now();
  picture = await load(m, bytes);
  const ms = performance.now() - start;
  console.log(`${ms.toFixed(3)} ${process.resourceUsage().minorPageFault - faults}`);
}

// The size the file's header declares, read here.
const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
const width = view.getInt32(18, true);
const height = Math.abs(view.getInt32(22, true));
if (picture.width !== width || picture.height !== height ||
    picture.data.length !== width * height * 4) {
  console.error(`loop.mjs: decoded ${picture.width} x ${picture.height} ` +
                `(${picture.data.length} bytes), not ${width} x ${height}`);
  process.exit(1);
}
