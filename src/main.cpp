// code2option: converts a file of Bouwkamp or table codes into the option
// records of an HTML selection list, in place.
#include <string>
#include <vector>

#include "conversion_run.h"

int main(int argc, char** argv) {
    return run_conversion(std::vector<std::string>(argv + 1, argv + argc));
}
