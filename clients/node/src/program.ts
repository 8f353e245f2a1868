// Where the program is and how it is started.

import { spawn, type ChildProcess, type StdioOptions } from 'node:child_process';
import { join } from 'node:path';

/** How to start the program: shared by captures and listings. */
export interface ProgramOptions {
  /** The program. Defaults to the package's own build in its bin folder: Quillmere.exe on Windows, quillmere elsewhere. */
  exePath?: string | undefined;
  /** A command that runs the program, placed before it: ['wine'] runs it on Linux. */
  launcher?: readonly string[] | undefined;
  /** The child's whole environment, passed as given (default: this process's). */
  env?: NodeJS.ProcessEnv | undefined;
  /** The child's working folder, passed as given. */
  cwd?: string | undefined;
}

export function defaultExePath(platform: NodeJS.Platform = process.platform): string {
  return join(__dirname, '..', 'bin', platform === 'win32' ? 'Quillmere.exe' : 'quillmere');
}

/** Starts the program with an argument array: no shell, no console window. */
export function startProgram(options: ProgramOptions, args: readonly string[], stdio: StdioOptions): ChildProcess {
  const launcher = options.launcher ?? [];
  const exePath = options.exePath ?? defaultExePath();
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
