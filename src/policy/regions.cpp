// Regions dropped whole, kept as a stack of the upper-case names of their
// start tags: a region ends at its own end tag, so an end tag of another
// dropped element inside it (</div> inside <style>) cannot reopen the
// output.
#include "policy/regions.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "policy/findings.h"
#include "scanner/scrub.h"

namespace {

// A region dropped whole: the upper-case name of its start tag, and the
// frame depth (safe mode) after that tag: the depth of the frame the tag
// opened, or of the one it lies in. Regions nested in an equal one are
// counted in its entry, so that a deep nest of one element takes no more
// memory than one, and a nest of several a few bytes a level.
struct Region {
  std::uint32_t name;         // in region_names()
  std::uint32_t frame_depth;  // 0 in classic mode
  std::uint32_t count;
  bool opened_frame;          // ends when its frame closes, not at its end tag
};
static_assert(sizeof(Region) <= 16);
std::vector<Region> regions;  // innermost region last
unsigned long region_line = 0;  // where the outermost region began, for the report
unsigned long region_column = 0;
// The names of regions, each kept once: few tags open regions (those that
// are dropped whole, and the raw-text and SVG or MathML start tags that
// are not written). Kept until the next document.
struct RegionNames {
  std::vector<std::string> names;
  std::unordered_map<std::string, std::uint32_t> ids;
};

RegionNames& region_names() {
  static RegionNames table;
  return table;
}

std::uint32_t region_name_id(const char* name) {
  RegionNames& table = region_names();
  const auto [entry, added] = table.ids.try_emplace(name, static_cast<std::uint32_t>(table.names.size()));
  if (added) {
    table.names.emplace_back(name);
  }
  return entry->second;
}

bool region_named(const Region& region, const char* name) { return region_names().names[region.name] == name; }

// The outermost region ends at the tag on line (end_line 0: at the end of
// the input); one line reports it whole.
void report_region(unsigned long end_line) {
  if (reporting_removals()) {
    report_finding(Finding{FindingKind::kRemoved, FindingSubject::kRegion, region_line, end_line,
                           region_names().names[regions.front().name].c_str(), nullptr, region_column});
  }
}

}  // namespace

void reset_regions() {
  regions.clear();
  region_names() = RegionNames{};
}

bool dropping() { return !regions.empty(); }

// A region ends at its own end tag. One whose start tag opened a namespace
// frame ends instead where the scanner closes that frame: at its own end
// tag, which goes with it, or at an HTML tag that ends foreign content (<p>
// inside <svg>), which is then judged as usual. Browsers ignore an </svg>
// inside a <foreignObject>, and so does the scanner: the region goes on
// too, since what follows is still read by the frame's rules. A region
// opened inside a frame ends, at the latest, when that frame closes.
void open_region(const char* name, unsigned long line) {
  if (!dropping()) {
    region_line = line;
    region_column = handed_piece_place().column;
  }
  const bool opened_frame = tag_opened_frame();
  if (dropping() && regions.back().opened_frame) {
    return;  // all goes until that frame closes, before any frame inside it
  }
  const std::uint32_t id = region_name_id(name);
  // Deeper than the field holds, a region is taken to lie shallower and
  // ends later: more is dropped, never less.
  const auto depth = static_cast<std::uint32_t>(std::min<std::size_t>(frame_depth(), UINT32_MAX));
  if (dropping() && !opened_frame && regions.back().name == id && regions.back().frame_depth == depth &&
      regions.back().count < UINT32_MAX) {
    ++regions.back().count;
    return;
  }
  regions.push_back(Region{id, depth, 1, opened_frame});
}

void close_region(unsigned long line) {
  if (--regions.back().count != 0) {
    return;
  }
  if (regions.size() == 1) {
    report_region(line);
  }
  regions.pop_back();
}

bool ends_region(const char* name) { return !regions.back().opened_frame && region_named(regions.back(), name); }

// Ends the regions whose frames the scanner closed at this tag; true when
// the tag is the end tag of the outermost of them.
bool close_regions_of_closed_frames(const char* name, bool end_tag, unsigned long line) {
  bool own_end_tag = false;
  while (dropping() && regions.back().frame_depth > frame_depth()) {
    own_end_tag = end_tag && region_named(regions.back(), name);
    if (regions.size() == 1) {
      report_region(line);
    }
    regions.pop_back();
  }
  return own_end_tag;
}

void report_open_region() {
  if (dropping()) {
    report_region(0);
  }
}
