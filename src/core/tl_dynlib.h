// Libraries that only some runs need, opened when first needed rather than
// linked: libpq alone brings some twenty others (TLS, Kerberos, LDAP) that
// would double the resident size of every conversion, and libarchive brings
// libxml2 and ICU, whose loading costs every run milliseconds at start-up.
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

// Defines, for an unnamed namespace, the function table `api`: a member n
// pointing to the library's prefix##n for each X(prefix, n) that LIST(X)
// names; its one instance `var`; and `bool load()`, which opens soname on
// its first call and resolves every member. load returns false (message on
// standard error) when the library or a function is missing, and on later
// calls the first call's answer without trying again.
#define TL_DYNLIB_TABLE(api, var, load, soname, LIST) \
  struct api {                                        \
    LIST(TL_DYNLIB_MEMBER_)                           \
  };                                                  \
  api var;                                            \
  bool load() {                                       \
    static int state = 0;                             \
    if (state == 0) {                                 \
      const char* const so = soname;                  \
      api& table = var;                               \
      void* lib = tl_dynlib_open(so);                 \
      bool ok = lib != nullptr;                       \
      LIST(TL_DYNLIB_RESOLVE_)                        \
      state = ok ? 1 : -1;                            \
    }                                                 \
    return state == 1;                                \
  }
#define TL_DYNLIB_MEMBER_(prefix, n) decltype(&::prefix##n) n = nullptr;
#define TL_DYNLIB_RESOLVE_(prefix, n) ok = ok && tl_dynlib_sym(lib, so, #prefix #n, table.n);
