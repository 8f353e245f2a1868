// The client driving the Linux program on a real sound server (tests/linux/with-pulse.sh).

import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { join } from 'node:path';
import { test } from 'node:test';

import { listSessions, startCapture } from '../src/index';
import type { RestoredEvent, SessionVolumeEvent } from '../src/lines';
import { delay, linuxBuild, until } from './support';

const exePath = join(linuxBuild, 'src', 'quillmere');

function startPlayer() {
  return spawn(join(linuxBuild, 'tests', 'tone_player'), ['440', '0.4', '30'], { stdio: ['ignore', 'pipe', 'ignore'] });
}

test('a capture of a real player on Linux: its sound, its ducking, an orderly stop', { timeout: 60_000 }, async () => {
  const player = startPlayer();
  try {
    await new Promise((resolve) => player.stdout.once('data', resolve));
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

test('stop() ends the Linux program in order when the host has stopped reading pcm', { timeout: 60_000 }, async () => {
  const player = startPlayer();
  try {
    await new Promise((resolve) => player.stdout.once('data', resolve));
    const capture = startCapture({ exePath, pid: 999999, duckRatio: 0.5 });
    const restored: RestoredEvent[] = [];
    let ducked = false;
    capture.on('ducked', () => (ducked = true));
    capture.on('restored', (event) => restored.push(event));
    await capture.ready;
    await until(() => ducked && capture.pcm.readableLength >= capture.pcm.readableHighWaterMark);
    // The stream comes at 32,000 bytes a second: past pcm's own buffer it fills pcm's input side,
    // the child's output stream (buffers of the same size) and a 64 KiB pipe, then the program waits.
    await delay(((2 * capture.pcm.readableHighWaterMark + 65536) / 32000) * 1000 + 1000);
    assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' });
    assert.deepEqual(restored, [{ volume: 1, earlierRun: false }]);
    let bytes = 0;
    for await (const chunk of capture.pcm) {
      bytes += (chunk as Buffer).length;
    }
    assert.ok(bytes > 65536, `the tail is the host's to read (${bytes} bytes)`);
  } finally {
    player.kill('SIGKILL');
  }
});
