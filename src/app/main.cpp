#include "app/program.h"

int main(int argc, char** argv) { return tovi::app::RunProgram(argc, argv); }
