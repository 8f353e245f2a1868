// The ES module entry exports everything the CommonJS entry does, as the very same objects.
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { test } from 'node:test';

import * as esm from 'quillmere';

test('the ES module entry is the CommonJS build', () => {
  const cjs = createRequire(import.meta.url)('quillmere');
  assert.deepEqual(Object.keys(esm).sort(), Object.keys(cjs).sort());
  for (const name of Object.keys(cjs)) {
    assert.equal(esm[name], cjs[name], name);
  }
});
