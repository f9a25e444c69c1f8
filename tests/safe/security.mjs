// Security test: every payload of the public XSS corpus is filtered with a
// configuration, and the output parsed as a browser parses it (parse5), read
// as UTF-8, with scripting off and as ISO-2022-JP. No element, attribute or
// URL outside the configuration's policy may survive.
//
//   node security.mjs TESSEL CONFIG VECTORS_JSONL...
//
// The policy is read from the configuration file itself (policy.mjs).
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { readPolicy, violationsOfReadings } from './policy.mjs';

const [tessel, configPath, ...vectorsPaths] = process.argv.slice(2);

const policy = readPolicy(readFileSync(configPath, 'latin1'));
const vectors = vectorsPaths.flatMap((path) =>
  readFileSync(path, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l)));
let bad = 0;
for (const { id, payload } of vectors) {
  const run = spawnSync(tessel, ['-f', configPath], { input: Buffer.from(payload, 'utf8') });
  if (run.status !== 0) {
    console.log(`${id}: tessel failed with status ${run.status}: ${run.stderr}`);
    bad++;
    continue;
  }
  const output = run.stdout.toString('utf8');
  const found = violationsOfReadings(run.stdout, policy);
  if (found.length > 0) {
    bad++;
    if (bad <= 25) {
      console.log(`${id}: ${[...new Set(found)].join(', ')}`);
      console.log(`  payload: ${JSON.stringify(payload).slice(0, 300)}`);
      console.log(`  output:  ${JSON.stringify(output).slice(0, 300)}`);
    }
  }
}
console.log(`${vectors.length - bad} of ${vectors.length} payloads filtered without violations`);
process.exit(bad === 0 ? 0 : 1);
