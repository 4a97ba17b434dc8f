// Assembles the npm package and the offline page from their sources and the
// two modules:
//   package/  package.json, morvellane.js (both modules embedded as base64),
//             morvellane.d.ts, README.md, LICENSE: `npm pack` there makes it
//   page/     index.html, styles.css, LICENSE and morvellane-page.js, which
//             holds the worker's whole source (the package as a classic script,
//             the encoders, the worker), because a page opened from a file may
//             load classic scripts only, and start workers only from blobs
// node assemble.mjs --plain A.wasm --simd128 B.wasm --version V --license FILE --out DIR
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const { values: args } = parseArgs({
  options: {
    plain: { type: 'string' },
    simd128: { type: 'string' },
    version: { type: 'string' },
    license: { type: 'string' },
    out: { type: 'string' },
  },
});
for (const name of ['plain', 'simd128', 'version', 'license', 'out'])
  if (!args[name]) throw new Error(`assemble.mjs: --${name} is missing`);

const here = dirname(fileURLToPath(import.meta.url));
const source = (path) => readFileSync(join(here, path), 'utf8');
const write = (path, text) => {
  mkdirSync(dirname(join(args.out, path)), { recursive: true });
  writeFileSync(join(args.out, path), text);
};

// Each placeholder must be there exactly once.
function fill(text, placeholder, value) {
  const parts = text.split(placeholder);
  if (parts.length !== 2) throw new Error(`assemble.mjs: ${placeholder} is not there once`);
  return parts.join(value);
}

let decoder = source('package/morvellane.js');
decoder = fill(decoder, '@MRVLN_MODULE_SIMD128@', readFileSync(args.simd128).toString('base64'));
decoder = fill(decoder, '@MRVLN_MODULE_PLAIN@', readFileSync(args.plain).toString('base64'));
const license = readFileSync(args.license, 'utf8');

write('package/package.json', fill(source('package/package.json.in'), '@PROJECT_VERSION@',
                                   args.version));
write('package/morvellane.js', decoder);
write('package/morvellane.d.ts', source('package/morvellane.d.ts'));
write('package/README.md', source('package/README.md'));
write('package/LICENSE', license);

// The package as a classic script: its exports become plain declarations in
// the worker's own scope.
const classic = decoder.replace(/^export /gm, '');
if (/^\s*(export|import)\b/m.test(classic))
  throw new Error('assemble.mjs: morvellane.js exports or imports in a way a classic script cannot');
const worker = ['(() => {', '"use strict";', classic, source('page/encoders.js'),
                source('page/worker.js'), '})();', ''].join('\n');
write('page/morvellane-page.js',
      '// Made by readers/web/assemble.mjs from page.js and the worker\'s sources.\n' +
      `const MORVELLANE_WORKER_SOURCE = ${JSON.stringify(worker)};\n\n` + source('page/page.js'));
write('page/index.html', fill(source('page/index.html'), '@PROJECT_VERSION@', args.version));
write('page/styles.css', source('page/styles.css'));
write('page/LICENSE', license);
