// Libraries that only the database load needs (SQLite, libpq), opened when
// a load starts rather than linked: libpq alone brings some twenty others
// (TLS, Kerberos, LDAP) that would double the resident size of every
// conversion.
#pragma once

#include <dlfcn.h>

// Opens the shared library soname. Returns its handle, or null with a
// message on standard error naming what is missing.
void* tl_dynlib_open(const char* soname);

// Reports on standard error that library soname lacks symbol name. Returns
// false.
bool tl_dynlib_report_missing(const char* soname, const char* name);

// Resolves symbol name of library lib (opened as soname) into the function
// pointer f. Returns false with a message on standard error when the
// library lacks it.
template <typename F>
bool tl_dynlib_sym(void* lib, const char* soname, const char* name, F& f) {
  void* p = dlsym(lib, name);
  if (p == nullptr) return tl_dynlib_report_missing(soname, name);
  f = reinterpret_cast<F>(p);
  return true;
}
