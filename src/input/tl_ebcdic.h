// Single-byte decoding of EBCDIC code pages.
#pragma once

// The code page of EBCDIC input unless --ebcdic names another.
constexpr const char* kTlEbcdicDefault = "IBM037";

// Fills table (256 entries) with the ISO-8859-1 byte of each byte of the
// code page (as iconv knows it), '?' where it has none. Returns false when
// iconv does not know the code page (the table is then untouched).
bool tl_ebcdic_table(const char* codepage, unsigned char table[256]);
