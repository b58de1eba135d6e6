// The transcript (testvm.log) and the scenario (testvm.ini), both kept in the
// folder the DLL was loaded from.
#include "testvm.h"

namespace testvm {

namespace {

CRITICAL_SECTION g_lock;
std::wstring g_home;  // with a trailing backslash
Scenario g_scenario;

// One write per line on a handle opened for appending only: the system then
// places each write at the end of the file, even if another process appends
// too. Closing makes the line visible to readers; no flush to disk is needed.
void appendLine(const std::string& line) {
    HANDLE h = CreateFileW(homeFile(L"testvm.log").c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

template <class Range>
std::string joinLine(const Range& fields) {
    std::string line;
    bool first = true;
    for (const std::string& f : fields) {
        if (!first) line += '\t';
        line += f;
        first = false;
    }
    line += '\n';
    return line;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool readWholeFile(const std::wstring& path, std::string& out) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    out.clear();
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(h);
    return true;
}

// "<bytes>:<handle|stderr>:<lines per write>[:<go file>]"
bool parseBurst(const std::string& value, Scenario::Burst& b) {
    std::vector<std::string> f(1);
    for (const char c : value) c == ':' ? f.emplace_back() : f.back() += c;
    long long lines = 0;
    if (f.size() < 3 || f.size() > 4 || !parseInteger(f[0], b.bytes) || b.bytes <= 0 || b.bytes > (1LL << 40) ||
        (f[1] != "handle" && f[1] != "stderr") || !parseInteger(f[2], lines) || lines <= 0 || lines > 10000 ||
        (f.size() == 4 && f[3].empty()))
        return false;
    b.handle = f[1] == "handle";
    b.linesPerWrite = static_cast<int>(lines);
    if (f.size() == 4) b.goFile = f[3];
    return true;
}

void applySetting(int lineNo, const std::string& key, const std::string& value) {
    Scenario& s = g_scenario;
    const std::string where = "testvm.ini line " + decimal(lineNo) + ": ";
    auto bad = [&] { violation(where + "bad value for " + key + ": " + escapeNarrow(value.c_str())); };
    long long n = 0;
    if (key == "create_result") {
        if (parseInteger(value, n) && n >= -0x7FFFFFFFLL - 1 && n <= 0x7FFFFFFF)
            s.createResult = static_cast<long>(n);
        else
            bad();
    } else if (key == "missing_class") {
        s.missingClasses.push_back(value);
    } else if (key == "missing_method") {
        s.missingMethods.push_back(value);
    } else if (key == "main") {
        if (value == "return") {
            s.main = Scenario::Main::Return;
        } else if (value == "throw") {
            s.main = Scenario::Main::Throw;
        } else if (value.compare(0, 6, "block:") == 0 && parseInteger(value.substr(6), n) &&
                   n >= 0 && n < 0xFFFFFFFFLL) {
            s.main = Scenario::Main::Block;
            s.blockMs = static_cast<DWORD>(n);
        } else {
            bad();
        }
    } else if (key == "threads") {
        if (parseInteger(value, n) && n >= 0 && n <= 64)
            s.threads = static_cast<int>(n);
        else
            bad();
    } else if (key == "oom_array") {
        if (value == "0" || value == "1")
            s.oomArray = value == "1";
        else
            bad();
    } else if (key == "fail_jni") {
        if (parseInteger(value, n) && n > 0)
            s.failJni = n;
        else
            bad();
    } else if (key == "oom_string") {
        if (parseInteger(value, n) && n >= 0)
            s.oomString = n;
        else
            bad();
    } else if (key == "say") {
        s.say.push_back(value);
    } else if (key == "streams" || key == "handles" || key == "close_stdout" || key == "quiet") {
        bool& flag = key == "streams" ? s.streams : key == "handles" ? s.handles : key == "quiet" ? s.quiet : s.closeStdout;
        if (value == "1")
            flag = true;
        else
            bad();
    } else if (key == "chatter" || key == "printf_chatter") {
        const bool plain = key == "chatter";
        long long lines = 0;
        const auto colon = value.find(':');
        if (colon != std::string::npos && parseInteger(value.substr(0, colon), n) && n > 0 && n <= 16 &&
            parseInteger(value.substr(colon + 1), lines) && lines > 0 && lines <= 10000) {
            (plain ? s.chatterThreads : s.printfThreads) = static_cast<int>(n);
            (plain ? s.chatterLines : s.printfLines) = static_cast<int>(lines);
        } else {
            bad();
        }
    } else if (key == "split_line") {
        if (parseInteger(value, n) && n >= 0 && n <= 600000)
            s.splitLineMs = static_cast<long>(n);
        else
            bad();
    } else if (key == "main_says") {
        if (!value.empty())
            s.mainSays = value;
        else
            bad();
    } else if (key == "burst") {
        Scenario::Burst b;
        if (parseBurst(value, b))
            s.bursts.push_back(b);
        else
            bad();
    } else if (key == "burst_exit") {
        if (parseInteger(value, n) && n >= -0x7FFFFFFFLL - 1 && n <= 0x7FFFFFFF) {
            s.burstExit = true;
            s.burstExitCode = static_cast<long>(n);
        } else {
            bad();
        }
    } else if (key == "create_delay") {
        if (parseInteger(value, n) && n >= 0 && n < 0xFFFFFFFFLL)
            s.createDelayMs = static_cast<DWORD>(n);
        else
            bad();
    } else if (key == "create_exit" || key == "app_exit" || key == "crt_exit" || key == "runtime_exit") {
        long long delay = 0;
        const auto colon = value.find(':');
        const bool app = key != "create_exit";
        const std::string code = app ? value.substr(0, colon) : value;
        if ((!app || colon != std::string::npos) && parseInteger(code, n) && n >= -0x7FFFFFFFLL - 1 &&
            n <= 0x7FFFFFFF && (!app || (parseInteger(value.substr(colon + 1), delay) && delay >= 0))) {
            if (app) {
                s.appEnd = key == "app_exit"  ? Scenario::End::Exit
                           : key == "crt_exit" ? Scenario::End::CrtExit
                                               : Scenario::End::RuntimeExit;
                s.appExitCode = static_cast<long>(n);
                s.appEndDelayMs = static_cast<DWORD>(delay);
            } else {
                s.createEnd = Scenario::End::Exit;
                s.createExitCode = static_cast<long>(n);
            }
        } else {
            bad();
        }
    } else if (key == "create_abort") {
        if (value == "1")
            s.createEnd = Scenario::End::Abort;
        else
            bad();
    } else if (key == "app_abort") {
        if (parseInteger(value, n) && n >= 0 && n < 0xFFFFFFFFLL) {
            s.appEnd = Scenario::End::Abort;
            s.appEndDelayMs = static_cast<DWORD>(n);
        } else {
            bad();
        }
    } else if (key == "exit_refuse") {
        if (value == "1")
            s.exitRefuse = true;
        else
            bad();
    } else if (key == "exit_hooks") {
        if (value == "forever")
            s.exitHooksMs = INFINITE;
        else if (parseInteger(value, n) && n >= 0 && n < 0xFFFFFFFFLL)
            s.exitHooksMs = static_cast<DWORD>(n);
        else
            bad();
    } else if (key == "exit_halt") {
        if (parseInteger(value, n) && n >= -0x7FFFFFFFLL - 1 && n <= 0x7FFFFFFF) {
            s.exitHalt = true;
            s.exitHaltCode = static_cast<long>(n);
        } else {
            bad();
        }
    } else if (key == "receiver") {
        if (!value.empty())
            s.receiver = value;
        else
            bad();
    } else {
        // A misspelt key must not quietly leave a test running the default case.
        violation(where + "unknown key " + escapeNarrow(key.c_str()));
    }
}

}  // namespace

void lockInit() { InitializeCriticalSection(&g_lock); }
Guard::Guard() { EnterCriticalSection(&g_lock); }
Guard::~Guard() { LeaveCriticalSection(&g_lock); }

std::wstring homeFile(const wchar_t* name) { return g_home + name; }

void setHomeFolder(HINSTANCE self) {
    // Paths can be longer than MAX_PATH; the call truncates silently when the
    // buffer is short, so grow it until the result fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) {
            path.clear();
            break;
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto slash = path.find_last_of(L"\\/");
    g_home = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// A quiet VM (a benchmark's) writes only what tells whether a run went well.
bool kept(const std::string& kind) {
    return !g_scenario.quiet || kind == "main-returned" || kind == "violation" || kind == "trap";
}

void emit(std::initializer_list<std::string> fields) {
    Guard g;
    if (kept(*fields.begin())) appendLine(joinLine(fields));
}

void emit(const std::vector<std::string>& fields) {
    Guard g;
    if (kept(fields.front())) appendLine(joinLine(fields));
}

void emitAtProcessExit(const std::string& field) {
    const bool locked = TryEnterCriticalSection(&g_lock) != FALSE;
    appendLine(field + "\n");
    if (locked) LeaveCriticalSection(&g_lock);
}

void violation(const std::string& text) { emit({"violation", text}); }

void loadScenario() {
    std::string text;
    if (!readWholeFile(homeFile(L"testvm.ini"), text)) return;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // Notepad's BOM
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            violation("testvm.ini line " + decimal(lineNo) + ": not key=value: " +
                      escapeNarrow(line.c_str()));
            continue;
        }
        applySetting(lineNo, trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
    }
}

const Scenario& scenario() { return g_scenario; }

std::string decimal(long long v) { return std::to_string(v); }

std::string threadIdText() { return decimal(GetCurrentThreadId()); }

}  // namespace testvm
