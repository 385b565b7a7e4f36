// quillon-probe: the list check (catalogue/proxy_check.h) on the command line.
//   quillon-probe [--judge URL] [--concurrency N] FILE|-
// reads a proxy list in the program's file format (or standard input for
// "-") and prints one line per entry, in list order, as results come:
//   endpoint  alive|dead|bad  latency-ms|-  elite|anonymous|transparent|-  yes|no|-
// tab-separated. The judge is URL, or the vendor's (QUILLON_VENDOR_URL, as
// the program finds it).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Returns the exit code: 0 when the check ran, 1 when it could not (the
// file, the judge URL), 2 for a command line it does not take.
int RunProbeTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                 std::ostream& err);
