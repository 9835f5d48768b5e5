// SPDX-License-Identifier: MIT
// Character lengths in the system's 8-bit code page, so that a cut never
// splits a double-byte character, nor a UTF-8 sequence where the ANSI code
// page is UTF-8 (65001, where IsDBCSLeadByte is false for every byte).
#include "port_scan.h"
#include "win32_sources.h"

namespace {

// A lead byte starts a two-byte character only when a byte follows it; a
// lead byte right before the NUL stands alone.
int length_after_lead_test(bool lead, const char *text) {
  return lead && text[0] != '\0' && text[1] != '\0' ? 2 : 1;
}

}  // namespace

int code_page_char_length(unsigned code_page, const char *text) {
  if (code_page == CP_UTF8) return utf8_char_length(text);
  return length_after_lead_test(IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[0])) != FALSE,
                                text);
}

int ansi_char_length(const char *text) { return code_page_char_length(GetACP(), text); }
