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

/** The largest RGBA output decoded unless a caller sets a lower limit: 256 MiB, as every reader here. */
export const DEFAULT_OUTPUT_LIMIT = 256 * 1024 * 1024;

// The file's bytes go into the module's memory this many at a time, so that
// its memory holds the largest picture's RGBA and no copy of a whole file.
const CHUNK_SIZE = 256 * 1024;

// The shared decoder behind the module-level calls keeps its memory for the
// next picture, but is dropped (WebAssembly memory cannot shrink) when its
// memory passed this and more than twice what the last picture needed.
const SHARED_MEMORY_KEPT = 64 * 1024 * 1024;

/**
 * A file the decoder refuses: `reason` is the core's name for why, `code`
 * its number, `message` its words.
 */
export class MorvellaneError extends Error {
  constructor(reason, code, message) {
    super(message);
    this.name = 'MorvellaneError';
    this.reason = reason;
    this.code = code;
  }
}

// A buffer given away (transferred) reads as empty; only then does making a
// view of it throw.
function isDetached(buffer) {
  if (typeof buffer.detached === 'boolean') return buffer.detached;
  if (buffer.byteLength !== 0) return false;
  try {
    new Uint8Array(buffer);
    return false;
  } catch {
    return true;
  }
}

// The bytes of an ArrayBuffer, SharedArrayBuffer or any view, not copied.
function bytesOf(source) {
  const buffer = ArrayBuffer.isView(source) ? source.buffer : source;
  const isBuffer = source instanceof ArrayBuffer ||
                   (typeof SharedArrayBuffer === 'function' && source instanceof SharedArrayBuffer);
  if (!ArrayBuffer.isView(source) && !isBuffer)
    throw new TypeError('Morvellane: expected the bytes as an ArrayBuffer or a typed array');
  if (isDetached(buffer))
    throw new TypeError('Morvellane: the bytes\' buffer is detached (it was transferred)');
  if (source instanceof Uint8Array) return source;
  if (isBuffer) return new Uint8Array(source);
  return new Uint8Array(buffer, source.byteOffset, source.byteLength);
}

// The typed array's own name, whatever realm made it.
const typedArrayName = Object.getOwnPropertyDescriptor(
    Object.getPrototypeOf(Uint8Array.prototype), Symbol.toStringTag).get;

// A target decodeInto may write: checked before anything is read or written.
function targetOf(target) {
  const name = ArrayBuffer.isView(target) ? typedArrayName.call(target) : undefined;
  if (name !== 'Uint8ClampedArray' && name !== 'Uint8Array')
    throw new TypeError('Morvellane: the target must be a Uint8ClampedArray or a Uint8Array');
  if (isDetached(target.buffer))
    throw new TypeError('Morvellane: the target\'s buffer is detached (it was transferred)');
  if (target.buffer.immutable === true) throw new TypeError('Morvellane: the target is read-only');
  return target;
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

/**
 * One instance of the module, with synchronous calls; made by createDecoder.
 * It keeps its memory for the RGBA of the largest picture it decoded, and
 * reuses it for every picture after.
 */
class Decoder {
  #exports;
  #simd;
  #reading;  // the module's reading: one picture at a time, and the last refusal
  #chunk;    // CHUNK_SIZE bytes: the file's bytes on their way in, and refusals' words
  #rgba = 0;
  #rgbaSize = 0;

  constructor(instance, simd) {
    this.#exports = instance.exports;
    this.#simd = simd;
    this.#reading = this.#exports.reading_new();
    this.#chunk = this.#exports.alloc(CHUNK_SIZE);
    if (this.#reading === 0 || this.#chunk === 0)
      throw new RangeError('Morvellane: no memory for a decoder');
  }

  /** Whether this decoder runs the module built with 128-bit SIMD. */
  get simd() {
    return this.#simd;
  }

  /** The core's conversion path: "simd128" or "plain". */
  get path() {
    return this.#text(this.#exports.path_name());
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
    const header = bytesOf(source).subarray(0, this.headerSize);
    return this.#exports.is_morvellane(this.#copyIn(header), header.length) === 1;
  }

  info(source, options) {
    const bytes = bytesOf(source);
    const limit = limitOf(options);
    const fileSize = options?.fileSize ?? bytes.length;
    if (!Number.isInteger(fileSize) || fileSize < bytes.length)
      throw new RangeError('Morvellane: fileSize must be a whole number, at least the bytes given');
    if (bytes.length < Math.min(fileSize, this.headerSize))
      throw new RangeError(`Morvellane: info needs the file's first ${this.headerSize} bytes`);
    const { width, height } = this.#start(bytes, fileSize, limit);
    return { width, height };
  }

  decode(source, options) {
    const bytes = bytesOf(source);
    const picture = this.#start(bytes, bytes.length, limitOf(options));
    const at = this.#readRows(bytes, picture.size);
    const data = new Uint8ClampedArray(this.#exports.memory.buffer.slice(at, at + picture.size));
    return { width: picture.width, height: picture.height, data };
  }

  decodeInto(source, target, options) {
    targetOf(target);
    const bytes = bytesOf(source);
    const picture = this.#start(bytes, bytes.length, limitOf(options));
    if (target.length !== picture.size)
      throw new RangeError(`Morvellane: the target holds ${target.length} bytes; the RGBA of ` +
                           `this ${picture.width} x ${picture.height} picture takes ` +
                           `${picture.size}`);
    const at = this.#readRows(bytes, picture.size);
    target.set(new Uint8Array(this.#exports.memory.buffer, at, picture.size));
    return { width: picture.width, height: picture.height, data: target };
  }

  // The picture the file's header declares, or the MorvellaneError refusing it.
  #start(bytes, fileSize, limit) {
    const header = bytes.subarray(0, this.headerSize);
    const e = this.#exports;
    // Within the output limit the rows take far less than 4 GiB, so a larger
    // file holds them as surely as one of 4 GiB - 1 bytes.
    const reason = e.start(this.#reading, this.#copyIn(header), header.length,
                           Math.min(fileSize, 0xFFFFFFFF), limit);
    if (reason !== 0) throw this.#refusal(reason);
    return { width: e.width(this.#reading), height: e.height(this.#reading),
             size: e.rgba_size(this.#reading) };
  }

  // Converts the rows into the decoder's RGBA block, which it grows for a
  // larger picture; its address.
  #readRows(bytes, size) {
    const e = this.#exports;
    if (size > this.#rgbaSize) {
      e.free(this.#rgba);
      this.#rgbaSize = 0;
      this.#rgba = e.alloc(size);
      if (this.#rgba === 0) throw this.#refusal(e.out_of_memory(this.#reading));
      this.#rgbaSize = size;
    }
    e.set_output(this.#reading, this.#rgba, this.#rgbaSize);
    for (let at = this.headerSize; at < bytes.length; at += CHUNK_SIZE) {
      const chunk = bytes.subarray(at, at + CHUNK_SIZE);
      if (e.feed(this.#reading, this.#copyIn(chunk), chunk.length) < chunk.length) break;
    }
    const reason = e.finish(this.#reading);
    if (reason !== 0) throw this.#refusal(reason);
    return this.#rgba;
  }

  // The core's name and words for the reading's refusal.
  #refusal(reason) {
    const length = this.#exports.refusal_text(this.#reading, this.#chunk, CHUNK_SIZE);
    const message = this.#text(this.#chunk, Math.min(length, CHUNK_SIZE - 1));
    return new MorvellaneError(this.#text(this.#exports.reason_name(reason)), reason, message);
  }

  // `bytes` (at most CHUNK_SIZE) copied into the chunk; its address.
  #copyIn(bytes) {
    new Uint8Array(this.#exports.memory.buffer, this.#chunk, bytes.length).set(bytes);
    return this.#chunk;
  }

  // The text at `at` in the module's memory, up to its NUL or `length` bytes.
  #text(at, length = undefined) {
    const memory = new Uint8Array(this.#exports.memory.buffer);
    let end = at;
    while (memory[end] !== 0 && (length === undefined || end - at < length)) ++end;
    return new TextDecoder().decode(memory.subarray(at, end));
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

// After a picture of `size` RGBA bytes from the shared decoder.
function keepOrDrop(decoder, size) {
  if (decoder.memorySize > SHARED_MEMORY_KEPT && decoder.memorySize > 2 * size) shared = undefined;
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
  const picture = decoder.decode(bytes, options);
  keepOrDrop(decoder, picture.data.length);
  return picture;
}

/**
 * The whole picture into `target`, a Uint8ClampedArray or Uint8Array of
 * exactly width x height x 4 bytes (from info): for loops that keep one buffer.
 */
export async function decodeInto(bytes, target, options) {
  const decoder = await sharedDecoder();
  const picture = decoder.decodeInto(bytes, target, options);
  keepOrDrop(decoder, target.length);
  return picture;
}
