import assert from 'node:assert/strict';
import { test } from 'node:test';

import { SampleAligner, toSamples } from '../src/samples';

test('chunks of any length come out as whole samples, in order', async () => {
  const input = Buffer.from([1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13]);
  const aligner = new SampleAligner();
  const out: Buffer[] = [];
  aligner.on('data', (chunk: Buffer) => out.push(chunk));
  for (const [start, end] of [[0, 1], [1, 4], [4, 5], [5, 5], [5, 10], [10, 13]]) {
    aligner.write(input.subarray(start, end));
  }
  aligner.end();
  await new Promise((resolve) => aligner.on('end', resolve));
  assert.deepEqual(out.map((chunk) => chunk.length), [4, 6, 2]);
  assert.deepEqual(Buffer.concat(out), input.subarray(0, 12), 'the odd last byte is no sample');
});

test('samples are read little-endian, from aligned and unaligned chunks alike', () => {
  // Buffer.alloc is never pooled: its bytes start at offset 0.
  const bytes = Buffer.alloc(7);
  bytes.set([0xaa, 0x01, 0x00, 0xff, 0x7f, 0x00, 0x80]);
  assert.deepEqual(Array.from(toSamples(bytes.subarray(1))), [1, 32767, -32768]);
  assert.deepEqual(Array.from(toSamples(bytes.subarray(0, 4))), [426, -256]);
});
