// Throughput of the capture stream read through the client (pcm, and samples()) against the
// child's standard output read directly, for one capture the audio engine double delivers as
// fast as it can. Rounds alternate the three readers, so that a busy machine slows each alike,
// and each round starts with the next reader, so that none always runs first (in a fixed order
// the reader that always ran first came out slowest); the figures that count are the ratios to
// the direct reader within this one run. Both ask for
// the same stream, quality given explicitly (the client's default differs from the program's).
//
//   npm run bench [-- ROUNDS PACKETS]

import { spawn } from 'node:child_process';

import { startCapture } from '../src/capture';
import { exePath, runUnderWine, withScript } from '../test/support';

const rounds = Number(process.argv[2] ?? 6);
const packets = Number(process.argv[3] ?? 6000);
// 48 kHz stereo float in 100 ms packets: 1,600 samples (3,200 bytes) of the stream each.
const script = `mix_format ext-float 48000 2 32
packet 4800 tone 440 0.5
repeat
packet_size_fail 0x80004005 ${packets + 1}
`;

interface Run {
  bytes: number;
  seconds: number;
}

// Time from the first byte to the end of the stream: the start of Wine is not the reader's.
function timer() {
  let first = 0n;
  let bytes = 0;
  return {
    add(count: number) {
      if (bytes === 0) {
        first = process.hrtime.bigint();
      }
      bytes += count;
    },
    done(): Run {
      return { bytes, seconds: Number(process.hrtime.bigint() - first) / 1e9 };
    },
  };
}

async function direct(): Promise<Run> {
  const child = spawn(runUnderWine, [exePath, '4242', '--quality=linear', '--clock=packets'], { env: withScript(script).env, stdio: ['pipe', 'pipe', 'ignore'] });
  const clock = timer();
  for await (const chunk of child.stdout) {
    clock.add((chunk as Buffer).length);
  }
  return clock.done();
}

async function client(): Promise<Run> {
  const capture = startCapture({ ...withScript(script), pid: 4242, quality: 'linear', clock: 'packets' });
  const clock = timer();
  for await (const chunk of capture.pcm) {
    clock.add((chunk as Buffer).length);
  }
  return clock.done();
}

async function clientSamples(): Promise<Run> {
  const capture = startCapture({ ...withScript(script), pid: 4242, quality: 'linear', clock: 'packets' });
  const clock = timer();
  for await (const samples of capture.samples()) {
    clock.add(samples.byteLength);
  }
  return clock.done();
}

function median(values: number[]): number {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)] as number;
}

async function main() {
  const readers = { direct, pcm: client, samples: clientSamples };
  const rates: Record<string, number[]> = { direct: [], pcm: [], samples: [] };
  let bytes = 0;
  const order = Object.entries(readers);
  for (let round = 0; round < rounds; ++round) {
    const first = round % order.length;
    for (const [name, read] of [...order.slice(first), ...order.slice(0, first)]) {
      const run = await read();
      bytes = run.bytes;
      rates[name]?.push(run.bytes / run.seconds / 1e6);
    }
  }
  const base = median(rates['direct'] ?? []);
  console.log(`${rounds} rounds, ${bytes} bytes per capture (${(bytes / 32000).toFixed(0)} s of audio)`);
  console.log('| reader | median MB/s | ratio to direct |');
  console.log('|---|---|---|');
  for (const [name, values] of Object.entries(rates)) {
    console.log(`| ${name} | ${median(values).toFixed(1)} | ${(median(values) / base).toFixed(2)} |`);
  }
}

void main();
