// Micro-benchmarks (Google Benchmark) of the three hot layers of tessel:
//   * the scanner with its default (pass-through) hooks and with the policy
//     hooks, on in-memory documents read through fmemopen;
//   * the policy on typical tags (scrub_tag, edit_tag, scrub_text);
//   * Estr appends (estr_append_c, estr_append_mem).
// Output goes to /dev/null. Nothing here checks a time; run with
//   build/bench/micro_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "config/config.h"
#include "estr/estr.h"
#include "policy/tscrub02.h"
#include "scanner/scrub.h"

namespace {

// ---- shared fixtures ----

constexpr std::size_t kOutBufferSize = 1 << 16;
constexpr std::size_t kDocumentSize = 1 << 20;

// /dev/null with one large buffer, as tessel writes standard output.
std::FILE* null_out() {
  static std::FILE* out = [] {
    std::FILE* f = std::fopen("/dev/null", "w");
    if (f != nullptr) {
      static std::array<char, kOutBufferSize> buffer{};
      std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    }
    return f;
  }();
  return out;
}

// Repeats the snippets in a fixed rotation until the document has at least
// kDocumentSize bytes. Deterministic; the same document for every run.
std::string build_document(const std::vector<std::string>& snippets) {
  std::string doc;
  doc.reserve(kDocumentSize + 4096);
  std::size_t i = 0;
  std::uint32_t n = 0;
  while (doc.size() < kDocumentSize) {
    doc += snippets[i % snippets.size()];
    // A varying number in the text keeps the rotation from being uniform.
    n = n * 1103515245U + 12345U;
    doc += std::to_string(n >> 20);
    doc += (n & 0x100U) != 0 ? "\r\n" : "\n";
    i += 1 + ((n >> 8) & 1U);
  }
  return doc;
}

enum DocKind : int { kDocMixed, kDocText, kDocTags, kDocAttrs, kDocComments, kDocScript, kDocKinds };

const char* doc_name(int kind) {
  static constexpr std::array<const char*, kDocKinds> kNames = {
      "mixed", "text-heavy", "tag-heavy", "many-attrs", "comments", "script-body"};
  return kNames[static_cast<std::size_t>(kind)];
}

std::string& document(int kind) {
  static std::array<std::string, kDocKinds> docs = [] {
    std::array<std::string, kDocKinds> d;
    d[kDocMixed] = build_document({
        "<article class=\"post\"><h2><a href=\"https://example.com/a/b\" title=\"A title\">Heading</a></h2>",
        "<p>Some text with <b>bold</b>, <i>italic</i> and a <a href=\"/x?y=1&amp;z=2\" class=\"c\" "
        "onclick=\"f()\">link</a> in it, caf\xc3\xa9 na\xc3\xafve.</p>",
        "<img src=\"https://cdn.example.net/i.jpg\" alt=\"An image\" width=\"640\" height=\"480\" "
        "loading=lazy style=\"border:0\">",
        "<!-- a comment between sections -->",
        "<script>for (var i = 0; i < n; i++) { if (a<b) x += '<span>'; }</script>",
        "<style>.c > p { color: #123456; margin: 0 }</style>",
        "<ul><li><a href=\"#1\">one</a></li><li><a href=\"#2\">two</a></li></ul></article>",
    });
    d[kDocText] = build_document({
        "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut "
        "labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris "
        "nisi ut aliquip ex ea commodo consequat. Duis aute irure dolor in reprehenderit in voluptate velit "
        "esse cillum dolore eu fugiat nulla pariatur. Excepteur sint occaecat cupidatat non proident, sunt "
        "in culpa qui officia deserunt mollit anim id est laborum.</p>",
    });
    d[kDocTags] = build_document({
        "<div><span>a</span><b>b</b><i>c</i><br><em>d</em><code>e</code></div>",
        "<li class=c1><a href=#x>y</a></li><td>1</td><td>2</td><hr>",
    });
    d[kDocAttrs] = build_document({
        "<a href=\"https://example.com/p/q\" title=\"t\" class=\"c1 c2\" id=\"a1\" rel=\"noopener\" "
        "target=\"_blank\" onclick=\"track('x', 1)\" style=\"color:red\" data-pos=\"3\" download>x</a>",
        "<img src=\"https://cdn.example.net/i.jpg\" alt=\"alt text\" title=\"t\" width=\"640\" height=\"480\" "
        "class=\"img\" loading=\"lazy\" decoding=\"async\" onerror=\"this.src='/f.png'\" data-src=\"/d.jpg\">",
    });
    d[kDocComments] = build_document({
        "<!-- short -->",
        "<!--\nA longer comment that spans\nseveral lines of text.\n-->",
        "<!DOCTYPE html>",
    });
    d[kDocScript] = build_document({
        "<script>\n  for (var i = 0; i < list.length; i++) { total += list[i]; }\n"
        "  if (a<b && b <= 9) { el.innerHTML = '<span class=\"k\">' + x + '<\\/span>'; }\n"
        "  var q = document.querySelectorAll(\"div > p\");\n</script>",
    });
    return d;
  }();
  return docs[static_cast<std::size_t>(kind)];
}

// Configurations: names in upper case, as the configuration reader stores
// them. Built once and kept for the whole run.
void must(benchmark::State& state, int status, const char* what) {
  if (status != 0) {
    state.SkipWithError(what);
  }
}

Config* keep_config() {
  static Config* config = cfg_construct();
  return config;
}

// A strict allowlist like examples/tessel.cfg, reduced to the common tags.
Config* strict_config() {
  static Config* config = [] {
    Config* c = cfg_construct();
    if (c == nullptr) {
      return c;
    }
    int bad = cfg_set_tag_default(c, ACTION_DROP);
    bad |= cfg_set_comment_action(c, ACTION_DROP);
    for (const char* tag : {"P", "B", "I", "EM", "STRONG", "SPAN", "DIV", "UL", "OL", "LI", "H2", "BR", "CODE"}) {
      bad |= cfg_set_tag_action(c, tag, ACTION_EDIT);
      bad |= cfg_set_attr_action(c, tag, "TITLE", ACTION_KEEP);
      bad |= cfg_set_attr_default(c, tag, ACTION_DROP);
    }
    bad |= cfg_set_tag_action(c, "A", ACTION_EDIT);
    bad |= cfg_set_attr_action(c, "A", "HREF", ACTION_KEEP);
    bad |= cfg_set_attr_action(c, "A", "TITLE", ACTION_KEEP);
    bad |= cfg_set_attr_default(c, "A", ACTION_DROP);
    bad |= cfg_set_tag_action(c, "IMG", ACTION_EDIT);
    for (const char* attribute : {"SRC", "ALT", "TITLE", "WIDTH", "HEIGHT"}) {
      bad |= cfg_set_attr_action(c, "IMG", attribute, ACTION_KEEP);
    }
    bad |= cfg_set_attr_default(c, "IMG", ACTION_DROP);
    for (const char* tag : {"SCRIPT", "STYLE", "IFRAME", "OBJECT"}) {
      bad |= cfg_set_tag_action(c, tag, ACTION_DROP_ALL);
    }
    if (bad != 0) {
      cfg_release(&c);
    }
    return c;
  }();
  return config;
}

void reset_policy() { (void)scrub_tag(nullptr, nullptr, 0); }

// ---- scanner ----

void scan(benchmark::State& state, int kind) {
  std::string& doc = document(kind);
  std::FILE* out = null_out();
  if (out == nullptr) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  for (auto _ : state) {
    std::FILE* in = fmemopen(doc.data(), doc.size(), "r");
    if (in == nullptr) {
      state.SkipWithError("fmemopen failed");
      break;
    }
    const int status = scrub_html(in, out);
    std::fclose(in);
    if (status != 0) {
      state.SkipWithError("scrub_html failed");
      break;
    }
  }
  reset_policy();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc.size()));
  state.SetLabel(doc_name(kind));
}

// Default hooks: text, tags and comments copied unchanged.
void BM_ScanPassThrough(benchmark::State& state) {
  install_text_scrubber(nullptr);
  install_tag_scrubber(nullptr);
  install_comment_scrubber(nullptr);
  scan(state, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_ScanPassThrough)->DenseRange(0, kDocKinds - 1);

// The policy hooks with the strict allowlist: scanner and policy together.
void BM_ScanStrictPolicy(benchmark::State& state) {
  if (strict_config() == nullptr) {
    state.SkipWithError("cannot build the configuration");
    return;
  }
  install_config(strict_config());
  install_text_scrubber(scrub_text);
  install_tag_scrubber(scrub_tag);
  install_comment_scrubber(scrub_comment);
  scan(state, static_cast<int>(state.range(0)));
  install_text_scrubber(nullptr);
  install_tag_scrubber(nullptr);
  install_comment_scrubber(nullptr);
}
BENCHMARK(BM_ScanStrictPolicy)->DenseRange(0, kDocKinds - 1);

// ---- policy on typical tags ----

struct TagCase {
  const char* label;
  bool strict;  // strict allowlist, else the pass-through configuration
  std::vector<const char*> pieces;
};

const std::vector<TagCase>& tag_cases() {
  static const std::vector<TagCase> cases = {
      {"keep: short tags", false, {"p", "/p", "div class=\"c\"", "/div", "span", "/span", "br"}},
      {"keep: a with attributes", false, {"a href=\"https://example.com/x\" title=\"t\" class=\"c\" id=\"a1\"", "/a"}},
      {"strict: short tags", true, {"p", "/p", "div class=\"c\"", "/div", "span", "/span", "br"}},
      {"strict: edit a",
       true,
       {"a href=\"https://example.com/x/y?z=1\" title=\"A title\" class=\"c1 c2\" id=\"a1\" onclick=\"f()\" "
        "target=_blank rel=noopener",
        "/a"}},
      {"strict: edit img",
       true,
       {"img src=\"https://cdn.example.net/i.jpg\" alt=\"alt text\" width=\"640\" height=\"480\" "
        "class=\"img\" loading=lazy style=\"border:0\" onerror=\"g()\" /"}},
      {"strict: not allowed", true, {"section id=s1", "/section", "font color=red", "/font", "form action=/x"}},
      {"strict: dropped whole", true, {"script", "/script", "style type=\"text/css\"", "/style"}},
  };
  return cases;
}

void BM_PolicyTag(benchmark::State& state) {
  const TagCase& c = tag_cases()[static_cast<std::size_t>(state.range(0))];
  Config* config = c.strict ? strict_config() : keep_config();
  std::FILE* out = null_out();
  if (config == nullptr || out == nullptr) {
    state.SkipWithError("cannot build the configuration or open /dev/null");
    return;
  }
  install_config(config);
  reset_policy();
  for (auto _ : state) {
    for (const char* piece : c.pieces) {
      must(state, scrub_tag(piece, out, 1), "scrub_tag failed");
    }
  }
  reset_policy();
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(c.pieces.size()));
  state.SetLabel(c.label);
}
BENCHMARK(BM_PolicyTag)->DenseRange(0, 6);

// edit_tag alone: scrub_tag looks the name up once, then the attribute
// editing is repeated.
void BM_EditTag(benchmark::State& state) {
  static constexpr std::array<const char*, 2> kPieces = {
      "a href=\"https://example.com/x/y?z=1\" title=\"A title\" class=\"c1 c2\" id=\"a1\" onclick=\"f()\" "
      "target=_blank rel=noopener",
      "img src=\"https://cdn.example.net/i.jpg\" alt=\"alt text\" width=\"640\" height=\"480\" "
      "class=\"img\" loading=lazy style=\"border:0\" onerror=\"g()\" /",
  };
  const char* piece = kPieces[static_cast<std::size_t>(state.range(0))];
  std::FILE* out = null_out();
  if (strict_config() == nullptr || out == nullptr) {
    state.SkipWithError("cannot build the configuration or open /dev/null");
    return;
  }
  install_config(strict_config());
  reset_policy();
  must(state, scrub_tag(piece, out, 1), "scrub_tag failed");
  for (auto _ : state) {
    must(state, edit_tag(piece, out, 1), "edit_tag failed");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) == 0 ? "a" : "img");
}
BENCHMARK(BM_EditTag)->DenseRange(0, 1);

void BM_PolicyText(benchmark::State& state) {
  static constexpr const char* kText =
      "Some text between two tags, long enough to be typical of a paragraph in a page.\n";
  std::FILE* out = null_out();
  if (out == nullptr) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  install_config(keep_config());
  reset_policy();
  for (auto _ : state) {
    must(state, scrub_text(kText, out, 1), "scrub_text failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PolicyText);

// ---- Estr appends ----

// estr_append_c, range(0) characters per iteration into a cleared Estr
// (capacity reused, as the scanner's pending piece does).
void BM_EstrAppendC(benchmark::State& state) {
  const auto count = static_cast<std::int64_t>(state.range(0));
  Estr* es = estr_construct();
  if (es == nullptr) {
    state.SkipWithError("estr_construct failed");
    return;
  }
  for (auto _ : state) {
    estr_clear(es);
    for (std::int64_t i = 0; i < count; ++i) {
      must(state, estr_append_c(es, 'a' + static_cast<int>(i % 26)), "estr_append_c failed");
    }
    benchmark::DoNotOptimize(es);
  }
  estr_destruct(&es);
  state.SetBytesProcessed(state.iterations() * count);
}
BENCHMARK(BM_EstrAppendC)->Arg(16)->Arg(128)->Arg(4096);

// estr_append_mem of one block of range(0) bytes into a cleared Estr.
void BM_EstrAppendMem(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const std::string block(count, 'x');
  Estr* es = estr_construct();
  if (es == nullptr) {
    state.SkipWithError("estr_construct failed");
    return;
  }
  for (auto _ : state) {
    estr_clear(es);
    must(state, estr_append_mem(es, block.data(), count), "estr_append_mem failed");
    benchmark::DoNotOptimize(es);
  }
  estr_destruct(&es);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(count));
}
BENCHMARK(BM_EstrAppendMem)->Arg(8)->Arg(127)->Arg(4096)->Arg(65536);

// A long piece built from 127-byte spills, as the scanner gathers one:
// a fresh Estr grown to range(0) bytes, then released.
void BM_EstrGrowBySpills(benchmark::State& state) {
  constexpr std::uint32_t kSpill = 127;
  const auto total = static_cast<std::uint32_t>(state.range(0));
  const std::string block(kSpill, 'y');
  for (auto _ : state) {
    Estr* es = estr_construct();
    if (es == nullptr) {
      state.SkipWithError("estr_construct failed");
      break;
    }
    for (std::uint32_t n = 0; n < total; n += kSpill) {
      must(state, estr_append_mem(es, block.data(), kSpill), "estr_append_mem failed");
    }
    benchmark::DoNotOptimize(estr_c_str(es));
    estr_destruct(&es);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(total));
}
BENCHMARK(BM_EstrGrowBySpills)->Arg(4096)->Arg(1 << 20);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Config* keep = keep_config();
  Config* strict = strict_config();
  cfg_release(&keep);
  cfg_release(&strict);
  if (std::FILE* out = null_out(); out != nullptr) {
    std::fclose(out);
  }
  return 0;
}
