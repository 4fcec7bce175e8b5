// Process entry of kelvor: the exit code is the main sequence's result.
#include "kelvor/front/main_sequence.h"

int main(int argc, char** argv) {
    return RunMainSequence(argc, argv);
}
