// Morvellane bitmaps (16-bit 5-6-5 pixels in a Windows bitmap, marked by
// biSizeImage = width x 3 x height, rows unaligned) decoded exactly, in any
// browser and in Node: the readers' own core, compiled to WebAssembly and
// embedded here, so that nothing is fetched and bundlers need no setting.
//
// Also run as a classic script inside the page's worker, wrapped in a
// function: every export is a plain declaration at the start of its line, and
// nothing is imported.

// The modules, as base64; the build writes them in. Engines without 128-bit
// SIMD refuse the first, and get the second.
const MODULE_SIMD128 = '@MRVLN_MODULE_SIMD128@';
const MODULE_PLAIN = '@MRVLN_MODULE_PLAIN@';

/** The largest RGBA output decoded unless a caller sets a lower limit: 256 MiB, Qt 6's default. */
export const DEFAULT_OUTPUT_LIMIT = 256 * 1024 * 1024;

// The core's result codes (codec/result.h) and the module's own.
const RESULT_SUCCESS = 0;
const RESULT_NOT_MORVELLANE = 2;
const RESULT_BROKEN_DATA = 3;
const RESULT_OUT_OF_MEMORY = 4;

// The shared decoder gives its memory back (by being dropped) once a picture
// has grown it past this.
const SHARED_MEMORY_KEPT = 64 * 1024 * 1024;

/** A file the decoder refuses: `reason` says why, `code` is the core's result code. */
export class MorvellaneError extends Error {
  constructor(reason, code, message) {
    super(message);
    this.name = 'MorvellaneError';
    this.reason = reason;
    this.code = code;
  }
}

function notMorvellane() {
  return new MorvellaneError('not-morvellane', RESULT_NOT_MORVELLANE,
                             'Not a Morvellane bitmap: its header is not that of one');
}

function refusal(code, limit) {
  if (code === RESULT_NOT_MORVELLANE) return notMorvellane();
  if (code === RESULT_OUT_OF_MEMORY)
    return new MorvellaneError('too-large', code,
                               `Morvellane bitmap too large: its RGBA pixels would exceed ` +
                               `the output limit of ${limit} bytes`);
  return new MorvellaneError('broken', code,
                             'Broken Morvellane bitmap: its header declares a negative width, ' +
                             'an impossible height or no pixels');
}

function truncated(info) {
  return new MorvellaneError('truncated', RESULT_BROKEN_DATA,
                             `Truncated Morvellane bitmap: the file ends before the last of its ` +
                             `${info.height} rows of ${info.width} pixels`);
}

function outOfMemory(size) {
  return new MorvellaneError('too-large', RESULT_OUT_OF_MEMORY,
                             `Morvellane bitmap too large for the decoder's memory ` +
                             `(${size} more bytes needed)`);
}

// The bytes of an ArrayBuffer, SharedArrayBuffer or any view, not copied.
function bytesOf(source) {
  if (source instanceof Uint8Array) return source;
  if (ArrayBuffer.isView(source))
    return new Uint8Array(source.buffer, source.byteOffset, source.byteLength);
  if (source instanceof ArrayBuffer ||
      (typeof SharedArrayBuffer === 'function' && source instanceof SharedArrayBuffer))
    return new Uint8Array(source);
  throw new TypeError('Morvellane: expected the bytes as an ArrayBuffer or a typed array');
}

function limitOf(options) {
  const limit = options?.outputLimit ?? DEFAULT_OUTPUT_LIMIT;
  if (!Number.isInteger(limit) || limit < 0 || limit > DEFAULT_OUTPUT_LIMIT)
    throw new RangeError(`Morvellane: outputLimit must be a whole number of bytes from 0 to ` +
                         `${DEFAULT_OUTPUT_LIMIT}`);
  return limit;
}

function moduleBytes(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
  return bytes;
}

const compiled = new Map();  // SIMD or not -> Promise of the compiled module

function compile(simd) {
  if (!compiled.has(simd))
    compiled.set(simd, WebAssembly.compile(moduleBytes(simd ? MODULE_SIMD128 : MODULE_PLAIN)));
  return compiled.get(simd);
}

let simdSupported;
function engineHasSimd() {
  simdSupported ??= WebAssembly.validate(moduleBytes(MODULE_SIMD128));
  return simdSupported;
}

/** One instance of the module, with synchronous calls; made by createDecoder. */
class Decoder {
  #exports;
  #simd;
  #info;  // the module's mrvln_web_info record

  constructor(instance, simd) {
    this.#exports = instance.exports;
    this.#simd = simd;
    this.#info = this.#allocate(16);
  }

  /** Whether this decoder runs the module built with 128-bit SIMD. */
  get simd() {
    return this.#simd;
  }

  /** The core's conversion path: "simd128" or "plain". */
  get path() {
    const memory = new Uint8Array(this.#exports.memory.buffer);
    let end = this.#exports.path_name();
    const start = end;
    while (memory[end] !== 0) ++end;
    return String.fromCharCode(...memory.subarray(start, end));
  }

  /** The bytes of the fixed header, which isMorvellane and info read at most. */
  get headerSize() {
    return this.#exports.header_size();
  }

  /** The bytes the module's memory holds now; it grows with the largest picture. */
  get memorySize() {
    return this.#exports.memory.buffer.byteLength;
  }

  isMorvellane(source) {
    const bytes = bytesOf(source);
    return this.#withCopy(bytes.subarray(0, this.headerSize),
                          (at, size) => this.#exports.is_morvellane(at, size) === 1);
  }

  info(source, options) {
    const bytes = bytesOf(source);
    const limit = limitOf(options);
    const fileSize = options?.fileSize ?? bytes.length;
    if (!Number.isInteger(fileSize) || fileSize < bytes.length)
      throw new RangeError('Morvellane: fileSize must be a whole number, at least the bytes given');
    // Within the output limit the rows take far less than 4 GiB, so a larger
    // file holds them as surely as one of 4 GiB - 1 bytes.
    const size = Math.min(fileSize, 0xFFFFFFFF);
    const header = bytes.subarray(0, this.headerSize);
    const info = this.#withCopy(header, (at, length) => this.#plan(at, length, size, limit));
    if (!info.holdsRows) throw truncated(info);
    return { width: info.width, height: info.height };
  }

  decode(source, options) {
    const bytes = bytesOf(source);
    const limit = limitOf(options);
    if (bytes.length > 0xFFFFFFFF) throw outOfMemory(bytes.length);
    return this.#withCopy(bytes, (at, size) => {
      const info = this.#plan(at, size, size, limit);
      if (!info.holdsRows) throw truncated(info);
      const out = this.#allocate(info.rgbaSize);
      try {
        const code = this.#exports.decode(at, size, limit, out, info.rgbaSize);
        if (code === RESULT_BROKEN_DATA) throw truncated(info);
        if (code !== RESULT_SUCCESS) throw refusal(code, limit);
        const data = new Uint8ClampedArray(
            this.#exports.memory.buffer.slice(out, out + info.rgbaSize));
        return { width: info.width, height: info.height, data };
      } finally {
        this.#exports.free(out);
      }
    });
  }

  #plan(at, size, fileSize, limit) {
    const code = this.#exports.read_info(at, size, fileSize, limit, this.#info);
    if (code !== RESULT_SUCCESS) throw refusal(code, limit);
    const fields = new DataView(this.#exports.memory.buffer, this.#info, 16);
    return {
      width: fields.getUint32(0, true),
      height: fields.getUint32(4, true),
      rgbaSize: fields.getUint32(8, true),
      holdsRows: fields.getUint32(12, true) === 1,
    };
  }

  #allocate(size) {
    const at = this.#exports.alloc(Math.max(size, 1));
    if (at === 0) throw outOfMemory(size);
    return at;
  }

  // Calls use(address, size) with `bytes` copied into the module's memory.
  #withCopy(bytes, use) {
    const at = this.#allocate(bytes.length);
    try {
      new Uint8Array(this.#exports.memory.buffer, at, bytes.length).set(bytes);
      return use(at, bytes.length);
    } finally {
      this.#exports.free(at);
    }
  }
}

/**
 * A decoder of its own, whose calls are synchronous: for workers and loops.
 * `simd`: true or false to choose the module, left out for the best this
 * engine runs.
 */
export async function createDecoder(options) {
  const simd = options?.simd ?? engineHasSimd();
  const instance = await WebAssembly.instantiate(await compile(simd), {});
  return new Decoder(instance, simd);
}

let shared;
function sharedDecoder() {
  shared ??= createDecoder();
  return shared;
}

/** Whether the bytes (the first headerSize are enough) begin a Morvellane bitmap. */
export async function isMorvellane(bytes) {
  return (await sharedDecoder()).isMorvellane(bytes);
}

/** Width and height from the header; refuses what decode refuses without reading pixels. */
export async function info(bytes, options) {
  return (await sharedDecoder()).info(bytes, options);
}

/** The whole picture as RGBA, top row first, alpha 255: usable as ImageData. */
export async function decode(bytes, options) {
  const decoder = await sharedDecoder();
  try {
    return decoder.decode(bytes, options);
  } finally {
    if (decoder.memorySize > SHARED_MEMORY_KEPT) shared = undefined;
  }
}
