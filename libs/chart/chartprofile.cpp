#include "chartprofile.h"

#include "colorcommon.h"
#include "inverse.h"
#include "vmath.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <functional>
#include <new>
#include <vector>

namespace {

// Version 2.4.0 in the header's encoding: major, minor and bugfix digits, two zero bytes.
constexpr unsigned int k_version24 = 0x02400000u;
// The identity as a table: two entries, 0 and 65535.
const std::vector<unsigned short> k_identityTable = {0, 65535};

using Tables = std::vector<std::vector<unsigned short>>;
// A grid point's measured Lab to the Lab that the table holds.
using PointMapping = std::function<Color3(const Color3&)>;

double Largest(const MeasuredGrid& grid)
{
    return std::max({grid.Axis(0).back(), grid.Axis(1).back(), grid.Axis(2).back()});
}

ICC_CPP_XYZNumber LabToXYZ(const Color3& lab)
{
    double xyz[3];
    lab_to_xyz(lab.c, k_iccD50XYZ, xyz);
    return {xyz[0], xyz[1], xyz[2]};
}

// The 16-bit code of a fraction 0..1 of a table's range.
unsigned short FractionCode(double fraction)
{
    return static_cast<unsigned short>(std::lround(std::clamp(fraction, 0.0, 1.0) * 65535.0));
}

// Where `value` lies on a strictly increasing axis of at least two values, as a fraction of
// the axis (0 at the first value, 1 at the last); held at the ends.
double AxisFraction(double value, const std::vector<double>& axis)
{
    if (!(value > axis.front()))
        return 0.0;
    if (value >= axis.back())
        return 1.0;
    // axis[k - 1] <= value < axis[k], with 1 <= k <= N - 1.
    const std::size_t k = static_cast<std::size_t>(std::upper_bound(axis.begin(), axis.end(), value) - axis.begin());
    const double cell = static_cast<double>(k - 1) + (value - axis[k - 1]) / (axis[k] - axis[k - 1]);
    return cell / static_cast<double>(axis.size() - 1);
}

// One channel's input table. Sampling the axis fraction at the entries alone would cut the
// corner at each axis value that falls between two entries, and a colour engine, which
// interpolates linearly between entries, would miss that grid point. So the entry nearer to
// such an axis value takes the value of the line through the axis value and the other entry:
// the two entries then interpolate to the axis value's fraction exactly. At the first and
// last axis values the entry on the held side keeps its value (0 or 1) and the other one is
// moved, so no entry leaves 0..1. Where two axis values fall within one step of the table,
// the later one is served.
std::vector<unsigned short> InputTable(const std::vector<double>& axis, double top)
{
    const double last = k_profileInputEntries - 1;
    std::vector<double> fractions(k_profileInputEntries);
    for (unsigned int e = 0; e < k_profileInputEntries; ++e)
        fractions[e] = AxisFraction(e / last * top, axis);
    for (std::size_t v = 0; v < axis.size(); ++v) {
        const double at = axis[v] / top * last;  // the axis value in entries
        const double below = std::floor(at);
        if (at <= 0.0 || at >= last || at == below)
            continue;
        const std::size_t e = static_cast<std::size_t>(below);
        const double fraction = AxisFraction(axis[v], axis);
        const bool moveLower = v == axis.size() - 1 || (v > 0 && at - below < 0.5);
        const std::size_t target = moveLower ? e : e + 1, anchor = moveLower ? e + 1 : e;
        const double slope = (fractions[anchor] - fraction) / (static_cast<double>(anchor) - at);
        fractions[target] = fraction + slope * (static_cast<double>(target) - at);
    }
    std::vector<unsigned short> table(k_profileInputEntries);
    for (unsigned int e = 0; e < k_profileInputEntries; ++e)
        table[e] = FractionCode(fractions[e]);
    return table;
}

Tables InputTables(const MeasuredGrid& grid)
{
    const double top = Largest(grid);
    return {InputTable(grid.Axis(0), top), InputTable(grid.Axis(1), top), InputTable(grid.Axis(2), top)};
}

// The device-to-Lab table: the grid's points through `mapping`, in the 16-bit Lab encoding.
// Each code c is stored in the row table as c / 65535, which the element writes back as c.
ICC_CPP_A2B_Tag* DeviceToLabTag(unsigned int signature, const MeasuredGrid& grid, const Tables& inputTables,
                                const PointMapping& mapping)
{
    std::unique_ptr<ICC_CPP_lut16Type> table(new ICC_CPP_lut16Type);
    const int n = grid.N();
    // The grid was checked to fit an element: 2 to 255 points, three channels.
    const bool created = table->Create(static_cast<unsigned int>(n), inputTables, Tables(3, k_identityTable));
    assert(created);
    (void)created;
    std::size_t row = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k, ++row) {
                unsigned short codes[3];
                ICCEncodeLabV2(mapping(grid.Lab(i, j, k)).c, codes);
                for (int c = 0; c < 3; ++c)
                    table->rows[row][c] = codes[c] / 65535.0f;
            }
    auto* tag = new ICC_CPP_A2B_Tag(signature);
    tag->SetData(table.release());
    return tag;
}

// The value at `fraction` of a strictly increasing axis, its values evenly spaced in fraction:
// the inverse of AxisFraction.
double AxisValue(double fraction, const std::vector<double>& axis)
{
    const double position = fraction * static_cast<double>(axis.size() - 1);
    const std::size_t k = std::min(static_cast<std::size_t>(position), axis.size() - 2);
    return axis[k] + (axis[k + 1] - axis[k]) * (position - static_cast<double>(k));
}

// The Lab-to-device table's axes. L*: 0..100, the white on the last node rather than between
// the last two, on a scale whose top is the L* of code 0xFFFF (above 100 the table holds the
// last node). a* and b*: their codes, 0 to 65535 with the neutral 0 (code 32768) in the
// middle, on a node when the number of nodes is odd.
const std::vector<double> k_lightnessAxis = {0.0, 100.0};
const std::vector<double> k_abCodeAxis = {0.0, 32768.0, 65535.0};

// The Lab-to-device table: `points` nodes per axis over those axes. Each node's Lab is
// carried to a measured Lab by `toMeasured` and inverted in the grid (the nearest reachable
// colour when the grid does not reach it), its device values over `top`.
ICC_CPP_lut16_Tag* LabToDeviceTag(unsigned int signature, const GridInverse& inverse, int points, double top,
                                  const PointMapping& toMeasured)
{
    std::unique_ptr<ICC_CPP_lut16Type> table(new ICC_CPP_lut16Type);
    const std::vector<unsigned short> abTable = InputTable(k_abCodeAxis, 65535.0);
    const Tables inputTables = {InputTable(k_lightnessAxis, 65535 * 100.0 / 65280), abTable, abTable};
    // The size was checked to fit an element: 2 to 255 points, three channels.
    const bool created =
        table->Create(static_cast<unsigned int>(points), inputTables, Tables(3, k_identityTable));
    assert(created);
    (void)created;
    std::vector<double> lightness(static_cast<std::size_t>(points)), ab(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i) {
        const double fraction = static_cast<double>(i) / (points - 1);
        lightness[i] = AxisValue(fraction, k_lightnessAxis);
        ab[i] = AxisValue(fraction, k_abCodeAxis) / 256.0 - 128.0;
    }
    std::size_t row = 0;
    for (int i = 0; i < points; ++i)
        for (int j = 0; j < points; ++j)
            for (int k = 0; k < points; ++k, ++row) {
                InverseResult result;
                // Every grid point is finite and measured, so every cell is usable, and the
                // node's Lab is finite: the inversion cannot refuse it.
                const bool inverted = inverse.Invert(toMeasured(Color3{{lightness[i], ab[j], ab[k]}}), &result);
                assert(inverted);
                (void)inverted;
                for (int c = 0; c < 3; ++c)
                    table->rows[row][c] = FractionCode(result.rgb.c[c] / top) / 65535.0f;
            }
    auto* tag = new ICC_CPP_lut16_Tag(signature);
    tag->SetData(table.release());
    return tag;
}

ICC_CPP_XYZ_Tag* XYZTag(unsigned int signature, const ICC_CPP_XYZNumber& xyz)
{
    auto* tag = new ICC_CPP_XYZ_Tag(signature);
    tag->xyz->values = {xyz};
    return tag;
}

// The first grid point that cannot go into a table, or false.
bool FindUnmeasuredPoint(const MeasuredGrid& grid, int point[3])
{
    const int n = grid.N();
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                bool usable = grid.Occupied(i, j, k);
                for (int c = 0; usable && c < 3; ++c)
                    usable = std::fabs(grid.Lab(i, j, k).c[c]) <= k_maxProfileLab;
                if (!usable) {
                    point[0] = i;
                    point[1] = j;
                    point[2] = k;
                    return true;
                }
            }
    return false;
}

ChartProfileBuild CheckGrid(const MeasuredGrid& grid, const ChartProfileSettings& settings, int point[3])
{
    if (settings.profileClass == ProfileClass::Display &&
        (settings.clutPoints < 2 || settings.clutPoints > k_maxProfileGridPoints))
        return ChartProfileBuild::BadClutPoints;
    if (grid.N() < 2)
        return ChartProfileBuild::TooFewValues;
    if (grid.N() > k_maxProfileGridPoints)
        return ChartProfileBuild::TooManyValues;
    // With no value below 0 and at least two values per axis, the largest is above 0.
    for (int c = 0; c < 3; ++c)
        if (grid.Axis(c).front() < 0.0 || !std::isfinite(grid.Axis(c).back()))
            return ChartProfileBuild::NoRange;
    if (FindUnmeasuredPoint(grid, point))
        return ChartProfileBuild::UnmeasuredPoint;
    const int top = grid.N() - 1;
    const ICC_CPP_XYZNumber white = LabToXYZ(grid.Lab(top, top, top));
    if (!(white.X > 0.0 && white.Y > 0.0 && white.Z > 0.0))
        return ChartProfileBuild::BadWhite;
    return ChartProfileBuild::Ok;
}

Vec3 ToVec3(const Color3& c)
{
    return Vec3(static_cast<float>(c.c[0]), static_cast<float>(c.c[1]), static_cast<float>(c.c[2]));
}

// The Lab of each intent's table, from a measured Lab.
class Intents {
public:
    Intents(const Color3& blackLab, const Color3& whiteLab)
        : m_white(LabToXYZ(whiteLab)),
          m_toPcs(ComputeTransformFromMeasuredLabToPCSLab(ToVec3(Relative(blackLab)), ToVec3(Relative(whiteLab))))
    {
        matrix_invert_4(m_fromPcs, m_toPcs);
    }

    const ICC_CPP_XYZNumber& White() const { return m_white; }

    // Relative colorimetry: the XYZ scaled by D50 / white, as Lab against D50, is the XYZ as
    // Lab against the white.
    Color3 Relative(const Color3& measured) const
    {
        const ICC_CPP_XYZNumber xyz = LabToXYZ(measured);
        const double v[3] = {xyz.X, xyz.Y, xyz.Z}, white[3] = {m_white.X, m_white.Y, m_white.Z};
        Color3 out;
        xyz_to_lab(v, white, out.c);
        return out;
    }

    // The relative Lab with its black carried to L* = 0. The white is already at L* = 100 on
    // the neutral axis, so the transform turns and stretches the space by the black's offset
    // alone; carried from the measured Lab instead, it would turn the whole space by the
    // angle between the neutral axis and a tinted white (a D65 display white measured
    // against D50 is about 11 degrees off), taking saturated yellows and oranges some 15 L*
    // darker.
    Color3 Perceptual(const Color3& measured) const
    {
        const Vec3 lab = ToVec3(Relative(measured));
        const Vec4 pcs = mul(m_toPcs, Vec4(lab.v[0], lab.v[1], lab.v[2], 1.0f));
        return Color3{{pcs.v[0], pcs.v[1], pcs.v[2]}};
    }

    // The measured Lab whose relative Lab is `pcs`: its XYZ against the white, as Lab against
    // D50.
    Color3 FromRelative(const Color3& pcs) const
    {
        const double white[3] = {m_white.X, m_white.Y, m_white.Z};
        double xyz[3];
        lab_to_xyz(pcs.c, white, xyz);
        Color3 out;
        xyz_to_lab(xyz, k_iccD50XYZ, out.c);
        return out;
    }

    // The measured Lab whose perceptual Lab is `pcs`: the inverse of the transform, then back
    // from relative.
    Color3 FromPerceptual(const Color3& pcs) const
    {
        const Vec4 lab = mul(m_fromPcs, Vec4(float(pcs.c[0]), float(pcs.c[1]), float(pcs.c[2]), 1.0f));
        return FromRelative(Color3{{lab.v[0], lab.v[1], lab.v[2]}});
    }

private:
    ICC_CPP_XYZNumber m_white;  // first: the transform is made with Relative
    Matrix4 m_toPcs;
    Matrix4 m_fromPcs;
};

void FillHeader(const ChartProfileSettings& settings, ICC_CPP_ProfileHeader& h)
{
    h.version = k_version24;
    h.deviceClass = ICCSignature(settings.profileClass == ProfileClass::Display ? "mntr" : "scnr");
    h.colorSpace = ICCSignature("RGB ");
    h.pcs = ICCSignature("Lab ");
    ICCBuildDateTime(h.dateTime, settings.created);
    h.renderingIntent = 0;  // perceptual
    for (int c = 0; c < 3; ++c)
        h.illuminant[c] = ICCDoubleToS15Fixed16(k_iccD50XYZ[c]);
    h.creator = k_orliskCreator;
}

}  // namespace

ChartProfileBuild BuildChartProfile(const MeasuredGrid& grid, const ChartProfileSettings& settings,
                                    std::unique_ptr<ICC_CPP_Profile>* profile, int point[3])
{
    int unmeasured[3];
    const ChartProfileBuild checked = CheckGrid(grid, settings, point ? point : unmeasured);
    if (checked != ChartProfileBuild::Ok)
        return checked;
    const int top = grid.N() - 1;
    const Color3& blackLab = grid.Lab(0, 0, 0);
    const Intents intents(blackLab, grid.Lab(top, top, top));
    const PointMapping relative = [&intents](const Color3& lab) { return intents.Relative(lab); };
    const PointMapping perceptual = [&intents](const Color3& lab) { return intents.Perceptual(lab); };

    std::unique_ptr<ICC_CPP_Profile> made(new ICC_CPP_Profile);
    FillHeader(settings, made->header);
    // The profile's operations fail only when memory runs out.
    const auto add = [&made](ICC_CPP_Tag* tag) {
        if (!made->AddTag(tag))
            throw std::bad_alloc();
    };
    auto* description = new ICC_CPP_textDescription_Tag(ICCSignature("desc"));
    add(description);
    auto* copyright = new ICC_CPP_cprt_Tag;
    add(copyright);
    std::string copyrightText;
    if (!description->description->SetText(settings.description) ||
        !ICCSevenBitText(settings.copyright, &copyrightText) || !copyright->SetText(copyrightText))
        throw std::bad_alloc();
    add(XYZTag(ICCSignature("wtpt"), intents.White()));
    add(XYZTag(ICCSignature("bkpt"), LabToXYZ(blackLab)));
    const Tables inputTables = InputTables(grid);
    add(DeviceToLabTag(ICCSignature("A2B0"), grid, inputTables, perceptual));
    add(DeviceToLabTag(ICCSignature("A2B1"), grid, inputTables, relative));
    if (settings.profileClass == ProfileClass::Display) {
        GridInverse inverse;
        // Every grid point is measured and finite, so every cell is usable.
        const bool built = inverse.Build(grid, Interpolation::Tetrahedral);
        assert(built);
        (void)built;
        const PointMapping fromRelative = [&intents](const Color3& pcs) { return intents.FromRelative(pcs); };
        const PointMapping fromPerceptual = [&intents](const Color3& pcs) { return intents.FromPerceptual(pcs); };
        const double top = Largest(grid);
        add(LabToDeviceTag(ICCSignature("B2A0"), inverse, settings.clutPoints, top, fromPerceptual));
        add(LabToDeviceTag(ICCSignature("B2A1"), inverse, settings.clutPoints, top, fromRelative));
    }
    *profile = std::move(made);
    return ChartProfileBuild::Ok;
}
