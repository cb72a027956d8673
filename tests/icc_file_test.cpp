// Whole profiles: real profiles read, edited and written, then opened by Little CMS as the
// reference engine; malformed profiles refused without reading out of bounds.
#include "icc.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using ProfilePtr = std::unique_ptr<ICC_CPP_Profile>;

unsigned int BE32(const Bytes& b, size_t at)
{
    return unsigned(b[at]) << 24 | unsigned(b[at + 1]) << 16 | unsigned(b[at + 2]) << 8 | b[at + 3];
}

ProfilePtr Read(const Bytes& b)
{
    return ProfilePtr(ICC_CPP_Profile::ReadFromMemory(b.data(), b.size()));
}

Bytes Load(const std::string& path)
{
    const std::string s = testutil::ReadFile(path);
    return Bytes(s.begin(), s.end());
}

using LcmsPtr = std::unique_ptr<void, cmsBool (*)(cmsHPROFILE)>;

LcmsPtr Open(const Bytes& b)
{
    return LcmsPtr(cmsOpenProfileFromMem(b.data(), cmsUInt32Number(b.size())), cmsCloseProfile);
}

Bytes Save(cmsHPROFILE h, double version = 4.3)
{
    cmsSetProfileVersion(h, version);
    cmsMD5computeID(h);  // a profile ID that the writer must clear
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(h, nullptr, &n);
    Bytes b(n);
    cmsSaveProfileToMem(h, b.data(), &n);
    cmsCloseProfile(h);
    return b;
}

// A v2 profile whose A2B0-2 and B2A0 tables are bare 5-point CLUTs of zeros: as a
// v2 profile they are stored as "mft2" elements with identity curves.
Bytes LutProfile()
{
    cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
    for (cmsTagSignature sig : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigBToA0Tag}) {
        cmsPipeline* lut = cmsPipelineAlloc(nullptr, 3, 3);
        cmsPipelineInsertStage(lut, cmsAT_BEGIN, cmsStageAllocCLut16bit(nullptr, 5, 3, 3, nullptr));
        cmsWriteTag(h, sig, lut);
        cmsPipelineFree(lut);
    }
    return Save(h, 2.1);
}

// The same, with A2B1 and A2B2 linked to A2B0: the three tags point at one element.
Bytes LinkedLutProfile()
{
    cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
    for (cmsTagSignature sig : {cmsSigAToB0Tag, cmsSigBToA0Tag}) {
        cmsPipeline* lut = cmsPipelineAlloc(nullptr, 3, 3);
        cmsPipelineInsertStage(lut, cmsAT_BEGIN, cmsStageAllocCLut16bit(nullptr, 5, 3, 3, nullptr));
        cmsWriteTag(h, sig, lut);
        cmsPipelineFree(lut);
    }
    cmsLinkTag(h, cmsSigAToB1Tag, cmsSigAToB0Tag);
    cmsLinkTag(h, cmsSigAToB2Tag, cmsSigAToB0Tag);
    return Save(h, 2.1);
}

// One profile, checked by the engine at every step.
//  - read -> write keeps the header (but size and ID) and every element up to zero padding, each
//    on a multiple of 4, writes a shared element once, and the engine reads the same tags as in
//    the original;
//  - ICCXRiteToOrlisk, run twice (the second run replaces the first run's copyright), leaves
//    exactly the kept tags, in order, with the new copyright and creator;
//  - ReplaceCanonCameraMatrixWithIdentity succeeds only where A2B0-2 are "mft2" elements; in
//    bare CLUTs the engine finds the first triple at RGB (0, 1, 1), grid point 24 of 125, and the
//    second at (1, 0, 0), point 100.
void CheckProfile(const std::string& name, const Bytes& in, bool mft2, bool bareClut)
{
    SCOPED_TRACE(name);
    ProfilePtr profile = Read(in), orlisk = Read(in), camera = Read(in);
    Bytes out, orliskOut, cameraOut;
    ASSERT_TRUE(profile && profile->WriteToMemory(out));
    // Shared elements are written once: the engine's own profiles keep their size, and no
    // profile grows beyond the padding of its last element.
    const size_t padded = (in.size() + 3) / 4 * 4;
    EXPECT_TRUE(name.rfind("built", 0) == 0 ? out.size() == in.size() : out.size() <= padded) << out.size();
    EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 84), Bytes(in.begin() + 4, in.begin() + 84));
    EXPECT_EQ(Bytes(out.begin() + 84, out.begin() + 100), Bytes(16, 0));
    ASSERT_EQ(BE32(out, 128), BE32(in, 128));
    const LcmsPtr original = Open(in), written = Open(out);
    ASSERT_NE(written, nullptr);
    for (unsigned int i = 0; i < BE32(in, 128); ++i) {
        const auto a = in.begin() + BE32(in, 136 + 12 * i), b = out.cbegin() + BE32(out, 136 + 12 * i);
        const unsigned int size = BE32(in, 140 + 12 * i), common = std::min(size, BE32(out, 140 + 12 * i));
        const auto sig = cmsTagSignature(BE32(in, 132 + 12 * i));
        EXPECT_TRUE(BE32(out, 132 + 12 * i) == sig && (b - out.cbegin()) % 4 == 0 && std::equal(a, a + common, b) &&
                    std::all_of(a + common, a + size, [](unsigned char c) { return c == 0; })) << "tag " << i;
        EXPECT_EQ(cmsReadTag(written.get(), sig) != nullptr, cmsReadTag(original.get(), sig) != nullptr) << "tag " << i;
    }

    ASSERT_TRUE(ICCXRiteToOrlisk(orlisk.get()) && ICCXRiteToOrlisk(orlisk.get()) && orlisk->WriteToMemory(orliskOut));
    std::vector<unsigned int> expected = {cmsSigCopyrightTag}, found;
    for (unsigned int i = 0; i < BE32(in, 128); ++i)
        for (const char* k : {"desc", "chad", "gamt", "wtpt", "bkpt", "B2A0", "A2B0", "B2A1", "A2B1", "B2A2", "A2B2"})
            if (BE32(in, 132 + 12 * i) == ICCSignature({k[0], k[1], k[2], k[3], 0}))
                expected.push_back(BE32(in, 132 + 12 * i));
    std::sort(expected.begin(), expected.end());
    const LcmsPtr kept = Open(orliskOut);
    ASSERT_NE(kept, nullptr);
    for (cmsInt32Number i = 0; i < cmsGetTagCount(kept.get()); ++i)
        found.push_back(cmsGetTagSignature(kept.get(), cmsUInt32Number(i)));
    EXPECT_EQ(found, expected);
    EXPECT_EQ(cmsGetHeaderCreator(kept.get()), ICCSignature("ORLK"));
    char text[128] = {};
    cmsMLUgetASCII(static_cast<cmsMLU*>(cmsReadTag(kept.get(), cmsSigCopyrightTag)), "en", "US", text, sizeof text);
    EXPECT_STREQ(text, "Copyright (c) Orlisk. All rights reserved.");
    // The engine takes colours through the kept tables exactly as through the original's.
    for (cmsTagSignature sig : {cmsSigAToB0Tag, cmsSigBToA0Tag}) {
        auto* before = static_cast<cmsPipeline*>(cmsReadTag(original.get(), sig));
        auto* after = static_cast<cmsPipeline*>(cmsReadTag(kept.get(), sig));
        ASSERT_EQ(before == nullptr, after == nullptr);
        for (int i = 0; before && i < 125; ++i) {
            const float rgb[cmsMAXCHANNELS] = {(i % 5) / 4.0f, (i / 5 % 5) / 4.0f, (i / 25) / 4.0f};
            float x[cmsMAXCHANNELS] = {}, y[cmsMAXCHANNELS] = {};
            cmsPipelineEvalFloat(rgb, x, before);
            cmsPipelineEvalFloat(rgb, y, after);
            EXPECT_TRUE(std::equal(x, x + cmsMAXCHANNELS, y)) << "point " << i;
        }
    }

    ASSERT_EQ(ReplaceCanonCameraMatrixWithIdentity(camera.get()), mft2);
    if (!mft2)
        return;
    ASSERT_TRUE(camera->WriteToMemory(cameraOut));
    EXPECT_EQ(cameraOut.size(), out.size());
    const LcmsPtr edited = Open(cameraOut);
    const float triples[2][3] = {{0.75f, 0.6f, 0.73333335f}, {0.3f, 0.40392157f, 0.34509805f}};
    for (cmsTagSignature sig : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag}) {
        auto* lut = static_cast<cmsPipeline*>(edited ? cmsReadTag(edited.get(), sig) : nullptr);
        ASSERT_NE(lut, nullptr);
        float value[3];
        for (int c = 0; bareClut && c < 2; ++c) {
            const float corner[3] = {float(c), float(1 - c), float(1 - c)};
            cmsPipelineEvalFloat(corner, value, lut);
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(value[k], triples[c][k], 1e-4) << c << " " << k;
        }
    }
}

}  // namespace

TEST(IccFile, RealProfilesRoundTripAndEdit)
{
    std::vector<std::tuple<std::string, Bytes>> profiles = {
        {"built sRGB v4", Save(cmsCreate_sRGBProfile())}, {"built sRGB v2", Save(cmsCreate_sRGBProfile(), 2.1)},
        {"built Lab v4", Save(cmsCreateLab4Profile(nullptr))}, {"built LUT v2", LutProfile()},
        {"built LUT v2 linked", LinkedLutProfile()}};
    // LStar-RGB.icc shares one element among its three TRC tags.
    for (const char* name : {"sRGB.icc", "LStar-RGB.icc", "compatibleWithAdobeRGB1998.icc", "CineLogCurve.icc"})
        profiles.emplace_back(name, Load(std::string(TEST_DATA_DIR "/icc/") + name));
    // Installed profiles where present; only the LCMS*.ICM ones hold A2B0-2 as "mft2" elements.
    for (const char* name : {"LCMSLABI.ICM", "LCMSXYZI.ICM", "ITULab.icc", "Gray.icc", "CineonLog_M.icc"})
        if (Bytes bytes = Load(std::string("/usr/share/color/icc/") + name); !bytes.empty())
            profiles.emplace_back(name, bytes);
    for (const auto& [name, bytes] : profiles)
        CheckProfile(name, bytes, name.rfind("built LUT", 0) == 0 || name.rfind("LCMS", 0) == 0,
                     name.rfind("built LUT", 0) == 0);
    EXPECT_FALSE(ICCXRiteToOrlisk(nullptr) || ReplaceCanonCameraMatrixWithIdentity(nullptr));
}

TEST(IccFile, ReadsDescriptionXYZAndLutElementsAsTheirTypes)
{
    // Little CMS writes a version 2 sRGB profile with "desc" and "XYZ " elements; the LUT
    // profile's B2A0 is an "mft2" element but not an A2B table.
    const Bytes srgb = Save(cmsCreate_sRGBProfile(), 2.1), luts = LutProfile();
    const ProfilePtr profile = Read(srgb), lutProfile = Read(luts);
    const LcmsPtr engine = Open(srgb);
    ASSERT_TRUE(profile && lutProfile && engine);
    int xyzTags = 0;
    for (ICC_CPP_Tag* tag : profile->GetTags()) {
        if (auto* xyz = dynamic_cast<ICC_CPP_XYZ_Tag*>(tag)) {
            const auto* theirs = static_cast<cmsCIEXYZ*>(cmsReadTag(engine.get(), cmsTagSignature(tag->signature)));
            ASSERT_TRUE(theirs && xyz->xyz->values.size() == 1);
            EXPECT_TRUE(xyz->xyz->values[0].X == theirs->X && xyz->xyz->values[0].Y == theirs->Y &&
                        xyz->xyz->values[0].Z == theirs->Z);
            ++xyzTags;
        }
    }
    EXPECT_EQ(xyzTags, 4);  // wtpt, rXYZ, gXYZ, bXYZ
    auto* desc = dynamic_cast<ICC_CPP_textDescription_Tag*>(profile->GetTag(ICCSignature("desc")));
    char text[256] = {};
    cmsGetProfileInfoASCII(engine.get(), cmsInfoDescription, "en", "US", text, sizeof text);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->description->ascii, text);
    ICC_CPP_Tag* b2a0 = lutProfile->GetTag(ICCSignature("B2A0"));
    EXPECT_TRUE(dynamic_cast<ICC_CPP_lut16_Tag*>(b2a0) && !dynamic_cast<ICC_CPP_A2B_Tag*>(b2a0));
}

TEST(IccFile, RefusesMalformedProfiles)
{
    // One 32-bit value put into a good profile per case.
    const Bytes good = Save(cmsCreate_sRGBProfile());
    ASSERT_NE(Read(good), nullptr);
    const unsigned int size = unsigned(good.size());
    const std::tuple<const char*, size_t, unsigned int> cases[] = {
        {"size field too large", 0, size + 4}, {"size field too small", 0, size - 4},
        {"not acsp", 36, 0x41435350},          {"tag count cannot fit", 128, (size - 132) / 12 + 1},
        {"tag count huge", 128, 0xFFFFFFFF},   {"offset past the end", 136, size + 1},
        {"size past the end", 140, size},      {"offset and size wrap", 140, 0xFFFFFFF0}};
    for (const auto& [name, at, value] : cases) {
        SCOPED_TRACE(name);
        Bytes bad = good;
        for (size_t i = 0; i < 4; ++i)
            bad[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
        EXPECT_EQ(Read(bad), nullptr);
    }
    EXPECT_TRUE(!Read(Bytes(good.begin(), good.begin() + 131)) && !ICC_CPP_Profile::ReadFromMemory(nullptr, 0));

    // Every byte of two small profiles set to 00, 01, 80 and FF in turn, in exact-size buffers:
    // each is refused or read into a profile that writes and reads back.
    for (const char* name : {"LStar-RGB.icc", "CineLogCurve.icc"}) {
        const Bytes base = Load(std::string(TEST_DATA_DIR "/icc/") + name);
        for (size_t at = 0; at < 4 * base.size(); ++at) {
            Bytes bad = base, out;
            bad[at / 4] = static_cast<unsigned char>("\x00\x01\x80\xFF"[at % 4]);
            ProfilePtr p = Read(bad);
            EXPECT_TRUE(!p || (p->WriteToMemory(out) && Read(out))) << name << " byte " << at / 4;
        }
    }
}

// A profile with the given table entries (signature, offset, size) in front of `elements`,
// which start right after the table; offsets count from the first element byte.
Bytes Generated(const std::vector<std::tuple<const char*, unsigned int, unsigned int>>& entries, const Bytes& elements)
{
    const size_t start = 132 + 12 * entries.size();
    Bytes b(start);
    b.insert(b.end(), elements.begin(), elements.end());
    auto put = [&b](size_t at, unsigned int v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
    };
    put(0, unsigned(b.size()));
    put(36, ICCSignature("acsp"));
    put(128, unsigned(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& [sig, offset, size] = entries[i];
        put(132 + 12 * i, ICCSignature({sig[0], sig[1], sig[2], sig[3], 0}));
        put(136 + 12 * i, unsigned(start) + offset);
        put(140 + 12 * i, size);
    }
    return b;
}

// An element of `type` with `size` bytes after its 8-byte type and reserved field.
Bytes Element(const char* type, const Bytes& body)
{
    Bytes e(8 + (body.size() + 3) / 4 * 4, 0);
    std::copy(type, type + 4, e.begin());
    std::copy(body.begin(), body.end(), e.begin() + 8);
    return e;
}

void PushU16(Bytes& b, size_t value)
{
    b.push_back(static_cast<unsigned char>(value >> 8));
    b.push_back(static_cast<unsigned char>(value));
}

// Profiles of 1 MiB whose 20000 table entries all point at one element of the rest: the element
// is read once and shared by every tag, and the profile is written back byte for byte (so at
// its own size), in time and memory of the order of its size.
TEST(IccFile, TagsSharingAnElementShareItAndWriteItOnce)
{
    constexpr unsigned int k_entries = 20000;
    const size_t bodyBytes = (1u << 20) - 132 - 12 * k_entries - 12;
    Bytes text(bodyBytes - 1, 'x'), curve = {0, 0, 0, 0}, mft2 = {3, 3, 49, 0}, opaque(bodyBytes, 0x5A);
    text.push_back(0);
    const unsigned int curveCount = unsigned(bodyBytes - 4) / 2;
    for (unsigned int i = 0; i < 4; ++i)
        curve[i] = static_cast<unsigned char>(curveCount >> (24 - 8 * i));
    for (unsigned int i = 0; i < curveCount; ++i)
        PushU16(curve, i);
    // Identity matrix, 2-entry input tables (0, 65535), a 49^3 grid of 3 outputs, 3-entry
    // output tables (0, 32768, 65535): a whole number of 4-byte words, as the element is
    // written back without padding.
    mft2.resize(40);
    for (size_t at : {4, 20, 36})
        mft2[at + 1] = 1;
    for (size_t entries : {2, 3})
        PushU16(mft2, entries);
    for (int i = 0; i < 3; ++i)
        for (size_t v : {0, 65535})
            PushU16(mft2, v);
    for (size_t i = 0; i < 49 * 49 * 49 * 3; ++i)
        PushU16(mft2, i & 0xFFFF);
    for (int i = 0; i < 3; ++i)
        for (size_t v : {0, 32768, 65535})
            PushU16(mft2, v);
    // Whole XYZ values of every byte pattern; an ASCII description, no Unicode or ScriptCode text.
    Bytes xyz(bodyBytes / 12 * 12), desc = {0, 0, 0, 0};
    for (size_t i = 0; i < xyz.size(); ++i)
        xyz[i] = static_cast<unsigned char>(i * 7);
    const unsigned int asciiCount = unsigned(bodyBytes) - 82;
    for (unsigned int i = 0; i < 4; ++i)
        desc[i] = static_cast<unsigned char>(asciiCount >> (24 - 8 * i));
    desc.resize(4 + asciiCount - 1, 'd');
    desc.resize(bodyBytes, 0);

    const std::tuple<std::string, Bytes, std::vector<const char*>> cases[] = {
        {"text", Element("text", text), {"cprt", "desc"}},
        {"curv", Element("curv", curve), {"rTRC", "gTRC", "bTRC"}},
        {"mft2", Element("mft2", mft2), {"A2B0", "A2B1", "A2B2"}},
        {"opaque", Element("XYZ ", opaque), {"wtpt", "B2A0"}},
        {"XYZ", Element("XYZ ", xyz), {"wtpt", "bkpt", "rXYZ"}},
        {"desc", Element("desc", desc), {"desc", "dmnd", "dmdd"}},
    };
    for (const auto& [name, element, signatures] : cases) {
        SCOPED_TRACE(name);
        std::vector<std::tuple<const char*, unsigned int, unsigned int>> entries;
        for (unsigned int i = 0; i < k_entries; ++i)
            entries.emplace_back(signatures[i % signatures.size()], 0, unsigned(element.size()));
        const Bytes in = Generated(entries, element);
        ASSERT_LE(in.size(), size_t(1) << 20);
        ProfilePtr profile = Read(in);
        ASSERT_NE(profile, nullptr);
        const std::vector<ICC_CPP_Tag*>& tags = profile->GetTags();
        ASSERT_EQ(tags.size(), k_entries);
        EXPECT_EQ(dynamic_cast<ICC_CPP_opaque_Tag*>(tags[0]) != nullptr, name == "opaque");
        EXPECT_TRUE(std::all_of(tags.begin(), tags.end(), [&](const ICC_CPP_Tag* t) {
            return t->GetElement() == tags[0]->GetElement() && t->offset == tags[0]->offset;
        }));
        Bytes out;
        ASSERT_TRUE(profile->WriteToMemory(out));
        EXPECT_TRUE(out == in);
    }
}

// Entries that point at overlapping but different elements: accepted while those elements add
// up to no more than the profile, each kept and written on its own; refused beyond that.
TEST(IccFile, OverlappingElementsAreBoundedByTheProfileSize)
{
    const Bytes element = Element("XYZ ", Bytes(92, 7));
    ProfilePtr profile = Read(Generated({{"wtpt", 0, 100}, {"bkpt", 0, 40}, {"lumi", 0, 40}}, element));
    ASSERT_NE(profile, nullptr);
    const std::vector<ICC_CPP_Tag*>& tags = profile->GetTags();
    EXPECT_TRUE(tags[0]->GetElement() != tags[1]->GetElement() && tags[1]->GetElement() == tags[2]->GetElement());
    Bytes out;
    ASSERT_TRUE(profile->WriteToMemory(out));
    EXPECT_EQ(out.size(), 132 + 36 + 100 + 40);

    // Three entries make a profile of 132 + 36 + 100 = 268 bytes.
    EXPECT_NE(Read(Generated({{"wtpt", 0, 100}, {"bkpt", 0, 96}, {"lumi", 0, 72}}, element)), nullptr);
    EXPECT_EQ(Read(Generated({{"wtpt", 0, 100}, {"bkpt", 0, 96}, {"lumi", 0, 76}}, element)), nullptr);
}

TEST(IccFile, WriteFileReplacesTheFileWholeOrNotAtAll)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out.icc");
    ProfilePtr profile = Read(Load(TEST_DATA_DIR "/icc/LStar-RGB.icc"));
    Bytes expected;
    ASSERT_TRUE(profile && profile->WriteToMemory(expected));
    testutil::WriteFile(path, "old");
    // A symbolic link planted at "<path>.tmp" is neither followed nor replaced.
    testutil::WriteFile(dir.file("victim"), "victim");
    std::filesystem::create_symlink(dir.file("victim"), path + ".tmp");
    ASSERT_TRUE(profile->WriteFile(path.c_str()));
    EXPECT_EQ(Load(path), expected);
    EXPECT_TRUE(testutil::ReadFile(dir.file("victim")) == "victim" && std::filesystem::is_symlink(path + ".tmp"));
    ProfilePtr back(ICC_CPP_Profile::ReadFile(path.c_str()));
    ASSERT_TRUE(back && back->GetTags().size() == profile->GetTags().size());
    // An empty curve cannot be encoded: it fails the write and leaves the file as it was.
    profile->AddTag(new ICC_CPP_curve_Tag);
    EXPECT_FALSE(profile->WriteFile(path.c_str()) || back->WriteFile(dir.file("missing/out.icc").c_str()));
    EXPECT_EQ(Load(path), expected);
    EXPECT_EQ(3, std::distance(std::filesystem::directory_iterator(dir.path()), {}));
    EXPECT_EQ(ICC_CPP_Profile::ReadFile(dir.file("none.icc").c_str()), nullptr);
}
