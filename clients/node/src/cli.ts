#!/usr/bin/env node
// quillmere-record: try the program before writing code against it.

import { open } from 'node:fs/promises';
import { parseArgs } from 'node:util';

import { startCapture, type CaptureOptions } from './capture';
import { QuillmereError } from './errors';
import type { CaptureMode } from './lines';
import { listApps, listSessions } from './listing';
import type { ProgramOptions } from './program';
import { BYTES_PER_SAMPLE, SAMPLE_RATE } from './samples';
import { WAV_HEADER_SIZE, wavHeader } from './wav';

const USAGE = `Usage:
  quillmere-record --pid N --out FILE.wav [--seconds S] [--ratio R] [--mode include|exclude]
                   [--quality high|linear]
  quillmere-record --list sessions|apps
Common options: --exe PATH (default: QUILLMERE_EXE, else this platform's package), --launcher CMD
(repeatable, e.g. --launcher wine), --verbose (print the program's log).
Without --seconds the recording runs until Ctrl+C. --quality is high unless given.`;

// A WAV file counts its data in 32 bits.
const MAX_DATA_BYTES = 0xffffffff - 36;

function fail(message: string): never {
  process.stderr.write(`${message}\n\n${USAGE}\n`);
  process.exit(2);
}

function number(text: string | undefined, name: string): number | undefined {
  if (text === undefined) {
    return undefined;
  }
  const value = Number(text);
  if (text.trim() === '' || !Number.isFinite(value)) {
    fail(`${name} must be a number, not '${text}'`);
  }
  return value;
}

async function record(options: CaptureOptions, out: string, seconds: number | undefined, verbose: boolean) {
  const file = await open(out, 'w');
  const limit = Math.min(seconds === undefined ? Infinity : Math.round(seconds * SAMPLE_RATE) * BYTES_PER_SAMPLE, MAX_DATA_BYTES);
  let written = 0;
  try {
    await file.write(wavHeader(0), 0, WAV_HEADER_SIZE, 0);
    const capture = startCapture(options);
    capture.on('log', (line) => verbose && process.stderr.write(`${line}\n`));
    if (!verbose) {
      capture.on('ducked', (e) => process.stderr.write(`ducked ${e.session}: ${e.before} -> ${e.after}\n`));
      capture.on('restored', (e) => process.stderr.write(`restored a session to ${e.volume}\n`));
      capture.on('warning', (e) => process.stderr.write(`warning: ${e.line}\n`));
      capture.on('targetNotFound', (e) => process.stderr.write(`no process has pid ${e.pid}\n`));
      capture.on('targetEnded', (e) => process.stderr.write(`pid ${e.pid} and all its descendants have ended\n`));
      capture.on('silence', (e) =>
        process.stderr.write(e.silent ? 'the capture hears nothing while what it records plays\n' : 'the capture hears again\n'),
      );
      capture.on('audioLost', (e) => process.stderr.write(`${e.ms} ms of audio lost\n`));
    }
    const interrupt = () => void capture.stop();
    process.once('SIGINT', interrupt);
    const started = await capture.ready;
    const { sampleRate, channels, bitsPerSample } = started.format;
    process.stderr.write(`capturing (engine format ${sampleRate} Hz, ${channels} channels, ${bitsPerSample} bits)\n`);

    for await (const chunk of capture.pcm) {
      const bytes = (chunk as Buffer).subarray(0, limit - written);
      await file.write(bytes, 0, bytes.length, WAV_HEADER_SIZE + written);
      written += bytes.length;
      if (written >= limit) {
        void capture.stop();
      }
    }
    const result = await capture.exited;
    process.off('SIGINT', interrupt);
    await file.write(wavHeader(written), 0, WAV_HEADER_SIZE, 0);
    process.stderr.write(
      `wrote ${written / BYTES_PER_SAMPLE} samples (${(written / BYTES_PER_SAMPLE / SAMPLE_RATE).toFixed(2)} s) to ${out}; ` +
        `the program ended: ${result.reason}, exit code ${String(result.exitCode)}\n`,
    );
    return result.reason === 'stopped' && result.exitCode === 0 ? 0 : 1;
  } finally {
    await file.close();
  }
}

async function main(): Promise<number> {
  const { values } = parseArgs({
    options: {
      pid: { type: 'string' },
      out: { type: 'string' },
      seconds: { type: 'string' },
      ratio: { type: 'string' },
      mode: { type: 'string' },
      quality: { type: 'string' },
      list: { type: 'string' },
      exe: { type: 'string' },
      launcher: { type: 'string', multiple: true },
      verbose: { type: 'boolean' },
      help: { type: 'boolean' },
    },
  });
  if (values.help) {
    process.stdout.write(`${USAGE}\n`);
    return 0;
  }
  const program: ProgramOptions = {
    ...(values.exe === undefined ? {} : { exePath: values.exe }),
    ...(values.launcher === undefined ? {} : { launcher: values.launcher }),
  };
  if (values.list !== undefined) {
    if (values.list !== 'sessions' && values.list !== 'apps') {
      fail(`--list takes sessions or apps, not '${values.list}'`);
    }
    const records = values.list === 'sessions' ? await listSessions(program) : await listApps(program);
    process.stdout.write(`${JSON.stringify(records, null, 2)}\n`);
    return 0;
  }
  const pid = number(values.pid, '--pid');
  if (pid === undefined || values.out === undefined) {
    fail('--pid and --out are required');
  }
  const seconds = number(values.seconds, '--seconds');
  if (seconds !== undefined && seconds <= 0) {
    fail('--seconds must be more than 0');
  }
  const ratio = number(values.ratio, '--ratio');
  const mode = values.mode ?? 'exclude';
  if (mode !== 'include' && mode !== 'exclude') {
    fail(`--mode takes include or exclude, not '${mode}'`);
  }
  const quality = values.quality;
  if (quality !== undefined && quality !== 'high' && quality !== 'linear') {
    fail(`--quality takes high or linear, not '${quality}'`);
  }
  const options: CaptureOptions = {
    ...program,
    pid,
    mode: mode as CaptureMode,
    ...(ratio === undefined ? {} : { duckRatio: ratio }),
    ...(quality === undefined ? {} : { quality }),
  };
  return record(options, values.out, seconds, values.verbose ?? false);
}

main().then(
  (code) => {
    process.exitCode = code;
  },
  (error: unknown) => {
    if (error instanceof QuillmereError) {
      process.stderr.write(`${error.message}\n${error.lines.map((line) => `  ${line}\n`).join('')}`);
    } else {
      process.stderr.write(`${error instanceof Error ? error.message : String(error)}\n`);
    }
    process.exitCode = 1;
  },
);
