// Color3: three double-precision components copied by value into and out of patch lists.
// For device RGB they hold R, G and B in the table's own units (nothing scales them); for
// Lab they hold L*, a* and b*.
#pragma once

struct Color3 {
    double c[3] = {0.0, 0.0, 0.0};
};
