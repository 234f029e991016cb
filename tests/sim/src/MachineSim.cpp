// The simulated machine of the installer's custom actions: sessions, users'
// tokens, processes and their ends, files, the registry and the installation.
// Behaves as the actions rely on Windows to behave: a process started with a
// token runs in the token's session as its user and at its level; a wait for
// a process returns when it has ended, or at the time-out; the registry keeps
// values by key and name; an information message of the installation lands in
// its log. One thread, a virtual clock, every call logged and able to fail.

#include "MachineSim.h"

#include "SimSupport.h"

#include <msiquery.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>

namespace machine {
namespace {

const DWORD kNever = 0xFFFFFFFF;
const DWORD kActionProcess = 900;

struct Session {
    std::string user;  // "" when nobody is signed in
};

struct Token {
    std::string user;
    DWORD session;
    bool elevated;
    bool primary;
};

struct Proc {
    Process shown;
    DWORD endsAt = kNever;  // when it ends by itself
    DWORD endCode = 0;      // the exit code it then has
    DWORD endMs = 50;       // a copy's shut-down after a -x
    bool ignoresMinusX = false;
    DWORD waitsFor = 0;  // a -x launch whose hand-over waits for this copy
};

struct Handle {
    enum Kind { ProcessHandle, ThreadHandle, TokenHandle, SnapshotHandle, KeyHandle } kind = ProcessHandle;
    DWORD access = 0;
    DWORD process = 0;
    Token token{};
    std::vector<std::pair<DWORD, std::string>> entries;  // a snapshot's processes
    size_t next = 0;
    std::string key;
};

struct Value {
    DWORD type;
    std::string bytes;
};

struct Key {
    bool isVolatile = false;
    std::map<std::string, Value> values;       // by upper-case name
    std::map<std::string, std::string> names;  // upper-case name -> name as written
};

struct State {
    DWORD now = 0;
    DWORD lastError = 0;
    std::vector<std::string> calls;
    simsupport::FaultPlan faults;

    std::map<DWORD, Session> sessions;
    bool actionIsSystem = true;
    std::string actionUser;
    DWORD actionSession = 0;
    std::set<std::string> files;  // lower case
    std::map<DWORD, Proc> processes;
    DWORD nextProcess = 100;

    std::map<uintptr_t, Handle> handles;
    uintptr_t handlesMade = 0;
    std::map<std::string, Key> registry;  // by upper-case path under HKLM

    std::string actionData;
    std::vector<std::string> installLog;
    std::map<MSIHANDLE, std::string> records;
    MSIHANDLE recordsMade = 100;

    std::map<void*, size_t> blocks;
    std::set<void*> environments;
};

State S;

// ---- formatting and the log ----------------------------------------------------

using simsupport::Format;
using simsupport::FormatList;

void LogCall(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogCall(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    S.calls.push_back(FormatList(format, args));
    va_end(args);
}

const char* Bool(BOOL value)
{
    return value ? "TRUE" : "FALSE";
}

std::string Str(const char* text)
{
    return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

bool ShouldFail(const std::string& call)
{
    return S.faults.ShouldFail(call, S.now);
}

// ---- handles ----------------------------------------------------------------------

Handle OfKind(Handle::Kind kind)
{
    Handle handle;
    handle.kind = kind;
    return handle;
}

HANDLE NewHandle(const Handle& handle)
{
    uintptr_t value = 0x100 + 4 * ++S.handlesMade;
    S.handles[value] = handle;
    return reinterpret_cast<HANDLE>(value);
}

Handle* FindHandle(HANDLE handle)
{
    auto it = S.handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == S.handles.end() ? nullptr : &it->second;
}

std::string HandleName(const void* handle)
{
    if (handle == nullptr)
        return "null";
    if (handle == INVALID_HANDLE_VALUE)
        return "INVALID_HANDLE_VALUE";
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE))
        return "HKLM";
    return Format("handle%zu", static_cast<size_t>((value - 0x100) / 4));
}

// ---- processes and the clock ------------------------------------------------------

std::string FileName(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Folder(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

bool FileExists(const std::string& path)
{
    return S.files.count(Lower(path)) != 0;
}

bool FolderExists(const std::string& folder)
{
    std::string prefix = Lower(folder) + "\\";
    for (const std::string& file : S.files)
        if (file.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

void End(Proc* process, DWORD at, DWORD code)
{
    process->shown.alive = false;
    process->shown.copy = false;
    process->shown.endedAt = at;
    process->shown.exitCode = code;
    process->endsAt = kNever;
    // A launch that waited on the hand-over is released: the window is gone.
    for (auto& other : S.processes)
        if (other.second.shown.alive && other.second.waitsFor == process->shown.id) {
            other.second.waitsFor = 0;
            other.second.endsAt = at + 10;
            other.second.endCode = 1;
        }
}

// Processes whose end has come, in the order of their ends.
void Settle()
{
    for (;;) {
        Proc* first = nullptr;
        for (auto& entry : S.processes) {
            Proc& process = entry.second;
            if (process.shown.alive && process.endsAt <= S.now && (first == nullptr || process.endsAt < first->endsAt))
                first = &process;
        }
        if (first == nullptr)
            return;
        End(first, first->endsAt, first->endCode);
    }
}

Proc* FindProcess(DWORD id)
{
    auto it = S.processes.find(id);
    return it == S.processes.end() ? nullptr : &it->second;
}

Proc* CopyIn(DWORD session)
{
    for (auto& entry : S.processes)
        if (entry.second.shown.alive && entry.second.shown.copy && entry.second.shown.session == session)
            return &entry.second;
    return nullptr;
}

// Whether the command line carries -x among its arguments (after the program).
bool HasMinusX(const std::string& commandLine)
{
    std::string rest = commandLine;
    if (!rest.empty() && rest[0] == '"')
        rest = rest.substr(rest.find('"', 1) + 1);
    else
        rest = rest.substr(std::min(rest.find(' '), rest.size()));
    size_t at = Lower(rest).find("-x");
    return at != std::string::npos && at > 0 && rest[at - 1] == ' ' && (at + 2 == rest.size() || rest[at + 2] == ' ');
}

// A new process of exe, as ovq behaves when it is ovq.exe.
DWORD Launch(const Token& as, const std::string& exe, const std::string& commandLine, const std::string& directory,
             const std::string& desktop, bool environment)
{
    Proc launched;
    Process& shown = launched.shown;
    shown.id = S.nextProcess++;
    shown.exe = exe;
    shown.commandLine = commandLine;
    shown.session = as.session;
    shown.user = as.user;
    shown.elevated = as.elevated;
    shown.copy = false;
    shown.alive = true;
    shown.exitCode = STILL_ACTIVE;
    shown.startedAt = S.now;
    shown.endedAt = 0;
    shown.startedBy = kActionProcess;
    shown.directory = directory;
    shown.desktop = desktop;
    shown.environment = environment;
    if (Lower(FileName(exe)) == "ovq.exe") {
        Proc* running = CopyIn(as.session);
        if (HasMinusX(commandLine) && running != nullptr) {
            if (running->shown.elevated && !as.elevated) {
                launched.endsAt = S.now + 10;  // the text is dropped on its way
                launched.endCode = 1;
            } else if (running->ignoresMinusX) {
                launched.waitsFor = running->shown.id;
            } else {
                running->endsAt = S.now + running->endMs;
                running->endCode = 0;
                launched.endsAt = S.now + 10;
                launched.endCode = 1;
            }
        } else if (HasMinusX(commandLine)) {
            launched.endsAt = S.now + 20;  // the first copy, ended by its own -x
            launched.endCode = 0;
        } else if (running != nullptr) {
            launched.endsAt = S.now + 10;
            launched.endCode = 1;
        } else {
            shown.copy = true;
        }
    }
    S.processes[shown.id] = launched;
    return shown.id;
}

Token ActionToken()
{
    return Token{ S.actionIsSystem ? "SYSTEM" : S.actionUser, S.actionIsSystem ? 0 : S.actionSession, false, true };
}

// What an action running as a user may not do to another user's process.
bool Reaches(const Proc& process)
{
    return S.actionIsSystem || process.shown.user == S.actionUser;
}

BOOL StartProcess(const char* call, const Token& as, LPCSTR application, LPSTR commandLine, DWORD flags,
                  LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information)
{
    DWORD error = ERROR_SUCCESS;
    std::string exe = application != nullptr ? application : "";
    if (ShouldFail(call))
        error = ERROR_ACCESS_DENIED;
    else if (!FileExists(exe))
        error = ERROR_FILE_NOT_FOUND;
    else if (directory != nullptr && !FolderExists(directory))
        error = ERROR_DIRECTORY;
    else if (environment != nullptr &&
             (S.environments.count(environment) == 0 || (flags & CREATE_UNICODE_ENVIRONMENT) == 0))
        error = ERROR_INVALID_PARAMETER;
    else if (startup == nullptr || startup->cb != sizeof(STARTUPINFOA))
        error = ERROR_INVALID_PARAMETER;
    if (error != ERROR_SUCCESS) {
        S.lastError = error;
        return FALSE;
    }
    DWORD id = Launch(as, exe, commandLine != nullptr ? commandLine : "", directory != nullptr ? directory : "",
                      startup->lpDesktop != nullptr ? startup->lpDesktop : "", environment != nullptr);
    Handle process = OfKind(Handle::ProcessHandle);
    process.access = 0x1FFFFF;
    process.process = id;
    Handle thread = OfKind(Handle::ThreadHandle);
    thread.process = id;
    information->hProcess = NewHandle(process);
    information->hThread = NewHandle(thread);
    information->dwProcessId = id;
    information->dwThreadId = id + 1;
    return TRUE;
}

std::string Started(BOOL result, const LPPROCESS_INFORMATION information)
{
    if (!result)
        return "FALSE";
    return Format("TRUE (process %u: %s, %s)", information->dwProcessId, HandleName(information->hProcess).c_str(),
                  HandleName(information->hThread).c_str());
}

std::string Desktop(const LPSTARTUPINFOA startup)
{
    if (startup == nullptr)
        return "null";
    return Format("desktop %s, flags 0x%x", Str(startup->lpDesktop).c_str(), startup->dwFlags);
}

// ---- the registry ----------------------------------------------------------------

// The path of a key handle's key, or of HKLM itself ("").
bool KeyPath(HKEY key, std::string* path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        path->clear();
        return true;
    }
    Handle* handle = FindHandle(reinterpret_cast<HANDLE>(key));
    if (handle == nullptr || handle->kind != Handle::KeyHandle || S.registry.count(handle->key) == 0)
        return false;
    *path = handle->key;
    return true;
}

std::string Join(const std::string& parent, const char* subKey)
{
    std::string sub = Upper(subKey != nullptr ? subKey : "");
    return parent.empty() ? sub : parent + "\\" + sub;
}

HKEY NewKeyHandle(const std::string& path)
{
    Handle key = OfKind(Handle::KeyHandle);
    key.key = path;
    return reinterpret_cast<HKEY>(NewHandle(key));
}

}  // namespace

// ---- control ------------------------------------------------------------------------

void Reset()
{
    for (auto& block : S.blocks)
        free(block.first);
    for (void* environment : S.environments)
        free(environment);
    S = State{};
    S.sessions[0] = Session{};
    Proc action;
    action.shown = Process{ kActionProcess,
                            "C:\\Windows\\System32\\msiexec.exe",
                            "msiexec.exe /V",
                            0,
                            "SYSTEM",
                            false,
                            false,
                            true,
                            STILL_ACTIVE,
                            0,
                            0,
                            0,
                            "",
                            "",
                            false };
    S.processes[kActionProcess] = action;
}

DWORD Now()
{
    return S.now;
}

void AdvanceClock(DWORD ms)
{
    S.now += ms;
    Settle();
}

void AddSession(DWORD session, const std::string& user)
{
    S.sessions[session] = Session{ user };
}

void SignOut(DWORD session)
{
    S.sessions[session].user.clear();
}

void RunActionAsSystem()
{
    S.actionIsSystem = true;
    S.actionUser.clear();
    S.actionSession = 0;
    S.processes[kActionProcess].shown.session = 0;
    S.processes[kActionProcess].shown.user = "SYSTEM";
}

void RunActionAsUser(const std::string& user, DWORD session)
{
    S.actionIsSystem = false;
    S.actionUser = user;
    S.actionSession = session;
    S.processes[kActionProcess].shown.session = session;
    S.processes[kActionProcess].shown.user = user;
}

void AddFile(const std::string& path)
{
    S.files.insert(Lower(path));
}

void RemoveFile(const std::string& path)
{
    S.files.erase(Lower(path));
}

DWORD StartCopy(const CopySpec& spec)
{
    AddFile(spec.exe);
    const std::string& user = S.sessions[spec.session].user;
    DWORD id = Launch(Token{ user, spec.session, spec.elevated, true }, spec.exe, "\"" + spec.exe + "\"",
                      Folder(spec.exe), "", true);
    Proc& copy = S.processes[id];
    if (!copy.shown.copy)
        throw std::logic_error("a copy runs in that session already");
    copy.shown.startedBy = 0;
    copy.endMs = spec.endMs;
    copy.ignoresMinusX = spec.ignoresMinusX;
    return id;
}

DWORD StartOther(DWORD session, const std::string& exe)
{
    AddFile(exe);
    DWORD id =
        Launch(Token{ S.sessions[session].user, session, false, true }, exe, "\"" + exe + "\"", Folder(exe), "", true);
    S.processes[id].shown.startedBy = 0;
    return id;
}

std::vector<Process> Processes()
{
    Settle();
    std::vector<Process> all;
    for (const auto& entry : S.processes)
        if (entry.first != kActionProcess)
            all.push_back(entry.second.shown);
    return all;
}

Process ProcessOf(DWORD id)
{
    Settle();
    Proc* process = FindProcess(id);
    if (process == nullptr)
        throw std::logic_error("no such process");
    return process->shown;
}

std::vector<Process> RunningCopies()
{
    std::vector<Process> copies;
    for (const Process& process : Processes())
        if (process.alive && process.copy)
            copies.push_back(process);
    return copies;
}

DWORD ActionProcess()
{
    return kActionProcess;
}

bool KeyExists(const std::string& key)
{
    return S.registry.count(Upper(key)) != 0;
}

bool KeyVolatile(const std::string& key)
{
    auto it = S.registry.find(Upper(key));
    return it != S.registry.end() && it->second.isVolatile;
}

std::vector<std::string> MultiString(const std::string& key, const std::string& value)
{
    std::vector<std::string> strings;
    auto found = S.registry.find(Upper(key));
    if (found == S.registry.end())
        return strings;
    auto it = found->second.values.find(Upper(value));
    if (it == found->second.values.end() || it->second.type != REG_MULTI_SZ)
        return strings;
    const std::string& bytes = it->second.bytes;
    for (size_t at = 0; at < bytes.size() && bytes[at] != '\0'; at = bytes.find('\0', at) + 1)
        strings.push_back(bytes.substr(at, bytes.find('\0', at) - at));
    return strings;
}

void SetMultiString(const std::string& key, const std::string& value, const std::vector<std::string>& strings)
{
    std::string bytes;
    for (const std::string& text : strings)
        bytes += text + '\0';
    bytes += '\0';
    Key& made = S.registry[Upper(key)];
    made.isVolatile = true;
    made.values[Upper(value)] = Value{ REG_MULTI_SZ, bytes };
    made.names[Upper(value)] = value;
}

MSIHANDLE Install()
{
    return 42;
}

void SetActionData(const std::string& data)
{
    S.actionData = data;
}

const std::vector<std::string>& InstallLog()
{
    return S.installLog;
}

const std::vector<std::string>& Calls()
{
    return S.calls;
}

void ClearCalls()
{
    S.calls.clear();
}

// The calls that ShouldFail is asked about.
const std::set<std::string> FailableCalls = {
    "OpenProcess",
    "QueryFullProcessImageNameA",
    "ProcessIdToSessionId",
    "OpenProcessToken",
    "DuplicateTokenEx",
    "CreateProcessA",
    "CreateProcessAsUserA",
    "WaitForSingleObject",
    "GetExitCodeProcess",
    "TerminateProcess",
    "CloseHandle",
    "CreateToolhelp32Snapshot",
    "Process32First",
    "Process32Next",
    "WTSQueryUserToken",
    "CreateEnvironmentBlock",
    "DestroyEnvironmentBlock",
    "RegCreateKeyExA",
    "RegOpenKeyExA",
    "RegQueryValueExA",
    "RegSetValueExA",
    "RegDeleteValueA",
    "RegDeleteKeyA",
    "RegQueryInfoKeyA",
    "RegCloseKey",
    "MsiGetPropertyA",
    "MsiCreateRecord",
    "MsiRecordSetStringA",
    "MsiProcessMessage",
    "MsiCloseHandle",
    "GetProcessHeap",
    "HeapAlloc",
    "HeapFree",
};

void FailNth(const std::string& call, int n, int times)
{
    S.faults.FailNth(call, n, times);
}

void FailTimes(const std::string& call, int times)
{
    FailNth(call, 1, times);
}

int PendingFailures()
{
    return S.faults.Pending();
}

std::string FaultNameOf(const std::string& line)
{
    return line.substr(0, line.find('('));
}

bool CanFail(const std::string& faultName)
{
    return FailableCalls.count(faultName) != 0;
}

size_t OpenHandles()
{
    return S.handles.size();
}

size_t LiveBlocks()
{
    return S.blocks.size();
}

size_t EnvironmentBlocks()
{
    return S.environments.size();
}

}  // namespace machine

using namespace machine;

// ---- kernel32: processes, waits, handles, the clock -----------------------------------

DWORD WINAPI GetCurrentProcessId()
{
    LogCall("GetCurrentProcessId() = %u", kActionProcess);
    return kActionProcess;
}

DWORD WINAPI GetLastError()
{
    LogCall("GetLastError() = %u", S.lastError);
    return S.lastError;
}

VOID WINAPI SetLastError(DWORD error)
{
    S.lastError = error;
}

DWORD WINAPI GetTickCount()
{
    LogCall("GetTickCount() = %u", S.now);
    return S.now;
}

// A failure is the answer for a process that has ended and gone, or one the
// caller may not open.
HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId)
{
    Settle();
    HANDLE result = nullptr;
    Proc* process = FindProcess(processId);
    if (ShouldFail("OpenProcess") || (process != nullptr && !Reaches(*process))) {
        S.lastError = ERROR_ACCESS_DENIED;
    } else if (process == nullptr || !process->shown.alive) {
        S.lastError = ERROR_INVALID_PARAMETER;
    } else {
        Handle handle = OfKind(Handle::ProcessHandle);
        handle.access = access;
        handle.process = processId;
        result = NewHandle(handle);
    }
    LogCall("OpenProcess(0x%08x, %s, %u) = %s", access, Bool(inherit), processId, HandleName(result).c_str());
    return result;
}

BOOL WINAPI QueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, DWORD* size)
{
    Handle* handle = FindHandle(process);
    BOOL result = FALSE;
    if (ShouldFail("QueryFullProcessImageNameA")) {
        S.lastError = ERROR_ACCESS_DENIED;
    } else if (handle == nullptr || handle->kind != Handle::ProcessHandle ||
               (handle->access & PROCESS_QUERY_LIMITED_INFORMATION) == 0) {
        S.lastError = ERROR_INVALID_HANDLE;
    } else {
        const std::string& exe = S.processes[handle->process].shown.exe;
        if (exe.size() + 1 > *size) {
            S.lastError = ERROR_INSUFFICIENT_BUFFER;
        } else {
            memcpy(name, exe.c_str(), exe.size() + 1);
            *size = static_cast<DWORD>(exe.size());
            result = TRUE;
        }
    }
    LogCall("QueryFullProcessImageNameA(%s, %u) = %s%s", HandleName(process).c_str(), flags, Bool(result),
            result ? (" " + Str(name)).c_str() : "");
    return result;
}

BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD* session)
{
    Proc* process = FindProcess(processId);
    BOOL result = FALSE;
    if (ShouldFail("ProcessIdToSessionId"))
        S.lastError = ERROR_ACCESS_DENIED;
    else if (process == nullptr)
        S.lastError = ERROR_INVALID_PARAMETER;
    else {
        *session = process->shown.session;
        result = TRUE;
    }
    LogCall("ProcessIdToSessionId(%u) = %s%s", processId, Bool(result),
            result ? Format(" (session %u)", *session).c_str() : "");
    return result;
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    Handle* handle = FindHandle(process);
    BOOL result = FALSE;
    *token = nullptr;
    if (ShouldFail("OpenProcessToken")) {
        S.lastError = ERROR_ACCESS_DENIED;
    } else if (handle == nullptr || handle->kind != Handle::ProcessHandle ||
               (handle->access & PROCESS_QUERY_LIMITED_INFORMATION) == 0) {
        S.lastError = ERROR_INVALID_HANDLE;
    } else if (!Reaches(S.processes[handle->process])) {
        S.lastError = ERROR_ACCESS_DENIED;
    } else {
        const Process& shown = S.processes[handle->process].shown;
        Handle made = OfKind(Handle::TokenHandle);
        made.access = access;
        made.token = Token{ shown.user, shown.session, shown.elevated, true };
        *token = NewHandle(made);
        result = TRUE;
    }
    LogCall("OpenProcessToken(%s, 0x%x) = %s %s", HandleName(process).c_str(), access, Bool(result),
            HandleName(*token).c_str());
    return result;
}

BOOL WINAPI DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES, SECURITY_IMPERSONATION_LEVEL level,
                             TOKEN_TYPE type, PHANDLE newToken)
{
    Handle* handle = FindHandle(token);
    BOOL result = FALSE;
    *newToken = nullptr;
    if (ShouldFail("DuplicateTokenEx")) {
        S.lastError = ERROR_ACCESS_DENIED;
    } else if (handle == nullptr || handle->kind != Handle::TokenHandle || (handle->access & TOKEN_DUPLICATE) == 0) {
        S.lastError = ERROR_INVALID_HANDLE;
    } else {
        Handle made = OfKind(Handle::TokenHandle);
        made.access = access;
        made.token = handle->token;
        made.token.primary = type == TokenPrimary;
        *newToken = NewHandle(made);
        result = TRUE;
    }
    LogCall("DuplicateTokenEx(%s, 0x%x, %d, %s) = %s %s", HandleName(token).c_str(), access, static_cast<int>(level),
            type == TokenPrimary ? "TokenPrimary" : "TokenImpersonation", Bool(result), HandleName(*newToken).c_str());
    return result;
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL inheritHandles, DWORD flags, LPVOID environment, LPCSTR directory,
                           LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information)
{
    BOOL result = StartProcess("CreateProcessA", ActionToken(), application, commandLine, flags, environment, directory,
                               startup, information);
    LogCall("CreateProcessA(%s, %s, %s, 0x%x, %s, %s, %s) = %s", Str(application).c_str(), Str(commandLine).c_str(),
            Bool(inheritHandles), flags, environment != nullptr ? "environment" : "null", Str(directory).c_str(),
            Desktop(startup).c_str(), Started(result, information).c_str());
    return result;
}

// Only the system account (a service) may start a process with another
// user's token; it runs in the token's session as its user, at its level.
BOOL WINAPI CreateProcessAsUserA(HANDLE token, LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                                 LPSECURITY_ATTRIBUTES, BOOL inheritHandles, DWORD flags, LPVOID environment,
                                 LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information)
{
    Handle* handle = FindHandle(token);
    BOOL result = FALSE;
    std::string who = "?";
    if (handle == nullptr || handle->kind != Handle::TokenHandle || !handle->token.primary) {
        S.lastError = ERROR_INVALID_HANDLE;
    } else {
        who = Format("%s in session %u%s", handle->token.user.c_str(), handle->token.session,
                     handle->token.elevated ? ", elevated" : "");
        if (!S.actionIsSystem) {
            S.lastError = ERROR_PRIVILEGE_NOT_HELD;
        } else {
            result = StartProcess("CreateProcessAsUserA", handle->token, application, commandLine, flags, environment,
                                  directory, startup, information);
        }
    }
    LogCall("CreateProcessAsUserA(%s [%s], %s, %s, %s, 0x%x, %s, %s, %s) = %s", HandleName(token).c_str(), who.c_str(),
            Str(application).c_str(), Str(commandLine).c_str(), Bool(inheritHandles), flags,
            environment != nullptr ? "environment" : "null", Str(directory).c_str(), Desktop(startup).c_str(),
            Started(result, information).c_str());
    return result;
}

// Time passes until the process has ended or the time-out. A failure is the
// answer for a handle without the right to wait on it.
DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD ms)
{
    Settle();
    Handle* handle = FindHandle(object);
    DWORD result = WAIT_FAILED;
    DWORD start = S.now;
    if (ShouldFail("WaitForSingleObject") || handle == nullptr || handle->kind != Handle::ProcessHandle) {
        S.lastError = ERROR_INVALID_HANDLE;
    } else {
        Proc& process = S.processes[handle->process];
        if (!process.shown.alive) {
            result = WAIT_OBJECT_0;
        } else if (process.endsAt != kNever && process.endsAt - S.now <= ms) {
            S.now = process.endsAt;
            Settle();
            result = WAIT_OBJECT_0;
        } else {
            if (ms == 0xFFFFFFFF)
                throw std::logic_error("a wait without end for a process that never ends");
            S.now += ms;
            Settle();
            result = WAIT_TIMEOUT;
        }
    }
    LogCall("WaitForSingleObject(%s, %u) = %s after %u ms", HandleName(object).c_str(), ms,
            result == WAIT_OBJECT_0  ? "WAIT_OBJECT_0"
            : result == WAIT_TIMEOUT ? "WAIT_TIMEOUT"
                                     : "WAIT_FAILED",
            S.now - start);
    return result;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, DWORD* code)
{
    Settle();
    Handle* handle = FindHandle(process);
    BOOL result = FALSE;
    if (ShouldFail("GetExitCodeProcess") || handle == nullptr || handle->kind != Handle::ProcessHandle) {
        S.lastError = ERROR_INVALID_HANDLE;
    } else {
        *code = S.processes[handle->process].shown.exitCode;
        result = TRUE;
    }
    LogCall("GetExitCodeProcess(%s) = %s%s", HandleName(process).c_str(), Bool(result),
            result ? Format(" (%u)", *code).c_str() : "");
    return result;
}

BOOL WINAPI TerminateProcess(HANDLE process, UINT code)
{
    Settle();
    Handle* handle = FindHandle(process);
    BOOL result = FALSE;
    if (ShouldFail("TerminateProcess") || handle == nullptr || handle->kind != Handle::ProcessHandle ||
        (handle->access & PROCESS_TERMINATE) == 0) {
        S.lastError = ERROR_ACCESS_DENIED;
    } else {
        Proc& target = S.processes[handle->process];
        if (target.shown.alive)
            End(&target, S.now, code);
        result = TRUE;
    }
    LogCall("TerminateProcess(%s, %u) = %s", HandleName(process).c_str(), code, Bool(result));
    return result;
}

// A failure leaves the handle open, as for a handle protected from closing.
BOOL WINAPI CloseHandle(HANDLE object)
{
    auto it = S.handles.find(reinterpret_cast<uintptr_t>(object));
    BOOL result = it != S.handles.end() && it->second.kind != Handle::KeyHandle && !ShouldFail("CloseHandle");
    if (result)
        S.handles.erase(it);
    else
        S.lastError = ERROR_INVALID_HANDLE;
    LogCall("CloseHandle(%s) = %s", HandleName(object).c_str(), Bool(result));
    return result;
}

// ---- the process list ---------------------------------------------------------------

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD processId)
{
    Settle();
    HANDLE result = INVALID_HANDLE_VALUE;
    if (ShouldFail("CreateToolhelp32Snapshot") || flags != TH32CS_SNAPPROCESS) {
        S.lastError = ERROR_NOT_ENOUGH_MEMORY;
    } else {
        Handle snapshot = OfKind(Handle::SnapshotHandle);
        for (const auto& entry : S.processes)
            if (entry.second.shown.alive)
                snapshot.entries.emplace_back(entry.first, FileName(entry.second.shown.exe));
        result = NewHandle(snapshot);
    }
    LogCall("CreateToolhelp32Snapshot(0x%x, %u) = %s", flags, processId, HandleName(result).c_str());
    return result;
}

static BOOL NextEntry(const char* call, HANDLE snapshot, PROCESSENTRY32* entry, bool first)
{
    Handle* handle = FindHandle(snapshot);
    BOOL result = FALSE;
    if (handle == nullptr || handle->kind != Handle::SnapshotHandle || entry->dwSize != sizeof(PROCESSENTRY32)) {
        S.lastError = ERROR_INVALID_PARAMETER;
    } else if (ShouldFail(call)) {
        S.lastError = ERROR_INVALID_DATA;
    } else {
        if (first)
            handle->next = 0;
        if (handle->next >= handle->entries.size()) {
            S.lastError = ERROR_NO_MORE_FILES;
        } else {
            const auto& found = handle->entries[handle->next++];
            entry->th32ProcessID = found.first;
            snprintf(entry->szExeFile, MAX_PATH, "%s", found.second.c_str());
            result = TRUE;
        }
    }
    LogCall("%s(%s) = %s%s", call, HandleName(snapshot).c_str(), Bool(result),
            result ? Format(" (%u %s)", entry->th32ProcessID, entry->szExeFile).c_str() : "");
    return result;
}

BOOL WINAPI Process32First(HANDLE snapshot, PROCESSENTRY32* entry)
{
    return NextEntry("Process32First", snapshot, entry, true);
}

BOOL WINAPI Process32Next(HANDLE snapshot, PROCESSENTRY32* entry)
{
    return NextEntry("Process32Next", snapshot, entry, false);
}

// ---- wtsapi32 and userenv --------------------------------------------------------------

// The token of the user signed in to the session, for the system account
// only; never an elevated one: the user's filtered token, as Windows gives it.
BOOL WINAPI WTSQueryUserToken(DWORD session, PHANDLE token)
{
    BOOL result = FALSE;
    *token = nullptr;
    auto it = S.sessions.find(session);
    if (ShouldFail("WTSQueryUserToken")) {
        S.lastError = ERROR_NO_TOKEN;
    } else if (!S.actionIsSystem) {
        S.lastError = ERROR_PRIVILEGE_NOT_HELD;
    } else if (it == S.sessions.end() || it->second.user.empty()) {
        S.lastError = ERROR_NO_TOKEN;
    } else {
        Handle made = OfKind(Handle::TokenHandle);
        made.access = 0xF01FF;
        made.token = Token{ it->second.user, session, false, true };
        *token = NewHandle(made);
        result = TRUE;
    }
    LogCall("WTSQueryUserToken(%u) = %s %s", session, Bool(result), HandleName(*token).c_str());
    return result;
}

BOOL WINAPI CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit)
{
    Handle* handle = FindHandle(token);
    BOOL result = FALSE;
    *environment = nullptr;
    if (ShouldFail("CreateEnvironmentBlock") || handle == nullptr || handle->kind != Handle::TokenHandle) {
        S.lastError = ERROR_INVALID_HANDLE;
    } else {
        *environment = malloc(16);
        S.environments.insert(*environment);
        result = TRUE;
    }
    LogCall("CreateEnvironmentBlock(%s, %s) = %s", HandleName(token).c_str(), Bool(inherit), Bool(result));
    return result;
}

BOOL WINAPI DestroyEnvironmentBlock(LPVOID environment)
{
    BOOL result = S.environments.count(environment) != 0 && !ShouldFail("DestroyEnvironmentBlock");
    if (result) {
        S.environments.erase(environment);
        free(environment);
    } else {
        S.lastError = ERROR_INVALID_PARAMETER;
    }
    LogCall("DestroyEnvironmentBlock() = %s", Bool(result));
    return result;
}

// ---- advapi32: the registry -------------------------------------------------------------

// A user without administrator rights may read HKLM, and write nowhere in it.
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES,
                            PHKEY result, DWORD* disposition)
{
    std::string parent;
    LONG error = ERROR_SUCCESS;
    *result = nullptr;
    if (ShouldFail("RegCreateKeyExA"))
        error = ERROR_ACCESS_DENIED;
    else if (!KeyPath(key, &parent))
        error = ERROR_INVALID_HANDLE;
    else if (!S.actionIsSystem)
        error = ERROR_ACCESS_DENIED;
    if (error == ERROR_SUCCESS) {
        std::string path = Join(parent, subKey);
        bool made = S.registry.count(path) == 0;
        if (made)
            S.registry[path].isVolatile = (options & REG_OPTION_VOLATILE) != 0;
        if (disposition != nullptr)
            *disposition = made ? 1 : 2;
        *result = NewKeyHandle(path);
    }
    LogCall("RegCreateKeyExA(%s, %s, 0x%x, 0x%x) = %d %s", HandleName(key).c_str(), Str(subKey).c_str(), options,
            access, error, HandleName(*result).c_str());
    return error;
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    std::string parent;
    LONG error = ERROR_SUCCESS;
    *result = nullptr;
    if (ShouldFail("RegOpenKeyExA"))
        error = ERROR_ACCESS_DENIED;
    else if (!KeyPath(key, &parent))
        error = ERROR_INVALID_HANDLE;
    else if (S.registry.count(Join(parent, subKey)) == 0)
        error = ERROR_FILE_NOT_FOUND;
    else if (!S.actionIsSystem && (access & KEY_SET_VALUE) != 0)
        error = ERROR_ACCESS_DENIED;
    if (error == ERROR_SUCCESS)
        *result = NewKeyHandle(Join(parent, subKey));
    LogCall("RegOpenKeyExA(%s, %s, 0x%x) = %d %s", HandleName(key).c_str(), Str(subKey).c_str(), access, error,
            HandleName(*result).c_str());
    return error;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    std::string path;
    LONG error = ERROR_SUCCESS;
    if (ShouldFail("RegQueryValueExA")) {
        error = ERROR_ACCESS_DENIED;
    } else if (!KeyPath(key, &path)) {
        error = ERROR_INVALID_HANDLE;
    } else {
        Key& found = S.registry[path];
        auto it = found.values.find(Upper(name != nullptr ? name : ""));
        if (it == found.values.end()) {
            error = ERROR_FILE_NOT_FOUND;
        } else {
            if (type != nullptr)
                *type = it->second.type;
            DWORD needed = static_cast<DWORD>(it->second.bytes.size());
            if (data != nullptr && *size < needed)
                error = ERROR_MORE_DATA;
            else if (data != nullptr)
                memcpy(data, it->second.bytes.data(), needed);
            *size = needed;
        }
    }
    LogCall("RegQueryValueExA(%s, %s, %s) = %d (%u bytes)", HandleName(key).c_str(), Str(name).c_str(),
            data != nullptr ? "data" : "null", error, size != nullptr ? *size : 0);
    return error;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    std::string path;
    LONG error = ERROR_SUCCESS;
    if (ShouldFail("RegSetValueExA"))
        error = ERROR_ACCESS_DENIED;
    else if (!KeyPath(key, &path))
        error = ERROR_INVALID_HANDLE;
    else if (!S.actionIsSystem)
        error = ERROR_ACCESS_DENIED;
    if (error == ERROR_SUCCESS) {
        Key& found = S.registry[path];
        std::string upper = Upper(name != nullptr ? name : "");
        found.values[upper] = Value{ type, std::string(reinterpret_cast<const char*>(data), size) };
        found.names[upper] = name != nullptr ? name : "";
    }
    LogCall("RegSetValueExA(%s, %s, %u, %u bytes) = %d", HandleName(key).c_str(), Str(name).c_str(), type, size, error);
    return error;
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name)
{
    std::string path;
    LONG error = ERROR_SUCCESS;
    if (ShouldFail("RegDeleteValueA"))
        error = ERROR_ACCESS_DENIED;
    else if (!KeyPath(key, &path))
        error = ERROR_INVALID_HANDLE;
    else if (!S.actionIsSystem)
        error = ERROR_ACCESS_DENIED;
    else if (S.registry[path].values.erase(Upper(name != nullptr ? name : "")) == 0)
        error = ERROR_FILE_NOT_FOUND;
    LogCall("RegDeleteValueA(%s, %s) = %d", HandleName(key).c_str(), Str(name).c_str(), error);
    return error;
}

// A key goes with its values; one with subkeys stays.
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
    std::string parent;
    LONG error = ERROR_SUCCESS;
    if (ShouldFail("RegDeleteKeyA")) {
        error = ERROR_ACCESS_DENIED;
    } else if (!KeyPath(key, &parent)) {
        error = ERROR_INVALID_HANDLE;
    } else if (!S.actionIsSystem) {
        error = ERROR_ACCESS_DENIED;
    } else {
        std::string path = Join(parent, subKey);
        if (S.registry.count(path) == 0)
            error = ERROR_FILE_NOT_FOUND;
        for (const auto& other : S.registry)
            if (other.first.compare(0, path.size() + 1, path + "\\") == 0)
                error = ERROR_ACCESS_DENIED;
        if (error == ERROR_SUCCESS)
            S.registry.erase(path);
    }
    LogCall("RegDeleteKeyA(%s, %s) = %d", HandleName(key).c_str(), Str(subKey).c_str(), error);
    return error;
}

LONG WINAPI RegQueryInfoKeyA(HKEY key, LPSTR, DWORD*, DWORD*, DWORD* subKeys, DWORD*, DWORD*, DWORD* values, DWORD*,
                             DWORD*, DWORD*, void*)
{
    std::string path;
    LONG error = ERROR_SUCCESS;
    if (ShouldFail("RegQueryInfoKeyA")) {
        error = ERROR_ACCESS_DENIED;
    } else if (!KeyPath(key, &path)) {
        error = ERROR_INVALID_HANDLE;
    } else {
        DWORD below = 0;
        for (const auto& other : S.registry)
            if (other.first.compare(0, path.size() + 1, path + "\\") == 0)
                ++below;
        if (subKeys != nullptr)
            *subKeys = below;
        if (values != nullptr)
            *values = static_cast<DWORD>(S.registry[path].values.size());
    }
    LogCall("RegQueryInfoKeyA(%s) = %d", HandleName(key).c_str(), error);
    return error;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    auto it = S.handles.find(reinterpret_cast<uintptr_t>(key));
    LONG error = ERROR_SUCCESS;
    if (it == S.handles.end() || it->second.kind != Handle::KeyHandle)
        error = ERROR_INVALID_HANDLE;
    else if (ShouldFail("RegCloseKey"))
        error = ERROR_ACCESS_DENIED;
    else
        S.handles.erase(it);
    LogCall("RegCloseKey(%s) = %d", HandleName(key).c_str(), error);
    return error;
}

// ---- msi: the action's data and the installation's log -----------------------------------

UINT WINAPI MsiGetPropertyA(MSIHANDLE install, LPCSTR name, LPSTR value, DWORD* length)
{
    UINT error = ERROR_SUCCESS;
    std::string text = std::string(name) == "CustomActionData" ? S.actionData : "";
    if (ShouldFail("MsiGetPropertyA") || install != Install()) {
        error = ERROR_INVALID_HANDLE;
    } else if (text.size() + 1 > *length) {
        error = ERROR_MORE_DATA;
        *length = static_cast<DWORD>(text.size());
    } else {
        memcpy(value, text.c_str(), text.size() + 1);
        *length = static_cast<DWORD>(text.size());
    }
    LogCall("MsiGetPropertyA(install, %s) = %u%s", Str(name).c_str(), error,
            error == ERROR_SUCCESS ? (" " + Str(value)).c_str() : "");
    return error;
}

MSIHANDLE WINAPI MsiCreateRecord(UINT fields)
{
    MSIHANDLE record = 0;
    if (!ShouldFail("MsiCreateRecord")) {
        record = ++S.recordsMade;
        S.records[record] = "";
    }
    LogCall("MsiCreateRecord(%u) = %s", fields, record != 0 ? Format("record%lu", record).c_str() : "0");
    return record;
}

UINT WINAPI MsiRecordSetStringA(MSIHANDLE record, UINT field, LPCSTR value)
{
    UINT error = ERROR_SUCCESS;
    if (ShouldFail("MsiRecordSetStringA") || S.records.count(record) == 0 || field != 0)
        error = ERROR_INVALID_HANDLE;
    else
        S.records[record] = value;
    LogCall("MsiRecordSetStringA(record%lu, %u, %s) = %u", record, field, Str(value).c_str(), error);
    return error;
}

int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record)
{
    int result = -1;
    if (!ShouldFail("MsiProcessMessage") && install == Install() && type == INSTALLMESSAGE_INFO &&
        S.records.count(record) != 0) {
        S.installLog.push_back(S.records[record]);
        result = 1;  // IDOK
    }
    LogCall("MsiProcessMessage(install, INSTALLMESSAGE_INFO, record%lu) = %d", record, result);
    return result;
}

UINT WINAPI MsiCloseHandle(MSIHANDLE handle)
{
    UINT error = ERROR_SUCCESS;
    if (ShouldFail("MsiCloseHandle") || S.records.erase(handle) == 0)
        error = ERROR_INVALID_HANDLE;
    LogCall("MsiCloseHandle(record%lu) = %u", handle, error);
    return error;
}

// ---- the process heap ------------------------------------------------------------------

static HANDLE const TheHeap = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x3A0000));

HANDLE WINAPI GetProcessHeap()
{
    HANDLE heap = ShouldFail("GetProcessHeap") ? nullptr : TheHeap;
    LogCall("GetProcessHeap() = %s", heap != nullptr ? "heap" : "null");
    return heap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (heap != TheHeap)
        throw std::logic_error("HeapAlloc on a heap that does not exist");
    void* block = ShouldFail("HeapAlloc") ? nullptr : malloc(bytes > 0 ? bytes : 1);
    if (block != nullptr) {
        memset(block, 0xCD, bytes);  // what a program must not read before it writes
        S.blocks[block] = S.blocks.size() + 1;
    }
    LogCall("HeapAlloc(heap, 0x%x, %zu) = %s", flags, bytes, block != nullptr ? "block" : "null");
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    if (heap != TheHeap || S.blocks.count(block) == 0)
        throw std::logic_error("HeapFree of a block the heap did not give");
    BOOL result = !ShouldFail("HeapFree");
    if (result) {
        S.blocks.erase(block);
        free(block);
    }
    LogCall("HeapFree(heap, 0x%x, block) = %s", flags, Bool(result));
    return result;
}

// ---- text: the system's computations, which cannot fail ------------------------------------

int WINAPI lstrlenA(LPCSTR text)
{
    return text == nullptr ? 0 : static_cast<int>(strlen(text));
}

LPSTR WINAPI lstrcpynA(LPSTR to, LPCSTR from, int length)
{
    if (length <= 0)
        return to;
    int i = 0;
    for (; i < length - 1 && from[i] != '\0'; ++i)
        to[i] = from[i];
    to[i] = '\0';
    return to;
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b)
{
    return strcasecmp(a, b);
}

// Windows' own formatting: %s, %c, %d, %u, %x with "l" for the 32-bit long and
// a width; at most 1,024 characters, and the terminator.
int WINAPI wvsprintfA(LPSTR out, LPCSTR format, va_list args)
{
    std::string text;
    for (const char* at = format; *at != '\0'; ++at) {
        if (*at != '%') {
            text += *at;
            continue;
        }
        ++at;
        std::string spec = "%";
        while (*at == '-' || *at == '0' || (*at >= '1' && *at <= '9'))
            spec += *at++;
        if (*at == 'l')
            ++at;  // long is 32 bits on Windows: the argument is an int
        char buffer[64];
        switch (*at) {
        case 's': text += va_arg(args, const char*); break;
        case 'c': text += static_cast<char>(va_arg(args, int)); break;
        case 'd':
        case 'i':
            snprintf(buffer, sizeof buffer, (spec + "d").c_str(), va_arg(args, int));
            text += buffer;
            break;
        case 'u':
        case 'x':
        case 'X':
            snprintf(buffer, sizeof buffer, (spec + *at).c_str(), va_arg(args, unsigned int));
            text += buffer;
            break;
        case '%': text += '%'; break;
        default: throw std::logic_error("wsprintfA: a format the program should not use");
        }
    }
    if (text.size() > 1024)
        text.resize(1024);
    memcpy(out, text.c_str(), text.size() + 1);
    return static_cast<int>(text.size());
}

int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(out, format, args);
    va_end(args);
    return length;
}
