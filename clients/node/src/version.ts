// The program's version against the client's. A client passes options and waits for lines that a
// program of another minor version may not know, so each program is asked its version once
// (`<program> --version`), before its first start.

import { existsSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';

import { QuillmereError } from './errors';
import { KILL_SIGNAL, startProgram, whenEnded, type ProgramLocation, type ProgramOptions } from './program';

/** @internal What a program said of its version. */
export interface ProgramVersion {
  /** Its version, or undefined when it wrote none (a program older than --version). */
  version: string | undefined;
  /** Its major and minor versions are the client's. */
  matches: boolean;
}

// A cold Wine prefix takes seconds to start a program; a program that has not answered by then
// never will.
const CHECK_TIMEOUT_MS = 30_000;
// More than any version line: the rest is not read.
const MAX_OUTPUT_BYTES = 256;

let ownVersion: string | undefined;

/** @internal The client's own version: the nearest package.json above this file that is quillmere's. */
export function clientVersion(): string {
  if (ownVersion === undefined) {
    for (let folder = __dirname; ; folder = dirname(folder)) {
      const file = join(folder, 'package.json');
      if (existsSync(file)) {
        const manifest = JSON.parse(readFileSync(file, 'utf8')) as { name?: unknown; version?: unknown };
        if (manifest.name === 'quillmere' && typeof manifest.version === 'string') {
          ownVersion = manifest.version;
          break;
        }
      }
      if (dirname(folder) === folder) {
        throw new Error(`no package.json of quillmere above ${__dirname}`);
      }
    }
  }
  return ownVersion;
}

/** @internal What a program's --version output says, against the client's version. */
export function compareVersion(output: string, exitCode: number | null, client: string): ProgramVersion {
  const match = exitCode === 0 ? /^((\d+)\.(\d+)\.\d+(?:[-+][0-9A-Za-z.+-]+)?)(?:\r?\n)?$/.exec(output) : null;
  if (!match) {
    return { version: undefined, matches: false };
  }
  const [major, minor] = client.split('.');
  return { version: match[1], matches: match[2] === major && match[3] === minor };
}

// Each program's answer once it is known, and the answers under way, by path.
const known = new Map<string, ProgramVersion>();
const asking = new Map<string, Promise<ProgramVersion | undefined>>();

/** @internal The program's version if it has been asked already. */
export function knownVersion(path: string): ProgramVersion | undefined {
  return known.get(path);
}

/**
 * @internal Asks the program its version, once per path however many ask at once. Resolves with
 * undefined when the program could not be started at all: its start then fails with the system's
 * own error, and the next start asks again.
 */
export function askVersion(location: ProgramLocation, options: ProgramOptions): Promise<ProgramVersion | undefined> {
  const { path } = location;
  const answered = known.get(path);
  if (answered) {
    return Promise.resolve(answered);
  }
  let question = asking.get(path);
  if (!question) {
    question = runVersion({ ...options, exePath: path }, clientVersion()).then((answer) => {
      asking.delete(path);
      if (answer) {
        known.set(path, answer);
      }
      return answer;
    });
    asking.set(path, question);
  }
  return question;
}

function runVersion(options: ProgramOptions, client: string): Promise<ProgramVersion | undefined> {
  return new Promise((resolve) => {
    let child: ReturnType<typeof startProgram>;
    try {
      child = startProgram(options, ['--version'], ['ignore', 'pipe', 'ignore']);
    } catch {
      resolve(undefined);
      return;
    }
    const output: Buffer[] = [];
    let bytes = 0;
    child.stdout?.on('data', (chunk: Buffer) => {
      if (bytes < MAX_OUTPUT_BYTES) {
        output.push(chunk);
        bytes += chunk.length;
      }
    });
    const timer = setTimeout(() => child.kill(KILL_SIGNAL), CHECK_TIMEOUT_MS);
    child.on('error', () => {
      if (child.pid === undefined) {
        clearTimeout(timer);
        resolve(undefined);
      }
    });
    whenEnded(child, (exitCode) => {
      clearTimeout(timer);
      resolve(compareVersion(Buffer.concat(output).toString('utf8'), exitCode, client));
    });
  });
}

/** @internal What the client says of a program whose version is not its own. */
export function mismatchMessage(path: string, answer: ProgramVersion): string {
  const said = answer.version === undefined ? 'did not write its version for --version' : `is version ${answer.version}`;
  return `Quillmere at ${path} ${said}; this client is version ${clientVersion()} and needs a program of the same major and minor version`;
}

/** @internal The error a capture or listing rejects with when the platform package's program is of another version. */
export function mismatchError(path: string, answer: ProgramVersion): QuillmereError {
  return new QuillmereError(mismatchMessage(path, answer), { code: 'PROGRAM_MISMATCH' });
}
