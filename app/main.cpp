// The kelvane executable: wires the job to the process.
#include "../job/main.h"

int main(int argc, char** argv) { return kelvane::Main(argc, argv, nullptr); }
