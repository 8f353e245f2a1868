// The client driving the Linux program on a real sound server (tests/linux/with-pulse.sh).

import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { join } from 'node:path';
import { test } from 'node:test';

import { listSessions, startCapture } from '../src/index';
import type { SessionVolumeEvent } from '../src/lines';
import { linuxBuild, until } from './support';

test('a capture of a real player on Linux: its sound, its ducking, an orderly stop', { timeout: 60_000 }, async () => {
  const player = spawn(join(linuxBuild, 'tests', 'tone_player'), ['440', '0.4', '30'], { stdio: ['ignore', 'pipe', 'ignore'] });
  try {
    await new Promise((resolve) => player.stdout.once('data', resolve));
    const exePath = join(linuxBuild, 'src', 'quillmere');
    assert.deepEqual(await listSessions({ exePath }), [{ pid: player.pid, name: 'tone_player' }]);

    const capture = startCapture({ exePath, pid: 999999, duckRatio: 0.5 });
    const ducked: SessionVolumeEvent[] = [];
    capture.on('ducked', (event) => ducked.push(event));
    let peak = 0;
    void (async () => {
      for await (const samples of capture.samples()) {
        for (const value of samples) {
          peak = Math.max(peak, value);
        }
      }
    })();
    const started = await capture.ready;
    assert.equal(started.format.sampleRate, 48000);
    await until(() => ducked.length === 1 && peak > 0);
    assert.deepEqual(ducked, [
      { session: `tone_player (pid ${String(player.pid)})`, pid: player.pid, name: 'tone_player', before: 1, after: 0.5 },
    ]);
    assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' });
  } finally {
    player.kill('SIGKILL');
  }
});
