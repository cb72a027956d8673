// Whole profiles: real profiles read, edited and written, then opened by Little CMS as the
// reference engine; malformed profiles refused without reading out of bounds.
#include "icc.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using ProfilePtr = std::unique_ptr<ICC_CPP_Profile>;

unsigned int BE32(const Bytes& b, size_t at)
{
    return unsigned(b[at]) << 24 | unsigned(b[at + 1]) << 16 | unsigned(b[at + 2]) << 8 | b[at + 3];
}

void PutBE32(Bytes& b, size_t at, unsigned int v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

struct Lcms {
    explicit Lcms(const Bytes& b) : h(cmsOpenProfileFromMem(b.data(), cmsUInt32Number(b.size()))) {}
    ~Lcms() { if (h) cmsCloseProfile(h); }
    cmsHPROFILE h;
};

Bytes Save(cmsHPROFILE h)
{
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(h, nullptr, &n);
    Bytes b(n);
    cmsSaveProfileToMem(h, b.data(), &n);
    cmsCloseProfile(h);
    return b;
}

cmsHPROFILE Version2(cmsHPROFILE h)
{
    cmsSetProfileVersion(h, 2.1);
    return h;
}

int Sampler(const cmsUInt16Number in[], cmsUInt16Number out[], void*)
{
    out[0] = in[0];
    out[1] = cmsUInt16Number((in[1] + in[2]) / 2);
    out[2] = cmsUInt16Number(unsigned(in[1]) * in[2] / 65535);
    return 1;
}

// A v2 RGB printer profile with a white point and A2B0-2 and B2A0 tables that are bare
// 5-point CLUTs: as a v2 profile they are stored as "mft2" elements with identity curves.
Bytes LutProfile()
{
    cmsHPROFILE h = Version2(cmsCreateProfilePlaceholder(nullptr));
    cmsSetDeviceClass(h, cmsSigOutputClass);
    cmsSetColorSpace(h, cmsSigRgbData);
    cmsSetPCS(h, cmsSigLabData);
    for (cmsTagSignature sig : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigBToA0Tag}) {
        cmsPipeline* lut = cmsPipelineAlloc(nullptr, 3, 3);
        cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 5, 3, 3, nullptr);
        cmsStageSampleCLut16bit(clut, Sampler, nullptr, 0);
        cmsPipelineInsertStage(lut, cmsAT_BEGIN, clut);
        cmsWriteTag(h, sig, lut);
        cmsPipelineFree(lut);
    }
    cmsWriteTag(h, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    return Save(h);
}

Bytes Bundled(const std::string& name)
{
    const std::string s = testutil::ReadFile(std::string(TEST_DATA_DIR) + "/icc/" + name);
    return Bytes(s.begin(), s.end());
}

std::vector<std::pair<std::string, Bytes>> BundledAndBuiltProfiles()
{
    std::vector<std::pair<std::string, Bytes>> out;
    for (const char* name : {"sRGB.icc", "LStar-RGB.icc", "compatibleWithAdobeRGB1998.icc", "CineLogCurve.icc"})
        out.emplace_back(name, Bundled(name));
    out.emplace_back("built sRGB v4", Save(cmsCreate_sRGBProfile()));
    out.emplace_back("built sRGB v2", Save(Version2(cmsCreate_sRGBProfile())));
    out.emplace_back("built Lab v4", Save(cmsCreateLab4Profile(nullptr)));
    out.emplace_back("built Lab v2", Save(cmsCreateLab2Profile(nullptr)));
    out.emplace_back("built LUT v2", LutProfile());
    return out;
}

std::vector<unsigned int> TableSignatures(const Bytes& b)
{
    std::vector<unsigned int> out;
    for (unsigned int i = 0; i < BE32(b, 128); ++i)
        out.push_back(BE32(b, 132 + 12 * i));
    return out;
}

Bytes Element(const Bytes& b, unsigned int index)
{
    const size_t offset = BE32(b, 136 + 12 * index), size = BE32(b, 140 + 12 * index);
    return Bytes(b.begin() + offset, b.begin() + offset + size);
}

// read -> write keeps the header (but size and ID), every tag's element byte for byte (up to
// zero padding), and is accepted by the engine; a second round trip changes nothing.
void CheckRoundTrip(const Bytes& in)
{
    ProfilePtr profile(ICC_CPP_Profile::ReadFromMemory(in.data(), in.size()));
    ASSERT_NE(profile, nullptr);
    Bytes out;
    ASSERT_TRUE(profile->WriteToMemory(out));
    EXPECT_EQ(BE32(out, 0), out.size());
    EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 84), Bytes(in.begin() + 4, in.begin() + 84));
    EXPECT_EQ(Bytes(out.begin() + 84, out.begin() + 100), Bytes(16, 0));
    ASSERT_EQ(TableSignatures(out), TableSignatures(in));
    for (unsigned int i = 0; i < BE32(in, 128); ++i) {
        const Bytes a = Element(in, i), b = Element(out, i);
        const size_t common = std::min(a.size(), b.size());
        EXPECT_TRUE(std::equal(a.begin(), a.begin() + common, b.begin())) << "tag " << i;
        EXPECT_TRUE(std::all_of(a.begin() + common, a.end(), [](unsigned char c) { return c == 0; }));
        EXPECT_EQ(BE32(out, 136 + 12 * i) % 4, 0u);
    }
    Lcms original(in), written(out);
    ASSERT_NE(written.h, nullptr);
    for (unsigned int sig : TableSignatures(in))
        EXPECT_EQ(cmsReadTag(written.h, cmsTagSignature(sig)) != nullptr,
                  cmsReadTag(original.h, cmsTagSignature(sig)) != nullptr);

    ProfilePtr again(ICC_CPP_Profile::ReadFromMemory(out.data(), out.size()));
    Bytes twice;
    ASSERT_TRUE(again && again->WriteToMemory(twice));
    EXPECT_EQ(twice, out);
}

// Colours through the profile's A2B0 (device to Lab) and, unless abstract, its B2A0.
std::vector<double> Transform(cmsHPROFILE h)
{
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    const cmsUInt32Number device = cmsFormatterForColorspaceOfProfile(h, 2, FALSE);
    std::vector<cmsUInt16Number> in(3 * 21), back(3 * 21);
    for (size_t v = 0; v < in.size(); ++v)
        in[v] = cmsUInt16Number(v * 1031);
    std::vector<double> result(3 * 21);
    auto run = [](cmsHPROFILE from, cmsUInt32Number f, cmsHPROFILE to, cmsUInt32Number t, const void* src, void* dst) {
        cmsHTRANSFORM x = cmsCreateTransform(from, f, to, t, INTENT_PERCEPTUAL, 0);
        ASSERT_NE(x, nullptr);
        cmsDoTransform(x, src, dst, 21);
        cmsDeleteTransform(x);
    };
    run(h, device, lab, TYPE_Lab_DBL, in.data(), result.data());
    if (cmsGetDeviceClass(h) != cmsSigAbstractClass) {
        run(lab, TYPE_Lab_DBL, h, device, result.data(), back.data());
        result.insert(result.end(), back.begin(), back.end());
    }
    cmsCloseProfile(lab);
    return result;
}

// read -> ICCXRiteToOrlisk -> write: the engine finds exactly the kept tags and the new
// copyright, and a LUT-based profile transforms colours exactly as before.
void CheckOrliskEdit(const Bytes& in)
{
    ProfilePtr profile(ICC_CPP_Profile::ReadFromMemory(in.data(), in.size()));
    ASSERT_NE(profile, nullptr);
    ASSERT_TRUE(ICCXRiteToOrlisk(profile.get()));
    Bytes out;
    ASSERT_TRUE(profile->WriteToMemory(out));

    const std::vector<std::string> keep = {"desc", "chad", "gamt", "wtpt", "bkpt", "B2A0",
                                           "A2B0", "B2A1", "A2B1", "B2A2", "A2B2"};
    std::vector<unsigned int> expected = {cmsSigCopyrightTag};
    for (unsigned int sig : TableSignatures(in))
        for (const std::string& k : keep)
            if (sig == ICCSignature({k[0], k[1], k[2], k[3], 0}))
                expected.push_back(sig);
    std::sort(expected.begin(), expected.end());
    Lcms original(in), edited(out);
    ASSERT_NE(edited.h, nullptr);
    std::vector<unsigned int> found;
    for (cmsInt32Number i = 0; i < cmsGetTagCount(edited.h); ++i)
        found.push_back(cmsGetTagSignature(edited.h, cmsUInt32Number(i)));
    EXPECT_EQ(found, expected);
    EXPECT_EQ(cmsGetHeaderCreator(edited.h), ICCSignature("ORLK"));
    auto* mlu = static_cast<cmsMLU*>(cmsReadTag(edited.h, cmsSigCopyrightTag));
    ASSERT_NE(mlu, nullptr);
    char text[128] = {};
    cmsMLUgetASCII(mlu, "en", "US", text, sizeof text);
    EXPECT_STREQ(text, "Copyright (c) Orlisk. All rights reserved.");

    if (cmsIsTag(original.h, cmsSigAToB0Tag) && cmsIsTag(original.h, cmsSigBToA0Tag)) {
        EXPECT_EQ(Transform(edited.h), Transform(original.h));
    }
}

// ReplaceCanonCameraMatrixWithIdentity on a profile with three "mft2" A2B tables: the engine
// reads them back with the first half of the grid points on one triple, the rest on the other.
void CheckCameraEdit(const Bytes& in, Bytes& out)
{
    ProfilePtr profile(ICC_CPP_Profile::ReadFromMemory(in.data(), in.size()));
    ASSERT_NE(profile, nullptr);
    ASSERT_TRUE(ReplaceCanonCameraMatrixWithIdentity(profile.get()));
    ASSERT_TRUE(profile->WriteToMemory(out));
    Lcms edited(out);
    ASSERT_NE(edited.h, nullptr);
    ProfilePtr back(ICC_CPP_Profile::ReadFromMemory(out.data(), out.size()));
    ASSERT_NE(back, nullptr);
    for (cmsTagSignature sig : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag}) {
        ASSERT_NE(cmsReadTag(edited.h, sig), nullptr);
        auto* tag = dynamic_cast<ICC_CPP_A2B_Tag*>(back->GetTag(sig));
        ASSERT_TRUE(tag && tag->GetData());
        const auto& rows = tag->GetData()->rows;
        for (size_t i = 0; i < rows.size(); ++i) {
            const bool first = i < rows.size() / 2;
            EXPECT_EQ(rows[i][0], first ? 49151.0f / 65535 : 19661.0f / 65535) << i;
            EXPECT_EQ(rows[i][2], first ? 48059.0f / 65535 : 22616.0f / 65535) << i;
        }
    }
}

}  // namespace

TEST(IccFile, BundledAndBuiltProfilesRoundTripAndEdit)
{
    for (const auto& [name, bytes] : BundledAndBuiltProfiles()) {
        SCOPED_TRACE(name);
        ASSERT_GT(bytes.size(), 132u);
        CheckRoundTrip(bytes);
        CheckOrliskEdit(bytes);
    }
}

TEST(IccFile, CameraEditOnBuiltLutProfile)
{
    Bytes out;
    CheckCameraEdit(LutProfile(), out);
    // With bare CLUTs the engine's own evaluation shows the triples at the grid's corners.
    Lcms edited(out);
    auto* a2b0 = static_cast<cmsPipeline*>(cmsReadTag(edited.h, cmsSigAToB0Tag));
    ASSERT_NE(a2b0, nullptr);
    const float dark[3] = {0, 1, 1}, light[3] = {1, 0, 0};
    float value[3];
    cmsPipelineEvalFloat(dark, value, a2b0);
    EXPECT_NEAR(value[1], 0.6f, 1e-5);
    cmsPipelineEvalFloat(light, value, a2b0);
    EXPECT_NEAR(value[1], 0.40392157f, 1e-5);

    // A profile whose A2B tables are not "mft2" elements has no row table to edit.
    const Bytes v4 = Save(cmsCreateLab4Profile(nullptr));
    ProfilePtr lab(ICC_CPP_Profile::ReadFromMemory(v4.data(), v4.size()));
    EXPECT_FALSE(ReplaceCanonCameraMatrixWithIdentity(lab.get()));
}

class IccInstalledProfile : public ::testing::TestWithParam<const char*> {};

TEST_P(IccInstalledProfile, RoundTripsAndEdits)
{
    const std::string path = std::string("/usr/share/color/icc/") + GetParam();
    bool ok = false;
    const std::string s = testutil::ReadFile(path, &ok);
    if (!ok)
        GTEST_SKIP() << path << " is not installed";
    const Bytes bytes(s.begin(), s.end());
    CheckRoundTrip(bytes);
    CheckOrliskEdit(bytes);
    // Only the two LCMS*.ICM profiles hold all three A2B tables, as "mft2" elements.
    Bytes edited;
    if (std::string(GetParam()).rfind("LCMS", 0) == 0)
        CheckCameraEdit(bytes, edited);
}

INSTANTIATE_TEST_SUITE_P(Installed, IccInstalledProfile,
                         ::testing::Values("LCMSLABI.ICM", "LCMSXYZI.ICM", "ITULab.icc", "Gray.icc",
                                           "Gray-CIE_L.icc", "CineonLog_M.icc"));

TEST(IccFile, RefusesMalformedProfiles)
{
    const Bytes good = Save(cmsCreate_sRGBProfile());
    ASSERT_NE(ProfilePtr(ICC_CPP_Profile::ReadFromMemory(good.data(), good.size())), nullptr);
    const unsigned int count = BE32(good, 128);
    struct Case {
        const char* name;
        size_t at;
        unsigned int value;
    };
    const Case cases[] = {
        {"size field too large", 0, unsigned(good.size()) + 4},
        {"size field too small", 0, unsigned(good.size()) - 4},
        {"not acsp", 36, 0x41435350},
        {"tag count cannot fit", 128, unsigned(good.size() - 132) / 12 + 1},
        {"tag count huge", 128, 0xFFFFFFFF},
        {"offset past the end", 136, unsigned(good.size()) + 1},
        {"size past the end", 140, unsigned(good.size())},
        {"offset and size wrap", 136 + 12 * (count - 1), 0xFFFFFFF0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bad = good;
        PutBE32(bad, c.at, c.value);
        if (c.at == 136 + 12 * (count - 1))
            PutBE32(bad, c.at + 4, 0x20);
        EXPECT_EQ(ICC_CPP_Profile::ReadFromMemory(bad.data(), bad.size()), nullptr);
    }
    EXPECT_EQ(ICC_CPP_Profile::ReadFromMemory(good.data(), 131), nullptr);
    EXPECT_EQ(ICC_CPP_Profile::ReadFromMemory(nullptr, 0), nullptr);

    // Truncations (size field kept consistent) and corrupted bytes in the header, the table
    // and the start of every element, in exact-size buffers: each is refused or read into a
    // profile that writes and reads back.
    std::vector<Bytes> variants;
    for (size_t n = 132; n < good.size(); n += 7) {
        variants.emplace_back(good.begin(), good.begin() + n);
        PutBE32(variants.back(), 0, unsigned(n));
    }
    for (const Bytes& base : {LutProfile(), Bundled("LStar-RGB.icc")}) {
        std::vector<size_t> spots;
        for (size_t at = 0; at < 132 + 12 * BE32(base, 128); ++at)
            spots.push_back(at);
        for (unsigned int i = 0; i < BE32(base, 128); ++i)
            for (size_t at = BE32(base, 136 + 12 * i), n = 0; at < base.size() && n < 60; ++at, ++n)
                spots.push_back(at);
        for (size_t at : spots)
            for (unsigned char v : {0x00, 0x01, 0x80, 0xFF}) {
                variants.push_back(base);
                variants.back()[at] = v;
            }
    }
    for (const Bytes& v : variants) {
        ProfilePtr p(ICC_CPP_Profile::ReadFromMemory(v.data(), v.size()));
        Bytes out;
        if (p) {
            ASSERT_TRUE(p->WriteToMemory(out));
            EXPECT_NE(ProfilePtr(ICC_CPP_Profile::ReadFromMemory(out.data(), out.size())), nullptr);
        }
    }
}

TEST(IccFile, WriteFileReplacesTheFileWholeOrNotAtAll)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out.icc");
    const Bytes in = Bundled("LStar-RGB.icc");
    ProfilePtr profile(ICC_CPP_Profile::ReadFromMemory(in.data(), in.size()));
    ASSERT_NE(profile, nullptr);
    testutil::WriteFile(path, "old");
    ASSERT_TRUE(profile->WriteFile(path.c_str()));
    Bytes expected;
    profile->WriteToMemory(expected);
    EXPECT_EQ(testutil::ReadFile(path), std::string(expected.begin(), expected.end()));
    ProfilePtr back(ICC_CPP_Profile::ReadFile(path.c_str()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetTags().size(), profile->GetTags().size());

    // A curve that cannot be encoded fails the write and leaves the file as it was.
    auto* curve = new ICC_CPP_curve_Tag;
    curve->curve.entries = {0.5f};
    profile->AddTag(curve);
    EXPECT_FALSE(profile->WriteFile(path.c_str()));
    EXPECT_EQ(testutil::ReadFile(path), std::string(expected.begin(), expected.end()));
    EXPECT_FALSE(testutil::FileExists(path + ".tmp"));
    EXPECT_FALSE(back->WriteFile(dir.file("missing/out.icc").c_str()));
    EXPECT_EQ(ICC_CPP_Profile::ReadFile(dir.file("none.icc").c_str()), nullptr);
}
