// The page's worker: reads the files it is given, tells what each one is,
// decodes pictures and encodes PNG files and zip archives, one request at a
// time, so that the page stays responsive and memory holds one picture.
// Requests: { id, type, ... }; every answer carries the request's id. The
// page gives each shown picture's buffer back ({ type: 'give-back', buffer }),
// so that a folder of pictures reuses two buffers (and one for encoding)
// instead of taking fresh memory for each.

const decoderReady = createDecoder();
const givenBack = [];             // buffers for pictures to show
let scratch = new ArrayBuffer(0);  // the pixels of the picture being encoded

// What other files are, from their first bytes or, failing that, their type.
const SIGNATURES = [
  [[0x89, 0x50, 0x4E, 0x47], 'a PNG image'],
  [[0xFF, 0xD8, 0xFF], 'a JPEG image'],
  [[0x47, 0x49, 0x46, 0x38], 'a GIF image'],
  [[0x42, 0x4D], 'an ordinary BMP image'],
  [[0x49, 0x49, 0x2A, 0x00], 'a TIFF image'],
  [[0x4D, 0x4D, 0x00, 0x2A], 'a TIFF image'],
  [[0x25, 0x50, 0x44, 0x46], 'a PDF document'],
  [[0x50, 0x4B, 0x03, 0x04], 'a zip archive'],
];

function describe(file, header) {
  if (header.length >= 12 && String.fromCharCode(...header.subarray(0, 4)) === 'RIFF' &&
      String.fromCharCode(...header.subarray(8, 12)) === 'WEBP')
    return 'a WebP image';
  for (const [magic, what] of SIGNATURES)
    if (magic.every((byte, i) => header[i] === byte)) return what;
  if (file.size === 0) return 'an empty file';
  return file.type ? `a file of type ${file.type}` : 'a file of another kind';
}

async function bytesOfFile(file, end) {
  return new Uint8Array(await (end === undefined ? file : file.slice(0, end)).arrayBuffer());
}

// A file's verdict from its header alone.
async function classify(file) {
  const decoder = await decoderReady;
  const header = await bytesOfFile(file, decoder.headerSize);
  if (!decoder.isMorvellane(header)) return { kind: 'other', what: describe(file, header) };
  try {
    return { kind: 'picture', ...decoder.info(header, { fileSize: file.size }) };
  } catch (error) {
    return refused(error);
  }
}

function refused(error) {
  if (error instanceof MorvellaneError)
    return { kind: 'refused', reason: error.reason, code: error.code, message: error.message };
  return { kind: 'refused', reason: 'unreadable', message: `Cannot be read: ${error.message}` };
}

// The picture into a buffer that `bufferFor(size)` gives.
async function decodeFile(file, bufferFor) {
  const decoder = await decoderReady;
  const bytes = await bytesOfFile(file);
  const { width, height } = decoder.info(bytes);
  const data = new Uint8ClampedArray(bufferFor(width * height * 4), 0, width * height * 4);
  return decoder.decodeInto(bytes, data);
}

function bufferToShow(size) {
  const at = givenBack.findIndex((buffer) => buffer.byteLength >= size);
  return at >= 0 ? givenBack.splice(at, 1)[0] : new ArrayBuffer(size);
}

function scratchBuffer(size) {
  if (scratch.byteLength < size) scratch = new ArrayBuffer(size);
  return scratch;
}

async function png(file) {
  const picture = await decodeFile(file, scratchBuffer);
  return encodePng(picture.width, picture.height, picture.data);
}

async function zip(id, entries) {
  const writer = new ZipWriter();
  const failed = [];
  for (let i = 0; i < entries.length; ++i) {
    try {
      writer.add(entries[i].name, await png(entries[i].file));
    } catch (error) {
      if (!(error instanceof MorvellaneError)) throw error;
      failed.push(entries[i].name);
    }
    postMessage({ id, progress: { done: i + 1, total: entries.length } });
  }
  return { zip: writer.finish(), failed };
}

async function answer({ id, type, file, entries }) {
  try {
    switch (type) {
      case 'classify':
        return postMessage({ id, ...(await classify(file)) });
      case 'decode': {
        const picture = await decodeFile(file, bufferToShow);
        return postMessage({ id, kind: 'picture', ...picture }, [picture.data.buffer]);
      }
      case 'png': {
        const bytes = await png(file);
        return postMessage({ id, png: bytes }, [bytes.buffer]);
      }
      case 'zip':
        return postMessage({ id, ...(await zip(id, entries)) });
      default:
        throw new Error(`unknown request ${type}`);
    }
  } catch (error) {
    postMessage({ id, ...refused(error) });
  }
}

let queue = Promise.resolve();
onmessage = (event) => {
  if (event.data.type === 'give-back') {
    givenBack.push(event.data.buffer);
    if (givenBack.length > 2) givenBack.shift();
    return;
  }
  queue = queue.then(() => answer(event.data));
};
