// Runs the Windows build under Wine against the audio engine double, as the C++ end-to-end tests
// do: QUILLMERE_WINDOWS_BUILD names the build folder (default: the repository's build/windows).

import { mkdtempSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

import type { ProgramOptions } from '../src/program';

export const packageRoot = resolve(__dirname, '..', '..');
export const windowsBuild = resolve(
  process.env['QUILLMERE_WINDOWS_BUILD'] ?? join(packageRoot, '..', '..', 'build', 'windows'),
);
export const exePath = join(windowsBuild, 'src', 'Quillmere.exe');
export const runUnderWine = join(windowsBuild, 'run-under-wine.sh');
export const testBin = join(windowsBuild, 'test-bin');
// The Linux build (QUILLMERE_LINUX_BUILD, default the repository's build/linux), run against the
// sound server PULSE_SERVER names.
export const linuxBuild = resolve(process.env['QUILLMERE_LINUX_BUILD'] ?? join(packageRoot, '..', '..', 'build', 'linux'));
// The optimised Linux program the package ships (QUILLMERE_RELEASE_BUILD, default the
// repository's build/release).
export const releaseBuild = resolve(process.env['QUILLMERE_RELEASE_BUILD'] ?? join(packageRoot, '..', '..', 'build', 'release'));

// Wine's drive Z: is the Unix root.
export function windowsPath(unixPath: string): string {
  return `Z:${unixPath.replace(/\//g, '\\')}`;
}

/** Program options for a run that plays this script in the audio engine double. */
export function withScript(script: string, launcher: readonly string[] = [runUnderWine]): ProgramOptions {
  const folder = mkdtempSync(join(tmpdir(), 'quillmere-client-'));
  const scriptPath = join(folder, 'engine-script.txt');
  writeFileSync(scriptPath, script);
  return {
    exePath,
    launcher,
    env: { ...process.env, QUILLMERE_DOUBLE_SCRIPT: windowsPath(scriptPath) },
  };
}

export function delay(ms: number): Promise<void> {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

/** Waits until the condition holds, checking every 50 ms (the test's own timeout bounds it). */
export async function until(condition: () => boolean): Promise<void> {
  while (!condition()) {
    await delay(50);
  }
}
