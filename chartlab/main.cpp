// chartlab: commands on a measured device-RGB chart (chartlab -h lists them).
#include "commands.h"

int main(int argc, char** argv)
{
    return RunChartlab(argc, argv);
}
