/** The largest RGBA output decoded unless a caller sets a lower limit: 256 MiB. */
export declare const DEFAULT_OUTPUT_LIMIT: number;

/** Why a file was refused: the core's names, the same in every reader of the project. */
export type MorvellaneReason =
  | 'not-morvellane'   // another kind of file, or an ordinary BMP
  | 'header-cut-short' // a Morvellane header, but the file ends within it
  | 'negative-width'
  | 'impossible-size'  // no pixels, the most negative height, or rows past 4 GiB
  | 'too-large'        // more RGBA bytes than the output limit
  | 'truncated'        // the file ends before its last row
  | 'out-of-memory';   // no memory for the RGBA in the decoder

export declare class MorvellaneError extends Error {
  readonly name: 'MorvellaneError';
  readonly reason: MorvellaneReason;
  /** The core's number for the reason: 1 not-morvellane ... 7 out-of-memory, in the order above. */
  readonly code: number;
  /** The core's words, e.g. "truncated Morvellane bitmap: the file ends after 4129 of the 8258 bytes of its 64 x 64 pixels". */
  readonly message: string;
}

/** The bytes of a file: an ArrayBuffer, a SharedArrayBuffer, or any typed array or DataView. */
export type Bytes = ArrayBuffer | SharedArrayBuffer | ArrayBufferView;

/** Where decodeInto writes: exactly width x height x 4 bytes. */
export type Target = Uint8ClampedArray | Uint8Array;

export interface DecodeOptions {
  /** Refuse pictures whose RGBA pixels exceed this many bytes (at most, and by default, 256 MiB). */
  outputLimit?: number;
}

export interface InfoOptions extends DecodeOptions {
  /** The size of the whole file, when `bytes` are only its beginning (at least its first 66 bytes). */
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
  /** The bytes of the module's memory, which grows to the largest picture's RGBA and is reused. */
  readonly memorySize: number;
  isMorvellane(bytes: Bytes): boolean;
  /** @throws {MorvellaneError} as decode does, without reading pixels. */
  info(bytes: Bytes, options?: InfoOptions): PictureSize;
  /** @throws {MorvellaneError} */
  decode(bytes: Bytes, options?: DecodeOptions): DecodedPicture;
  /**
   * The picture into `target`, written only once the whole picture is decoded.
   * @throws {TypeError} for a target that is not a Uint8ClampedArray or Uint8Array, or is
   *   detached or read-only; {RangeError} for one of another size; {MorvellaneError}.
   */
  decodeInto<T extends Target>(bytes: Bytes, target: T, options?: DecodeOptions): PictureSize & { data: T };
}

/** Whether the bytes (the first 66 are enough) begin a Morvellane bitmap. */
export declare function isMorvellane(bytes: Bytes): Promise<boolean>;

/** Width and height from the header; rejects with a MorvellaneError as decode does. */
export declare function info(bytes: Bytes, options?: InfoOptions): Promise<PictureSize>;

/** The whole picture in a new array; rejects with a MorvellaneError for a file it refuses. */
export declare function decode(bytes: Bytes, options?: DecodeOptions): Promise<DecodedPicture>;

/** The whole picture into `target` (exactly width x height x 4 bytes), as Decoder.decodeInto. */
export declare function decodeInto<T extends Target>(bytes: Bytes, target: T,
                                                     options?: DecodeOptions): Promise<PictureSize & { data: T }>;

/**
 * A decoder of its own, with synchronous calls (for workers and loops).
 * `simd`: choose the module; by default the best this engine runs.
 */
export declare function createDecoder(options?: { simd?: boolean }): Promise<Decoder>;
