// Writes the workbook of --xlsx with a lower number of rows a sheet holds,
// so that the tests see continued sheets without a million records.
//
//   xlsx_rows ROWS OUT.xlsx FILE...
#include <cstdio>
#include <cstdlib>

#include "tl_globals.h"
#include "tl_input.h"
#include "tl_logging.h"
#include "tl_mrot.h"
#include "tl_xlsx_writer.h"

int main(int argc, char* argv[]) {
  if (argc < 4) {
    fputs("usage: xlsx_rows ROWS OUT.xlsx FILE...\n", stderr);
    return 2;
  }
  program_name = argv[0];
  outfile = stdout;
  display_bill = display_detail = display_csr = 1;
  init_globals(argv);
  tl_input_reset();
  iDemrotStrings();
  std::unique_ptr<tl_sink> w = tl_open_xlsx_writer(argv[2], std::strtoul(argv[1], nullptr, 10));
  if (!w) return 1;
  return tl_run(*w, argv + 3, argc - 3);
}
