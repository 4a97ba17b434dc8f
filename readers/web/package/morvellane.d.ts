/** The largest RGBA output decoded unless a caller sets a lower limit: 256 MiB. */
export declare const DEFAULT_OUTPUT_LIMIT: number;

/** Why a file was refused. */
export type MorvellaneReason =
  | 'not-morvellane' // another kind of file, or an ordinary BMP
  | 'truncated'      // the file ends before its last row
  | 'too-large'      // more RGBA bytes than the output limit, or than the decoder's memory
  | 'broken';        // a negative width, an impossible height or no pixels

export declare class MorvellaneError extends Error {
  readonly name: 'MorvellaneError';
  readonly reason: MorvellaneReason;
  /** The core's result code: 2 not a Morvellane bitmap, 3 broken data, 4 out of memory. */
  readonly code: number;
}

/** The bytes of a file: an ArrayBuffer, a SharedArrayBuffer, or any typed array or DataView. */
export type Bytes = ArrayBuffer | SharedArrayBuffer | ArrayBufferView;

export interface DecodeOptions {
  /** Refuse pictures whose RGBA pixels exceed this many bytes (at most, and by default, 256 MiB). */
  outputLimit?: number;
}

export interface InfoOptions extends DecodeOptions {
  /** The size of the whole file, when `bytes` are only its beginning (its header). */
  fileSize?: number;
}

export interface PictureSize {
  width: number;
  height: number;
}

export interface DecodedPicture extends PictureSize {
  /** RGBA, top row first, alpha 255: `new ImageData(data, width, height)`. */
  data: Uint8ClampedArray;
}

/** A decoder with synchronous calls, over one instance of the module. */
export interface Decoder {
  /** Whether it runs the module built with 128-bit SIMD. */
  readonly simd: boolean;
  /** The conversion path of the core: "simd128" or "plain". */
  readonly path: string;
  /** The bytes of the fixed header, which isMorvellane and info read at most. */
  readonly headerSize: number;
  /** The bytes of the module's memory, which grows to the largest picture decoded. */
  readonly memorySize: number;
  isMorvellane(bytes: Bytes): boolean;
  /** @throws {MorvellaneError} as decode does, without reading pixels. */
  info(bytes: Bytes, options?: InfoOptions): PictureSize;
  /** @throws {MorvellaneError} */
  decode(bytes: Bytes, options?: DecodeOptions): DecodedPicture;
}

/** Whether the bytes (the first 66 are enough) begin a Morvellane bitmap. */
export declare function isMorvellane(bytes: Bytes): Promise<boolean>;

/** Width and height from the header; rejects with a MorvellaneError as decode does. */
export declare function info(bytes: Bytes, options?: InfoOptions): Promise<PictureSize>;

/** The whole picture; rejects with a MorvellaneError for a file it refuses. */
export declare function decode(bytes: Bytes, options?: DecodeOptions): Promise<DecodedPicture>;

/**
 * A decoder of its own, with synchronous calls (for workers and loops).
 * `simd`: choose the module; by default the best this engine runs.
 */
export declare function createDecoder(options?: { simd?: boolean }): Promise<Decoder>;
