// javalaunch: the least a host can do with a Java VM, the benchmarks' measure of
// what a real start costs without the host: it loads jvm.dll, creates the VM
// with the given options, calls the main class's main with no arguments, and
// then sleeps while the application's threads run (until it is killed).
//
//   javalaunch <jvm.dll> <main class, with slashes> <VM option>...
//
// A failure prints "error <what> <code>" and exits with 1; usage errors with 2.
#include <windows.h>
#include <jni.h>

#include <cstdio>
#include <vector>

namespace {

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);

int Fail(const char* what, long code) {
  std::printf("error\t%s\t%ld\n", what, code);
  std::fflush(stdout);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: javalaunch <jvm.dll> <main class> <VM option>...\n");
    return 2;
  }
  HMODULE vm = LoadLibraryA(argv[1]);
  if (vm == nullptr) {
    return Fail("LoadLibrary", static_cast<long>(GetLastError()));
  }
  FARPROC entry = GetProcAddress(vm, "JNI_CreateJavaVM");
  if (entry == nullptr) {
    return Fail("GetProcAddress", static_cast<long>(GetLastError()));
  }
  std::vector<JavaVMOption> options(static_cast<std::size_t>(argc - 3));
  for (std::size_t i = 0; i < options.size(); ++i) {
    options[i].optionString = argv[i + 3];
  }
  JavaVMInitArgs init_args = {};
  init_args.version = JNI_VERSION_1_2;
  init_args.nOptions = static_cast<jint>(options.size());
  init_args.options = options.data();
  init_args.ignoreUnrecognized = JNI_TRUE;
  JavaVM* java_vm = nullptr;
  JNIEnv* env = nullptr;
  auto create = reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void (*)()>(entry));
  const jint created = create(&java_vm, reinterpret_cast<void**>(&env), &init_args);
  if (created < 0 || env == nullptr) {
    return Fail("JNI_CreateJavaVM", created);
  }
  jclass main_class = env->FindClass(argv[2]);
  jmethodID main_method = main_class != nullptr ? env->GetStaticMethodID(main_class, "main", "([Ljava/lang/String;)V") : nullptr;
  jclass string_class = main_method != nullptr ? env->FindClass("java/lang/String") : nullptr;
  jobjectArray no_args = string_class != nullptr ? env->NewObjectArray(0, string_class, nullptr) : nullptr;
  if (no_args == nullptr) {
    return Fail("main not found", 0);
  }
  env->CallStaticVoidMethod(main_class, main_method, no_args);
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    return Fail("main threw", 0);
  }
  Sleep(INFINITE);
}
