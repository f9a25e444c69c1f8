// Scrubbing policy: the scanner hooks that apply a Config to each tag, text
// run and comment, and the attribute-by-attribute editing of tags.
#ifndef TESSEL_TSCRUB02_H
#define TESSEL_TSCRUB02_H

#include <cstdio>

#include "config/config.h"

// Makes config the one the hooks consult (the caller keeps ownership) and
// returns it. Its mode is taken as it stands: a Config whose mode changes
// afterwards is installed again.
Config* install_config(Config* config);

// Scanner hooks (see Scrubber): they write what the Config allows to out and
// report warnings, unsafe URLs and (when asked for) removals through the
// findings sink (findings.h); 0 to go on, 1 to stop the scan. Called
// with a null piece or stream, any of them closes every region dropped whole
// and returns 0 without writing: the reset between documents.
int scrub_tag(const char* piece, std::FILE* out, unsigned long line);
int scrub_text(const char* piece, std::FILE* out, unsigned long line);
int scrub_comment(const char* piece, std::FILE* out, unsigned long line);

// At the end of a document: reports the region dropped whole that is still
// open, as one removed up to the end of the input, when removals are
// reported. The region stays open until the null-argument reset.
void report_unclosed_region();

// Writes the start tag piece as '<' piece '>' with each attribute kept,
// reported or removed as the Config says for the tag's name (in safe mode
// also removing unsafe URLs); always 0. Expects scrub_tag to have looked
// the tag's name and action up first.
int edit_tag(const char* piece, std::FILE* out, unsigned long line);

#endif
