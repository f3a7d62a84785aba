#include "install/tests/log_match.h"

ExpectedLogItem LogLine(const std::wstring& line) {
    return {line, false, 0};
}

ExpectedLogItem OsMessageLine(DWORD errorCode) {
    return {L"", true, errorCode};
}

std::wstring OsMessageText(DWORD errorCode) {
    wchar_t text[1024] = L"";
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, errorCode, 0x400, text, 1024, nullptr);
    if (length == 0) {
        return L"OS Message:Error " + std::to_wstring(errorCode) + L"\n";
    }
    return L"OS Message:" + std::wstring(text) + L"\n";
}

::testing::AssertionResult LogMatches(const std::wstring& added,
                                      const std::vector<ExpectedLogItem>& expected) {
    size_t position = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const ExpectedLogItem& item = expected[i];
        if (!item.osMessage) {
            const std::wstring line = item.line + L"\n";
            if (added.compare(position, line.size(), line) != 0) {
                return ::testing::AssertionFailure()
                       << "item " << i << " is not the line expected at offset " << position
                       << " of the added log";
            }
            position += line.size();
            continue;
        }
        if (item.errorCode != 0) {
            const std::wstring text = OsMessageText(item.errorCode);
            if (added.compare(position, text.size(), text) != 0) {
                return ::testing::AssertionFailure()
                       << "item " << i << " is not the OS message of error " << item.errorCode;
            }
            position += text.size();
            continue;
        }
        // Any system text: it runs up to the next expected line, or to the end.
        const std::wstring prefix = L"OS Message:";
        if (added.compare(position, prefix.size(), prefix) != 0) {
            return ::testing::AssertionFailure() << "item " << i << " is no OS message";
        }
        size_t end = added.size();
        if (i + 1 < expected.size() && !expected[i + 1].osMessage) {
            end = added.find(L"\n" + expected[i + 1].line + L"\n", position);
            if (end == std::wstring::npos) {
                return ::testing::AssertionFailure() << "item " << i + 1 << " is missing";
            }
            ++end;
        }
        if (end <= position + prefix.size() + 1 || added[end - 1] != L'\n') {
            return ::testing::AssertionFailure() << "item " << i << " has no system text";
        }
        position = end;
    }
    if (position != added.size()) {
        return ::testing::AssertionFailure()
               << "the log gained " << added.size() - position << " characters more";
    }
    return ::testing::AssertionSuccess();
}
