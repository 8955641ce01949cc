// The rules every display name obeys, checked by the catalogue generator at
// build time and by the names file loader at run time: one definition, so a
// name the build accepts is accepted at run time and the other way round.
#pragma once

#include <cstddef>

// Names are written into fixed-size per-record output buffers; keep them short.
constexpr size_t kTlMaxNameLength = 80;

// Returns nullptr when the n bytes of name make a good display name, else
// what is wrong with it ("is empty", "does not start with a letter", ...).
// A name also becomes an XML element name and a CSV cell, so it starts with
// a letter and holds only letters, digits, blanks and - . _ /.
const char* tl_name_fault(const char* name, size_t n);
