// The entry point on POSIX: the arguments are the bytes the caller gave.
#include "tamsor.h"

int main(int argc, char** argv) { return tamsor::Main(argc, argv); }
