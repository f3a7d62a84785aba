#include "tests/dialog_template.h"

#include <cstring>

namespace {

class Cursor {
public:
    Cursor(const BYTE* data, size_t size) : data_(data), size_(size) {}

    template <typename T>
    bool Read(T* value) {
        if (offset_ + sizeof(T) > size_) {
            return false;
        }
        std::memcpy(value, data_ + offset_, sizeof(T));
        offset_ += sizeof(T);
        return true;
    }

    bool ReadString(std::wstring* text) {
        text->clear();
        for (WORD ch = 0; Read(&ch);) {
            if (ch == 0) {
                return true;
            }
            text->push_back(static_cast<wchar_t>(ch));
        }
        return false;
    }

    // sz_Or_Ord: empty, 0xFFFF + ordinal, or a string.
    bool ReadNameOrOrdinal(std::wstring* text, bool mapClassOrdinals) {
        WORD first = 0;
        if (!Read(&first)) {
            return false;
        }
        if (first == 0) {
            text->clear();
            return true;
        }
        if (first == 0xFFFF) {
            WORD ordinal = 0;
            if (!Read(&ordinal)) {
                return false;
            }
            *text = mapClassOrdinals ? ClassName(ordinal) : L"#" + std::to_wstring(ordinal);
            return true;
        }
        offset_ -= sizeof(WORD);
        return ReadString(text);
    }

    void AlignToDword() { offset_ = (offset_ + 3) & ~static_cast<size_t>(3); }
    bool Skip(size_t bytes) {
        offset_ += bytes;
        return offset_ <= size_;
    }

private:
    static std::wstring ClassName(WORD ordinal) {
        switch (ordinal) {
            case 0x80: return L"Button";
            case 0x81: return L"Edit";
            case 0x82: return L"Static";
            default: return L"#" + std::to_wstring(ordinal);
        }
    }

    const BYTE* data_;
    size_t size_;
    size_t offset_ = 0;
};

bool ReadItem(Cursor& cursor, DialogItem* item) {
    cursor.AlignToDword();
    WORD extraBytes = 0;
    return cursor.Read(&item->helpId) && cursor.Read(&item->exStyle) &&
           cursor.Read(&item->style) && cursor.Read(&item->x) && cursor.Read(&item->y) &&
           cursor.Read(&item->cx) && cursor.Read(&item->cy) && cursor.Read(&item->id) &&
           cursor.ReadNameOrOrdinal(&item->className, true) &&
           cursor.ReadNameOrOrdinal(&item->text, false) && cursor.Read(&extraBytes) &&
           cursor.Skip(extraBytes);
}

}  // namespace

bool ParseDialogTemplate(const BYTE* data, size_t size, DialogTemplate* out) {
    Cursor cursor(data, size);
    WORD itemCount = 0;
    if (!cursor.Read(&out->version) || !cursor.Read(&out->signature) ||
        out->signature != 0xFFFF || !cursor.Read(&out->helpId) || !cursor.Read(&out->exStyle) ||
        !cursor.Read(&out->style) || !cursor.Read(&itemCount) || !cursor.Read(&out->x) ||
        !cursor.Read(&out->y) || !cursor.Read(&out->cx) || !cursor.Read(&out->cy) ||
        !cursor.ReadNameOrOrdinal(&out->menu, false) ||
        !cursor.ReadNameOrOrdinal(&out->className, false) || !cursor.ReadString(&out->caption)) {
        return false;
    }
    if (out->style & (DS_SETFONT | DS_SHELLFONT)) {
        if (!cursor.Read(&out->pointSize) || !cursor.Read(&out->weight) ||
            !cursor.Read(&out->italic) || !cursor.Read(&out->charset) ||
            !cursor.ReadString(&out->fontFace)) {
            return false;
        }
    }
    out->items.resize(itemCount);
    for (DialogItem& item : out->items) {
        if (!ReadItem(cursor, &item)) {
            return false;
        }
    }
    return true;
}
