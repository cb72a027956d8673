#include "derivedlab.h"

#include "preprocess5202.h"

#include <cstdio>

bool ComputeDerivedLabValues(std::vector<Color3>& referenceRgb, std::vector<Color3>& measuredLab,
                             const std::vector<Color3>& targetRgb, std::vector<Color3>* derivedLab)
{
    if (!derivedLab)
        return false;
    derivedLab->clear();
    // The lists are index-parallel; unequal ones have no defined pairing.
    if (referenceRgb.size() != measuredLab.size())
        return false;
    Preprocess5202Target(referenceRgb, measuredLab);

    MeasuredGrid grid;
    if (grid.Build(referenceRgb, measuredLab, stdout) != GridBuild::Ok)
        return false;
    derivedLab->reserve(targetRgb.size());
    for (const Color3& target : targetRgb) {
        Color3 lab;
        if (grid.Interpolate(target, Interpolation::Trilinear, &lab) != GridLookup::Ok)
            return false;
        derivedLab->push_back(lab);
    }
    return true;
}
