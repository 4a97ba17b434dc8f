// What the page saves: PNG files of the decoded pictures, and zip archives
// of them ("stored", the PNGs being compressed already). Run in the worker.

// CRC-32 as PNG and zip use it (reflected, polynomial 0xEDB88320).
const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes, previous = 0) {
  let crc = ~previous;
  for (let i = 0; i < bytes.length; ++i) crc = CRC_TABLE[(crc ^ bytes[i]) & 0xFF] ^ (crc >>> 8);
  return ~crc >>> 0;
}

// zlib data: the engine's deflate where it has CompressionStream, otherwise
// stored blocks.
async function zlibOf(raw) {
  if (typeof CompressionStream === 'function') {
    const stream = new Blob([raw]).stream().pipeThrough(new CompressionStream('deflate'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
  }
  const BLOCK = 65535;
  const blocks = Math.max(1, Math.ceil(raw.length / BLOCK));
  const out = new Uint8Array(2 + raw.length + 5 * blocks + 4);
  out.set([0x78, 0x01]);
  let at = 2;
  for (let i = 0; i < blocks; ++i) {
    const part = raw.subarray(i * BLOCK, (i + 1) * BLOCK);
    out[at] = i === blocks - 1 ? 1 : 0;  // BFINAL, BTYPE 00
    out[at + 1] = part.length & 0xFF;
    out[at + 2] = part.length >>> 8;
    out[at + 3] = ~part.length & 0xFF;
    out[at + 4] = (~part.length >>> 8) & 0xFF;
    out.set(part, at + 5);
    at += 5 + part.length;
  }
  let a = 1, b = 0;  // Adler-32
  for (let i = 0; i < raw.length; ++i) {
    a = (a + raw[i]) % 65521;
    b = (b + a) % 65521;
  }
  new DataView(out.buffer).setUint32(at, ((b << 16) | a) >>> 0);
  return out;
}

function pngChunk(type, data) {
  const chunk = new Uint8Array(12 + data.length);
  const view = new DataView(chunk.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; ++i) chunk[4 + i] = type.charCodeAt(i);
  chunk.set(data, 8);
  view.setUint32(8 + data.length, crc32(chunk.subarray(4, 8 + data.length)));
  return chunk;
}

// The bytes of an 8-bit RGB PNG of opaque RGBA pixels (top row first), each row filtered
// by "Sub" (each byte less the same byte of the pixel to its left).
async function encodePng(width, height, rgba) {
  const rowBytes = 1 + 3 * width;
  const raw = new Uint8Array(rowBytes * height);
  for (let y = 0; y < height; ++y) {
    const row = y * rowBytes;
    const from = y * width * 4;
    raw[row] = 1;
    for (let x = 0; x < width; ++x) {
      const s = from + 4 * x;
      const t = row + 1 + 3 * x;
      if (x === 0) {
        raw[t] = rgba[s];
        raw[t + 1] = rgba[s + 1];
        raw[t + 2] = rgba[s + 2];
      } else {
        raw[t] = rgba[s] - rgba[s - 4];
        raw[t + 1] = rgba[s + 1] - rgba[s - 3];
        raw[t + 2] = rgba[s + 2] - rgba[s - 2];
      }
    }
  }
  const header = new Uint8Array(13);
  const fields = new DataView(header.buffer);
  fields.setUint32(0, width);
  fields.setUint32(4, height);
  header.set([8, 2, 0, 0, 0], 8);  // 8 bits, RGB, deflate, adaptive filters, no interlace
  const parts = [new Uint8Array([0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A]),
                 pngChunk('IHDR', header), pngChunk('IDAT', await zlibOf(raw)),
                 pngChunk('IEND', new Uint8Array(0))];
  const png = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of parts) {
    png.set(part, at);
    at += part.length;
  }
  return png;
}

// A zip archive builder: entries are stored as they are, with UTF-8 names.
class ZipWriter {
  #parts = [];
  #directory = [];
  #offset = 0;
  #count = 0;
  #time;
  #date;

  constructor(now = new Date()) {
    this.#time = (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1);
    this.#date = ((Math.max(now.getFullYear(), 1980) - 1980) << 9) | ((now.getMonth() + 1) << 5) |
                 now.getDate();
  }

  // Without the zip64 extension, no entry, offset or count may pass 32 (or 16) bits.
  add(name, bytes) {
    const nameBytes = new TextEncoder().encode(name);
    if (this.#offset + 30 + nameBytes.length + bytes.length > 0xFFFFFFFF || this.#count === 0xFFFF)
      throw new Error('too much for one zip file: save the pictures one by one');
    const crc = crc32(bytes);
    const local = new Uint8Array(30 + nameBytes.length);
    const l = new DataView(local.buffer);
    l.setUint32(0, 0x04034B50, true);
    this.#common(l, 4, crc, bytes.length, nameBytes.length);
    local.set(nameBytes, 30);
    const central = new Uint8Array(46 + nameBytes.length);
    const c = new DataView(central.buffer);
    c.setUint32(0, 0x02014B50, true);
    c.setUint16(4, 20, true);  // made by: version 2.0
    this.#common(c, 6, crc, bytes.length, nameBytes.length);
    c.setUint32(42, this.#offset, true);
    central.set(nameBytes, 46);
    this.#parts.push(local, bytes);
    this.#directory.push(central);
    this.#offset += local.length + bytes.length;
    this.#count += 1;
  }

  // The fields shared by the local header (from 4) and the directory entry (from 6).
  #common(view, at, crc, size, nameLength) {
    view.setUint16(at, 20, true);          // version needed: 2.0
    view.setUint16(at + 2, 0x0800, true);  // the name is UTF-8
    view.setUint16(at + 4, 0, true);       // stored
    view.setUint16(at + 6, this.#time, true);
    view.setUint16(at + 8, this.#date, true);
    view.setUint32(at + 10, crc, true);
    view.setUint32(at + 14, size, true);
    view.setUint32(at + 18, size, true);
    view.setUint16(at + 22, nameLength, true);
  }

  finish() {
    const size = this.#directory.reduce((sum, entry) => sum + entry.length, 0);
    if (this.#offset + size > 0xFFFFFFFF)
      throw new Error('too much for one zip file: save the pictures one by one');
    const end = new Uint8Array(22);
    const e = new DataView(end.buffer);
    e.setUint32(0, 0x06054B50, true);
    e.setUint16(8, this.#count, true);
    e.setUint16(10, this.#count, true);
    e.setUint32(12, size, true);
    e.setUint32(16, this.#offset, true);
    return new Blob([...this.#parts, ...this.#directory, end], { type: 'application/zip' });
  }
}
