#include "setup/strings.h"

#include <gtest/gtest.h>

#include "setup/resource_ids.h"

// Japanese texts come through the resource compiler; each load reuses one buffer,
// which must not be the product name's.
TEST(Strings, MessagesShareOneBufferAndTheProductNameHasItsOwn) {
    const wchar_t* name = ProductDisplayName();
    const wchar_t* first = LoadMessageText(IDS_DONE_TITLE);
    EXPECT_STREQ(L"インストールが完了しました。", first);
    EXPECT_EQ(first, LoadMessageText(IDS_FAILED_TITLE));
    EXPECT_STREQ(L"インストールが失敗しました。", first);
    EXPECT_STREQ(L"Portvane", name);
}
