#include "tovix.h"

unsigned int g_randomState = 1;

int NextRandom(void)
{
    // The C runtime's rand(): the renderers' pictures depend on this exact sequence.
    g_randomState = g_randomState * 214013u + 2531011u;
    return static_cast<int>((g_randomState >> 16) & 0x7FFF);
}
