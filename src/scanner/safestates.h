// Inside the safe-mode scanner: its states, shared by the state machine
// (safescan.cpp) and its tables of bytes that only join the pending piece
// (safejoin.cpp). Not for use outside src/scanner.
#ifndef TESSEL_SAFESTATES_H
#define TESSEL_SAFESTATES_H

namespace safescan {

enum State : int {
  kData,
  kTagOpen,
  kEndTagOpen,
  kTagName,
  kBeforeAttrName,
  kAttrName,
  kAfterAttrName,
  kBeforeAttrValue,
  kValueDq,
  kValueSq,
  kValueUq,
  kAfterValue,
  kSelfClosing,
  kMarkupDecl,
  kMdDash,
  kCommentStart,
  kCommentStartDash,
  kComment,
  kCommentEndDash,
  kCommentEnd,
  kCommentEndBang,
  kBogusComment,
  kRaw,
  kRawLt,
  kRawEnd,
  kPlaintext,
  kScript,
  kScriptLt,
  kScriptEscStart,
  kScriptEscStartDash,
  kScriptEsc,
  kScriptEscDash,
  kScriptEscDashDash,
  kScriptEscLt,
  kScriptDescStart,
  kScriptDesc,
  kScriptDescDash,
  kScriptDescDashDash,
  kScriptDescLt,
  kScriptDescEnd,
  kCdataOpen,
  kCdata,
  kCdataBracket,
  kCdataBrackets,
  kStateCount
};

// The ESC byte is dropped from the input in every state, as NUL bytes are,
// so that it is never written: in ISO-2022-JP, which a browser may take a
// page to be in, ESC sequences switch character sets and turn the bytes
// after them, quotes and '>' among them, into parts of other characters.
// No state joins it to a piece, so it costs the common path nothing.
constexpr int kEsc = 0x1B;

}  // namespace safescan

#endif
