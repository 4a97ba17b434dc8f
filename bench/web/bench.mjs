// Decodes one picture (served as /picture.bmp) again and again: with the
// package's two modules, and with the browser's own BMP decoder
// (createImageBitmap of a Blob typed image/bmp, drawn onto a canvas and read
// back, so that both end with the pixels in hand). Medians of ?runs=N turns.
import { createDecoder } from './package/morvellane.js';

const runs = Number(new URLSearchParams(location.search).get('runs') || 9);
const bytes = new Uint8Array(await (await fetch('picture.bmp')).arrayBuffer());
const simd = await createDecoder({ simd: true });
const plain = await createDecoder({ simd: false });
const { width, height } = simd.info(bytes);
const canvas = new OffscreenCanvas(width, height);
const context = canvas.getContext('2d', { willReadFrequently: true });
const blob = new Blob([bytes], { type: 'image/bmp' });

const measures = {
  'package, simd128 path: decode to RGBA': () => simd.decode(bytes).data,
  'package, plain path: decode to RGBA': () => plain.decode(bytes).data,
  'package, simd128 path: decode, drawn and read back': () => {
    const { data } = simd.decode(bytes);
    context.putImageData(new ImageData(data, width, height), 0, 0);
    return context.getImageData(0, 0, width, height).data;
  },
  'browser BMP decoder: createImageBitmap, drawn and read back': async () => {
    const bitmap = await createImageBitmap(blob);
    context.drawImage(bitmap, 0, 0);
    bitmap.close();
    return context.getImageData(0, 0, width, height).data;
  },
  'browser BMP decoder: createImageBitmap alone (no pixels in hand)': async () => {
    (await createImageBitmap(blob)).close();
  },
};

const times = Object.fromEntries(Object.keys(measures).map((name) => [name, []]));
for (const measure of Object.values(measures)) await measure();  // warm-up
for (let run = 0; run < runs; ++run)
  for (const [name, measure] of Object.entries(measures)) {
    const start = performance.now();
    await measure();
    times[name].push(performance.now() - start);
  }

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};
// How far the browser's picture is from the exact one.
const exact = simd.decode(bytes).data;
const browser = await measures['browser BMP decoder: createImageBitmap, drawn and read back']();
let differing = 0;
for (let i = 0; i < exact.length; i += 4)
  if (exact[i] !== browser[i] || exact[i + 1] !== browser[i + 1] || exact[i + 2] !== browser[i + 2])
    ++differing;

const results = {
  userAgent: navigator.userAgent,
  width, height, runs,
  medians: Object.fromEntries(Object.entries(times).map(([name, t]) => {
    const ms = median(t);
    return [name, { ms, mpxPerSecond: (width * height) / 1e6 / (ms / 1e3) }];
  })),
  browserPixelsDiffering: differing,
};
document.querySelector('#results').textContent = JSON.stringify(results, null, 2);
document.body.dataset.results = JSON.stringify(results);
