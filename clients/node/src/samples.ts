// The capture stream as whole 16-bit samples: a pipe hands out chunks of any length, so a sample
// can straddle two of them.

import { endianness } from 'node:os';
import { Transform, type TransformCallback } from 'node:stream';

export const SAMPLE_RATE = 16000;
export const CHANNELS = 1;
export const BYTES_PER_SAMPLE = 2;

/** Passes bytes on in chunks of whole samples, carrying an odd last byte to the next chunk. */
export class SampleAligner extends Transform {
  private carry: Buffer | undefined;

  override _transform(chunk: Buffer, _encoding: BufferEncoding, done: TransformCallback): void {
    const bytes = this.carry ? Buffer.concat([this.carry, chunk]) : chunk;
    const whole = bytes.length - (bytes.length % BYTES_PER_SAMPLE);
    this.carry = whole < bytes.length ? Buffer.from(bytes.subarray(whole)) : undefined;
    if (whole > 0) {
      this.push(bytes.subarray(0, whole));
    }
    done();
  }

  // A byte left over at the end is half a sample: the program never writes one, so it is dropped.
  override _flush(done: TransformCallback): void {
    this.carry = undefined;
    done();
  }
}

const littleEndian = endianness() === 'LE';

/** The samples of a chunk of whole little-endian samples, copied only when they must be. */
export function toSamples(chunk: Buffer): Int16Array {
  const count = Math.floor(chunk.length / BYTES_PER_SAMPLE);
  if (littleEndian && chunk.byteOffset % BYTES_PER_SAMPLE === 0) {
    return new Int16Array(chunk.buffer, chunk.byteOffset, count);
  }
  const samples = new Int16Array(count);
  for (let i = 0; i < count; ++i) {
    samples[i] = chunk.readInt16LE(i * BYTES_PER_SAMPLE);
  }
  return samples;
}
