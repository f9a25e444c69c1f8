// Attribute seams: start tags that the policy keeps or edits, each with a
// random sequence of hostile attributes (names that begin with '=' or a
// quote, values quoted or not, '/' and odd white space between them, URLs
// with unsafe schemes), filtered with a configuration and parsed as a
// browser parses them (parse5). However the attributes that are removed
// leave the kept ones side by side, no attribute or URL outside the policy
// may survive.
//
//   node attributes.mjs TESSEL CONFIG COUNT SEED
//
// The tags go through tessel in documents of a few hundred, each tag on a
// line of its own; a failing tag is printed with its output.
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { attributeTag, makeRandom } from './generators.mjs';
import { readPolicy, violationsOfReadings } from './policy.mjs';

const [tessel, configPath, countArg, seedArg] = process.argv.slice(2);
const count = Number(countArg ?? 3000);
// The same tags for the same seed.
const rng = makeRandom(Number(seedArg ?? 1));

const policy = readPolicy(readFileSync(configPath, 'latin1'));
const kBatch = 250;
let bad = 0;
for (let done = 0; done < count; done += kBatch) {
  const tags = Array.from({ length: Math.min(kBatch, count - done) }, () => attributeTag(rng));
  const run = spawnSync(tessel, ['-f', configPath], { input: Buffer.from(tags.join('x\n') + 'x\n', 'utf8') });
  if (run.status !== 0) {
    console.log(`tessel failed with status ${run.status}: ${run.stderr}`);
    process.exit(1);
  }
  if (violationsOfReadings(run.stdout, policy).length === 0) {
    continue;
  }
  // Find the tags at fault, each filtered alone.
  for (const input of tags) {
    const alone = spawnSync(tessel, ['-f', configPath], { input: Buffer.from(input + 'x', 'utf8') });
    const out = alone.stdout.toString('utf8');
    const found = [...new Set(violationsOfReadings(alone.stdout, policy))];
    if (found.length > 0 && ++bad <= 10) {
      console.log(`${found.join(', ')}\n  tag:    ${JSON.stringify(input)}\n  output: ${JSON.stringify(out)}`);
    }
  }
  bad = Math.max(bad, 1);
}
console.log(`${count} tags filtered, ${bad === 0 ? 'no' : bad} tags with violations`);
process.exit(bad === 0 ? 0 : 1);
