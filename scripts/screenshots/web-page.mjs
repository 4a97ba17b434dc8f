// Opens the offline page from its folder in Debian's Chromium, headless,
// drops the odd-width and top-down samples in through the file input, shows
// them at 200 % and saves the window as docs/web-page.png. By hand, outside
// CI: node scripts/screenshots/web-page.mjs PAGE_DIR SAMPLE.bmp...
import { writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { Chromium } from '../../tests/web/chromium.mjs';

const [pageDir, ...samples] = process.argv.slice(2);
if (!pageDir || samples.length === 0) {
  console.error('usage: node scripts/screenshots/web-page.mjs PAGE_DIR SAMPLE.bmp...');
  process.exit(2);
}
const out = join(dirname(fileURLToPath(import.meta.url)), '../../docs/web-page.png');
const browser = new Chromium(['--force-color-profile=srgb', '--hide-scrollbars']);
try {
  const page = await browser.newPage(900, 1000);
  await browser.navigate(page, pathToFileURL(join(resolve(pageDir), 'index.html')).href);
  const { root } = await browser.send('DOM.getDocument', {}, page);
  const { nodeId } = await browser.send('DOM.querySelector',
                                        { nodeId: root.nodeId, selector: '#file-input' }, page);
  await browser.send('DOM.setFileInputFiles', { nodeId, files: samples.map((s) => resolve(s)) },
                     page);
  await browser.waitFor(page, `document.body.dataset.busy === 'no' &&
      document.querySelectorAll('canvas').length === ${samples.length}`);
  await browser.evaluate(page, `(() => {
    const zoom = document.querySelector('#zoom');
    zoom.value = '2';
    zoom.dispatchEvent(new Event('change'));
  })()`);
  const { data } = await browser.send('Page.captureScreenshot', { format: 'png' }, page);
  writeFileSync(out, Buffer.from(data, 'base64'));
  console.log(`wrote ${out}`);
} finally {
  await browser.close();
}
