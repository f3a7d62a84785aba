// Extraction of the payload the build packed into this test program, and of
// edited copies of it with a module missing, damaged or replaced.
#include "payload/extract.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "payload/lzma_stream.h"
#include "payload/module_table.h"
#include "payload/testing/resource_image.h"
#include "payload/tests/file_helpers.h"
#include "setup/process_state.h"
#include "setup/resource_ids.h"

namespace {

using Names = std::vector<std::wstring>;

// The mapped bytes of a resource of the running program.
ResourceItem ResourceOfThisProgram(const wchar_t* type, const wchar_t* name) {
    HRSRC resource = FindResourceW(nullptr, name, type);
    HGLOBAL loaded = resource != nullptr ? LoadResource(nullptr, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    return {type, name, bytes, bytes != nullptr ? SizeofResource(nullptr, resource) : 0};
}

Bytes PackedModule(const wchar_t* resourceName) {
    const ResourceItem item = ResourceOfThisProgram(L"MODULE", resourceName);
    const unsigned char* bytes = static_cast<const unsigned char*>(item.data);
    return bytes != nullptr ? Bytes(bytes, bytes + item.size) : Bytes();
}

Names FileNamesOfRows(size_t count) {
    Names names;
    for (size_t row = 0; row < count; ++row) {
        names.push_back(kModuleTable[row].fileName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Extraction : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
            payload_.push_back(ResourceOfThisProgram(L"MODULE", row->resourceName));
        }
        payload_.push_back(ResourceOfThisProgram(RT_RCDATA, MAKEINTRESOURCEW(IDR_MODULE_DIGESTS)));
        for (const ResourceItem& item : payload_) {
            ASSERT_NE(nullptr, item.data);
        }
    }

    void TearDown() override {
        const std::wstring staging = g_stagingFolderPath;
        RemoveStagingFolder();
        if (!staging.empty()) {
            EXPECT_FALSE(FolderExists(staging));
        }
    }

    ResourceItem& Module(const wchar_t* resourceName) {
        for (ResourceItem& item : payload_) {
            if (!IS_INTRESOURCE(item.name) && wcscmp(item.name, resourceName) == 0) {
                return item;
            }
        }
        ADD_FAILURE() << "no module " << resourceName;
        return payload_.front();
    }

    void Use(ResourceItem& item, const Bytes& bytes) {
        item.data = bytes.data();
        item.size = static_cast<DWORD>(bytes.size());
    }

    // Extracts from a copy of this program that carries payload_.
    bool ExtractFromCopy() {
        ScopedModule image = LoadCopyWithResources((scratch_ / L"copy.exe").c_str(),
                                                   payload_.data(), payload_.size());
        EXPECT_TRUE(image.valid());
        return image.valid() && ExtractPayloadFrom(image.get());
    }

    std::vector<ResourceItem> payload_;
    ScratchFolder scratch_;
};

TEST_F(Extraction, StagingFolderHoldsTheTenModulesWithTheirUnpackedSizes) {
    ASSERT_TRUE(ExtractPayload());
    const std::wstring staging = g_stagingFolderPath;
    EXPECT_EQ(FileNamesOfRows(kModuleCount), NamesIn(staging));
    for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
        const Bytes packed = PackedModule(row->resourceName);
        ASSERT_GT(packed.size(), kLzmaHeaderBytes);
        // The build's packing: properties 0x5D and a 16 MiB dictionary.
        EXPECT_EQ(Bytes({0x5D, 0, 0, 0, 1}), Bytes(packed.begin(), packed.begin() + 5));
        unsigned char header[kLzmaHeaderBytes];
        std::copy(packed.begin(), packed.begin() + kLzmaHeaderBytes, header);
        EXPECT_EQ(UnpackedSizeOf(header), ReadBytes(staging + L"\\" + row->fileName).size())
            << row->fileName;
    }
}

TEST_F(Extraction, LicenceIsFoundWithoutRegardToLetterCase) {
    ASSERT_TRUE(ExtractPayload());
    const Bytes licence = ReadBytes(std::wstring(g_stagingFolderPath) + L"\\license.rtf");
    ASSERT_GT(licence.size(), 6u);
    EXPECT_EQ("{\\rtf1", std::string(licence.begin(), licence.begin() + 6));
}

TEST_F(Extraction, WritesThePackedBytesOfAModuleOnlyWhenTheyMatchTheirDigest) {
    ModuleDigests digests;
    ASSERT_TRUE(LoadModuleDigests(nullptr, digests));
    const unsigned char(&readme)[kDigestBytes] = digests.rows[7];
    const ScopedCryptProvider provider = AcquireDigestProvider();
    ASSERT_TRUE(provider.valid());
    ASSERT_TRUE(CreateStagingFolder());
    ASSERT_TRUE(WriteModuleResource(nullptr, L"Readme.rtf", L"Readme_rtf", provider.get(), readme));
    EXPECT_EQ(PackedModule(L"Readme_rtf"),
              ReadBytes(std::wstring(g_stagingFolderPath) + L"\\Readme.rtf"));
    EXPECT_FALSE(
        WriteModuleResource(nullptr, L"License.rtf", L"License_rtf", provider.get(), readme));
    EXPECT_FALSE(
        WriteModuleResource(nullptr, L"Missing.exe", L"Missing_exe", provider.get(), readme));
    EXPECT_EQ(Names{L"Readme.rtf"}, NamesIn(g_stagingFolderPath));
}

TEST_F(Extraction, CopyWithTheSamePayloadExtracts) {
    // The copy mechanism itself keeps a sound payload sound.
    EXPECT_TRUE(ExtractFromCopy());
    EXPECT_EQ(FileNamesOfRows(kModuleCount), NamesIn(g_stagingFolderPath));
}

TEST_F(Extraction, MissingModuleFailsAtItsRowAndExtractsNoLaterRow) {
    payload_.erase(payload_.begin() + 3);
    EXPECT_FALSE(ExtractFromCopy());
    EXPECT_EQ(FileNamesOfRows(3), NamesIn(g_stagingFolderPath));
}

TEST_F(Extraction, DamagedModuleFailsBeforeAnyOfItIsWritten) {
    Bytes damaged = PackedModule(L"DiskInfo_dll");
    ASSERT_GT(damaged.size(), 1000u);
    damaged[damaged.size() / 2] ^= 0x01;
    Use(Module(L"DiskInfo_dll"), damaged);
    EXPECT_FALSE(ExtractFromCopy());
    EXPECT_EQ(FileNamesOfRows(5), NamesIn(g_stagingFolderPath));
}

TEST_F(Extraction, ModuleThatDecodesToOtherContentFailsItsDigest) {
    // A sound stream of other content: only the digest can tell.
    const Bytes other = TestData("sample.lzma");
    Use(Module(L"License_rtf"), other);
    EXPECT_FALSE(ExtractFromCopy());
}

TEST_F(Extraction, SwappedModulesFailTheirDigests) {
    std::swap(Module(L"Readme_rtf").data, Module(L"License_rtf").data);
    std::swap(Module(L"Readme_rtf").size, Module(L"License_rtf").size);
    EXPECT_FALSE(ExtractFromCopy());
}

TEST_F(Extraction, MissingOrShortDigestResourceFails) {
    ResourceItem digests = payload_.back();
    payload_.pop_back();
    EXPECT_FALSE(ExtractFromCopy());
    RemoveStagingFolder();

    digests.size -= 32;
    payload_.push_back(digests);
    EXPECT_FALSE(ExtractFromCopy());
}

TEST_F(Extraction, FailsWhenTheStagingFolderCannotBeMade) {
    TemporaryFolderSwitch missing(scratch_ / L"missing");
    EXPECT_FALSE(ExtractPayload());
    EXPECT_EQ(L'\0', g_stagingFolderPath[0]);
}

}  // namespace
