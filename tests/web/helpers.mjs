// Shared by the web tests: where the built package and page and the written
// inputs are, and readers of PNG and zip files written for checking what the
// page saves (independent of the page's own encoders).
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { inflateSync } from 'node:zlib';

export const WEB = process.env.MRVLN_WEB;
export const INPUTS = process.env.MRVLN_WEB_INPUTS;
if (!WEB || !INPUTS)
  throw new Error('MRVLN_WEB and MRVLN_WEB_INPUTS must name the built web folder and the ' +
                  'inputs written by write_inputs.cmake (ctest sets both)');
export const PACKAGE = join(WEB, 'package');
export const PAGE = join(WEB, 'page');

// Entries { name, input, morvellane, width, height, rgba | reason, code, message }.
export function manifest(which) {
  return JSON.parse(readFileSync(join(INPUTS, which, 'manifest.json'), 'utf8'));
}
export function fixture(name) {
  const entry = manifest('fixtures').find((e) => e.name === name);
  if (!entry) throw new Error(`no fixture ${name}`);
  return entry;
}

// A bitwise CRC-32, without the table the page's encoder uses.
export function crc32(bytes) {
  let crc = 0xFFFFFFFF;
  for (const byte of bytes) {
    crc ^= byte;
    for (let k = 0; k < 8; ++k) crc = (crc >>> 1) ^ (0xEDB88320 & -(crc & 1));
  }
  return (crc ^ 0xFFFFFFFF) >>> 0;
}

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// An 8-bit RGB or RGBA PNG, not interlaced, as RGBA top row first; every
// chunk's CRC is checked and every filter type is undone.
export function readPng(bytes) {
  const signature = [0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A];
  if (!signature.every((b, i) => bytes[i] === b)) throw new Error('not a PNG file');
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let width, height, channels;
  const data = [];
  for (let at = 8; at < bytes.length;) {
    const length = view.getUint32(at);
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (crc32(bytes.subarray(at + 4, at + 8 + length)) !== view.getUint32(at + 8 + length))
      throw new Error(`bad CRC in ${type}`);
    if (type === 'IHDR') {
      width = view.getUint32(at + 8);
      height = view.getUint32(at + 12);
      const [depth, colour, , , interlace] = body.subarray(8, 13);
      if (depth !== 8 || (colour !== 2 && colour !== 6) || interlace !== 0)
        throw new Error(`unexpected PNG kind: depth ${depth}, colour type ${colour}`);
      channels = colour === 2 ? 3 : 4;
    } else if (type === 'IDAT') {
      data.push(body);
    } else if (type === 'IEND') {
      break;
    }
    at += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(data));
  const stride = width * channels;
  if (raw.length !== height * (stride + 1)) throw new Error('PNG data of the wrong size');
  const rows = new Uint8Array(height * stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    for (let i = 0; i < stride; ++i) {
      const x = raw[y * (stride + 1) + 1 + i];
      const a = i >= channels ? rows[y * stride + i - channels] : 0;
      const b = y > 0 ? rows[(y - 1) * stride + i] : 0;
      const c = i >= channels && y > 0 ? rows[(y - 1) * stride + i - channels] : 0;
      const predictor = [0, a, b, (a + b) >> 1, paeth(a, b, c)][filter];
      if (predictor === undefined) throw new Error(`unknown filter ${filter}`);
      rows[y * stride + i] = (x + predictor) & 0xFF;
    }
  }
  const rgba = new Uint8Array(width * height * 4);
  for (let p = 0; p < width * height; ++p) {
    for (let k = 0; k < 3; ++k) rgba[4 * p + k] = rows[p * channels + k];
    rgba[4 * p + 3] = channels === 4 ? rows[p * channels + 3] : 0xFF;
  }
  return { width, height, rgba };
}

// The entries of a zip file from its central directory: { name, bytes },
// each checked against its local header and CRC; stored entries only.
export function readZip(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const end = bytes.length - 22;
  if (view.getUint32(end, true) !== 0x06054B50) throw new Error('no end of central directory');
  const count = view.getUint16(end + 10, true);
  let at = view.getUint32(end + 16, true);
  const entries = [];
  for (let i = 0; i < count; ++i) {
    if (view.getUint32(at, true) !== 0x02014B50) throw new Error('bad central directory entry');
    const method = view.getUint16(at + 10, true);
    const crc = view.getUint32(at + 16, true);
    const size = view.getUint32(at + 20, true);
    const nameLength = view.getUint16(at + 28, true);
    const extra = view.getUint16(at + 30, true) + view.getUint16(at + 32, true);
    const local = view.getUint32(at + 42, true);
    const name = new TextDecoder().decode(bytes.subarray(at + 46, at + 46 + nameLength));
    if (method !== 0 || view.getUint32(at + 24, true) !== size) throw new Error(`${name} not stored`);
    if (view.getUint32(local, true) !== 0x04034B50 || view.getUint32(local + 14, true) !== crc)
      throw new Error(`${name}: local header differs`);
    const start = local + 30 + view.getUint16(local + 26, true) + view.getUint16(local + 28, true);
    const content = bytes.subarray(start, start + size);
    if (crc32(content) !== crc) throw new Error(`${name}: bad CRC`);
    entries.push({ name, bytes: content });
    at += 46 + nameLength + extra;
  }
  return entries;
}
