// Decoding files on Wine's file system: in place and between two paths, and
// what is left behind when a decode fails.
#include "payload/lzma_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "payload/lzma_stream.h"
#include "payload/tests/file_helpers.h"
#include "platform/scoped_handle.h"

namespace {

using Names = std::vector<std::wstring>;

class LzmaFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(sample_.empty());
        ASSERT_FALSE(known_.empty());
        ASSERT_TRUE(FolderExists(folder_.path()));
        temporaryBefore_ = NamesIn(TemporaryFolder(), L"UAS*.tmp");
    }

    // Nothing of a decode may stay behind in the shared temporary folder.
    void TearDown() override {
        EXPECT_EQ(temporaryBefore_, NamesIn(TemporaryFolder(), L"UAS*.tmp"));
    }

    const Bytes sample_ = TestData("sample.bin");
    const Bytes known_ = TestData("sample.lzma");
    const Bytes marked_ = TestData("sample-eos.lzma");
    ScratchFolder folder_;
    Names temporaryBefore_;
};

TEST_F(LzmaFile, DecodesIntoAnotherFile) {
    const std::wstring source = folder_ / L"module.lzma";
    const std::wstring destination = folder_ / L"module.bin";
    ASSERT_TRUE(WriteBytes(source, known_));
    EXPECT_TRUE(DecodeFile(source.c_str(), destination.c_str()));
    EXPECT_EQ(sample_, ReadBytes(destination));
    EXPECT_EQ(known_, ReadBytes(source));
}

TEST_F(LzmaFile, InPlaceDecodeLeavesTheUnpackedFileAlone) {
    const std::wstring module = folder_ / L"License.rtf";
    for (const Bytes* stream : {&known_, &marked_}) {
        ASSERT_TRUE(WriteBytes(module, *stream));
        EXPECT_TRUE(DecodeFile(module.c_str(), module.c_str()));
        EXPECT_EQ(sample_, ReadBytes(module));
        EXPECT_EQ(Names{L"License.rtf"}, NamesIn(folder_.path()));
    }
}

TEST_F(LzmaFile, SamePathInOtherLetterCaseDecodesInPlace) {
    ASSERT_TRUE(WriteBytes(folder_ / L"License.rtf", known_));
    const std::wstring upper = folder_ / L"LICENSE.RTF";
    const std::wstring lower = folder_ / L"license.rtf";
    EXPECT_TRUE(DecodeFile(upper.c_str(), lower.c_str()));
    EXPECT_EQ(sample_, ReadBytes(folder_ / L"License.rtf"));
    EXPECT_EQ(Names{L"License.rtf"}, NamesIn(folder_.path()));
}

TEST_F(LzmaFile, TemporaryOutputIsMadeBesideTheSource) {
    // With no usable temporary folder an in-place decode still works: its
    // temporary file is made in the source's own folder.
    TemporaryFolderSwitch noTemporaryFolder(folder_ / L"missing");
    const std::wstring module = folder_ / L"Uninst.exe";
    ASSERT_TRUE(WriteBytes(module, known_));
    EXPECT_TRUE(DecodeFile(module.c_str(), module.c_str()));
    EXPECT_EQ(sample_, ReadBytes(module));
    EXPECT_EQ(0, _wcsnicmp(g_temporaryOutputName, folder_.path().c_str(), folder_.path().size()));
    EXPECT_EQ(0, _wcsnicmp(g_temporaryOutputName + folder_.path().size(), L"\\UAS", 4));
}

// Every failure leaves the source as it was and no other file.
struct DamagedStream {
    const char* what;
    Bytes stream;
};

TEST_F(LzmaFile, FailedDecodeLeavesTheSourceUnchanged) {
    Bytes badProperties = known_;
    badProperties[0] = 225;
    const DamagedStream damaged[] = {
        {"truncated", Bytes(known_.begin(), known_.end() - known_.size() / 3)},
        {"cut inside the last pass", Bytes(known_.begin(), known_.end() - 1)},
        {"unknown size without end marker", WithUnpackedSize(known_, kUnknownUnpackedSize)},
        {"known size larger than the data", WithUnpackedSize(known_, sample_.size() + 1)},
        {"properties byte 225", badProperties},
        {"shorter than the header", Bytes(known_.begin(), known_.begin() + 12)},
        {"empty", Bytes()},
    };
    const std::wstring module = folder_ / L"Portvane.exe";
    const std::wstring destination = folder_ / L"decoded.bin";
    for (const DamagedStream& item : damaged) {
        ASSERT_TRUE(WriteBytes(module, item.stream));
        EXPECT_FALSE(DecodeFile(module.c_str(), module.c_str())) << item.what;
        EXPECT_EQ(item.stream, ReadBytes(module)) << item.what;
        EXPECT_FALSE(DecodeFile(module.c_str(), destination.c_str())) << item.what;
        EXPECT_EQ(Names{L"Portvane.exe"}, NamesIn(folder_.path())) << item.what;
    }
}

TEST_F(LzmaFile, SourceHeldForAMomentIsReplacedAndOneHeldLongerStaysAsItWas) {
    // A handle that does not share deletion keeps the source from being
    // replaced: the decode waits out a scanner's short look...
    const std::wstring module = folder_ / L"Portvane_Tray.exe";
    ASSERT_TRUE(WriteBytes(module, known_));
    std::thread scanner = HoldFileFor(module, 300);
    ASSERT_TRUE(scanner.joinable());
    EXPECT_TRUE(DecodeFile(module.c_str(), module.c_str()));
    scanner.join();
    EXPECT_EQ(sample_, ReadBytes(module));

    // ...but not a longer hold: then it fails and the source is whole, not
    // half-copied.
    ASSERT_TRUE(WriteBytes(module, known_));
    ScopedFileHandle holder(CreateFileW(module.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.valid());
    EXPECT_FALSE(DecodeFile(module.c_str(), module.c_str()));
    holder.reset();
    EXPECT_EQ(known_, ReadBytes(module));
    EXPECT_EQ(Names{L"Portvane_Tray.exe"}, NamesIn(folder_.path()));
}

TEST_F(LzmaFile, MissingSourceFailsWithoutLeavingATemporaryFile) {
    const std::wstring missing = folder_ / L"dm.exe";
    const std::wstring destination = folder_ / L"decoded.bin";
    EXPECT_FALSE(DecodeFile(missing.c_str(), missing.c_str()));
    EXPECT_FALSE(DecodeFile(missing.c_str(), destination.c_str()));
    EXPECT_TRUE(NamesIn(folder_.path()).empty());
}

TEST_F(LzmaFile, DestinationThatCannotBeOpenedFailsAndKeepsTheSource) {
    const std::wstring source = folder_ / L"module.lzma";
    ASSERT_TRUE(WriteBytes(source, known_));
    ASSERT_TRUE(CreateDirectoryW((folder_ / L"taken").c_str(), nullptr));
    EXPECT_FALSE(DecodeFile(source.c_str(), (folder_ / L"taken").c_str()));
    EXPECT_EQ(known_, ReadBytes(source));
}

TEST_F(LzmaFile, PathTooLongForItsBufferFailsCleanly) {
    const std::wstring longPath = folder_ / (std::wstring(kPathChars, L'x') + L".exe");
    EXPECT_FALSE(DecodeFile(longPath.c_str(), longPath.c_str()));
    EXPECT_TRUE(NamesIn(folder_.path()).empty());
}

}  // namespace
