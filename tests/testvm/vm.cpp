// The VM: a handful of classes and objects, the JNI function tables, and the
// checks that turn a broken JNI rule into a `violation` line instead of the
// crash or silent corruption a real VM would give.
//
// Rule of thumb: when a call breaks a rule, it records the violation and does
// nothing, returning 0/NULL, so the transcript shows the first mistake cleanly.
#define _JNI_IMPLEMENTATION_  // jni.h then declares JNI_CreateJavaVM dllexport
#include <jni.h>

#include "testvm.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

namespace testvm {

namespace {

constexpr const char* kMainClass = "vantor/str/diskarray/rmi/FileServer";
constexpr const char* kStringClass = "java/lang/String";
constexpr const char* kMainSig = "([Ljava/lang/String;)V";
constexpr const char* kSystemClass = "java/lang/System";
// Arrays and strings longer than this make OutOfMemoryError, as on a small
// heap, instead of letting a garbage length exhaust the host process.
constexpr jsize kMaxLength = 1 << 20;
constexpr std::uint32_t kRefMagic = 0x4A524546;  // "JREF"

// ---- objects ----------------------------------------------------------------

enum class Kind { Class, String, Array, Instance, Throwable };

const char* kindName(Kind k) {
    switch (k) {
    case Kind::Class: return "a class";
    case Kind::String: return "a string";
    case Kind::Array: return "an array";
    case Kind::Instance: return "an object";
    case Kind::Throwable: return "a throwable";
    }
    return "?";
}

struct Obj {
    explicit Obj(Kind k) : kind(k) {}
    Kind kind;
    Obj* cls = nullptr;           // the object's class; classes use classOf()
    std::string name;             // Class: its internal name
    bool findable = false;        // Class: FindClass may return it
    std::u16string text;          // String
    std::vector<Obj*> elements;   // Array (element class: the array class's `element`)
    Obj* element = nullptr;       // array Class: its element class
};

enum class What { Main, GetInstance, Dispatch, Exit };

struct Method {
    What what;
    Obj* cls;
    std::string name;
    std::string sig;
    bool isStatic;
    bool returnsVoid;
    bool issued = false;  // handed out by a lookup
};

struct Env {
    JNIEnv jni;  // the host's JNIEnv* is the address of this member
    DWORD tid;
    std::string threadName;
    bool detached = false;
    Obj* pending = nullptr;  // the pending exception
};

// A reference (local or global) handed to the host. References and objects are
// never freed, so a stale handle can never alias a newer one and is always
// recognised for what it was.
struct Ref {
    std::uint32_t magic;
    Obj* obj;
    Env* owner;  // null: a global reference
    bool deleted;
};

JNINativeInterface_ g_envTable;
JNIInvokeInterface_ g_invokeTable;
JavaVM g_vm;

bool g_createCalled = false;
bool g_consoleHandlerSet = false;
std::map<std::string, Obj*> g_classes;
std::unordered_map<const void*, Ref*> g_refs;
std::unordered_map<const void*, Env*> g_envs;  // by the JNIEnv* handed out
std::map<DWORD, Env*> g_attached;              // by thread id
std::vector<Method*> g_methods;
Obj* g_receiver = nullptr;                     // the receiver's single instance
long long g_stringsMade = 0;
int g_unnamedThreads = 0;
volatile LONG g_threadsRunning = 0;

Obj* classNamed(const std::string& name) {
    Obj*& c = g_classes[name];
    if (!c) {
        c = new Obj(Kind::Class);
        c->name = name;
    }
    return c;
}

Obj* arrayClassOf(Obj* element) {
    Obj* c = classNamed("[L" + element->name + ";");
    c->element = element;
    return c;
}

Obj* classOf(Obj* o) { return o->kind == Kind::Class ? classNamed("java/lang/Class") : o->cls; }

jobject newRef(Obj* o, Env* owner) {
    Ref* r = new Ref{kRefMagic, o, owner, false};
    g_refs[r] = r;
    return reinterpret_cast<jobject>(r);
}

Ref* findRef(const void* h) {
    const auto it = g_refs.find(h);
    if (it == g_refs.end() || it->second->magic != kRefMagic) return nullptr;
    return it->second;
}

Method* findMethod(const void* id) {
    for (Method* m : g_methods)
        if (m == id) return m;
    return nullptr;
}

std::string pointerText(const void* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

bool isSupportedVersion(jint v) {
    return v == JNI_VERSION_1_1 || v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 ||
           v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8;
}

bool listed(const std::vector<std::string>& list, const char* name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

Env* newEnv(DWORD tid, const std::string& threadName) {
    Env* e = new Env();
    e->jni.functions = &g_envTable;
    e->tid = tid;
    e->threadName = threadName;
    g_envs[&e->jni] = e;
    g_attached[tid] = e;
    return e;
}

void throwNew(Env* e, const char* cls) {
    Obj* t = new Obj(Kind::Throwable);
    t->cls = classNamed(cls);
    e->pending = t;
    emit({"exception", cls});
}

// ---- call records -----------------------------------------------------------
// These describe arguments for the `jni` line without judging them; the checks
// come after the line is written.

std::string classText(const void* h) {
    if (!h) return "(null)";
    const Ref* r = findRef(h);
    if (!r || r->obj->kind != Kind::Class) return "(invalid)";
    return escapeNarrow(r->obj->name.c_str());
}

std::string objectClassText(const void* h) {
    if (!h) return "(null)";
    const Ref* r = findRef(h);
    return r ? escapeNarrow(classOf(r->obj)->name.c_str()) : "(invalid)";
}

std::string stringText(const void* h) {
    if (!h) return "(null)";
    const Ref* r = findRef(h);
    if (!r) return "(invalid)";
    return r->obj->kind == Kind::String ? escapeUtf16(r->obj->text) : "(not a string)";
}

std::string methodText(const void* id) {
    if (!id) return "(null)";
    const Method* m = findMethod(id);
    return m ? m->name : "(invalid)";
}

// ---- checks -----------------------------------------------------------------

// Every env function starts here: it writes the `jni` line, then checks the
// env and the pending-exception rule. Returns the env to act on, or null when
// the call must do nothing.
// Counts the host's calls that can fail; true for the one fail_jni names.
bool failsNow(const char* fn) {
    static long long calls = 0;
    if (scenario().failJni == 0 || ++calls != scenario().failJni) return false;
    emit({"jni-failed", fn});
    return true;
}

Env* enter(JNIEnv* jenv, const char* fn, std::initializer_list<std::string> args,
           bool allowedWithPending = false) {
    std::vector<std::string> line{"jni", threadIdText(), fn};
    line.insert(line.end(), args.begin(), args.end());
    emit(line);

    if (inEndingHook()) {
        violation(std::string(fn) + ": called from the VM's exit or abort hook");
        return nullptr;
    }
    const auto it = g_envs.find(jenv);
    if (it == g_envs.end()) {
        violation(std::string(fn) + ": JNIEnv " + pointerText(jenv) + " was not handed out by the VM");
        return nullptr;
    }
    Env* e = it->second;
    if (e->detached) {
        violation(std::string(fn) + ": JNIEnv of thread " + decimal(e->tid) +
                  " used after that thread detached");
        return nullptr;
    }
    if (e->tid != GetCurrentThreadId()) {
        violation(std::string(fn) + ": JNIEnv of thread " + decimal(e->tid) + " used on thread " +
                  threadIdText());
        return nullptr;
    }
    if (e->pending && !allowedWithPending) {
        violation(std::string(fn) + " called while " + classOf(e->pending)->name + " is pending");
        return nullptr;
    }
    // fail_jni: a call that can fail fails as a VM without memory fails it.
    if (!allowedWithPending && failsNow(fn)) {
        throwNew(e, "java/lang/OutOfMemoryError");
        return nullptr;
    }
    return e;
}

// Resolves a handle the host passed as `role`; `want` null accepts any kind.
// Handles are looked up among those issued and never dereferenced otherwise.
Obj* use(Env* e, const char* fn, const void* h, const char* role, const Kind* want) {
    const std::string where = std::string(fn) + ": " + role;
    if (!h) {
        violation(where + " is null");
        return nullptr;
    }
    Ref* r = findRef(h);
    if (!r) {
        violation(where + " " + pointerText(h) + " is not a reference from the VM");
        return nullptr;
    }
    if (r->deleted) {
        violation(where + " is a deleted reference");
        return nullptr;
    }
    if (r->owner && r->owner != e) {
        if (r->owner->detached)
            violation(where + " is a local reference of thread " + decimal(r->owner->tid) +
                      ", which has detached");
        else
            violation(where + " is a local reference of thread " + decimal(r->owner->tid) +
                      " used on thread " + threadIdText());
        return nullptr;
    }
    if (want && r->obj->kind != *want) {
        violation(where + " is " + kindName(r->obj->kind) + ", not " + kindName(*want));
        return nullptr;
    }
    return r->obj;
}

Obj* use(Env* e, const char* fn, const void* h, const char* role, Kind want) {
    return use(e, fn, h, role, &want);
}

Obj* useAny(Env* e, const char* fn, const void* h, const char* role) {
    return use(e, fn, h, role, nullptr);
}

Method* useMethod(const char* fn, const void* id, bool wantStatic, bool wantVoid) {
    const std::string where = std::string(fn) + ": ";
    if (!id) {
        violation(where + "null method ID");
        return nullptr;
    }
    Method* m = findMethod(id);
    if (!m || !m->issued) {
        violation(where + "method ID " + pointerText(id) + " did not come from a method lookup");
        return nullptr;
    }
    if (m->isStatic != wantStatic) {
        violation(where + m->name + " is " + (m->isStatic ? "a static" : "an instance") + " method");
        return nullptr;
    }
    if (m->returnsVoid != wantVoid) {
        violation(where + m->name + " returns " + (m->returnsVoid ? "void" : "an object"));
        return nullptr;
    }
    return m;
}

// ---- the application --------------------------------------------------------

DWORD WINAPI appThread(void*) {
    // A server's worker: lives in the VM until the process ends.
    for (;;) Sleep(20);
}

// A variable or directory text as UTF-16; empty when there is none.
template <typename Read>
std::u16string readWide(Read read) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = read(static_cast<DWORD>(buffer.size()), &buffer[0]);
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(n);  // too small: n is the size it needs
    }
    return std::u16string(buffer.begin(), buffer.end());
}

// The application's current directory, and the per-drive variable ("=C:") of
// its drive, through which relative paths of the form "C:file" resolve.
// Leaves the thread's last error as it found it.
void emitCurrentDirectory() {
    const DWORD savedError = GetLastError();
    const std::u16string dir =
        readWide([](DWORD size, wchar_t* buf) { return GetCurrentDirectoryW(size, buf); });
    std::string drive = "(none)";
    if (dir.size() >= 2 && dir[1] == u':') {
        const wchar_t letter = static_cast<wchar_t>(dir[0] >= u'a' && dir[0] <= u'z' ? dir[0] - 32 : dir[0]);
        const wchar_t name[] = {L'=', letter, L':', L'\0'};
        SetLastError(0);
        const std::u16string value =
            readWide([&name](DWORD size, wchar_t* buf) { return GetEnvironmentVariableW(name, buf, size); });
        if (!value.empty() || GetLastError() != ERROR_ENVVAR_NOT_FOUND) drive = escapeUtf16(value);
    }
    emit({"cwd", escapeUtf16(dir), drive});
    SetLastError(savedError);
}

// main runs without the lock: it may block for long while other threads call in.
void runMain(Env* e, const std::vector<Obj*>& args) {
    const Scenario& s = scenario();
    // Into msvcrt's stdout buffer, which the host shares: whether it comes out
    // before the host's own lines depends on the host flushing it.
    if (!s.mainSays.empty()) std::fputs((s.mainSays + "\n").c_str(), stdout);
    if (s.splitLineMs >= 0) {
        // One line in two writes of the standard output handle, a while apart.
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD written = 0;
        WriteFile(out, "testvm: a line begun ", 21, &written, nullptr);
        Sleep(static_cast<DWORD>(s.splitLineMs));
        WriteFile(out, "and ended\n", 10, &written, nullptr);
    }
    emitCurrentDirectory();
    emit({"main-args", decimal(static_cast<long long>(args.size()))});
    for (std::size_t i = 0; i < args.size(); ++i)
        emit({"main-arg", decimal(static_cast<long long>(i)),
              args[i] ? escapeUtf16(args[i]->text) : "(null)"});

    int started = 0;
    for (int i = 0; i < s.threads; ++i) {
        HANDLE h = CreateThread(nullptr, 0, appThread, nullptr, 0, nullptr);
        if (!h) continue;
        InterlockedIncrement(&g_threadsRunning);
        CloseHandle(h);
        ++started;
    }
    emit({"app-threads", decimal(started)});
    startScenarioThreads();

    if (s.main == Scenario::Main::Block) Sleep(s.blockMs);
    Guard g;
    if (s.main == Scenario::Main::Throw) {
        throwNew(e, "java/lang/RuntimeException");
        emit({"main-threw"});
    } else {
        emit({"main-returned"});
    }
}

// ---- argument access for the Call families ------------------------------------

// The arguments of a Call<type>Method, whichever of the three forms it came in.
// An argument is read only once the method ID is known, so its type is known.
class Args {
public:
    explicit Args(va_list* va) : va_(va) {}
    explicit Args(const jvalue* a) : array_(a), isArray_(true) {}
    bool available() const { return !isArray_ || array_; }
    jobject object() { return isArray_ ? array_[next_++].l : va_arg(*va_, jobject); }
    jint integer() { return isArray_ ? array_[next_++].i : va_arg(*va_, jint); }

private:
    va_list* va_ = nullptr;
    const jvalue* array_ = nullptr;
    bool isArray_ = false;
    std::size_t next_ = 0;
};

jobject callStatic(JNIEnv* jenv, const char* fn, jclass cls, jmethodID id, Args& args,
                   bool wantVoid) {
    Env* e = nullptr;
    std::vector<Obj*> mainArgs;
    bool exit = false;
    jint exitCode = 0;
    {
        Guard g;
        e = enter(jenv, fn, {classText(cls), methodText(id)});
        if (!e) return nullptr;
        Obj* c = use(e, fn, cls, "class", Kind::Class);
        Method* m = useMethod(fn, id, true, wantVoid);
        if (!c || !m) return nullptr;
        if (m->cls != c) {
            violation(std::string(fn) + ": method ID of " + m->cls->name + " used with class " +
                      c->name);
            return nullptr;
        }
        if (m->what == What::GetInstance) return newRef(g_receiver, e);

        if (!args.available()) {
            violation(std::string(fn) + ": null argument array");
            return nullptr;
        }
        exit = m->what == What::Exit;
        if (exit) {
            exitCode = args.integer();
        } else {
            Obj* a = use(e, fn, args.object(), "argument of main", Kind::Array);
            if (!a) return nullptr;
            Obj* element = classOf(a)->element;
            if (element->name != kStringClass) {
                violation(std::string(fn) + ": main takes a String[], not a " + element->name + "[]");
                return nullptr;
            }
            mainArgs = a->elements;
        }
    }
    if (exit) {
        systemExit(exitCode);  // returns only when refused
        Guard g;
        throwNew(e, "java/lang/SecurityException");
        return nullptr;
    }
    runMain(e, mainArgs);
    return nullptr;
}

void callVoid(JNIEnv* jenv, const char* fn, jobject obj, jmethodID id, Args& args) {
    Guard g;
    const Method* known = findMethod(id);
    bool haveCode = false;
    jint code = 0;
    if (known && known->what == What::Dispatch && args.available()) {
        code = args.integer();
        haveCode = true;
    }
    Env* e = enter(jenv, fn, {objectClassText(obj), methodText(id), haveCode ? decimal(code) : "-"});
    if (!e) return;
    Obj* o = useAny(e, fn, obj, "object");
    Method* m = useMethod(fn, id, false, true);
    if (!o || !m) return;
    if (classOf(o) != m->cls) {
        violation(std::string(fn) + ": method ID of " + m->cls->name + " called on " +
                  kindName(o->kind) + " of " + classOf(o)->name);
        return;
    }
    if (!haveCode) {
        violation(std::string(fn) + ": null argument array");
        return;
    }
    emit({"dispatch", decimal(code)});
}

// ---- env functions ----------------------------------------------------------

jclass JNICALL jniFindClass(JNIEnv* jenv, const char* name) {
    Guard g;
    Env* e = enter(jenv, "FindClass", {escapeNarrow(name)});
    if (!e) return nullptr;
    if (!name) {
        violation("FindClass: null class name");
        return nullptr;
    }
    const auto it = g_classes.find(name);
    if (it == g_classes.end() || !it->second->findable ||
        listed(scenario().missingClasses, name)) {
        throwNew(e, "java/lang/NoClassDefFoundError");
        return nullptr;
    }
    return static_cast<jclass>(newRef(it->second, e));
}

jmethodID lookupMethod(JNIEnv* jenv, const char* fn, jclass cls, const char* name,
                       const char* sig, bool wantStatic) {
    Guard g;
    Env* e = enter(jenv, fn, {classText(cls), escapeNarrow(name), escapeNarrow(sig)});
    if (!e) return nullptr;
    Obj* c = use(e, fn, cls, "class", Kind::Class);
    if (!c) return nullptr;
    if (!name || !sig) {
        violation(std::string(fn) + ": null method name or signature");
        return nullptr;
    }
    Method* m = nullptr;
    for (Method* candidate : g_methods)
        if (candidate->cls == c && candidate->name == name) m = candidate;
    if (!m || listed(scenario().missingMethods, name)) {
        throwNew(e, "java/lang/NoSuchMethodError");
        return nullptr;
    }
    if (m->isStatic != wantStatic) {
        violation(std::string(fn) + ": " + m->name + " is " +
                  (m->isStatic ? "a static" : "an instance") + " method");
        throwNew(e, "java/lang/NoSuchMethodError");
        return nullptr;
    }
    if (m->sig != sig) {
        violation(std::string(fn) + ": " + m->name + " has signature " + m->sig + ", not " +
                  escapeNarrow(sig));
        throwNew(e, "java/lang/NoSuchMethodError");
        return nullptr;
    }
    m->issued = true;
    return reinterpret_cast<jmethodID>(m);
}

jmethodID JNICALL jniGetStaticMethodID(JNIEnv* jenv, jclass cls, const char* name, const char* sig) {
    return lookupMethod(jenv, "GetStaticMethodID", cls, name, sig, true);
}

jmethodID JNICALL jniGetMethodID(JNIEnv* jenv, jclass cls, const char* name, const char* sig) {
    return lookupMethod(jenv, "GetMethodID", cls, name, sig, false);
}

jclass JNICALL jniGetObjectClass(JNIEnv* jenv, jobject obj) {
    Guard g;
    Env* e = enter(jenv, "GetObjectClass", {});
    if (!e) return nullptr;
    Obj* o = useAny(e, "GetObjectClass", obj, "object");
    return o ? static_cast<jclass>(newRef(classOf(o), e)) : nullptr;
}

jobjectArray JNICALL jniNewObjectArray(JNIEnv* jenv, jsize len, jclass cls, jobject init) {
    static const char* const fn = "NewObjectArray";
    Guard g;
    Env* e = enter(jenv, fn, {decimal(len), classText(cls)});
    if (!e) return nullptr;
    Obj* c = use(e, fn, cls, "element class", Kind::Class);
    if (!c) return nullptr;
    if (len < 0) {
        violation(std::string(fn) + ": negative length " + decimal(len));
        return nullptr;
    }
    Obj* first = nullptr;
    if (init) {
        first = useAny(e, fn, init, "initial element");
        if (!first) return nullptr;
        if (classOf(first) != c) {
            violation(std::string(fn) + ": initial element of " + classOf(first)->name +
                      " for an array of " + c->name);
            return nullptr;
        }
    }
    if (scenario().oomArray || len > kMaxLength) {
        throwNew(e, "java/lang/OutOfMemoryError");
        return nullptr;
    }
    Obj* a = new Obj(Kind::Array);
    a->cls = arrayClassOf(c);
    a->elements.assign(static_cast<std::size_t>(len), first);
    return static_cast<jobjectArray>(newRef(a, e));
}

void JNICALL jniSetObjectArrayElement(JNIEnv* jenv, jobjectArray array, jsize index, jobject val) {
    static const char* const fn = "SetObjectArrayElement";
    Guard g;
    Env* e = enter(jenv, fn, {decimal(index), stringText(val)});
    if (!e) return;
    Obj* a = use(e, fn, array, "array", Kind::Array);
    if (!a) return;
    Obj* v = nullptr;
    if (val) {
        v = useAny(e, fn, val, "element");
        if (!v) return;
        Obj* element = classOf(a)->element;
        if (classOf(v) != element) {
            violation(std::string(fn) + ": " + kindName(v->kind) + " of " + classOf(v)->name +
                      " stored into an array of " + element->name);
            return;
        }
    }
    if (index < 0 || static_cast<std::size_t>(index) >= a->elements.size()) {
        violation(std::string(fn) + ": index " + decimal(index) + " out of range for length " +
                  decimal(static_cast<long long>(a->elements.size())));
        throwNew(e, "java/lang/ArrayIndexOutOfBoundsException");
        return;
    }
    a->elements[static_cast<std::size_t>(index)] = v;
}

jstring makeString(Env* e, std::u16string text) {
    ++g_stringsMade;
    if (g_stringsMade == scenario().oomString) {
        throwNew(e, "java/lang/OutOfMemoryError");
        return nullptr;
    }
    Obj* s = new Obj(Kind::String);
    s->cls = classNamed(kStringClass);
    s->text = std::move(text);
    return static_cast<jstring>(newRef(s, e));
}

jstring JNICALL jniNewString(JNIEnv* jenv, const jchar* unicode, jsize len) {
    Guard g;
    // A length past the cap is not read at all: it would only fault or exhaust memory.
    const bool readable = unicode && len > 0 && len <= kMaxLength;
    std::u16string text;
    if (readable) text.assign(unicode, unicode + len);
    Env* e = enter(jenv, "NewString", {unicode ? escapeUtf16(text) : "(null)"});
    if (!e) return nullptr;
    if (len < 0) {
        violation("NewString: negative length " + decimal(len));
        return nullptr;
    }
    if (!unicode && len > 0) {
        violation("NewString: null characters with length " + decimal(len));
        return nullptr;
    }
    if (len > kMaxLength) {
        throwNew(e, "java/lang/OutOfMemoryError");
        return nullptr;
    }
    return makeString(e, std::move(text));
}

jstring JNICALL jniNewStringUTF(JNIEnv* jenv, const char* utf) {
    Guard g;
    Env* e = enter(jenv, "NewStringUTF", {escapeNarrow(utf)});
    if (!e) return nullptr;
    if (!utf) {
        violation("NewStringUTF: null string");
        return nullptr;
    }
    // A host that hands over ANSI code page bytes unchanged ends up here.
    std::u16string text;
    if (!decodeModifiedUtf8(utf, text))
        violation("NewStringUTF: not modified UTF-8: " + escapeNarrow(utf));
    return makeString(e, std::move(text));
}

void JNICALL jniCallStaticVoidMethod(JNIEnv* jenv, jclass cls, jmethodID id, ...) {
    va_list va;
    va_start(va, id);
    Args args(&va);
    callStatic(jenv, "CallStaticVoidMethod", cls, id, args, true);
    va_end(va);
}

void JNICALL jniCallStaticVoidMethodV(JNIEnv* jenv, jclass cls, jmethodID id, va_list va) {
    va_list copy;
    va_copy(copy, va);
    Args args(&copy);
    callStatic(jenv, "CallStaticVoidMethodV", cls, id, args, true);
    va_end(copy);
}

void JNICALL jniCallStaticVoidMethodA(JNIEnv* jenv, jclass cls, jmethodID id, const jvalue* a) {
    Args args(a);
    callStatic(jenv, "CallStaticVoidMethodA", cls, id, args, true);
}

jobject JNICALL jniCallStaticObjectMethod(JNIEnv* jenv, jclass cls, jmethodID id, ...) {
    va_list va;
    va_start(va, id);
    Args args(&va);
    jobject r = callStatic(jenv, "CallStaticObjectMethod", cls, id, args, false);
    va_end(va);
    return r;
}

jobject JNICALL jniCallStaticObjectMethodV(JNIEnv* jenv, jclass cls, jmethodID id, va_list va) {
    va_list copy;
    va_copy(copy, va);
    Args args(&copy);
    jobject r = callStatic(jenv, "CallStaticObjectMethodV", cls, id, args, false);
    va_end(copy);
    return r;
}

jobject JNICALL jniCallStaticObjectMethodA(JNIEnv* jenv, jclass cls, jmethodID id, const jvalue* a) {
    Args args(a);
    return callStatic(jenv, "CallStaticObjectMethodA", cls, id, args, false);
}

void JNICALL jniCallVoidMethod(JNIEnv* jenv, jobject obj, jmethodID id, ...) {
    va_list va;
    va_start(va, id);
    Args args(&va);
    callVoid(jenv, "CallVoidMethod", obj, id, args);
    va_end(va);
}

void JNICALL jniCallVoidMethodV(JNIEnv* jenv, jobject obj, jmethodID id, va_list va) {
    va_list copy;
    va_copy(copy, va);
    Args args(&copy);
    callVoid(jenv, "CallVoidMethodV", obj, id, args);
    va_end(copy);
}

void JNICALL jniCallVoidMethodA(JNIEnv* jenv, jobject obj, jmethodID id, const jvalue* a) {
    Args args(a);
    callVoid(jenv, "CallVoidMethodA", obj, id, args);
}

jobject JNICALL jniNewGlobalRef(JNIEnv* jenv, jobject obj) {
    Guard g;
    Env* e = enter(jenv, "NewGlobalRef", {});
    if (!e || !obj) return nullptr;  // a null reference gives null, as documented
    Obj* o = useAny(e, "NewGlobalRef", obj, "reference");
    return o ? newRef(o, nullptr) : nullptr;
}

// Deleting null is a no-op in JNI; deleting twice, or the wrong kind, is not.
void deleteRef(JNIEnv* jenv, const char* fn, jobject ref, bool global) {
    Guard g;
    Env* e = enter(jenv, fn, {}, true);
    if (!e || !ref) return;
    if (!useAny(e, fn, ref, "reference")) return;
    Ref* r = findRef(ref);
    if ((r->owner == nullptr) != global) {
        violation(std::string(fn) + ": given a " + (global ? "local" : "global") + " reference");
        return;
    }
    r->deleted = true;
}

void JNICALL jniDeleteGlobalRef(JNIEnv* jenv, jobject ref) {
    deleteRef(jenv, "DeleteGlobalRef", ref, true);
}

void JNICALL jniDeleteLocalRef(JNIEnv* jenv, jobject ref) {
    deleteRef(jenv, "DeleteLocalRef", ref, false);
}

jboolean JNICALL jniExceptionCheck(JNIEnv* jenv) {
    Guard g;
    Env* e = enter(jenv, "ExceptionCheck", {}, true);
    return e && e->pending ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL jniExceptionOccurred(JNIEnv* jenv) {
    Guard g;
    Env* e = enter(jenv, "ExceptionOccurred", {}, true);
    return e && e->pending ? static_cast<jthrowable>(newRef(e->pending, e)) : nullptr;
}

void JNICALL jniExceptionDescribe(JNIEnv* jenv) {
    Guard g;
    Env* e = enter(jenv, "ExceptionDescribe", {}, true);
    if (!e || !e->pending) return;
    std::string name = classOf(e->pending)->name;
    emit({"describe", name});
    std::replace(name.begin(), name.end(), '/', '.');
    // Straight to the handle: the CRT's stderr may be unbuffered, buffered or
    // absent depending on how the host was started.
    const std::string text = "Exception in thread \"" + e->threadName + "\" " + name + "\r\n";
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    e->pending = nullptr;  // describing clears, as JNI documents
}

void JNICALL jniExceptionClear(JNIEnv* jenv) {
    Guard g;
    Env* e = enter(jenv, "ExceptionClear", {}, true);
    if (e) e->pending = nullptr;
}

// ---- invocation interface ---------------------------------------------------

bool checkVm(JavaVM* vm, const char* fn) {
    if (vm == &g_vm) return true;
    violation(std::string(fn) + ": JavaVM " + pointerText(vm) + " is not the VM");
    return false;
}

void recordInvoke(const char* fn) {
    emit({"jni", threadIdText(), fn});
    if (inEndingHook()) violation(std::string(fn) + ": called from the VM's exit or abort hook");
}

jint JNICALL jniAttachCurrentThread(JavaVM* vm, void** penv, void* args) {
    Guard g;
    recordInvoke("AttachCurrentThread");
    if (!checkVm(vm, "AttachCurrentThread")) return JNI_ERR;
    if (failsNow("AttachCurrentThread")) return JNI_ENOMEM;
    if (!penv) {
        violation("AttachCurrentThread: null penv");
        return JNI_ERR;
    }
    const auto it = g_attached.find(GetCurrentThreadId());
    if (it != g_attached.end()) {
        *penv = &it->second->jni;
        return JNI_OK;
    }
    std::string name;
    if (args) {
        const auto* a = static_cast<const JavaVMAttachArgs*>(args);
        if (!isSupportedVersion(a->version)) {
            *penv = nullptr;
            return JNI_EVERSION;
        }
        if (a->name) name = a->name;
    }
    if (name.empty()) name = "Thread-" + decimal(g_unnamedThreads++);
    *penv = &newEnv(GetCurrentThreadId(), name)->jni;
    return JNI_OK;
}

jint JNICALL jniDetachCurrentThread(JavaVM* vm) {
    Guard g;
    recordInvoke("DetachCurrentThread");
    if (!checkVm(vm, "DetachCurrentThread")) return JNI_ERR;
    const auto it = g_attached.find(GetCurrentThreadId());
    if (it == g_attached.end()) {
        violation("DetachCurrentThread: thread " + threadIdText() + " is not attached");
        return JNI_EDETACHED;
    }
    // Its env and every local reference it made die with the attachment.
    it->second->detached = true;
    it->second->pending = nullptr;
    g_attached.erase(it);
    return JNI_OK;
}

jint JNICALL jniGetEnv(JavaVM* vm, void** penv, jint version) {
    Guard g;
    recordInvoke("GetEnv");
    if (!checkVm(vm, "GetEnv")) return JNI_ERR;
    if (!penv) {
        violation("GetEnv: null penv");
        return JNI_ERR;
    }
    *penv = nullptr;
    const auto it = g_attached.find(GetCurrentThreadId());
    if (it == g_attached.end()) return JNI_EDETACHED;
    if (!isSupportedVersion(version)) return JNI_EVERSION;
    *penv = &it->second->jni;
    return JNI_OK;
}

// ---- function tables ----------------------------------------------------------

[[noreturn]] void trap(const char* table, std::size_t slot) {
    emit({"trap", table, decimal(static_cast<long long>(slot))});
    ExitProcess(kTrapExitCode);
}

// One stub per slot, so the slot is known without trusting any argument. The
// stub never returns, so how the caller passed arguments does not matter.
template <bool IsEnv, std::size_t Slot>
void trapStub() {
    trap(IsEnv ? "env" : "invoke", Slot);
}

template <bool IsEnv, std::size_t... Slot>
void fillWithTraps(void* table, std::index_sequence<Slot...>) {
    using Stub = void (*)();
    static_assert(sizeof(Stub) == sizeof(void*), "a table slot holds one function pointer");
    const Stub stubs[] = {&trapStub<IsEnv, Slot>...};
    std::memcpy(table, stubs, sizeof stubs);
}

void buildTables() {
    static_assert(sizeof(JNINativeInterface_) % sizeof(void*) == 0, "table of pointers");
    static_assert(sizeof(JNIInvokeInterface_) % sizeof(void*) == 0, "table of pointers");
    fillWithTraps<true>(&g_envTable,
                        std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(void*)>());
    fillWithTraps<false>(&g_invokeTable,
                         std::make_index_sequence<sizeof(JNIInvokeInterface_) / sizeof(void*)>());

    JNINativeInterface_& t = g_envTable;
    t.FindClass = jniFindClass;
    t.GetStaticMethodID = jniGetStaticMethodID;
    t.GetMethodID = jniGetMethodID;
    t.GetObjectClass = jniGetObjectClass;
    t.NewObjectArray = jniNewObjectArray;
    t.NewString = jniNewString;
    t.NewStringUTF = jniNewStringUTF;
    t.SetObjectArrayElement = jniSetObjectArrayElement;
    t.CallStaticVoidMethod = jniCallStaticVoidMethod;
    t.CallStaticVoidMethodV = jniCallStaticVoidMethodV;
    t.CallStaticVoidMethodA = jniCallStaticVoidMethodA;
    t.CallStaticObjectMethod = jniCallStaticObjectMethod;
    t.CallStaticObjectMethodV = jniCallStaticObjectMethodV;
    t.CallStaticObjectMethodA = jniCallStaticObjectMethodA;
    t.CallVoidMethod = jniCallVoidMethod;
    t.CallVoidMethodV = jniCallVoidMethodV;
    t.CallVoidMethodA = jniCallVoidMethodA;
    t.NewGlobalRef = jniNewGlobalRef;
    t.DeleteGlobalRef = jniDeleteGlobalRef;
    t.DeleteLocalRef = jniDeleteLocalRef;
    t.ExceptionCheck = jniExceptionCheck;
    t.ExceptionOccurred = jniExceptionOccurred;
    t.ExceptionDescribe = jniExceptionDescribe;
    t.ExceptionClear = jniExceptionClear;

    g_invokeTable.AttachCurrentThread = jniAttachCurrentThread;
    g_invokeTable.DetachCurrentThread = jniDetachCurrentThread;
    g_invokeTable.GetEnv = jniGetEnv;
    g_vm.functions = &g_invokeTable;
}

// ---- creation -----------------------------------------------------------------

BOOL WINAPI consoleEvent(DWORD type) {
    emit({"console-event", decimal(type)});
    return FALSE;  // pass it on, as the VM's own handler does for events it does not own
}

Method* addMethod(What what, Obj* cls, const char* name, std::string sig, bool isStatic,
                  bool returnsVoid) {
    Method* m = new Method{what, cls, name, std::move(sig), isStatic, returnsVoid};
    g_methods.push_back(m);
    return m;
}

void populate() {
    const Scenario& s = scenario();
    Obj* mainClass = classNamed(kMainClass);
    mainClass->findable = true;
    classNamed(kStringClass)->findable = true;
    addMethod(What::Main, mainClass, "main", kMainSig, true, true);
    Obj* system = classNamed(kSystemClass);
    system->findable = true;
    addMethod(What::Exit, system, "exit", "(I)V", true, true);
    if (!s.receiver.empty()) {
        Obj* rc = classNamed(s.receiver);
        rc->findable = true;
        addMethod(What::GetInstance, rc, "getInstance", "()L" + s.receiver + ";", true, false);
        addMethod(What::Dispatch, rc, "dispatchSCMEvent", "(I)V", false, true);
        g_receiver = new Obj(Kind::Instance);
        g_receiver->cls = rc;
    }
}

std::string versionText(jint version) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(version));
    return buf;
}

// The first half of JNI_CreateJavaVM: the record of the arguments and their
// checks. Unused in the build without the entry point.
[[maybe_unused]] jint checkCreation(JavaVM** pvm, void** penv, void* args) {
    const auto* a = static_cast<const JavaVMInitArgs*>(args);
    if (a) {
        emit({"create", "version=" + versionText(a->version), "nOptions=" + decimal(a->nOptions),
              "ignoreUnrecognized=" + decimal(a->ignoreUnrecognized)});
        if (a->options)
            for (jint i = 0; i < a->nOptions; ++i) {
                const JavaVMOption& o = a->options[i];
                if (!o.optionString || !takeHookOption(static_cast<int>(i), o.optionString, o.extraInfo))
                    emit({"option", decimal(i), escapeNarrow(o.optionString)});
            }
    } else {
        emit({"create", "(null)"});
    }
    if (pvm) *pvm = nullptr;
    if (penv) *penv = nullptr;

    if (g_createCalled) {
        violation("JNI_CreateJavaVM: called a second time in the process");
        return JNI_EEXIST;
    }
    g_createCalled = true;
    if (!a || !pvm || !penv) {
        violation("JNI_CreateJavaVM: null pvm, penv or args");
        return JNI_EINVAL;
    }
    if (!isSupportedVersion(a->version)) {
        violation("JNI_CreateJavaVM: unsupported version " + versionText(a->version));
        return JNI_EVERSION;
    }
    if (a->nOptions < 0 || (a->nOptions > 0 && !a->options)) {
        violation("JNI_CreateJavaVM: bad option list");
        return JNI_EINVAL;
    }
    for (jint i = 0; i < a->nOptions; ++i) {
        if (!a->options[i].optionString) {
            violation("JNI_CreateJavaVM: option " + decimal(i) + " has a null optionString");
            return JNI_EINVAL;
        }
    }
    return JNI_OK;
}

// The second half, once the VM has had its say: the scenario's result, or the VM.
[[maybe_unused]] jint finishCreation(JavaVM** pvm, void** penv) {
    if (scenario().createResult != 0) return static_cast<jint>(scenario().createResult);

    populate();
    Env* e = newEnv(GetCurrentThreadId(), "main");
    // A real VM installs its console handler while it starts, so a host that
    // wants the events first has to register its own afterwards.
    g_consoleHandlerSet = SetConsoleCtrlHandler(consoleEvent, TRUE) != FALSE;
    *pvm = &g_vm;
    *penv = &e->jni;
    return JNI_OK;
}

}  // namespace

}  // namespace testvm

#ifndef TESTVM_NO_ENTRY
extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    jint result;
    {
        testvm::Guard g;
        result = testvm::checkCreation(pvm, penv, args);
    }
    // Without the lock: the VM prints through its host's hook, takes its time,
    // or ends the process here, while the host's other threads go on.
    if (result == JNI_OK) testvm::duringCreation();
    testvm::Guard g;
    if (result == JNI_OK) result = testvm::finishCreation(pvm, penv);
    testvm::emit({"create-result", testvm::decimal(result)});
    return result;
}
#endif

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    // Under the loader lock: no threads are started or waited for here.
    if (reason == DLL_PROCESS_ATTACH) {
        testvm::lockInit();
        testvm::setHomeFolder(self);
        testvm::buildTables();
        testvm::emit({"load", testvm::decimal(GetCurrentProcessId())});
#ifdef TESTVM_IMPORTS_RUNTIME
        testvm::emit({"runtime", testvm::decimal(testvm_runtime_marker())});
#endif
        testvm::loadScenario();
    } else if (reason == DLL_PROCESS_DETACH) {
        if (reserved) {
            testvm::emitAtProcessExit("process-exit");
        } else {
            // The handler's code is about to be unmapped.
            if (testvm::g_consoleHandlerSet) SetConsoleCtrlHandler(testvm::consoleEvent, FALSE);
            testvm::emit({"unload", "threads-running=" + testvm::decimal(testvm::g_threadsRunning)});
        }
    }
    return TRUE;
}
