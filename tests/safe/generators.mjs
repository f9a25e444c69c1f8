// The random documents of the safe-mode checks, shared so that each check
// sees the same ones: markup made of the tokens that switch the tokenizer's
// states and of probes that reach each state and give it a byte of each
// class (the differential test), and kept tags with hostile attribute
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

// The classes of bytes that the safe scanner's states tell apart (letters
// and digits alike where no state expects one byte of a name). The end of
// the input is a class of its own: a probe that stops after its prefix.
export const BYTE_CLASSES = {
  'white space': ['\t', '\n', '\f', '\r', ' '],
  'vertical tab': ['\v'],
  '<': ['<'], '>': ['>'], '/': ['/'], '!': ['!'], '?': ['?'], '-': ['-'], '=': ['='], '"': ['"'], "'": ["'"],
  '[': ['['], ']': [']'],
  letter: [...'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ'],
  other: [...'0123456789&;`#%*.:@\\^_|~{}()+,$\x7f'],
  'byte above 127': ['\u0080', '\u00a0', '\u00e9', '\u00ff'],
  'control character': ['\x02', '\x08', '\x0e', '\x1f'],
};

// For each state of the safe scanner, inputs that leave it there, with the
// byte its name or keyword expects next where it expects one (the next
// letter of "</style", of "script" after "<!--<", of "[CDATA[").
export const STATE_PREFIXES = {
  data: ['', 'x', '<svg>', '<math><mi>'],
  tag_open: ['<', '<svg><'],
  end_tag_open: ['</', '<svg></'],
  tag_name: ['<a', '</a', '<svg'],
  before_attr_name: ['<a ', '</a ', '<svg '],
  attr_name: ['<a b', '<svg b'],
  after_attr_name: ['<a b '],
  before_attr_value: ['<a b=', '<a b ='],
  value_dq: ['<a b="x'],
  value_sq: ["<a b='x"],
  value_uq: ['<a b=x', '<svg b=x'],
  after_value: ['<a b="x"', "<a b='x'"],
  self_closing: ['<a/', '<svg/', '<a b="x"/', '<math/'],
  markup_decl: ['<!', '<svg><!'],
  md_dash: ['<!-'],
  comment_start: ['<!--'],
  comment_start_dash: ['<!---'],
  comment: ['<!--x', '<!-- '],
  comment_end_dash: ['<!--x-'],
  comment_end: ['<!--x--', '<!----'],
  comment_end_bang: ['<!--x--!', '<!----!'],
  bogus_comment: ['<?x', '</1', '<!x', '<svg><![x'],
  raw: ['<style>x', '<title>', '<textarea>x', '<xmp>', '<iframe>', '<noembed>', '<noframes>', '<noscript>'],
  raw_lt: ['<style>x<', '<title><'],
  raw_end: [
    '<style>x</', ['<style>x</sty', 'l'], '<style>x</style', '<title></title', ['<textarea></TEXTAREa', 'r'],
    ['<script>x</scr', 'i'], '<script>x</script', ['<script><!--x</scr', 'i'], '<script><!--x</script',
  ],
  plaintext: ['<plaintext>'],
  script: ['<script>x', '<script type=a>'],
  script_lt: ['<script>x<'],
  script_esc_start: ['<script><!'],
  script_esc_start_dash: ['<script><!-'],
  script_esc: ['<script><!--x'],
  script_esc_dash: ['<script><!--x-'],
  script_esc_dash_dash: ['<script><!--x--', '<script><!--'],
  script_esc_lt: ['<script><!--x<'],
  script_desc_start: ['<script><!--<s', ['<script><!--<scrip', 't'], '<script><!--<script', '<script><!--<SCRIPT'],
  script_desc: ['<script><!--<script>x'],
  script_desc_dash: ['<script><!--<script>x-'],
  script_desc_dash_dash: ['<script><!--<script>x--'],
  script_desc_lt: ['<script><!--<script>x<'],
  script_desc_end: [
    '<script><!--<script></s', ['<script><!--<script></scrip', 't'], '<script><!--<script></script',
  ],
  cdata_open: [['<svg><![', 'C'], ['<svg><![CDAT', 'A'], ['<math><![CDATA', '[']],
  cdata: ['<svg><![CDATA[x'],
  cdata_bracket: ['<svg><![CDATA[x]'],
  cdata_brackets: ['<svg><![CDATA[x]]'],
};

// What may come before a probe without changing the state it reaches.
const LEADS = ['', 'x', '<p>', '</i>', '<!--c-->', '\n', '<b x="1">'];

// What follows the probed byte: short inputs that each state it may have
// led to reads differently from the states a wrong transition would lead
// to (where a '>' or a quote ends a piece, whether "--" and "-->" close a
// comment, whether "</script>" ends a script), and then a few tokens.
const FOLLOWERS = [
  '', '>', '->', '-->', '--!>', '!>', '-!>', 'x>', '"x>y">', "'x>y'>", ' a="x>y">', ' ="x>y">', '="x>y">', '/="x>y">',
  '/>', ']]>', ']>', '<!--x-->', '</style>', '</script>', '-<script></script>', '<script></script>', ' ></script>',
  '</script >', 'ipt></script>', 't></script>x</script>',
];

// One probe: a state's prefix, then a byte of a class (or nothing, for the
// end of the input), then a follower and a few tokens.
function probe({ random, pick }, prefix, byte, follower) {
  if (byte === undefined) return prefix;
  let tail = follower;
  const length = Math.floor(random() * 4);
  for (let i = 0; i < length; i++) tail += pick(TOKENS);
  return prefix + byte + tail;
}

function prefixes(state) {
  return STATE_PREFIXES[state].map((p) => (typeof p === 'string' ? { text: p } : { text: p[0], next: p[1] }));
}

// A document for every state, prefix, byte class and follower (and for the
// end of the input after each prefix): every pair of state and class is
// reached, and every transition is followed by input that tells its next
// state from the likely wrong ones.
export function probeDocuments(rng) {
  const docs = [];
  for (const state of Object.keys(STATE_PREFIXES)) {
    for (const { text, next } of prefixes(state)) {
      docs.push(rng.pick(LEADS) + text);
      const bytes = Object.values(BYTE_CLASSES).map((members) => rng.pick(members));
      if (next !== undefined) bytes.push(next);
      for (const byte of bytes) {
        for (const follower of FOLLOWERS) docs.push(rng.pick(LEADS) + probe(rng, text, byte, follower));
      }
    }
  }
  return docs;
}

// A random probe, as a token of a random document: the probes meet each
// other and the tokens in every context.
function randomProbe(rng) {
  const { text, next } = rng.pick(prefixes(rng.pick(Object.keys(STATE_PREFIXES))));
  const members = rng.pick(Object.values(BYTE_CLASSES));
  return text + (next !== undefined && rng.random() < 0.3 ? next : rng.pick(members));
}

// A document of 1 to 40 tokens, one in eight of them a probe.
export function randomDocument(rng) {
  let doc = '';
  const length = 1 + Math.floor(rng.random() * 40);
  for (let i = 0; i < length; i++) doc += rng.random() < 0.125 ? randomProbe(rng) : rng.pick(TOKENS);
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
