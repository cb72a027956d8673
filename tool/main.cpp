// rgb2lab: derives the Lab value of each target device RGB from a measured RGB chart.
#include "driver.h"

int main(int argc, char** argv)
{
    return RunRgb2Lab(argc, argv);
}
