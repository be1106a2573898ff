// The entry of tovixtiles.exe and tovixquads.exe: the command line is not read.
#include "tovix.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) { return RunCoverProgram(hInstance, nCmdShow); }
