#ifndef KIVREL_SHELL_KIVRELMAIN_H
#define KIVREL_SHELL_KIVRELMAIN_H

// Runs the program as main() does and returns its exit code: start-up, the
// event loop until the quit has stopped the engine, then the exit sequence.
// 0 also for a start that handed its command line to the running instance.
// Called on the process's first thread, which becomes the user-interface
// thread.
int KivrelMain(int argc, char** argv);

#endif
