// The random documents of the safe-mode checks, shared so that each check
// sees the same ones: markup made of the tokens that switch the tokenizer's
// states (the differential test), and kept tags with hostile attribute
// sequences (the attribute test). A seed gives the same sequence on every
// run.

// xorshift32.
export function makeRandom(seed) {
  let state = seed >>> 0 || 1;
  const random = () => {
    state ^= state << 13; state >>>= 0;
    state ^= state >>> 17;
    state ^= state << 5; state >>>= 0;
    return state / 4294967296;
  };
  const pick = (list) => list[Math.floor(random() * list.length)];
  return { random, pick };
}

export const TOKENS = [
  '<', '>', '/', '!', '?', '-', '--', '=', '"', "'", ' ', '\n', '\t', '\f', '\r', '\v', 'a', 'b', 'x', 'p',
  'A', '1', '&', ';', '`', 'script', 'SCRIPT', 'style', 'title', 'textarea', 'xmp', 'iframe', 'noembed',
  'noframes', 'noscript', 'plaintext', '<script>', '</script>', '<script ', '</script ', '</script/',
  '<style>', '</style>', '</style', '<title>', '</title>', '<textarea>', '</textarea>', '<xmp>', '</xmp>',
  '<!--', '-->', '--!>', '<!-->', '<!--->', '<!', '<?', '</', '</>', '<a ', '<a href=', 'href', 'onclick',
  '=x', '="y"', "='z'", '<b>', '</b>', '<img src=x ', '/>', 'DOCTYPE', '<!DOCTYPE html>', '[CDATA[', ']]>',
  '<p', '</p', '<br/>', '\u00e9', '\u00ff', '<noscript>', '</noscript>', '<iframe>', '</iframe>',
  '<plaintext>', '<!--<script>', '</script>-->', '<!-- x -->',
  '<svg>', '</svg>', '<svg/>', '<math>', '</math>', '<mi>', '</mi>', '<mtext>', '<mglyph>', '<foreignObject>',
  '</foreignobject>', '<desc>', '</desc>', '<annotation-xml encoding="text/html">', '</annotation-xml>',
  '<![CDATA[', ']]>', '<font color=red>', '<font>', '<p>', '<div>', '<table>',
];

// A document of 1 to 40 tokens.
export function randomDocument({ random, pick }) {
  let doc = '';
  const length = 1 + Math.floor(random() * 40);
  for (let i = 0; i < length; i++) doc += pick(TOKENS);
  return doc;
}

const TAGS = ['a', 'img', 'b', 'p', 'i'];
const NAMES = ['href', 'src', 'title', 'alt', 'onclick', 'onerror', 'style', 'srcset', 'x', '=', '=x', '="x"', "='x'",
  '=javascript:alert(1)', '=alert(1)', '/', '"', "'", 'HREF', 'a"', 'on', 'width', 'formaction', 'action'];
const VALUES = ['javascript:alert(1)', 'http://ok/', 'x', '', 'alert(1)', '&#106;avascript:x', 'a b', '>', "'", '"',
  '=', '/', 'javascript:', ' javascript:x', 'x y=javascript:z', 'data:,x', 'x ((),javascript:y', 'a.png 1x, javascript:y'];
const SEPARATORS = [' ', '  ', '/', ' / ', '\t', '\n', '\r', '\f', '', '//', ' =', '= ', '\v'];
const EQUALS = ['=', ' =', '= ', ' = ', '=\t'];
const QUOTES = ['"', "'", '', ''];

function attribute({ random, pick }) {
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

// A start tag of one of TAGS with 1 to 5 hostile attributes.
export function attributeTag(rng) {
  const { random, pick } = rng;
  let text = '<' + pick(TAGS);
  const attributes = 1 + Math.floor(random() * 5);
  for (let i = 0; i < attributes; i++) {
    text += attribute(rng);
  }
  return text + pick(['>', '/>', ' >']);
}
