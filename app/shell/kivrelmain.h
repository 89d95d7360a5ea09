#ifndef KIVREL_SHELL_KIVRELMAIN_H
#define KIVREL_SHELL_KIVRELMAIN_H

// Runs the program as main() does and returns its exit code. Called on the
// process's first thread, which becomes the user-interface thread.
// Does not yet open the control window: it creates the application and
// returns at once.
int KivrelMain(int argc, char** argv);

#endif
