#include "Applets.h"

#include <cstdio>
#include <cstring>

// The Audio Unit registrar keeps no cache here: the validator reads the
// Components folders on every run, so restarting it is a no-op that
// succeeds. No other process is ever signalled.
int killallMain(int argc, char** argv)
{
    int i = 1;
    if (i < argc && argv[i][0] == '-' && argv[i][1] != '\0')
        ++i;
    if (i + 1 == argc && std::strcmp(argv[i], "AudioComponentRegistrar") == 0)
        return 0;
    std::fputs("usage: killall [-SIGNAL] AudioComponentRegistrar (the only process this stand-in restarts)\n", stderr);
    return 2;
}
