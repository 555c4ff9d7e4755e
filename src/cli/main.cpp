#include <iostream>

#include "cli/cli.h"
#include "cli/process.h"

int main(int argc, char** argv) {
  sharelink::cli::prepare_standard_streams();
  std::ios::sync_with_stdio(false);
  return sharelink::cli::run(sharelink::cli::utf8_arguments(argc, argv), std::cin, std::cout,
                             std::cerr);
}
