// Where the program is and how it is started.

import { spawn, type ChildProcess, type StdioOptions } from 'node:child_process';
import { posix, win32 } from 'node:path';

import { QuillmereError } from './errors';

/** How to start the program: shared by captures and listings. */
export interface ProgramOptions {
  /**
   * The program. Default: QUILLMERE_EXE from this process's environment, else the build in this
   * platform's package (@quillmere/win32-x64, also on Windows arm64, or @quillmere/linux-x64).
   */
  exePath?: string | undefined;
  /** A command that runs the program, placed before it: ['wine'] runs it on Linux. */
  launcher?: readonly string[] | undefined;
  /** The child's whole environment, passed as given (default: this process's). */
  env?: NodeJS.ProcessEnv | undefined;
  /** The child's working folder, passed as given. */
  cwd?: string | undefined;
}

// The platform package and its program, by where the client runs. Windows on ARM runs the x64
// program under its x64 emulation.
const PROGRAMS: Readonly<Record<string, { package: string; file: string }>> = {
  'win32-x64': { package: '@quillmere/win32-x64', file: 'Quillmere.exe' },
  'win32-arm64': { package: '@quillmere/win32-x64', file: 'Quillmere.exe' },
  'linux-x64': { package: '@quillmere/linux-x64', file: 'quillmere' },
};

const NO_PROGRAM_HELP =
  'install the platform package (@quillmere/win32-x64 on Windows x64 and arm64, @quillmere/linux-x64 on Linux x64), ' +
  "set QUILLMERE_EXE to the program's path, or pass exePath";

/** @internal Where the client runs, and how it finds an installed package. */
export interface Host {
  platform: string;
  arch: string;
  env: NodeJS.ProcessEnv;
  /** The path of an installed package's file, as require.resolve gives it; throws when there is none. */
  resolve: (request: string) => string;
}

/** @internal Where the program is, and whether it came from the platform package (not exePath or QUILLMERE_EXE). */
export interface ProgramLocation {
  path: string;
  packaged: boolean;
}

/** @internal The program to start: exePath, QUILLMERE_EXE, or the platform package's build. */
export function findProgram(exePath: string | undefined, host: Host): string {
  return locateProgram(exePath, host).path;
}

/** @internal As findProgram, saying where the program came from. */
export function locateProgram(exePath: string | undefined, host: Host = thisHost()): ProgramLocation {
  if (exePath !== undefined) {
    return { path: exePath, packaged: false };
  }
  const fromEnvironment = host.env['QUILLMERE_EXE'];
  if (fromEnvironment !== undefined && fromEnvironment !== '') {
    return { path: fromEnvironment, packaged: false };
  }
  const target = `${host.platform}-${host.arch}`;
  const program = PROGRAMS[target];
  const manifest = program === undefined ? undefined : resolveOrUndefined(host, `${program.package}/package.json`);
  if (program === undefined || manifest === undefined) {
    throw new QuillmereError(`no Quillmere program for ${target}: ${NO_PROGRAM_HELP}`, { code: 'NO_PROGRAM' });
  }
  const path = host.platform === 'win32' ? win32 : posix;
  return { path: outsideAsar(path.join(path.dirname(manifest), program.file)), packaged: true };
}

function resolveOrUndefined(host: Host, request: string): string | undefined {
  try {
    return host.resolve(request);
  } catch {
    return undefined;
  }
}

// Inside a packaged Electron application the package lies in the app.asar archive, which the
// system cannot start a program from; packagers put the unpacked files beside it.
function outsideAsar(path: string): string {
  return path.replace(/(^|[\\/])app\.asar(?=[\\/])/, '$1app.asar.unpacked');
}

/**
 * The program a capture or listing starts: exePath when given, else QUILLMERE_EXE, else this
 * platform's package (inside app.asar, its unpacked copy). Throws a QuillmereError with code
 * 'NO_PROGRAM' when there is none.
 */
export function resolveExePath(exePath?: string): string {
  return locateProgram(exePath).path;
}

function thisHost(): Host {
  return {
    platform: process.platform,
    arch: process.arch,
    env: process.env,
    resolve: (request) => require.resolve(request),
  };
}

/** Starts the program with an argument array: no shell, no console window. */
export function startProgram(options: ProgramOptions, args: readonly string[], stdio: StdioOptions): ChildProcess {
  const launcher = options.launcher ?? [];
  const exePath = resolveExePath(options.exePath);
  const [command, ...rest] = launcher.length > 0 ? [...launcher, exePath, ...args] : [exePath, ...args];
  return spawn(command as string, rest, {
    stdio,
    windowsHide: true,
    shell: false,
    ...(options.env === undefined ? {} : { env: options.env }),
    ...(options.cwd === undefined ? {} : { cwd: options.cwd }),
  });
}

// On Windows kill() is TerminateProcess whatever the signal; elsewhere the program may run under
// a launcher such as Wine, where SIGKILL ends it the same way.
export const KILL_SIGNAL: NodeJS.Signals = 'SIGKILL';

const CLOSE_GRACE_MS = 1000;

/**
 * Calls back once the child has ended and its output has been read: on 'close', or a moment
 * after 'exit' when something else still holds the child's pipes (a process it started that
 * inherited them, such as a Wine desktop started on the program's first window call).
 */
export function whenEnded(
  child: ChildProcess,
  ended: (exitCode: number | null, signal: NodeJS.Signals | null) => void,
  release: () => void = () => {
    child.stdout?.destroy();
    child.stderr?.destroy();
  },
): void {
  let done = false;
  const finish = (exitCode: number | null, signal: NodeJS.Signals | null) => {
    if (!done) {
      done = true;
      ended(exitCode, signal);
    }
  };
  child.once('exit', (exitCode, signal) => {
    const timer = setTimeout(() => {
      release();
      finish(exitCode, signal);
    }, CLOSE_GRACE_MS);
    child.once('close', () => {
      clearTimeout(timer);
      finish(exitCode, signal);
    });
  });
}
