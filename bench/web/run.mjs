// The browser benchmark: serves bench.html, the package and the picture on a
// loopback port and opens the page in Debian's Chromium, headless, once per
// measure, each in a browser of its own: LOADS loads one after the other, no
// warm-up. Prints each measure's first load, the median of the others and
// their slowest.
// node bench/web/run.mjs PICTURE.bmp PACKAGE_DIR [LOADS] [MEASURE...]
import { createReadStream, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname, extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';

import { Chromium } from '../../tests/web/chromium.mjs';

const MEASURES = ['decode', 'decode-into', 'decode-into-plain', 'decode-into-drawn',
                  'browser-drawn-read-back', 'browser-bitmap'];
const [picture, packageDir, loads = '11', ...chosen] = process.argv.slice(2);
if (!picture || !packageDir || !(Number(loads) >= 2)) {
  console.error('usage: node bench/web/run.mjs PICTURE.bmp PACKAGE_DIR [LOADS >= 2] [MEASURE...]\n' +
                `  MEASURE: ${MEASURES.join(', ')} (default all)`);
  process.exit(2);
}
const here = dirname(fileURLToPath(import.meta.url));
const TYPES = { '.html': 'text/html', '.mjs': 'text/javascript', '.js': 'text/javascript' };

function fileFor(path) {
  if (path === '/picture.bmp') return picture;
  if (path.startsWith('/package/')) return join(packageDir, normalize(path.slice(9)));
  if (path === '/bench.html' || path === '/bench.mjs') return join(here, path);
  return undefined;
}
const server = createServer((request, response) => {
  const file = fileFor(new URL(request.url, 'http://localhost').pathname);
  if (!file || !statSync(file, { throwIfNoEntry: false })?.isFile()) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { 'content-type': TYPES[extname(file)] ?? 'application/octet-stream' });
  createReadStream(file).pipe(response);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

let failed = false;
try {
  for (const measure of chosen.length ? chosen : MEASURES) {
    const browser = new Chromium();
    try {
      const page = await browser.newPage(1280, 800);
      const query = `measure=${encodeURIComponent(measure)}&loads=${loads}`;
      await browser.navigate(page, `http://127.0.0.1:${server.address().port}/bench.html?${query}`);
      const r = JSON.parse(await browser.waitFor(page, 'document.body.dataset.results', 600_000));
      if (measure === (chosen[0] ?? MEASURES[0]))
        console.log(`${r.userAgent}\n${r.width} x ${r.height}, ${loads} loads per measure, ` +
                    'each measure in a browser of its own');
      if (r.error) {
        console.log(`  ${measure}: ${r.error}`);
        failed ||= r.error !== 'this package has no decodeInto';
        continue;
      }
      const rest = r.times.slice(1);
      const ms = median(rest);
      console.log(`  ${r.label.padEnd(66)} first ${r.times[0].toFixed(1).padStart(7)} ms, ` +
                  `then median ${ms.toFixed(1).padStart(6)} ms ` +
                  `(${(r.width * r.height / 1e3 / ms).toFixed(0).padStart(4)} Mpx/s), ` +
                  `slowest ${Math.max(...rest).toFixed(1).padStart(6)} ms`);
      if (r.differing !== undefined)
        console.log(`    its picture differs from the exact one in ${r.differing} of ` +
                    `${r.width * r.height} pixels`);
    } finally {
      await browser.close();
    }
  }
} finally {
  server.close();
}
process.exit(failed ? 1 : 0);
