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
import { parse } from 'parse5';
import { readPolicy, violations } from './policy.mjs';

const [tessel, configPath, countArg, seedArg] = process.argv.slice(2);
const count = Number(countArg ?? 3000);
let seed = Number(seedArg ?? 1) >>> 0 || 1;

// xorshift32: the same tags for the same seed.
function random() {
  seed ^= seed << 13;
  seed >>>= 0;
  seed ^= seed >>> 17;
  seed ^= seed << 5;
  seed >>>= 0;
  return seed / 4294967296;
}
const pick = (list) => list[Math.floor(random() * list.length)];

const TAGS = ['a', 'img', 'b', 'p', 'i'];
const NAMES = ['href', 'src', 'title', 'alt', 'onclick', 'onerror', 'style', 'srcset', 'x', '=', '=x', '="x"', "='x'",
  '=javascript:alert(1)', '=alert(1)', '/', '"', "'", 'HREF', 'a"', 'on', 'width', 'formaction', 'action'];
const VALUES = ['javascript:alert(1)', 'http://ok/', 'x', '', 'alert(1)', '&#106;avascript:x', 'a b', '>', "'", '"',
  '=', '/', 'javascript:', ' javascript:x', 'x y=javascript:z', 'data:,x', 'x ((),javascript:y', 'a.png 1x, javascript:y'];
const SEPARATORS = [' ', '  ', '/', ' / ', '\t', '\n', '\r', '\f', '', '//', ' =', '= ', '\v'];
const EQUALS = ['=', ' =', '= ', ' = ', '=\t'];
const QUOTES = ['"', "'", '', ''];

function attribute() {
  const name = pick(SEPARATORS) + pick(NAMES);
  if (random() < 0.35) {
    return name;
  }
  const quote = pick(QUOTES);
  let value = pick(VALUES);
  // A value holds no byte that would end it before its end.
  value = quote === '' ? value.replace(/[\s>]/g, '') : value.split(quote).join('');
  return name + pick(EQUALS) + quote + value + quote;
}

function tag() {
  let text = '<' + pick(TAGS);
  const attributes = 1 + Math.floor(random() * 5);
  for (let i = 0; i < attributes; i++) {
    text += attribute();
  }
  return text + pick(['>', '/>', ' >']);
}

const policy = readPolicy(readFileSync(configPath, 'latin1'));
const kBatch = 250;
let bad = 0;
for (let done = 0; done < count; done += kBatch) {
  const tags = Array.from({ length: Math.min(kBatch, count - done) }, tag);
  const run = spawnSync(tessel, ['-f', configPath], { input: Buffer.from(tags.join('x\n') + 'x\n', 'utf8') });
  if (run.status !== 0) {
    console.log(`tessel failed with status ${run.status}: ${run.stderr}`);
    process.exit(1);
  }
  const output = run.stdout.toString('utf8');
  if (violations(parse(output), policy, []).length === 0) {
    continue;
  }
  // Find the tags at fault, each filtered alone.
  for (const input of tags) {
    const alone = spawnSync(tessel, ['-f', configPath], { input: Buffer.from(input + 'x', 'utf8') });
    const out = alone.stdout.toString('utf8');
    const found = [...new Set(violations(parse(out), policy, []))];
    if (found.length > 0 && ++bad <= 10) {
      console.log(`${found.join(', ')}\n  tag:    ${JSON.stringify(input)}\n  output: ${JSON.stringify(out)}`);
    }
  }
  bad = Math.max(bad, 1);
}
console.log(`${count} tags filtered, ${bad === 0 ? 'no' : bad} tags with violations`);
process.exit(bad === 0 ? 0 : 1);
