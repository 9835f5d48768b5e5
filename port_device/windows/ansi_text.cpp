// SPDX-License-Identifier: MIT
// Character lengths in the system's 8-bit code page, so that a cut never
// splits a double-byte character.
#include "win32_sources.h"

namespace {

// A lead byte starts a two-byte character only when a byte follows it; a
// lead byte right before the NUL stands alone.
int length_after_lead_test(bool lead, const char *text) {
  return lead && text[0] != '\0' && text[1] != '\0' ? 2 : 1;
}

}  // namespace

int code_page_char_length(unsigned code_page, const char *text) {
  return length_after_lead_test(IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[0])) != FALSE,
                                text);
}

int ansi_char_length(const char *text) {
  return length_after_lead_test(IsDBCSLeadByte(static_cast<BYTE>(text[0])) != FALSE, text);
}
