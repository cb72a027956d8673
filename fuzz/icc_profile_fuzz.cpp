// The whole-profile reader on any bytes: once as they are, and once with the header's size
// field set to the input's length, so that mutations reach the tags. Invariants: a profile
// that reads writes out, at most four times its size (the table and each distinct element at
// most once in each of its two forms, decoded and opaque, with padding), reads back with the
// same tags in the same order, and writes out to the same bytes again; both profile edits leave a profile that still writes out and reads
// back, the copyright edit with its copyright tag in place.
#include "fuzzutil.h"
#include "icc.h"

#include <memory>
#include <vector>

namespace {

void CheckProfile(const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<ICC_CPP_Profile> profile(ICC_CPP_Profile::ReadFromMemory(data, size));
    if (!profile)
        return;
    std::vector<unsigned char> first;
    FUZZ_CHECK(profile->WriteToMemory(first));
    FUZZ_CHECK(first.size() <= 4 * size);
    std::unique_ptr<ICC_CPP_Profile> back(ICC_CPP_Profile::ReadFromMemory(first.data(), first.size()));
    FUZZ_CHECK(back != nullptr);
    const std::vector<ICC_CPP_Tag*>& tags = profile->GetTags();
    const std::vector<ICC_CPP_Tag*>& backTags = back->GetTags();
    FUZZ_CHECK(tags.size() == backTags.size());
    for (std::size_t i = 0; i < tags.size(); ++i)
        FUZZ_CHECK(tags[i]->signature == backTags[i]->signature && tags[i]->size == backTags[i]->size);
    std::vector<unsigned char> second;
    FUZZ_CHECK(back->WriteToMemory(second));
    FUZZ_CHECK(first == second);

    ReplaceCanonCameraMatrixWithIdentity(profile.get());
    FUZZ_CHECK(profile->WriteToMemory(second));
    back.reset(ICC_CPP_Profile::ReadFromMemory(second.data(), second.size()));
    FUZZ_CHECK(back != nullptr && back->GetTags().size() == tags.size());

    FUZZ_CHECK(ICCXRiteToOrlisk(profile.get()));
    FUZZ_CHECK(profile->WriteToMemory(second));
    back.reset(ICC_CPP_Profile::ReadFromMemory(second.data(), second.size()));
    FUZZ_CHECK(back != nullptr);
    auto* copyright = dynamic_cast<ICC_CPP_textInternal_Tag*>(back->GetTag(ICCSignature("cprt")));
    FUZZ_CHECK(copyright != nullptr && copyright->GetText() == k_orliskCopyright);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CheckProfile(data, size);
    if (size < 4 || size > 0xFFFFFFFFu)
        return 0;
    std::vector<std::uint8_t> sized(data, data + size);
    for (int i = 0; i < 4; ++i)
        sized[i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
    CheckProfile(sized.data(), sized.size());
    return 0;
}
