// Runs one of the checks against parse5, or reports it skipped when parse5
// is not installed (a plain build of a fresh clone has no node_modules):
//
//   node with_parse5.mjs CHECK.mjs [ARGS...]
//
// Exit status 77 means skipped (CTest's SKIP_RETURN_CODE). With
// TESSEL_REQUIRE_ALL_TESTS set, as scripts/check.sh sets it, a missing
// parse5 is a failure instead.
import { existsSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const modules = join(here, 'node_modules');
const missing = ['parse5', 'parse5-sax-parser'].filter((name) => !existsSync(join(modules, name, 'package.json')));
if (missing.length > 0) {
  const reason = `${missing.join(' and ')} not installed (npm ci --prefix tests/safe)`;
  if (process.env.TESSEL_REQUIRE_ALL_TESTS) {
    console.log(`FAIL: ${reason}`);
    process.exit(1);
  }
  console.log(`skipped: ${reason}`);
  process.exit(77);
}
const [check, ...args] = process.argv.slice(2);
process.argv = [process.argv[0], resolve(check), ...args];
await import(pathToFileURL(resolve(check)).href);
