#include "shell/kivrelmain.h"

#include "shell/kivrelapp.h"

#include <cstdio>

int KivrelMain(int argc, char** argv)
{
    CKivrelApp app(argc, argv);
    std::fputs("kivrel: the control window is not there yet\n", stderr);
    return 0;
}
