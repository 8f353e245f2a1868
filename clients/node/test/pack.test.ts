// scripts/pack.js given one platform's build: that platform's package and a client that names only
// it. Stand-in files take the builds' place (packing only copies them).

import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { test } from 'node:test';

import { packageRoot } from './support';

test('pack.js packs the platforms it is given a build of, and says which it left out', (t) => {
  const work = mkdtempSync(join(tmpdir(), 'quillmere-pack-one-'));
  t.after(() => rmSync(work, { recursive: true, force: true }));
  const build = join(work, 'program');
  writeFileSync(build, 'a stand-in for the program\n');
  const { version } = JSON.parse(readFileSync(join(packageRoot, 'package.json'), 'utf8')) as { version: string };
  const rows: Array<[string, string, string]> = [
    ['--linux', 'linux-x64', 'left out @quillmere/win32-x64: no --windows PATH given'],
    ['--windows', 'win32-x64', 'left out @quillmere/linux-x64: no --linux PATH given'],
  ];
  for (const [option, folder, leftOut] of rows) {
    const out = mkdtempSync(join(work, 'out-'));
    const run = spawnSync(process.execPath, [join(packageRoot, 'scripts', 'pack.js'), option, build, '--out', out], { encoding: 'utf8' });
    assert.equal(run.status, 0, run.stderr);
    assert.equal(run.stderr, `${leftOut}\n`, option);
    const tarballs = run.stdout.trim().split('\n');
    assert.deepEqual(tarballs.map((path) => basename(path)), [`quillmere-${folder}-${version}.tgz`, `quillmere-${version}.tgz`], option);
    const client = JSON.parse(
      execFileSync('tar', ['-xzOf', tarballs[1] as string, 'package/package.json'], { encoding: 'utf8' }),
    ) as Record<string, unknown>;
    assert.deepEqual(client['optionalDependencies'], { [`@quillmere/${folder}`]: version }, option);
  }
});
