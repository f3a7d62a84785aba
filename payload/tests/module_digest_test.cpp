// SHA-256 through the Windows crypto API against published test vectors, and
// the build's digest resource.
#include "payload/module_digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "payload/tests/file_helpers.h"

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

std::string DigestText(const std::wstring& path) {
    const ScopedCryptProvider provider = AcquireDigestProvider();
    unsigned char digest[kDigestBytes];
    return provider && DigestOfFile(provider.get(), path.c_str(), digest) ? Hex(digest)
                                                                          : std::string("failed");
}

TEST(ModuleDigest, MatchesPublishedSha256Vectors) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / L"empty", Bytes()));
    ASSERT_TRUE(WriteBytes(folder / L"abc", Bytes{'a', 'b', 'c'}));
    // Larger than one read of the file: the digest spans several reads.
    ASSERT_TRUE(WriteBytes(folder / L"million", Bytes(1000000, 'a')));
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
              DigestText(folder / L"empty"));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
              DigestText(folder / L"abc"));
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
              DigestText(folder / L"million"));
}

TEST(ModuleDigest, MismatchAndMissingFileDoNotMatch) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBytes(folder / L"abc", Bytes{'a', 'b', 'c'}));
    const ScopedCryptProvider provider = AcquireDigestProvider();
    ASSERT_TRUE(provider.valid());
    unsigned char expected[kDigestBytes];
    ASSERT_TRUE(DigestOfFile(provider.get(), (folder / L"abc").c_str(), expected));
    EXPECT_TRUE(FileMatchesDigest(provider.get(), (folder / L"abc").c_str(), expected));
    ASSERT_TRUE(WriteBytes(folder / L"abc", Bytes{'a', 'b', 'd'}));
    EXPECT_FALSE(FileMatchesDigest(provider.get(), (folder / L"abc").c_str(), expected));
    EXPECT_FALSE(FileMatchesDigest(provider.get(), (folder / L"missing").c_str(), expected));
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
