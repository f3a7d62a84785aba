// SHA-256 through the Windows crypto API against published test vectors, and
// the build's digest resource.
#include "payload/module_digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Hex(const unsigned char (&digest)[kDigestBytes]) {
    std::string text;
    char pair[3];
    for (unsigned char byte : digest) {
        std::snprintf(pair, sizeof(pair), "%02x", byte);
        text += pair;
    }
    return text;
}

std::string DigestText(const std::string& bytes) {
    const ScopedCryptProvider provider = AcquireDigestProvider();
    unsigned char digest[kDigestBytes];
    return provider && DigestOfBytes(provider.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                     digest)
               ? Hex(digest)
               : std::string("failed");
}

TEST(ModuleDigest, MatchesPublishedSha256Vectors) {
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", DigestText(""));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
              DigestText("abc"));
}

TEST(ModuleDigest, ResourceHoldsOneDistinctDigestPerRow) {
    ModuleDigests digests;
    ASSERT_TRUE(LoadModuleDigests(nullptr, digests));
    for (size_t row = 0; row < kModuleCount; ++row) {
        for (size_t other = row + 1; other < kModuleCount; ++other) {
            EXPECT_NE(Hex(digests.rows[row]), Hex(digests.rows[other])) << row << " " << other;
        }
    }
    EXPECT_FALSE(LoadModuleDigests(GetModuleHandleW(L"kernel32.dll"), digests));
}

}  // namespace
