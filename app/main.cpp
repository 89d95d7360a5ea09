// The program's entry point stays thin: everything it does lives in
// kivrel_app, where the tests reach it the same way.
#include "shell/kivrelmain.h"

int main(int argc, char** argv)
{
    return KivrelMain(argc, argv);
}
