#include "core/quelvo.h"

int main(int argc, char** argv) { return qv::quelvo_main(argc, argv, qv::process_console()); }
