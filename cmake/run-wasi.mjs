// Runs a WASI program (a test of the wasm32 build) under Node: its arguments,
// environment, standard streams and the whole file system, like a native
// program. Exits with the program's code.
import { readFile } from 'node:fs/promises';
import { WASI } from 'node:wasi';

process.removeAllListeners('warning');  // WASI is marked experimental in Node 18 and 20
const [program, ...args] = process.argv.slice(2);
const wasi = new WASI({ version: 'preview1', args: [program, ...args], env: process.env,
                        preopens: { '/': '/' }, returnOnExit: true });
const module = await WebAssembly.compile(await readFile(program));
const instance = await WebAssembly.instantiate(module,
                                               { wasi_snapshot_preview1: wasi.wasiImport });
process.exitCode = wasi.start(instance);
