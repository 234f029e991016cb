// The list lives in a volatile key of the machine's registry, one REG_MULTI_SZ
// value for each run, named by the run's product code, with one string
// "<session> <program file>" for each ended copy. Volatile, because the
// copies it names live no longer than the running system: a restart of the PC
// forgets both. The key is the package's own, outside HKLM\SOFTWARE\ovq, whose
// value belongs to the Startup shortcut; it goes once its last list is taken.
// Only administrators and the system write to HKLM, so the list that starts
// programs in users' sessions is the package's own.

#include "EndedCopies.h"

#include "platform/Memory.h"

namespace {

const char kListKey[] = "SOFTWARE\\ovq ended copies";

// The length of one entry, its terminator included.
int EntryLength(const EndedCopy& copy)
{
    char number[16];
    return wsprintfA(number, "%lu", copy.session) + 1 + lstrlenA(copy.exe) + 1;
}

// The value of the run, read whole into a new block with a terminator
// added: "a\0b\0\0" whatever it ended with. *bytes is what was read. False,
// with a null block, when there is none; false with an error when it cannot
// be read.
bool ReadList(HKEY key, const char* product, char** text, DWORD* bytes, LONG* error)
{
    *text = nullptr;
    *bytes = 0;
    DWORD type = 0;
    *error = RegQueryValueExA(key, product, nullptr, &type, nullptr, bytes);
    if (*error != ERROR_SUCCESS)
        return false;
    if (type != REG_MULTI_SZ) {
        *error = ERROR_INVALID_DATA;
        return false;
    }
    *text = static_cast<char*>(AllocateMemory(*bytes + 2));
    if (*text == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    *error = RegQueryValueExA(key, product, nullptr, &type, reinterpret_cast<BYTE*>(*text), bytes);
    if (*error != ERROR_SUCCESS) {
        FreeMemory(*text);
        *text = nullptr;
        return false;
    }
    (*text)[*bytes] = '\0';
    (*text)[*bytes + 1] = '\0';
    return true;
}

// The bytes of a list up to its last entry's terminator, without the empty
// string that closes it.
DWORD EntriesLength(const char* text)
{
    const char* at = text;
    while (*at != '\0')
        at += lstrlenA(at) + 1;
    return static_cast<DWORD>(at - text);
}

// "<session> <program file>" into copy (the file may be unknown: empty);
// false for an entry of another form.
bool ParseEntry(const char* entry, EndedCopy* copy)
{
    DWORD session = 0;
    const char* at = entry;
    if (*at < '0' || *at > '9')
        return false;
    while (*at >= '0' && *at <= '9')
        session = session * 10 + static_cast<DWORD>(*at++ - '0');
    if (*at++ != ' ' || lstrlenA(at) >= MAX_PATH)
        return false;
    copy->session = session;
    lstrcpynA(copy->exe, at, MAX_PATH);
    return true;
}

}  // namespace

LONG KeepEndedCopies(const char* product, const EndedCopy* copies, int count)
{
    if (count == 0)
        return ERROR_SUCCESS;
    HKEY key = nullptr;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kListKey, 0, nullptr, REG_OPTION_VOLATILE,
                                 KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    // What an earlier batch of this run kept comes first.
    char* kept = nullptr;
    DWORD keptBytes = 0;
    if (!ReadList(key, product, &kept, &keptBytes, &error) && error != ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        return error;
    }
    DWORD keptLength = kept != nullptr ? EntriesLength(kept) : 0;
    DWORD length = keptLength + 1;
    for (int i = 0; i < count; ++i)
        length += static_cast<DWORD>(EntryLength(copies[i]));
    char* list = static_cast<char*>(AllocateMemory(length));
    error = ERROR_NOT_ENOUGH_MEMORY;
    if (list != nullptr) {
        for (DWORD i = 0; i < keptLength; ++i)
            list[i] = kept[i];
        char* at = list + keptLength;
        for (int i = 0; i < count; ++i)
            at += wsprintfA(at, "%lu %s", copies[i].session, copies[i].exe) + 1;
        *at = '\0';
        error = RegSetValueExA(key, product, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list), length);
        FreeMemory(list);
    }
    FreeMemory(kept);
    RegCloseKey(key);
    return error;
}

int TakeEndedCopies(const char* product, EndedCopy** copies)
{
    *copies = nullptr;
    HKEY key = nullptr;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kListKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (error == ERROR_FILE_NOT_FOUND)
        return 0;
    if (error != ERROR_SUCCESS)
        return -1;
    char* text = nullptr;
    DWORD bytes = 0;
    if (!ReadList(key, product, &text, &bytes, &error)) {
        RegCloseKey(key);
        return error == ERROR_FILE_NOT_FOUND ? 0 : -1;
    }
    int count = 0;
    for (const char* at = text; *at != '\0'; at += lstrlenA(at) + 1)
        ++count;
    *copies = static_cast<EndedCopy*>(AllocateMemory(sizeof(EndedCopy) * static_cast<size_t>(count > 0 ? count : 1)));
    int taken = -1;
    // Taken out before it is used: a list left behind would start the
    // program again at the next run that starts copies.
    if (*copies != nullptr && RegDeleteValueA(key, product) == ERROR_SUCCESS) {
        taken = 0;
        for (const char* at = text; *at != '\0'; at += lstrlenA(at) + 1)
            if (ParseEntry(at, &(*copies)[taken]))
                ++taken;
    }
    FreeMemory(text);
    if (taken < 0) {
        FreeMemory(*copies);
        *copies = nullptr;
    }
    // The key goes with its last list.
    DWORD values = 1, subkeys = 1;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr) == ERROR_SUCCESS &&
        values == 0 && subkeys == 0)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kListKey);
    RegCloseKey(key);
    return taken;
}
