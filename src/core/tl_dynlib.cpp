// Opening the load's libraries at run time.
#include "tl_dynlib.h"

#include <cstdio>

void* tl_dynlib_open(const char* soname) {
  void* lib = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* why = dlerror();
    fprintf(stderr, "ERROR: cannot load %s: %s\n", soname, why != nullptr ? why : "");
  }
  return lib;
}

bool tl_dynlib_report_missing(const char* soname, const char* name) {
  fprintf(stderr, "ERROR: %s has no %s\n", soname, name);
  return false;
}
