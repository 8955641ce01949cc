#include "tapelens.h"

int main(int argc, char* argv[]) { return tl_main(argc, argv); }
