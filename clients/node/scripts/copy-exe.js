// Copies the Windows build's Quillmere.exe into bin/, where the client looks for it by default.
// Run by hand (npm run copy-exe [-- path/to/Quillmere.exe]) before packing: installing the
// package never needs the exe.
'use strict';
const { copyFileSync, mkdirSync } = require('node:fs');
const { join, resolve } = require('node:path');

const source = resolve(process.argv[2] ?? join(__dirname, '..', '..', '..', 'build', 'windows', 'src', 'Quillmere.exe'));
const target = join(__dirname, '..', 'bin', 'Quillmere.exe');
mkdirSync(join(__dirname, '..', 'bin'), { recursive: true });
copyFileSync(source, target);
console.log(`copied ${source} to ${target}`);
