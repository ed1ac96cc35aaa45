// lumora: the window program.
#include "app/appstart.h"

int main(int argc, char** argv) { return lumora::RunApplication(argc, argv); }
