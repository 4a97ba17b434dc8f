// One command for the browser benchmark: serves bench.html, the built
// package and the picture on a loopback port, opens the page in Debian's
// Chromium, headless, and prints its medians.
// node bench/web/run.mjs PICTURE.bmp PACKAGE_DIR [RUNS]
import { createReadStream, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname, extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';

import { Chromium } from '../../tests/web/chromium.mjs';

const [picture, packageDir, runs = '9'] = process.argv.slice(2);
if (!picture || !packageDir) {
  console.error('usage: node bench/web/run.mjs PICTURE.bmp PACKAGE_DIR [RUNS]');
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

const browser = new Chromium();
try {
  const page = await browser.newPage(1280, 800);
  await browser.navigate(page, `http://127.0.0.1:${server.address().port}/bench.html?runs=${runs}`);
  const results = JSON.parse(await browser.waitFor(page, 'document.body.dataset.results', 600_000));
  console.log(`${results.userAgent}`);
  console.log(`${results.width} x ${results.height}, medians of ${results.runs} runs taken in turns`);
  for (const [name, { ms, mpxPerSecond }] of Object.entries(results.medians))
    console.log(`  ${name.padEnd(66)} ${ms.toFixed(1).padStart(8)} ms ${mpxPerSecond.toFixed(0).padStart(6)} Mpx/s`);
  const pixels = results.width * results.height;
  console.log(`  the browser's picture differs from the exact one in ${results.browserPixelsDiffering} ` +
              `of ${pixels} pixels`);
} finally {
  await browser.close();
  server.close();
}
