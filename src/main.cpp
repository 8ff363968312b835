// code2option: converts a file of Bouwkamp or table codes into the option
// records of an HTML selection list, in place.
#include "conversion_run.h"

int main() { return run_conversion(); }
