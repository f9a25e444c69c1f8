// Regions dropped whole: from a start tag whose element goes with all it
// holds (DROP ALL, a raw-text or SVG start tag that is not written) to its
// own end tag, or to where the scanner closes the namespace frame the tag
// opened. The policy writes nothing while one is open, and reports each
// outermost region once, as removed.
#ifndef TESSEL_REGIONS_H
#define TESSEL_REGIONS_H

// None open, no name kept: part of the reset between documents.
void reset_regions();
// Whether a region is open: nothing is written.
[[nodiscard]] bool dropping();
// A region of the start tag named name (upper case) on line opens: the tag
// handed to the policy just now, whose frames the scanner reports.
void open_region(const char* name, unsigned long line);
// The innermost region's end tag of this name closes one level of it.
void close_region(unsigned long line);
// Whether an end tag of this name ends the innermost region (one that did
// not open a frame, which ends with its frame instead).
[[nodiscard]] bool ends_region(const char* name);
// Ends the regions whose frames the scanner closed at the tag handed over
// (named name); true when the tag is the end tag of the outermost of them.
bool close_regions_of_closed_frames(const char* name, bool end_tag, unsigned long line);
// At the end of a document: reports the region still open, as removed up
// to the end of the input, when removals are reported.
void report_open_region();

#endif
