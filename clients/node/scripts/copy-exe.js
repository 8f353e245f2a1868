// Copies the builds of the program into bin/, where the client looks for them by default:
// build/windows/src/Quillmere.exe and build/linux/src/quillmere, whichever exist (or the paths
// given). Run by hand (npm run copy-exe [-- path ...]) before packing: installing the package
// never needs them.
'use strict';
const { copyFileSync, existsSync, mkdirSync } = require('node:fs');
const { basename, join, resolve } = require('node:path');

const repository = join(__dirname, '..', '..', '..');
const sources = process.argv.length > 2
  ? process.argv.slice(2).map((path) => resolve(path))
  : [join(repository, 'build', 'windows', 'src', 'Quillmere.exe'), join(repository, 'build', 'linux', 'src', 'quillmere')];
const bin = join(__dirname, '..', 'bin');
mkdirSync(bin, { recursive: true });
let copied = 0;
for (const source of sources.filter((path) => existsSync(path))) {
  copyFileSync(source, join(bin, basename(source)));
  console.log(`copied ${source} to ${join(bin, basename(source))}`);
  copied += 1;
}
if (copied === 0) {
  console.error(`nothing to copy: build the program first (${sources.join(', ')})`);
  process.exit(1);
}
