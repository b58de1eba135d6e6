#include "jvmhost/jvm_host.h"

#include <jni.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "entry/names.h"
#include "entry/output_log.h"
#include "entry/reporting.h"
#include "jvmhost/process_end.h"
#include "jvmhost/vm_hooks.h"
#include "jvmhost/vm_library.h"
#include "launch/launch_args.h"
#include "launch/owned_strings.h"
#include "launch/path_text.h"

// The application takes no control events, so no receiver class is named. A
// unit-test build names one to reach the registration and the dispatch.
#ifndef OSTREL_EVENT_CLASS_NAME
#define OSTREL_EVENT_CLASS_NAME ""
#endif

namespace {

constexpr char kVmEntrySymbol[] = "JNI_CreateJavaVM";
constexpr char kMainClass[] = "vantor/str/diskarray/rmi/FileServer";
constexpr char kMainMethod[] = "main";
constexpr char kMainSignature[] = "([Ljava/lang/String;)V";
constexpr char kStringClass[] = "java/lang/String";
constexpr char kEventClassName[] = OSTREL_EVENT_CLASS_NAME;
constexpr char kAccessorMethod[] = "getInstance";
constexpr std::size_t kAccessorSignatureSize = 256;
constexpr char kEventMethod[] = "dispatchSCMEvent";
constexpr char kEventSignature[] = "(I)V";
constexpr std::size_t kMaxVmOptions = 20;
// The receiver hears SERVICE_CONTROL_STOP for every stop, in console mode too.
constexpr jint kControlStop = SERVICE_CONTROL_STOP;

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);

#if defined(__i386__) || defined(_M_IX86)
// A 32-bit VM calls and is called with __stdcall. Both sides of every call here
// come from one header, so a wrong JNICALL would go unnoticed until the stack
// is unbalanced at run time.
static_assert(std::is_same<CreateJavaVmFunction, jint(__stdcall*)(JavaVM**, void**, void*)>::value,
              "the VM entry is __stdcall");
static_assert(std::is_same<decltype(&JNI_CreateJavaVM), CreateJavaVmFunction>::value,
              "the VM entry as jni.h declares it");
static_assert(std::is_same<decltype(&VmPrintHook), jint(__stdcall*)(FILE*, const char*, va_list)>::value,
              "the vfprintf hook is __stdcall");
static_assert(std::is_same<decltype(&VmExitHook), void(__stdcall*)(jint)>::value, "the exit hook is __stdcall");
static_assert(std::is_same<decltype(&VmAbortHook), void(__stdcall*)()>::value, "the abort hook is __stdcall");
#endif

// Never freed: the VM is never destroyed and its threads run inside the library
// until the process ends; unloading it under them crashes the process.
HMODULE vm_library = nullptr;
JavaVM* java_vm = nullptr;
// Written on the run thread after java_vm; read by whichever thread stops.
std::atomic<jobject> receiver_instance{nullptr};

// The failures the VM reports, not the system, carry a code of their own: the
// thread's last error says nothing of them (a failed FindClass may leave 0).
void ReportFailure(DWORD code, const char* message) {
  SetLastError(code);
  ReportError(message);
}

jint CreateJvm(JavaVMInitArgs* init_args, JNIEnv** env) {
  FARPROC entry = GetProcAddress(vm_library, kVmEntrySymbol);
  if (entry == nullptr) {
    return -1;
  }
  // Through void(*)(): a cast between unrelated function pointer types.
  auto create = reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void (*)()>(entry));
  return create(&java_vm, reinterpret_cast<void**>(env), init_args);
}

// Makes `directory` the current directory and records it in the drive's
// per-drive variable ("=C:"), as the C runtime's _chdir does: SetCurrentDirectory
// alone leaves that variable stale, and relative paths of the form "C:file"
// resolve through it. A UNC directory has no drive and records nothing.
bool ChangeWorkingDirectory(const char* directory) {
  // With its final backslash: a last folder named like a device ("aux") would
  // be that device without it.
  OwnedString folder = JoinPath(directory, "");
  if (!folder || !SetCurrentDirectoryA(folder.get())) {
    return false;
  }
  const DWORD size = GetCurrentDirectoryA(0, nullptr);
  if (size == 0) {
    return false;
  }
  OwnedString current(static_cast<char*>(malloc(size)));
  if (!current) {
    return false;
  }
  const DWORD length = GetCurrentDirectoryA(size, current.get());
  if (length == 0 || length >= size) {
    return false;
  }
  const char* path = current.get();
  if (path[0] == '\0' || path[1] != ':') {
    return true;
  }
  char drive = path[0];
  if (drive >= 'a' && drive <= 'z') {
    drive = static_cast<char>(drive - 'a' + 'A');
  }
  const char variable[] = {'=', drive, ':', '\0'};
  return SetEnvironmentVariableA(variable, path) != 0;
}

// Application arguments are ANSI bytes, and NewStringUTF wants modified UTF-8:
// non-ASCII bytes passed unchanged would be invalid. UTF-16 keeps every character.
jstring NewJavaString(JNIEnv* env, const char* ansi) {
  const int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  if (length <= 0) {
    return nullptr;
  }
  std::unique_ptr<WCHAR, FreeDeleter> wide(static_cast<WCHAR*>(malloc(sizeof(WCHAR) * length)));
  if (!wide || MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.get(), length) != length) {
    return nullptr;
  }
  return env->NewString(reinterpret_cast<const jchar*>(wide.get()), length - 1);
}

// The String[] handed to main; null when the VM could not make it (an exception
// is then pending).
jobjectArray BuildArgumentArray(JNIEnv* env, const StringList& arguments) {
  jclass string_class = env->FindClass(kStringClass);
  if (string_class == nullptr) {
    return nullptr;
  }
  jobjectArray array = env->NewObjectArray(static_cast<jsize>(arguments.count()), string_class, nullptr);
  if (array == nullptr) {
    return nullptr;
  }
  for (std::size_t i = 0; i < arguments.count(); ++i) {
    jstring text = NewJavaString(env, arguments[i]);
    if (text == nullptr) {
      return nullptr;
    }
    env->SetObjectArrayElement(array, static_cast<jsize>(i), text);
    env->DeleteLocalRef(text);
  }
  return array;
}

// Finds the application's control-event receiver through its static accessor and
// keeps a global reference to it. Each miss ends the registration silently and
// may leave an exception pending, which the caller clears.
void RegisterReceiver(JNIEnv* env) {
  jclass receiver_class = env->FindClass(kEventClassName);
  if (receiver_class == nullptr) {
    return;
  }
  char signature[kAccessorSignatureSize];
  const int length = FormatText(signature, sizeof(signature), "()L%s;", kEventClassName);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof(signature)) {
    return;
  }
  jmethodID accessor = env->GetStaticMethodID(receiver_class, kAccessorMethod, signature);
  if (accessor == nullptr) {
    return;
  }
  jobject instance = env->CallStaticObjectMethod(receiver_class, accessor);
  if (instance == nullptr || env->ExceptionCheck()) {
    return;
  }
  receiver_instance.store(env->NewGlobalRef(instance));
}

// Starts the application; `quiet` ends once the VM has been created (it loads
// its own libraries, java.dll and zip.dll among them, while it is created).
// The run thread's JNIEnv once main has been called, else null.
JNIEnv* StartJavaApplication(const StringList& vm_options, const StringList& arguments, const char* work_dir,
                          QuietErrorMode& quiet) {
  if (work_dir != nullptr && !ChangeWorkingDirectory(work_dir)) {
    ReportError("ERROR : _chdir");
  }
  if (vm_options.count() > kMaxVmOptions) {
    ReportFailure(ERROR_BAD_ARGUMENTS, "Max. number of Java args exceeded.");
    return nullptr;
  }
  // The user's options first and in their order; the hooks after them, never
  // counted against the limit.
  JavaVMOption options[kMaxVmOptions + kMaxVmHookOptions] = {};
  for (std::size_t i = 0; i < vm_options.count(); ++i) {
    options[i].optionString = vm_options.items()[i];
  }
  JavaVMInitArgs init_args = {};
  init_args.version = JNI_VERSION_1_2;
  init_args.nOptions = static_cast<jint>(AddVmHookOptions(options, vm_options.count()));
  init_args.options = options;
  init_args.ignoreUnrecognized = JNI_TRUE;

  if (StopRequested()) {
    return nullptr;
  }
  JNIEnv* env = nullptr;
  const jint created = CreateJvm(&init_args, &env);
  // A VM that fails to reserve its heap leaves the system's reason; one that
  // leaves none gets the code of a failed initialisation.
  const DWORD creation_error = GetLastError();
  quiet.Restore();
  // A VM that claims success without handing out its pointers is as good as none.
  if (created < 0 || java_vm == nullptr || env == nullptr) {
    SetLastError(creation_error != 0 ? creation_error : ERROR_DLL_INIT_FAILED);
    ReportVmFailure(kCannotCreateVm);
    return nullptr;
  }
  MarkVmCreated();
  // A stop that came while the VM was being created: the application is not started.
  if (StopRequested()) {
    return nullptr;
  }
  jclass main_class = env->FindClass(kMainClass);
  if (main_class == nullptr) {
    ReportFailure(ERROR_FILE_NOT_FOUND, "Cannot find main class.");
    return nullptr;
  }
  jmethodID main_method = env->GetStaticMethodID(main_class, kMainMethod, kMainSignature);
  if (main_method == nullptr) {
    ReportFailure(ERROR_PROC_NOT_FOUND, "Cannot find main method.");
    return nullptr;
  }
  jobjectArray argument_array = BuildArgumentArray(env, arguments);
  if (argument_array == nullptr) {
    ReportFailure(ERROR_NOT_ENOUGH_MEMORY, "Out of Memory!");
    return nullptr;
  }
  RegisterReceiver(env);
  // A failed receiver lookup leaves NoClassDefFoundError (or the like) pending,
  // and JNI forbids calling main with an exception pending.
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
  }
  // From here a stop ends the application; one that came first skips it.
  if (!EnterMain(java_vm)) {
    return nullptr;
  }
  env->CallStaticVoidMethod(main_class, main_method, argument_array);
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();  // the VM prints the stack trace on its error stream
    env->ExceptionClear();
    ReportFailure(ERROR_EXCEPTION_IN_SERVICE, "Exception in main method.");
    // main has returned, if by throwing, and the threads it started may run on:
    // the host handles the console's events as after a normal return.
  }
  // Registered only now, after the VM registered its own handlers, so that the
  // platform (which calls the last registered first) shows each event to us first.
  if (!SetConsoleCtrlHandler(HostConsoleHandler, TRUE)) {
    // The run goes on: a stop control still stops a service, and the VM's
    // own handler may see a console's events.
    ReportTrouble(GetLastError(), "Cannot take the console's control events.");
  }
  LeaveMain();
  return env;
}

void DispatchControlToJava(jint code) {
  jobject instance = receiver_instance.load();
  if (instance == nullptr) {
    return;
  }
  JNIEnv* env = nullptr;
  if (java_vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK || env == nullptr) {
    return;
  }
  jclass receiver_class = env->GetObjectClass(instance);
  jmethodID method = receiver_class != nullptr ? env->GetMethodID(receiver_class, kEventMethod, kEventSignature) : nullptr;
  if (method != nullptr) {
    env->CallVoidMethod(instance, method, code);
  }
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    env->ExceptionClear();
  }
  // Detached on every path: this thread belongs to the platform and may end.
  java_vm->DetachCurrentThread();
}

}  // namespace

void RunHost(std::size_t count, const char* const* entries) {
  if (!ReportServiceStatus(SERVICE_START_PENDING, 0, kStartWaitHint) || !OpenTheRun()) {
    return;
  }
  // The selected lists live here until the run is over: a stop request on
  // another thread never releases what the start may still be using.
  StringList vm_options;
  StringList arguments;
  if (!SelectVmOptions(entries, count, &vm_options) || !SelectAppArguments(entries, count, &arguments)) {
    ReportFailure(ERROR_NOT_ENOUGH_MEMORY, "Out of Memory!");  // a failed allocation sets none
  } else {
    // Resolved once: the library, its neighbours, the current directory and the
    // log all come from this one full path, never from a library search.
    const WorkDir work_dir = ResolveWorkDir(FindWorkDir(entries, count));
    QuietErrorMode quiet;
    const bool running = ReportServiceStatus(SERVICE_RUNNING, 0, 0) != 0;
    // Before the runtime's C library loads: it binds its standard streams then.
    if (running && !IsConsoleMode() && work_dir.full) {
      OpenOutputLog(work_dir.full.get());
    }
    if (running) {
      EnterVmStart();
    }
    if (running && !StopRequested() && LoadJvmLibrary(work_dir, &vm_library) == 0) {
      JNIEnv* env = StartJavaApplication(vm_options, arguments, work_dir.full.get(), quiet);
      quiet.Restore();
      AwaitStopAndEndTheApplication(env);
    }
  }
  CloseTheRun();
}

void RunConsoleHost(std::size_t count, const char* const* entries) {
  RunHost(count, entries);
  EndTheConsoleRun();
}

void ShutdownHost() {
  if (TakeTheStop()) {
    CarryOutShutdown();
  }
}

void CarryOutShutdown() {
  WriteOutputLogLine("%s is stopping.", kDisplayName);
  DispatchControlToJava(kControlStop);
  CarryOutTheStop();
}
