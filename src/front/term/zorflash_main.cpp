// zorflash: the Linux program over the sensor's hidraw interfaces.
#include "front/term/term_front.h"

int main(int argc, char** argv) {
    static ProgramState run;
    ProgramTakeArguments(&run, Edition{kEditionLinux, "zorflash"}, argc, argv);
    return term_program(&run);
}
