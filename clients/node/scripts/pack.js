// Packs the tarballs a release ships: @quillmere/linux-x64 and @quillmere/win32-x64, each with one
// optimised build of the program, and quillmere, whose packed manifest names them as optional
// dependencies of its own version. The client must be built first (npm run pack-all builds it
// and then runs this):
//
//   node scripts/pack.js [--linux PATH] [--windows PATH] [--out DIR]
//
// With --linux or --windows alone, only that platform's package is packed, and the client names
// only it; with neither, both are, from the repository's build/release/src/quillmere (cmake
// --preset release) and build/windows/src/Quillmere.exe (cmake --preset windows). The tarballs'
// paths go to standard output, one a line; a platform left out is said on standard error. --out
// defaults to the current folder.
'use strict';
const { execFileSync } = require('node:child_process');
const { chmodSync, cpSync, existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } = require('node:fs');
const { tmpdir } = require('node:os');
const { join, resolve } = require('node:path');
const { parseArgs } = require('node:util');

const root = join(__dirname, '..');
const repository = join(root, '..', '..');
const { values } = parseArgs({ options: { linux: { type: 'string' }, windows: { type: 'string' }, out: { type: 'string' } } });
// With neither build given, both default ones.
const builds =
  values.linux === undefined && values.windows === undefined
    ? { linux: join(repository, 'build', 'release', 'src', 'quillmere'), windows: join(repository, 'build', 'windows', 'src', 'Quillmere.exe') }
    : values;
const platforms = [
  { folder: 'linux-x64', file: 'quillmere', build: builds.linux, option: '--linux' },
  { folder: 'win32-x64', file: 'Quillmere.exe', build: builds.windows, option: '--windows' },
].filter(({ folder, build, option }) => {
  if (build === undefined) {
    console.error(`left out @quillmere/${folder}: no ${option} PATH given`);
  }
  return build !== undefined;
});
const out = resolve(values.out ?? '.');

function fail(message) {
  console.error(message);
  process.exit(1);
}

function readManifest(folder) {
  return JSON.parse(readFileSync(join(folder, 'package.json'), 'utf8'));
}

// Packs a folder laid out as the package, with this manifest; returns the tarball's path.
function pack(files, manifest, executable) {
  const stage = mkdtempSync(join(tmpdir(), 'quillmere-pack-'));
  try {
    for (const [from, name] of files) {
      cpSync(from, join(stage, name), { recursive: true });
    }
    if (executable !== undefined) {
      chmodSync(join(stage, executable), 0o755);
    }
    writeFileSync(join(stage, 'package.json'), `${JSON.stringify(manifest, null, 2)}\n`);
    const name = execFileSync('npm', ['pack', '--silent', '--pack-destination', out], { cwd: stage, encoding: 'utf8' }).trim();
    return join(out, name);
  } finally {
    rmSync(stage, { recursive: true, force: true });
  }
}

// Every package carries the repository's licence.
const licence = [join(repository, 'LICENSE'), 'LICENSE'];
const client = readManifest(root);
if (!existsSync(join(root, 'dist', 'index.js'))) {
  fail('the client is not built: npm run build first');
}
for (const { build } of platforms) {
  if (!existsSync(build)) {
    fail(`no build at ${build}: cmake --preset release && cmake --build --preset release, and the windows preset`);
  }
}
// A sanitizer build needs its run-time library wherever it runs: it is no build to ship.
for (const { folder, build } of platforms) {
  if (folder === 'linux-x64' && readFileSync(build).includes('libasan')) {
    fail(`${build} is a sanitizer build: pack the release preset's`);
  }
}

const optionalDependencies = {};
for (const { folder, file, build } of platforms) {
  const manifest = { ...readManifest(join(root, 'platforms', folder)), version: client.version };
  console.log(pack([[build, file], [join(root, 'platforms', folder, 'README.md'), 'README.md'], licence], manifest, file));
  optionalDependencies[manifest.name] = client.version;
}
console.log(
  pack(
    [...['README.md', 'dist', 'esm'].map((name) => [join(root, name), name]), licence],
    { ...client, optionalDependencies },
  ),
);
